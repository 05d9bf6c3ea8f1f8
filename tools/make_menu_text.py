#!/usr/bin/env python3
"""Writes data/M_TITLE.PAK, the stand-in for the release's new menu-text file
(payload chunk 0): 2,770 lines ended by CR LF, each opening with a tag in square
brackets (four characters inside on every line but one), 2,758 of them ending
in "|", with numbered placeholders such as %1s and %2d, Windows-1250 letters
and no NUL byte; 84,163 bytes in all. Deterministic: the same bytes every run.

usage: make_menu_text.py [OUTPUT]
"""
import sys

LINES = 2770
BAR_LINES = 2758
SIZE = 84163

WORDS = ('Gra Zapisz Wczytaj Opcje Wyjście Misja Jednostka Budynek Łączność Żołnierz '
         'Ćwiczenie Dźwięk Muzyka Głośność Szybkość Mapa Zasoby Energia Obrona Atak '
         'Zwiad Baza Sojusznik Wróg Ładunek Postęp Ustawienia Poziom Trudność Źródło').split()
PLACEHOLDERS = ['%1s', '%2d', '%1d', '%2s', '%3d']
TAG_LETTERS = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'


def tag(i):
    if i == 1:
        return '[VER]'                       # the one tag of another width
    letters = ''
    n = i
    for _ in range(4):
        letters += TAG_LETTERS[n % len(TAG_LETTERS)]
        n //= len(TAG_LETTERS)
    return '[' + letters + ']'


def base_text(i):
    state = (i * 2654435761) & 0xFFFFFFFF
    words = []
    for _ in range(1 + state % 3):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        words.append(WORDS[(state >> 16) % len(WORDS)])
    if i % 7 == 0:
        words.append(PLACEHOLDERS[(i // 7) % len(PLACEHOLDERS)])
    return ' '.join(words)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'data/M_TITLE.PAK'
    # Lines without "|": spread over the file, never the tag-less first line.
    plain = {200 * k + 17 for k in range(LINES - BAR_LINES)}
    lines = []
    for i in range(LINES):
        text = tag(i) + ' ' + base_text(i)
        lines.append([text, '|' if i not in plain else ''])
    encoded = lambda l: (l[0] + l[1] + '\r\n').encode('cp1250')
    total = sum(len(encoded(l)) for l in lines)
    if total > SIZE:
        sys.exit('base text too long: %d' % total)
    # Pad the texts round-robin with dots until the size is exact.
    i = 0
    while total < SIZE:
        lines[i % LINES][0] += '.'
        total += 1
        i += 7
    data = b''.join(encoded(l) for l in lines)
    assert len(data) == SIZE and b"\0" not in data
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
