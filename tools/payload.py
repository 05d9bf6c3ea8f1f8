#!/usr/bin/env python3
"""The updater's payload tool for release engineers.

The payload is a chain of chunks appended to the executable, each its data
followed by its length as 4 bytes little-endian; index 0 is the chunk appended
last. The first chunk starts right behind the executable's last section.

The chain must reach back exactly to the end of the executable image (behind
its last section's raw data), with at most 7 zero bytes between; the updater
refuses any other file, so a damaged or cut-short download never writes wrong
bytes into the game.

Signing: an Authenticode signature pads the file with 0 to 7 zero bytes to a
multiple of 8 and appends its certificate table. The payload ends in front of
that padding, at the one place for which the chain fits, so any signer can
sign the build output as it is. align8 (or append --align8) still puts the
padding in front of the first chunk instead, so that the signature adds none;
that is no longer needed.

Every command that writes an updater (append, align8) reads its result back
with the updater's own rule before anything is written, and writes nothing
and exits non-zero where the updater would refuse it.

  payload.py append [--align8] --output OUT EXE FILE...
                                   EXE with FILEs appended (the last FILE
                                   becomes index 0); EXE must end with its
                                   last section or with a payload
  payload.py cut IN OUT            IN without what stands behind its last
                                   section (a symbol table, say): a bare
                                   image to append to, which the updater
                                   refuses until it carries a payload
  payload.py align8 IN OUT         IN made ready for signing: the zero bytes
                                   in front of the chain set so that the file
                                   ends on a multiple of 8 (the same file
                                   again for a file aligned already)
  payload.py list EXE              the chunks, index 0 first (signed or not)
  payload.py extract EXE INDEX OUT write chunk INDEX to OUT
"""
import argparse
import os
import struct
import sys


def layout(data):
    """(image end, certificate table start or None); None for a non-PE file.

    The image ends behind its last section's raw data; the table counts only
    when it closes the file, as a signature leaves it."""
    try:
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            return None
        sections = struct.unpack_from('<H', data, pe + 6)[0]
        optional_size = struct.unpack_from('<H', data, pe + 20)[0]
        magic = struct.unpack_from('<H', data, pe + 24)[0]
        directories = pe + 24 + {0x10B: 96, 0x20B: 112}[magic]
        offset, size = struct.unpack_from('<II', data, directories + 4 * 8)
        table = pe + 24 + optional_size
        end = 0
        for i in range(sections):
            raw_size, raw_offset = struct.unpack_from('<II', data, table + 40 * i + 16)
            if raw_size:
                end = max(end, raw_offset + raw_size)
    except (struct.error, KeyError):
        return None
    if end > len(data):
        return None
    signed = offset and size and offset + size == len(data)
    return end, (offset if signed else None)


def chain(data, image_end, end):
    """(start, length) of every chunk, index 0 first, of the chain that ends
    at end, if it reaches back exactly to the image with at most 7 zero bytes
    between; else None."""
    found = []
    position = end
    while True:
        if found and 0 <= position - image_end < 8 and not any(data[image_end:position]):
            return found
        if position - 4 < image_end:
            return None
        length = struct.unpack_from('<I', data, position - 4)[0]
        position -= 4 + length
        if length == 0 or position < image_end:
            return None
        found.append((position, length))


def payload(data):
    """(end, chunks) as the updater finds them, or None where it refuses the
    file. A signed file's payload ends in front of the certificate table,
    less the one padding of 0 to 7 zero bytes for which the chain fits."""
    found = layout(data)
    if found is None:
        return None
    image_end, table = found
    if table is None:
        chunks = chain(data, image_end, len(data))
        return (len(data), chunks) if chunks else None
    fits = []
    for padding in range(8):
        end = table - padding
        if end < image_end:
            break
        chunks = chain(data, image_end, end)
        if chunks and not any(data[end:table]):
            fits.append((end, chunks))
    return fits[0] if len(fits) == 1 else None


def image_end(data):
    found = layout(data)
    if found is None:
        sys.exit('payload: not a PE file')
    return found[0]


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def contents(data, chunks):
    return [data[start:start + length] for start, length in chunks]


