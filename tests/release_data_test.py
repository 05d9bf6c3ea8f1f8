#!/usr/bin/env python3
"""The release build from replaced data files: a release built from real-looking
data carries exactly those bytes (read back from the built file), and every bad
data file stops the build with a message naming the file and the line.

  release_data_test.py SOURCE_DIR WORK_DIR

Configures a release build of SOURCE_DIR in WORK_DIR with RELEASE_DATA_DIR
pointing at data written there, builds it once, then spoils one file at a time
and builds again.
"""
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
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print('FAILED: ' + what)


def write(name, content):
    with open(os.path.join(data, name), 'wb') as f:
        f.write(content)


def run_build():
    result = subprocess.run(['cmake', '--build', build, '--target', 'dist'], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, errors='replace')
    return result.returncode, result.stdout


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
subprocess.run(['cmake', '-S', source, '-B', build, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=MinSizeRel',
                '-DCMAKE_TOOLCHAIN_FILE=' + os.path.join(source, 'cmake', 'mingw-i686.cmake'),
                '-DBUILD_TESTING=OFF', '-DRELEASE_DATA_DIR=' + data, '-DDIST_EXE=' + exe],
               check=True, stdout=subprocess.DEVNULL)
code, output = run_build()
check(code == 0, 'the build from good data failed:\n' + output)
for name in good:
    check(any(name in line and 'real release data' in line for line in output.splitlines()),
          '%s is not reported as real release data' % name)
built = open(exe, 'rb').read() if code == 0 else b''
check(b''.join(struct.pack('<IB', *record) for record in records) in built,
      'the 188 records of the table do not stand in the release, back to back')
found = payload.payload(built)
check(found is not None and built[found[1][0][0]:sum(found[1][0])] == menu_text,
      'chunk 0 of the release is not the menu texts')
check(bytes(banner[14:]) in built, 'the banner is not in the release as given')
check(bytes(icon[22:]) in built, 'the icon is not in the release as given')

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

if failures:
    sys.exit('%d of the release data checks failed' % len(failures))
shutil.rmtree(work, ignore_errors=True)
print('release data: %d bad files refused, a good set built into the release' % len(bad))
