#!/usr/bin/env python3
"""Rewrites the window classes of the dialog templates in a compiled .res file
the way Microsoft's resource compiler stores them.

windres stores the class of every CONTROL statement as an upper-case string
("STATIC", "MSCTLS_PROGRESS32"). The standard form is an ordinal for the
predefined classes (button 0x80, edit 0x81, static 0x82, listbox 0x83,
scrollbar 0x84, combobox 0x85) and the name as written for any other class.
Windows accepts both, but the template should carry the standard form.

usage: fix_dialog_classes.py INPUT.res OUTPUT.res [CLASS...]
       CLASS: the exact spelling of a non-predefined class, e.g. msctls_progress32
"""
import struct
import sys

RT_DIALOG = 5
PREDEFINED = {'BUTTON': 0x80, 'EDIT': 0x81, 'STATIC': 0x82, 'LISTBOX': 0x83,
              'SCROLLBAR': 0x84, 'COMBOBOX': 0x85}


def align(n, to=4):
    return (n + to - 1) & ~(to - 1)


def read_name(data, at):
    """A name or ordinal of a .res header or template: (value, next offset)."""
    first = struct.unpack_from('<H', data, at)[0]
    if first == 0xFFFF:
        return struct.unpack_from('<H', data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from('<H', data, end)[0] != 0:
        end += 2
    return data[at:end].decode('utf-16-le'), end + 2


def encode_name(value):
    if isinstance(value, int):
        return struct.pack('<HH', 0xFFFF, value)
    return value.encode('utf-16-le') + b'\0\0'


def fix_template(data, spellings):
    style = struct.unpack_from('<I', data, 0)[0]
    if struct.unpack_from('<HH', data, 0) == (1, 0xFFFF):
        sys.exit('fix_dialog_classes: extended templates are not handled')
    count = struct.unpack_from('<H', data, 8)[0]
    at = 18
    for _ in range(3):                      # menu, class, caption
        _, at = read_name(data, at)
    if style & 0x40:                        # DS_SETFONT: point size and face
        _, at = read_name(data, at + 2)
    out = bytearray(data[:at])
    for _ in range(count):
        at = align(at)
        out += bytes(align(len(out)) - len(out))
        out += data[at:at + 18]             # style, extended style, rectangle, id
        at += 18
        window_class, at = read_name(data, at)
        if isinstance(window_class, str):
            if window_class.upper() in PREDEFINED:
                window_class = PREDEFINED[window_class.upper()]
            else:
                window_class = spellings.get(window_class.upper(), window_class)
        out += encode_name(window_class)
        text, at = read_name(data, at)
        out += encode_name(text)
        extra = struct.unpack_from('<H', data, at)[0]
        out += data[at:at + 2 + extra]
        at += 2 + extra
    return bytes(out)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    spellings = {name.upper(): name for name in sys.argv[3:]}
    with open(sys.argv[1], 'rb') as f:
        res = f.read()
    out = bytearray()
    at = 0
    while at < len(res):
        data_size, header_size = struct.unpack_from('<II', res, at)
        header = res[at:at + header_size]
        data = res[at + header_size:at + header_size + data_size]
        resource_type, _ = read_name(header, 8)
        if resource_type == RT_DIALOG:
            data = fix_template(data, spellings)
            header = struct.pack('<I', len(data)) + header[4:]
        out += header + data + bytes(align(len(data)) - len(data))
        at += header_size + align(data_size)
    with open(sys.argv[2], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
