#!/usr/bin/env python3
"""Draws the program's fallback pictures (16x16 XPM), used where the desktop's icon theme
has no fitting icon. Run from this folder; writes pic<N>.xpm and icons.qrc."""

W = H = 16

def canvas():
    return [['.'] * W for _ in range(H)]

def rect(c, x0, y0, x1, y1, ch, fill=None):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            edge = x in (x0, x1) or y in (y0, y1)
            if edge:
                c[y][x] = ch
            elif fill:
                c[y][x] = fill

def disc(c, cx, cy, r, ch, fill):
    for y in range(H):
        for x in range(W):
            d = (x - cx) ** 2 + (y - cy) ** 2
            if d <= r * r:
                c[y][x] = fill if d < (r - 1) ** 2 else ch

def page(colour):
    c = canvas()
    rect(c, 2, 0, 13, 15, 'k', 'w')
    for y in (4, 7, 10, 13):
        for x in range(4, 12):
            c[y][x] = colour
    return c

def folder(open_=False):
    c = canvas()
    rect(c, 1, 2, 6, 4, 'k', 'y')
    rect(c, 1, 4, 14, 13, 'k', 'y')
    if open_:
        for y in range(7, 13):
            for x in range(3 + (13 - y) // 3, 15):
                c[y][x] = 'Y'
    return c

def globe(mark=None):
    c = canvas()
    disc(c, 7, 7, 7, 'k', 'b')
    for x in range(1, 14):
        c[7][x] = 'g'
    for y in range(1, 14):
        c[y][7] = 'g'
    if mark == 'down':
        for i, y in enumerate(range(9, 16)):
            for x in range(9 + i // 2, 16 - i // 2):
                c[y][x] = 'r' if y < 15 else 'r'
    if mark == 'clock':
        disc(c, 11, 11, 4, 'k', 'w')
        c[11][11] = c[10][11] = c[9][11] = c[11][12] = 'k'
    if mark == 'pause':
        rect(c, 9, 8, 15, 15, 'k', 'w')
        for y in range(10, 14):
            c[y][11] = c[y][13] = 'k'
    return c

COLOURS = {'.': 'None', 'k': '#303030', 'w': '#FFFFFF', 'y': '#E8C04A', 'Y': '#F6DA80',
           'b': '#5A8FD8', 'g': '#9CC4F0', 'r': '#2E9E3E', 'h': '#3060C0', 't': '#808080',
           'i': '#C050A0', 'a': '#E07020', 'v': '#8040C0', 'z': '#A07040', 'x': '#D03030',
           'f': '#404040', 'q': '#20A0A0'}

PICTURES = {
    0: globe(), 1: folder(), 2: folder(), 3: folder(True), 4: page('t'),
    12: page('h'), 13: page('t'), 14: page('i'), 15: page('q'), 16: page('a'), 17: page('a'),
    18: page('v'), 19: page('v'), 20: page('z'), 21: page('x'), 22: page('h'), 23: page('q'),
    24: page('f'), 25: page('f'), 26: page('a'), 27: page('k'),
    28: globe('down'), 29: globe('clock'), 30: globe('pause'),
}

def write_xpm(n, c):
    used = sorted({ch for row in c for ch in row})
    lines = ['/* XPM */', 'static const char *pic%d[] = {' % n, '"%d %d %d 1",' % (W, H, len(used))]
    lines += ['"%s c %s",' % (ch, COLOURS[ch]) for ch in used]
    lines += ['"%s"%s' % (''.join(row), ',' if i < H - 1 else '') for i, row in enumerate(c)]
    lines.append('};')
    with open('pic%d.xpm' % n, 'w') as f:
        f.write('\n'.join(lines) + '\n')

for n, c in PICTURES.items():
    write_xpm(n, c)
with open('icons.qrc', 'w') as f:
    f.write('<RCC>\n  <qresource prefix="/pictures">\n')
    for n in PICTURES:
        f.write('    <file>pic%d.xpm</file>\n' % n)
    f.write('  </qresource>\n</RCC>\n')
