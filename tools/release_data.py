#!/usr/bin/env python3
"""Checks the release data the build reads from data/ and turns it into what
the build needs. A bad file stops the build with a message that names the file
(and the line, for text): nothing is built from data that doesn't fit.

  release_data.py table TABLE OUT --count N
        The byte-patch table of Contents\\INFO.PAK (one record a line: offset
        and byte value, decimal or 0x-hexadecimal, "#" comments) as C++
        initialisers for the update's table, after checking that it holds N
        records, that the offsets rise strictly and fit a signed 32-bit seek,
        and that every value is a byte.
  release_data.py artwork OUTDIR [--banner BMP] [--icon ICO]
        OUTDIR/banner.bmp and OUTDIR/updater.ico: the given files after
        checking them (the banner 380 x 69 pixels, 8 bits per pixel,
        uncompressed; the icon an icon file), the project's generated
        stand-ins for those not given.
  release_data.py report [--final] STAND_INS DECLARED NAME=FILE...
        One line per input, naming it as one of:
          a stand-in made by the project: a file whose SHA-256 STAND_INS
            lists, or a FILE that isn't there (the build generates one);
          declared real: a file that DECLARED lists under its name with its
            SHA-256, as sha256sum writes them; the release engineer keeps
            DECLARED with the real data;
          unknown: neither, such as an edited stand-in or a declared file
            changed since.
        With --final, anything not declared real stops the build, with each
        such file and why.
"""
import argparse
import hashlib
import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_artwork  # noqa: E402

BANNER_SIZE = (380, 69)


def refuse(where, message):
    sys.exit('%s: %s' % (where, message))


def parse_number(text, where, what):
    try:
        return int(text, 0)
    except ValueError:
        refuse(where, '%s "%s" is not a number' % (what, text))


def read_table(path):
    """[(offset, value, line number)], or the build stops at the first fault."""
    records = []
    with open(path, 'rb') as f:
        lines = f.read().split(b'\n')
    for number, raw in enumerate(lines, 1):
        where = '%s:%d' % (path, number)
        try:
            line = raw.decode('ascii')
        except UnicodeDecodeError:
            refuse(where, 'not plain ASCII text')
        fields = line.split('#', 1)[0].split()
        if not fields:
            continue
        if len(fields) != 2:
            refuse(where, 'expected an offset and a byte value, found "%s"' % line.strip())
        offset = parse_number(fields[0], where, 'offset')
        value = parse_number(fields[1], where, 'value')
        if not 0 <= offset <= 0x7FFFFFFF:
            refuse(where, 'offset %s is beyond a signed 32-bit seek (0 to 0x7FFFFFFF)' % fields[0])
        if not 0 <= value <= 0xFF:
            refuse(where, 'value %s is not a byte (0 to 0xFF)' % fields[1])
        if records and offset <= records[-1][0]:
            refuse(where, 'offset 0x%X does not rise above the one before it (0x%X, line %d)'
                   % (offset, records[-1][0], records[-1][2]))
        records.append((offset, value, number))
    return records, len(lines)


def table(args):
    records, lines = read_table(args.table)
    if len(records) != args.count:
        refuse('%s:%d' % (args.table, records[-1][2] if records else lines),
               '%d records; the update writes exactly %d' % (len(records), args.count))
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, 'w', newline='\n') as f:
        f.write('// Generated from %s by tools/release_data.py.\n' % args.table)
        for offset, value, _ in records:
            f.write('{0x%X, 0x%02X},\n' % (offset, value))


