#!/usr/bin/env python3
"""Writes the pages of the link-memory benchmark under DIR:
  links/index.html  one page with N distinct hyperlinks (default 1,000,000)
  css/index.html    a page whose style sheet css/style.css holds M url()s (default 300,000)
  big/index.html    a page of S megabytes on one line (default 60), with a few links
None of the linked addresses exists: the server answers 404, so both programs ask for each
once and store nothing, and the figures measure what the links cost, not the disk.
  bench/site/make_link_pages.py DIR [N] [M] [S]"""
import os
import sys


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    top = sys.argv[1]
    links = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    urls = int(sys.argv[3]) if len(sys.argv) > 3 else 300000
    megabytes = int(sys.argv[4]) if len(sys.argv) > 4 else 60
    for sub in ("links", "css", "big"):
        os.makedirs(os.path.join(top, sub), exist_ok=True)

    with open(os.path.join(top, "links", "index.html"), "w") as f:
        f.write("<html><head><title>Links</title></head><body>\n")
        for i in range(links):
            f.write('<a href="l/%07d.html">%d</a>\n' % (i, i))
        f.write("</body></html>\n")

    with open(os.path.join(top, "css", "index.html"), "w") as f:
        f.write('<html><head><link rel="stylesheet" href="style.css"></head>'
                "<body><p>Styled</p></body></html>\n")
    with open(os.path.join(top, "css", "style.css"), "w") as f:
        for i in range(urls):
            f.write(".c%d { background: url(i/%06d.png) }\n" % (i, i))

    # One line: words, and a link every 64 KB.
    chunk = ("lorem ipsum dolor sit amet " * 2400)[:65000]
    with open(os.path.join(top, "big", "index.html"), "w") as f:
        f.write("<html><body><p>")
        for i in range(megabytes * 1024 * 1024 // 65536):
            f.write(chunk)
            f.write('<a href="b/%05d.html">%d</a>' % (i, i))
        f.write("</p></body></html>")


if __name__ == "__main__":
    main()
