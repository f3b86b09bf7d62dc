#!/usr/bin/env python3
# Draws the bitmaps of the send-mail component and the database dialog as 16-colour XPM files
# in resources/. Run from the repository root; the XPM files are committed, this only remakes them.
PAL = [(' ', 'None'), ('.', '#000000'), ('+', '#800000'), ('@', '#008000'), ('#', '#808000'), ('$', '#000080'),
       ('%', '#800080'), ('&', '#008080'), ('*', '#808080'), ('=', '#C0C0C0'), ('-', '#FF0000'), (';', '#00FF00'),
       ('>', '#FFFF00'), (',', '#0000FF'), ("'", '#00FFFF'), ('!', '#FFFFFF')]

def write(path, name, comment, rows):
    h = len(rows); w = len(rows[0])
    assert all(len(r) == w for r in rows), name
    with open(path, 'w') as f:
        f.write('/* XPM */\n/* %s */\nstatic const char *const %s[] = {\n' % (comment, name))
        f.write('"%d %d 16 1",\n' % (w, h))
        for c, v in PAL:
            f.write('"%s c %s",\n' % (c, v))
        f.write(',\n'.join('"%s"' % r for r in rows))
        f.write('};\n')

def canvas(w, h): return [[' '] * w for _ in range(h)]
def put(c, x, y, ch):
    if 0 <= y < len(c) and 0 <= x < len(c[0]): c[y][x] = ch
def rect(c, x0, y0, x1, y1, fill, line):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            put(c, x, y, line if x in (x0, x1) or y in (y0, y1) else fill)
def lineto(c, x0, y0, x1, y1, ch):
    n = max(abs(x1 - x0), abs(y1 - y0))
    for i in range(n + 1):
        put(c, round(x0 + (x1 - x0) * i / n), round(y0 + (y1 - y0) * i / n), ch)
def rows(c): return [''.join(r) for r in c]

# The send-mail component: a sealed envelope with a red arrow leaving it.
m = canvas(24, 24)
rect(m, 1, 6, 18, 19, '!', '.')
lineto(m, 2, 7, 9, 13, '*'); lineto(m, 17, 7, 10, 13, '*')
lineto(m, 2, 18, 7, 13, '='); lineto(m, 17, 18, 12, 13, '=')
rect(m, 14, 8, 16, 10, '-', '+')  # stamp
for y in range(14, 19): put(m, 19, y, '*')
for x in range(2, 20): put(m, x, 20, '*')
# arrow, drawn row by row
ARROW = ["                 -      ",
         "                 --     ",
         "           ---------    ",
         "           ----------   ",
         "           +++++++++    ",
         "                 ++     ",
         "                 +      "][:6]
for y, r in enumerate(ARROW):
    for x, ch in enumerate(r):
        if ch != ' ': put(m, x, y, ch)
write('resources/TQUIRESENDMAIL.xpm', 'TQUIRESENDMAIL',
      'The send-mail component on the palette and at design time: an envelope leaving with a red arrow.', rows(m))

# A directory: a yellow folder, 15 x 14.
d = canvas(15, 14)
rect(d, 0, 3, 13, 12, '>', '.')
rect(d, 1, 1, 6, 3, '>', '.')
for x in range(1, 13): put(d, x, 4, '!')
for y in range(4, 13): put(d, 14, y, '*')
for x in range(1, 15): put(d, x, 13, '*')
put(d, 0, 13, ' ')
write('resources/DIR.xpm', 'DIR', 'A directory in the database dialog: a closed folder.', rows(d))

# A database: a grey drum with a blue band, 14 x 14.
b = canvas(14, 14)
for y in range(2, 12):
    for x in range(1, 13): put(b, x, y, '=')
    put(b, 0, y, '.'); put(b, 13, y, '.')
for x in range(2, 12): put(b, x, 0, '.'); put(b, x, 13, '.')
put(b, 1, 1, '.'); put(b, 12, 1, '.'); put(b, 1, 12, '.'); put(b, 12, 12, '.')
for x in range(2, 12): put(b, x, 1, '!'); put(b, x, 12, '*')
for x in range(1, 13): put(b, x, 3, '*'); put(b, x, 6, '$'); put(b, x, 7, ','); put(b, x, 8, '$')
for y in range(4, 12): put(b, 12, y, '*')
put(b, 3, 7, '!'); put(b, 4, 7, '!')
write('resources/NDB.xpm', 'NDB', 'A database in the database dialog: a disk drum with a blue band.', rows(b))

# The OK button's glyph: a check mark, in colour and greyed for the disabled state.
def check(colour, shadow):
    g = canvas(16, 16)
    for x, y in [(2, 8), (3, 9), (4, 10), (5, 11), (6, 12), (7, 11), (8, 10), (9, 9), (10, 8), (11, 7), (12, 6), (13, 5), (14, 4)]:
        put(g, x, y, colour); put(g, x, y - 1, colour); put(g, x + 1, y + 1, shadow)
    return rows(g)
write('resources/OKGLYPH.xpm', 'OKGLYPH', 'The OK button of the database dialog: a green check mark.', check('@', '.'))
write('resources/OKGLYPH_DISABLED.xpm', 'OKGLYPH_DISABLED', 'The OK button greyed: the check mark in grey.', check('*', '!'))
