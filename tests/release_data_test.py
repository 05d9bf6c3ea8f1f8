#!/usr/bin/env python3
"""The release tools on the release build: a release built from real-looking
data carries exactly those bytes (read back from the built file), every bad
data file stops the build with a message naming the file and the line, a
final build takes only data declared real, and the payload tool and
scripts/sign write nothing that the updater would refuse.

  release_data_test.py SOURCE_DIR WORK_DIR

Configures two release builds of SOURCE_DIR in WORK_DIR, an ordinary one and
a final one, with RELEASE_DATA_DIR pointing at data written there, builds
them, then changes one file at a time and builds again.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys

source, work = sys.argv[1], os.path.abspath(sys.argv[2])
sys.path.insert(0, os.path.join(source, 'tools'))
import make_artwork  # noqa: E402
import payload  # noqa: E402

data = os.path.join(work, 'data')
build = os.path.join(work, 'build')
exe = os.path.join(work, 'patch.exe')
final_build = os.path.join(work, 'build-final')
final_exe = os.path.join(work, 'final', 'patch.exe')
scratch = os.path.join(work, 'scratch')
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print('FAILED: ' + what)


def write(name, content):
    with open(os.path.join(data, name), 'wb') as f:
        f.write(content)


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors='replace')
    return result.returncode, result.stdout


def run_build(directory=build):
    return run(['cmake', '--build', directory, '--target', 'dist'])


def configure(directory, *options):
    subprocess.run(['cmake', '-S', source, '-B', directory, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=MinSizeRel',
                    '-DCMAKE_TOOLCHAIN_FILE=' + os.path.join(source, 'cmake', 'mingw-i686.cmake'),
                    '-DBUILD_TESTING=OFF', '-DRELEASE_DATA_DIR=' + data] + list(options),
                   check=True, stdout=subprocess.DEVNULL)


def declare(contents):
    """release.sha256 declaring these contents real, by name, as sha256sum writes it."""
    write('release.sha256', ''.join('%s  %s\n' % (hashlib.sha256(content).hexdigest(), name)
                                    for name, content in contents.items()).encode())


LABELS = {'M_TITLE.PAK': 'menu texts', 'info-pak-table.txt': 'INFO.PAK table', 'banner.bmp': 'banner',
          'patch.ico': 'icon'}


def kind_reported(output, name):
    """What the build's report calls the file: its line is label, path (or
    "(generated)"), kind."""
    for line in output.splitlines():
        if line.startswith('  ' + LABELS[name] + ' '):
            rest = line[len(LABELS[name]) + 2:].strip()
            for path in (os.path.join(data, name), '(generated)'):
                if rest.startswith(path + ' '):
                    return rest[len(path):].strip()
    return '(no line)'


# Real-looking data, unlike the project's stand-ins.
state = 12345
records = []
offset = 3
for _ in range(188):
    state = (state * 1103515245 + 12345) & 0x7FFFFFFF
    offset += 1 + state % 90
    records.append((offset, 0x41 + (state >> 8) % 26))
table = ''.join('%d 0x%02x   # record\n' % record for record in records).encode()
menu_text = b''.join(b'[T%03d]Tekst menu numer %d|\r\n' % (i, i) for i in range(3000))
banner = bytearray(make_artwork.banner())
banner[-4000:] = bytes(range(250)) * 16
icon = bytearray(make_artwork.icon())
icon[-200:] = bytes(range(200))
good = {'info-pak-table.txt': table, 'M_TITLE.PAK': menu_text, 'banner.bmp': bytes(banner),
        'patch.ico': bytes(icon)}

shutil.rmtree(work, ignore_errors=True)
os.makedirs(data)
for name, content in good.items():
    write(name, content)
declare(good)
configure(build, '-DDIST_EXE=' + exe)
code, output = run_build()
check(code == 0, 'the build from good data failed:\n' + output)
for name in good:
    check(kind_reported(output, name) == 'declared real', '%s is not reported as declared real:\n%s'
          % (name, output))
built = open(exe, 'rb').read() if code == 0 else b''
check(b''.join(struct.pack('<IB', *record) for record in records) in built,
      'the 188 records of the table do not stand in the release, back to back')
found = payload.payload(built)
check(found is not None and built[found[1][0][0]:sum(found[1][0])] == menu_text,
      'chunk 0 of the release is not the menu texts')
check(bytes(banner[14:]) in built, 'the banner is not in the release as given')
check(bytes(icon[22:]) in built, 'the icon is not in the release as given')

# The payload tool and scripts/sign. Each row's steps end in writing
# out.exe, which either carries the chunks given (index 0 first), ends on a
# multiple of 8 and comes out of align8 again unchanged; or, with None, is
# refused: a non-zero exit, out.exe left as it was and nothing else written.
# A fault, where given, takes the place of the tool's padding in the last
# step, so that the tool's own check of what it writes is what refuses it.
os.makedirs(scratch)


def at(name):
    return os.path.join(scratch, name)


def payload_tool(argv, fault=None):
    """Runs tools/payload.py in this process: (exit code, message)."""
    saved = payload.aligned, sys.argv
    payload.aligned, sys.argv = fault or payload.aligned, ['payload.py'] + argv
    try:
        payload.main()
        return 0, ''
    except SystemExit as exit:
        return (exit.code if isinstance(exit.code, int) else 1), str(exit.code)
    finally:
        payload.aligned, sys.argv = saved


def added_gap(data, image_end, chain_start):
    """align8 as it once was: 8 more zero bytes on top of those there."""
    return data[:image_end] + bytes(8) + data[image_end:]


extra = bytes((i * 7) & 0xFF for i in range(1005))
with open(at('extra.bin'), 'wb') as f:
    f.write(extra)
# Chunks that padding 0 and padding 1 in front of a signature both fit: 400
# bytes and one zero byte, or, read one byte earlier, 256 bytes behind 144.
two_fits = bytearray(b'x' * 400)
two_fits[144:148] = struct.pack('<I', 144)
with open(at('two-fits.exe'), 'wb') as f:
    f.write(built[:payload.layout(built)[0]] + bytes(two_fits) + struct.pack('<I', 400) + b'\0' +
            struct.pack('<I', 1))
subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2', '-subj',
                '/CN=Throwaway test signer', '-keyout', at('key.pem'), '-out', at('cert.pem')],
               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
sign = [os.path.join(source, 'scripts', 'sign'), at('cert.pem'), at('key.pem')]
align = ['align8', exe, at('a.exe')]
append = ['append', '--output', at('b.exe'), at('a.exe'), at('extra.bin')]
tool_rows = [
    ('align8 of the build output', [['align8', exe, at('out.exe')]], [menu_text], None),
    ('align8 after an append of 1,005 bytes to an aligned file',
     [align, append, ['align8', at('b.exe'), at('out.exe')]], [extra, menu_text], None),
    ('append --align8 to an aligned file',
     [align, ['append', '--align8', '--output', at('out.exe'), at('a.exe'), at('extra.bin')]],
     [extra, menu_text], None),
    ('align8 that adds to the zero bytes there', [align, ['align8', at('a.exe'), at('out.exe')]], None,
     added_gap),
    ('append --align8 that adds to the zero bytes there',
     [align, ['append', '--align8', '--output', at('out.exe'), at('a.exe'), at('extra.bin')]], None,
     added_gap),
    ('scripts/sign of a file that two paddings fit once signed', [sign + [at('two-fits.exe'), at('out.exe')]],
     None, None),
]
for what, steps, chunks, fault in tool_rows:
    for step in steps[:-1]:
        code, message = payload_tool(step)
        check(code == 0, '%s: %s failed: %s' % (what, step[0], message))
    with open(at('out.exe'), 'wb') as f:
        f.write(b'old')
    before = sorted(os.listdir(scratch))
    if steps[-1][0] == sign[0]:
        code, message = run(steps[-1])
    else:
        code, message = payload_tool(steps[-1], fault)
    out = open(at('out.exe'), 'rb').read()
    if chunks is None:
        check(code != 0 and out == b'old' and sorted(os.listdir(scratch)) == before,
              '%s: written where refused (exit %d, %s)' % (what, code, message))
        continue
    found = payload.payload(out)
    if not (code == 0 and found is not None and payload.contents(out, found[1]) == chunks):
        check(False, '%s: the output does not carry the chunks given (exit %d, %s)' % (what, code, message))
        continue
    check(len(out) % 8 == 0, '%s: the output is %d bytes long, no multiple of 8' % (what, len(out)))
    code, message = payload_tool(['align8', at('out.exe'), at('again.exe')])
    check(code == 0 and open(at('again.exe'), 'rb').read() == out,
          '%s: align8 of the output changes it (%s)' % (what, message))

# Each bad file: the build stops, naming the file and, for the table, the line.
lines = table.decode().splitlines(True)
table_path = os.path.join(data, 'info-pak-table.txt')
bad = [
    ('info-pak-table.txt', ''.join(lines[:-1]), '%s:187: 187 records; the update writes exactly 188'),
    ('info-pak-table.txt', ''.join(lines) + '99999 0x41\n', '%s:189: 189 records; the update writes exactly 188'),
    ('info-pak-table.txt', ''.join(lines[:9] + [lines[8]] + lines[10:]), '%s:10: offset 0x'),
    ('info-pak-table.txt', ''.join(lines[:-1]) + '0x80000000 0x41\n',
     '%s:188: offset 0x80000000 is beyond a signed 32-bit seek'),
    ('info-pak-table.txt', ''.join(lines[:-1]) + '0x7FFFFFFF 0x100\n', '%s:188: value 0x100 is not a byte'),
    ('info-pak-table.txt', ''.join(lines[:-1]) + '0x7FFFFFFF A\n', '%s:188: value "A" is not a number'),
    ('info-pak-table.txt', '# a comment\n' + ''.join(lines[:5]) + '0x5 0x41 0x42\n',
     '%s:7: expected an offset and a byte value'),
    ('banner.bmp', make_artwork.banner()[:18] + struct.pack('<i', 381) + make_artwork.banner()[22:],
     '%s: the banner is 381 x 69 pixels; it must be 380 x 69'),
    ('banner.bmp', make_artwork.banner()[:28] + struct.pack('<H', 4) + make_artwork.banner()[30:],
     '%s: the banner has 4 bits per pixel; it must have 8'),
    ('banner.bmp', make_artwork.banner()[:30] + struct.pack('<I', 1) + make_artwork.banner()[34:],
     '%s: the banner is compressed'),
    ('banner.bmp', make_artwork.icon(), '%s: not a BMP file'),
    ('patch.ico', make_artwork.banner(), '%s: not an icon file'),
    ('patch.ico', make_artwork.icon()[:100], '%s: image 1 of the icon lies outside the file'),
    ('M_TITLE.PAK', b'', '%s is empty'),
    ('M_TITLE.PAK', None, '%s takes the release to 2 GiB or more'),
]
for name, content, message in bad:
    path = os.path.join(data, name)
    if content is None:
        with open(path, 'wb') as f:
            f.truncate(2 ** 31)        # sparse: no disk space taken
    else:
        write(name, content if isinstance(content, bytes) else content.encode())
    code, output = run_build()
    expected = message % path
    check(code != 0 and expected in output, 'bad %s: expected "%s", got:\n%s' % (name, expected, output[-2000:]))
    write(name, good[name])

# The final build takes only data declared real. Each row puts its files
# over the good set (None: the file removed) and declares the contents
# given. Both builds report what the file of the row is; the ordinary one
# builds, the final one builds the same bytes or, refusing, names the file
# and why and leaves no patch.exe behind.
configure(final_build, '-DDIST_EXE=' + final_exe, '-DRELEASE_FINAL=ON')
with open(os.path.join(source, 'data', 'info-pak-table.txt'), 'rb') as f:
    stand_in_table = f.read()
changed_table = ''.join(lines[:10] + ['%d 0x%02x   # record\n' % (records[10][0], records[10][1] ^ 1)] +
                        lines[11:]).encode()
others = {name: content for name, content in good.items() if name != 'info-pak-table.txt'}
final = [
    ('every file declared', {}, good, 'info-pak-table.txt', 'declared real', None),
    ('a declared table changed since', {'info-pak-table.txt': changed_table}, good, 'info-pak-table.txt',
     'unknown: changed since release.sha256 declared it', 'unknown: changed since release.sha256 declared it'),
    ('the stand-in table with a comment line added', {'info-pak-table.txt': b'# Checked.\n' + stand_in_table},
     others, 'info-pak-table.txt', 'unknown: neither a stand-in nor declared in release.sha256',
     'unknown: neither a stand-in nor declared in release.sha256'),
    ('the stand-in table, declared', {'info-pak-table.txt': stand_in_table},
     dict(others, **{'info-pak-table.txt': stand_in_table}), 'info-pak-table.txt',
     'stand-in made by the project', 'stand-in made by the project'),
    ('no banner', {'banner.bmp': None}, good, 'banner.bmp', 'stand-in made by the project (none in data/)',
     "not there: the build would use the project's generated stand-in"),
]
for what, files, declared, name, kind, refusal in final:
    for each, content in good.items():
        write(each, content)
    for each, content in files.items():
        if content is None:
            os.remove(os.path.join(data, each))
        else:
            write(each, content)
    declare(declared)
    code, output = run_build()
    check(code == 0 and kind_reported(output, name) == kind,
          '%s: the build does not report %s as "%s":\n%s' % (what, name, kind, output[-2000:]))
    code, output = run_build(final_build)
    check(kind_reported(output, name) == kind,
          '%s: the final build does not report %s as "%s":\n%s' % (what, name, kind, output[-2000:]))
    if refusal is None:
        check(code == 0 and open(final_exe, 'rb').read() == open(exe, 'rb').read(),
              '%s: the final build failed or differs from the ordinary one:\n%s' % (what, output[-2000:]))
    else:
        expected = '%s: %s' % (os.path.join(data, name), refusal)
        check(code != 0 and expected in output and not os.path.exists(final_exe),
              '%s: the final build is not refused with "%s", or left patch.exe:\n%s'
              % (what, expected, output[-2000:]))

if failures:
    sys.exit('%d of the release data checks failed' % len(failures))
shutil.rmtree(work, ignore_errors=True)
print('release data: %d bad files refused, a good set built into the release; %d final builds, %d runs of '
      'the release tools checked' % (len(bad), len(final), len(tool_rows)))
