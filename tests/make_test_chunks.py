#!/usr/bin/env python3
"""Writes the two payload chunks carried by unit_tests_payload.exe.

  make_test_chunks.py DIR    writes DIR/chunk1.bin (8,192 bytes) and
                             DIR/chunk0.bin (10,000 bytes)

Byte i of a chunk is (i * 37 + (i >> 8) * 11 + seed) & 0xFF, with seed 1 for
chunk1 and 0 for chunk0; tests/patch_payload_test.cpp computes the same bytes.
chunk0.bin is appended last, so it becomes index 0.
"""
import os
import sys


def chunk(size, seed):
    return bytes((i * 37 + (i >> 8) * 11 + seed) & 0xFF for i in range(size))


def main():
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    for name, size, seed in (('chunk1.bin', 8192, 1), ('chunk0.bin', 10000, 0)):
        with open(os.path.join(directory, name), 'wb') as f:
            f.write(chunk(size, seed))


if __name__ == '__main__':
    main()
