#!/usr/bin/env python3
"""Writes a small site whose content is made by its scripts into a folder:

  index.html     an empty list filled from /api/items?page=1 (JSON), links made by script
  api/items      the JSON answer (served for any query string by the server's config)
  lazy pictures  img elements that get their src only when scrolled into view
  a style sheet and a web font inserted by a script
  item pages     reachable only through the links the script makes

Usage: make_script_site.py FOLDER [ITEMS]
"""
import json
import os
import struct
import sys
import zlib


def png(width, height, rgb):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def write(root, name, data):
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


INDEX = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Script shop</title>
<script>
// The style sheet and the font come by script only.
const css = document.createElement('link');
css.rel = 'stylesheet';
css.href = '/assets/' + 'look.css';
document.head.appendChild(css);
</script>
</head><body>
<h1>Script shop</h1>
<ul id="list"></ul>
<div style="height:2500px">spacer</div>
<div id="gallery"></div>
<script>
fetch('/api/items?page=1').then(r => r.json()).then(data => {
  const list = document.getElementById('list');
  for (const item of data.items) {
    const li = document.createElement('li');
    const a = document.createElement('a');
    a.href = '/items/' + item.id + '.html';
    a.textContent = item.name;
    li.appendChild(a);
    list.appendChild(li);
  }
  const gallery = document.getElementById('gallery');
  for (const item of data.items) {
    const img = document.createElement('img');
    img.dataset.src = '/pics/' + item.picture;
    img.width = 40; img.height = 40; img.alt = item.name;
    gallery.appendChild(img);
  }
  // Pictures load when they come into view.
  const seen = new IntersectionObserver(entries => {
    for (const e of entries) {
      if (e.isIntersecting && !e.target.src) { e.target.src = e.target.dataset.src; seen.unobserve(e.target); }
    }
  });
  for (const img of gallery.querySelectorAll('img')) seen.observe(img);
  document.body.dataset.listed = 'yes';
});
const font = new FontFace('Shop', 'url(/assets/' + 'shop.woff2)');
font.load().then(f => { document.fonts.add(f); document.body.style.fontFamily = 'Shop'; });
</script>
</body></html>
"""

ITEM = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{name}</title></head>
<body><h1>{name}</h1><p>Item number {id}.</p></body></html>
"""


def main():
    root = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    items = [{"id": "item%d" % i, "name": "Item %d" % i, "picture": "pic%d.png" % i} for i in range(1, count + 1)]
    write(root, "index.html", INDEX)
    write(root, "api/items", json.dumps({"items": items}))
    write(root, "assets/look.css", "body { color: #222; }\nh1 { font-size: 20px; }\n")
    # Not a real font: the browser asks for it all the same.
    write(root, "assets/shop.woff2", b"wOF2" + b"\x00" * 60)
    for i, item in enumerate(items):
        write(root, "items/%s.html" % item["id"], ITEM.format(**item))
        write(root, "pics/" + item["picture"], png(8 + i, 8, (40 * i % 256, 120, 200)))


if __name__ == "__main__":
    main()