def check_banner(path):
    with open(path, 'rb') as f:
        data = f.read()
    if len(data) < 54 or data[:2] != b'BM':
        refuse(path, 'not a BMP file')
    pixels, header = struct.unpack_from('<II', data, 10)
    width, height, planes, bits, compression = struct.unpack_from('<iiHHI', data, 18)
    if header < 40:
        refuse(path, 'an old-style BMP header; a Windows bitmap (BITMAPINFOHEADER) is needed')
    if (width, abs(height)) != BANNER_SIZE:
        refuse(path, 'the banner is %d x %d pixels; it must be %d x %d' % ((width, abs(height)) + BANNER_SIZE))
    if bits != 8 or planes != 1:
        refuse(path, 'the banner has %d bits per pixel; it must have 8' % bits)
    if compression != 0:
        refuse(path, 'the banner is compressed (compression %d); it must be uncompressed' % compression)
    if pixels + ((width * 8 + 31) // 32) * 4 * abs(height) > len(data):
        refuse(path, 'the pixel data is cut short')


def check_icon(path):
    with open(path, 'rb') as f:
        data = f.read()
    if len(data) < 6:
        refuse(path, 'not an icon file')
    reserved, kind, count = struct.unpack_from('<HHH', data, 0)
    if reserved != 0 or kind != 1 or count == 0 or len(data) < 6 + 16 * count:
        refuse(path, 'not an icon file')
    for i in range(count):
        size, offset = struct.unpack_from('<II', data, 6 + 16 * i + 8)
        image = data[offset:offset + size]
        if size < 40 or offset + size > len(data):
            refuse(path, 'image %d of the icon lies outside the file' % (i + 1))
        if not (image[:8] == b'\x89PNG\r\n\x1a\n' or struct.unpack_from('<I', image)[0] == 40):
            refuse(path, 'image %d of the icon is neither a bitmap nor a PNG image' % (i + 1))


def artwork(args):
    os.makedirs(args.outdir, exist_ok=True)
    for given, check, name, make in ((args.banner, check_banner, 'banner.bmp', make_artwork.banner),
                                     (args.icon, check_icon, 'updater.ico', make_artwork.icon)):
        target = os.path.join(args.outdir, name)
        if given:
            check(given)
            shutil.copyfile(given, target)
        else:
            with open(target, 'wb') as f:
                f.write(make())


def read_sums(path):
    """(digest, file name) of each line of a sha256sum listing; "#" lines are
    comments."""
    sums = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.startswith('#'):
                continue
            fields = line.split(None, 1)
            if len(fields) != 2 or len(fields[0]) != 64:
                refuse('%s:%d' % (path, number), 'expected a SHA-256 and a file name, as sha256sum writes them')
            sums.append((fields[0].lower(), os.path.basename(fields[1].strip().lstrip('*'))))
    return sums


def classify(path, stand_ins, declared, declared_path):
    """(declared real?, what the file is, why a final build refuses it)."""
    if not os.path.exists(path):
        return False, 'stand-in made by the project (none in data/)', \
            "not there: the build would use the project's generated stand-in"
    with open(path, 'rb') as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    if digest in stand_ins:
        kind = 'stand-in made by the project'
        return False, kind, kind
    name = os.path.basename(path)
    if declared.get(name) == digest:
        return True, 'declared real', ''
    listing = os.path.basename(declared_path)
    if name in declared:
        kind = 'unknown: changed since %s declared it' % listing
        return False, kind, kind + ' (its SHA-256 is %s)' % digest
    kind = 'unknown: neither a stand-in nor declared in %s' % listing
    return False, kind, kind


def report(args):
    stand_ins = {digest for digest, _ in read_sums(args.stand_ins)}
    declared = dict((name, digest) for digest, name in read_sums(args.declared)) \
        if os.path.exists(args.declared) else {}
    print('release data:')
    refused = []
    for item in args.inputs:
        name, path = item.split('=', 1)
        real, kind, why = classify(path, stand_ins, declared, args.declared)
        print('  %-16s %-40s %s' % (name, path if os.path.exists(path) else '(generated)', kind))
        if not real:
            refused.append('  %s: %s' % (path, why))
    if not refused:
        print('release data: every file declared real')
    elif args.final:
        sys.stdout.flush()
        sys.exit('release data: a final build takes only data declared real in %s; refused:\n%s'
                 % (args.declared, '\n'.join(refused)))
    else:
        print('release data: %d of %d not declared real: a build for trying out, not for release (a '
              'final build refuses it)' % (len(refused), len(args.inputs)))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest='command', required=True)
    p = commands.add_parser('table')
    p.add_argument('table')
    p.add_argument('output')
    p.add_argument('--count', type=int, required=True)
    p.set_defaults(run=table)
    p = commands.add_parser('artwork')
    p.add_argument('outdir')
    p.add_argument('--banner')
    p.add_argument('--icon')
    p.set_defaults(run=artwork)
    p = commands.add_parser('report')
    p.add_argument('--final', action='store_true')
    p.add_argument('stand_ins')
    p.add_argument('declared')
    p.add_argument('inputs', nargs='+')
    p.set_defaults(run=report)
    args = parser.parse_args()
    args.run(args)


if __name__ == '__main__':
    main()
