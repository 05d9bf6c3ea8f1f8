#!/usr/bin/env python3
"""Says what an update changed in an installation: compares a copy taken
before with the directory after, file by file and byte by byte, and reports
the saved games' modification times.

usage: summarize_update.py BEFORE AFTER
"""
import os
import sys


def files(root):
    found = {}
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.join(directory, name)
            found[os.path.relpath(path, root)] = path
    return found


def main():
    before, after = files(sys.argv[1]), files(sys.argv[2])
    changed_files = changed_bytes = 0
    for name in sorted(set(before) | set(after)):
        if name not in after or name not in before:
            print('  %-28s %s' % (name, 'removed' if name not in after else 'added'))
            continue
        old = open(before[name], 'rb').read()
        new = open(after[name], 'rb').read()
        if old == new:
            continue
        changed_files += 1
        if len(old) != len(new):
            print('  %-28s replaced whole: %d -> %d bytes' % (name, len(old), len(new)))
            continue
        diff = sum(1 for a, b in zip(old, new) if a != b)
        changed_bytes += diff
        note = ''
        if name.startswith('save'):
            kept = os.stat(before[name]).st_mtime == os.stat(after[name]).st_mtime
            note = ', modification time %s' % ('kept' if kept else 'CHANGED')
        print('  %-28s %d bytes changed%s' % (name, diff, note))
    print('%d files changed, %d bytes patched in place' % (changed_files, changed_bytes))


if __name__ == '__main__':
    main()
