#!/usr/bin/env python3
"""The updater's payload tool for release engineers.

The payload is a chain of chunks appended to the executable, each its data
followed by its length as 4 bytes little-endian; index 0 is the chunk appended
last. The first chunk starts right behind the executable's last section.

Signing: an Authenticode signature pads the file with zeros to a multiple of 8
bytes and appends its certificate table, and the updater takes the start of
that table as the end of its payload. Padding behind the last chunk would hide
the last length word, so a file to be signed must already have a length that
is a multiple of 8: align8 (or append --align8) puts 0 to 7 zero bytes in
front of the first chunk, where they are never read.

  payload.py append [--align8] --output OUT EXE FILE...
                                   EXE with FILEs appended (the last FILE
                                   becomes index 0)
  payload.py align8 IN OUT         IN made ready for signing
  payload.py list EXE              the chunks, index 0 first (signed or not)
  payload.py extract EXE INDEX OUT write chunk INDEX to OUT
"""
import argparse
import struct
import sys


def payload_end(data):
    """Where the payload ends: before a certificate table that closes the file."""
    try:
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            return len(data)
        magic = struct.unpack_from('<H', data, pe + 24)[0]
        directories = pe + 24 + {0x10B: 96, 0x20B: 112}[magic]
        offset, size = struct.unpack_from('<II', data, directories + 4 * 8)
    except (struct.error, KeyError):
        return len(data)
    if offset and size and offset + size == len(data):
        return offset
    return len(data)


def image_end(data):
    """Where the executable image ends: behind its last section's raw data."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        sys.exit('payload: not a PE file')
    sections = struct.unpack_from('<H', data, pe + 6)[0]
    optional_size = struct.unpack_from('<H', data, pe + 20)[0]
    table = pe + 24 + optional_size
    end = 0
    for i in range(sections):
        raw_size, raw_offset = struct.unpack_from('<II', data, table + 40 * i + 16)
        if raw_size:
            end = max(end, raw_offset + raw_size)
    return end


def chunks(data):
    """(index, start, length) for every chunk, index 0 first."""
    result = []
    end = payload_end(data)
    while end >= 4:
        length = struct.unpack_from('<I', data, end - 4)[0]
        if length == 0 or length > end - 4:
            break
        start = end - 4 - length
        result.append((len(result), start, length))
        end = start
    return result


def append(args):
    with open(args.exe, 'rb') as f:
        image = f.read()
    files = []
    for name in args.files:
        with open(name, 'rb') as f:
            content = f.read()
        if not content:
            sys.exit('payload: %s is empty; an empty chunk cannot be carried' % name)
        files.append(content)
    payload_size = sum(len(c) + 4 for c in files)
    padding = (-(len(image) + payload_size)) % 8 if args.align8 else 0
    with open(args.output, 'wb') as f:
        f.write(image)
        f.write(bytes(padding))
        for content in files:
            f.write(content)
            f.write(struct.pack('<I', len(content)))


def align8(args):
    with open(args.input, 'rb') as f:
        data = f.read()
    if payload_end(data) != len(data):
        sys.exit('payload: %s is signed already' % args.input)
    if not chunks(data):
        sys.exit('payload: no chunk found in %s' % args.input)
    start = image_end(data)
    padding = (-len(data)) % 8
    with open(args.output, 'wb') as f:
        f.write(data[:start])
        f.write(bytes(padding))
        f.write(data[start:])


def list_chunks(args):
    with open(args.exe, 'rb') as f:
        data = f.read()
    found = chunks(data)
    end = payload_end(data)
    if end != len(data):
        print('certificate table at %d (%d bytes)' % (end, len(data) - end))
    for index, start, length in found:
        print('chunk %d: offset %d, length %d' % (index, start, length))
    if not found:
        sys.exit('payload: no chunk found in %s' % args.exe)
    # As the updater checks a signed file: the chunks must reach back to at
    # most 7 bytes behind the image.
    if end != len(data) and not 0 <= found[-1][1] - image_end(data) < 8:
        sys.exit('payload: the chunks of %s do not reach back to the executable image: it was '
                 'signed without align8, and the updater refuses its payload' % args.exe)


def extract(args):
    with open(args.exe, 'rb') as f:
        data = f.read()
    for index, start, length in chunks(data):
        if index == args.index:
            with open(args.output, 'wb') as f:
                f.write(data[start:start + length])
            return
    sys.exit('payload: %s has no chunk %d' % (args.exe, args.index))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest='command', required=True)
    p = commands.add_parser('append')
    p.add_argument('--output', required=True)
    p.add_argument('--align8', action='store_true')
    p.add_argument('exe')
    p.add_argument('files', nargs='+')
    p.set_defaults(run=append)
    p = commands.add_parser('align8')
    p.add_argument('input')
    p.add_argument('output')
    p.set_defaults(run=align8)
    p = commands.add_parser('list')
    p.add_argument('exe')
    p.set_defaults(run=list_chunks)
    p = commands.add_parser('extract')
    p.add_argument('exe')
    p.add_argument('index', type=int)
    p.add_argument('output')
    p.set_defaults(run=extract)
    args = parser.parse_args()
    args.run(args)


if __name__ == '__main__':
    main()
