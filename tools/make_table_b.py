#!/usr/bin/env python3
"""Writes data/info-pak-table.txt, the byte-patch table of Contents\\INFO.PAK as
the build reads it: 188 records of (offset, capital letter) with strictly
rising offsets. Its first five and last three records are the release's own;
the 180 between them are stand-ins, placed deterministically between their
neighbours. This is how the committed stand-in was made; the build doesn't run
it, and the real release data replaces the file it writes.

usage: make_table_b.py [OUTPUT]
"""
import sys

FIRST = [(0x9, 'N'), (0x5D, 'M'), (0xA5, 'M'), (0xF3, 'C'), (0x166, 'P')]
LAST = [(0x5D8C, 'S'), (0x5DC2, 'U'), (0x5E65, 'A')]
STAND_IN_COUNT = 180
HEADER = """\
# The byte-patch table of Contents\\INFO.PAK: the records the update writes
# into that file, in table order, one a line: the offset in the file and the
# byte stored there, each decimal or 0x-hexadecimal. "#" starts a comment. The
# offsets rise strictly, and the update writes exactly 188 records.
#
# Stand-in: records 6 to 185 were made by tools/make_table_b.py; the first
# five and the last three are the release's own.
"""


def stand_ins():
    low, high = FIRST[-1][0], LAST[0][0]
    span = (high - low) / (STAND_IN_COUNT + 1)
    state = 0x2545F491
    records = []
    for i in range(1, STAND_IN_COUNT + 1):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        jitter = (state >> 8) % max(1, int(span) // 2)
        offset = low + int(i * span) - int(span) // 4 + jitter
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        letter = chr(ord('A') + (state >> 16) % 26)
        records.append((offset, letter))
    return records


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'data/info-pak-table.txt'
    records = FIRST + stand_ins() + LAST
    offsets = [o for o, _ in records]
    assert len(records) == 188
    assert all(a < b for a, b in zip(offsets, offsets[1:])), 'offsets must rise strictly'
    with open(out, 'w', newline='\n') as f:
        f.write(HEADER)
        for offset, letter in records:
            f.write('0x%04X 0x%02X  # %s\n' % (offset, ord(letter), letter))

if __name__ == '__main__':
    main()