def aligned(data, image_end, chain_start):
    """data with the zero bytes between the image and the chain (which starts
    at chain_start) set to the number that makes the file end on a multiple
    of 8, whatever stood there before."""
    chain = data[chain_start:]
    return data[:image_end] + bytes((-(image_end + len(chain))) % 8) + chain


def write(path, data):
    """Writes path whole or not at all: a failed write leaves it as it was."""
    temporary = '%s.%d.tmp' % (path, os.getpid())
    try:
        with open(temporary, 'wb') as f:
            f.write(data)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise


def write_updater(path, data, chunks, align8):
    """Writes data to path only if the updater takes its payload, with exactly
    the chunks given (index 0 first), and, for align8, it ends on a multiple of
    8 bytes; else exits non-zero and leaves path as it was."""
    found = payload(data)
    if found is None:
        fault = 'no chunk chain reaches back to the executable image with at most 7 zero bytes between'
    elif contents(data, found[1]) != chunks:
        fault = 'its chunks read back are not the ones given'
    elif align8 and len(data) % 8:
        fault = 'it does not end on a multiple of 8 bytes'
    else:
        write(path, data)
        return
    sys.exit('payload: %s not written: the updater would refuse the result: %s' % (path, fault))


def append(args):
    image = read(args.exe)
    end = image_end(image)
    # The chain must reach back to the end of the image: behind it may stand
    # only a payload, unsigned, which the new chunks extend (the last becomes
    # index 0), not an unstripped symbol table or a signature.
    carried = []
    chain_start = len(image)
    if len(image) > end:
        found = payload(image) if layout(image)[1] is None else None
        if found is None:
            sys.exit('payload: %s has %d bytes behind its last section that are no payload; the payload '
                     'must start right there' % (args.exe, len(image) - end))
        carried = contents(image, found[1])
        chain_start = found[1][-1][0]
    # The updater seeks with signed 32-bit offsets: the whole release stays
    # below 2 GiB. Sizes first, so that no huge file is read.
    total = len(image) + (7 if args.align8 else 0)
    for name in args.files:
        size = os.path.getsize(name)
        if size == 0:
            sys.exit('payload: %s is empty; an empty chunk cannot be carried' % name)
        total += size + 4
        if total >= 2 ** 31:
            sys.exit('payload: %s takes the release to 2 GiB or more; the updater reads it only '
                     'below 2 GiB' % name)
    files = [read(name) for name in args.files]
    result = image + b''.join(content + struct.pack('<I', len(content)) for content in files)
    if args.align8:
        result = aligned(result, end, chain_start)
    write_updater(args.output, result, files[::-1] + carried, args.align8)


def align8(args):
    data = read(args.input)
    found = layout(data)
    if found and found[1] is not None:
        sys.exit('payload: %s is signed already' % args.input)
    result = payload(data)
    if result is None:
        sys.exit('payload: no chunk chain in %s reaches back to the executable image' % args.input)
    chunks = result[1]
    write_updater(args.output, aligned(data, found[0], chunks[-1][0]), contents(data, chunks), True)


def cut(args):
    data = read(args.input)
    write(args.output, data[:image_end(data)])


def list_chunks(args):
    data = read(args.exe)
    found = layout(data)
    if found and found[1] is not None:
        print('certificate table at %d (%d bytes)' % (found[1], len(data) - found[1]))
    result = payload(data)
    if result is None:
        sys.exit('payload: no chunk chain of %s reaches back to the executable image; the updater '
                 'refuses its payload' % args.exe)
    for index, (start, length) in enumerate(result[1]):
        print('chunk %d: offset %d, length %d' % (index, start, length))


def extract(args):
    data = read(args.exe)
    result = payload(data)
    if result is None:
        sys.exit('payload: no chunk chain of %s reaches back to the executable image' % args.exe)
    chunks = result[1]
    if not 0 <= args.index < len(chunks):
        sys.exit('payload: %s has no chunk %d' % (args.exe, args.index))
    start, length = chunks[args.index]
    write(args.output, data[start:start + length])


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
    p = commands.add_parser('cut')
    p.add_argument('input')
    p.add_argument('output')
    p.set_defaults(run=cut)
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
