#!/usr/bin/env python3
"""Lays out a sample installation of the game for the demo and the benchmark:
every file the update touches, with deterministic contents and sizes past the
offsets the update writes, and saved games holding the record the update
rewrites ("Procesor" in two consecutive NUL-padded 9-byte fields), one of them
across a 4,096-byte boundary.

usage: make_sample_install.py DIR [--saves N] [--save-size BYTES]
"""
import argparse
import os

FILES = (['Contents\\QK_INFO.PAK', 'Contents\\INFO.PAK', 'Contents\\M_TITLE.PAK'] +
         ['missions\\miss%02d.lvl' % i for i in range(1, 21)] + ['missions\\muss18.lvl'] +
         ['training\\les%02d.lvl' % i for i in range(1, 9)] +
         ['profile\\DEF1.CFG', 'training\\les01.dsc'])
RECORD = b'Procesor\0Procesor\0'


def content(name, size):
    seed = sum(name.encode()) * 2654435761 & 0xFFFFFFFF
    out = bytearray()
    while len(out) < size:
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(0x61 + (seed >> 16) % 26)
    return bytes(out)


def save_game(index, size):
    data = bytearray(content('save%d' % index, size))
    for offset in (100, 4096 - 9, size // 2, size - len(RECORD)):
        if 0 <= offset <= size - len(RECORD):
            data[offset:offset + len(RECORD)] = RECORD
    return bytes(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('dir')
    parser.add_argument('--saves', type=int, default=3)
    parser.add_argument('--save-size', type=int, default=20000)
    args = parser.parse_args()
    for name in FILES:
        path = os.path.join(args.dir, *name.split('\\'))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        size = 4000 if name.endswith('M_TITLE.PAK') else 65536
        with open(path, 'wb') as f:
            f.write(content(name, size))
    os.makedirs(os.path.join(args.dir, 'save'), exist_ok=True)
    for i in range(args.saves):
        path = os.path.join(args.dir, 'save', 'gra%03d.SAV' % i)
        with open(path, 'wb') as f:
            f.write(save_game(i, args.save_size))
        os.utime(path, (1000000000 + i, 1000000000 + i))


if __name__ == '__main__':
    main()
