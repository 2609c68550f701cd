#!/usr/bin/env python3
"""Writes a generated documentation-like site for mirror benchmarks.

    make_site.py DIR PAGES [SEED] [--dense]

DIR/index.html starts it. Pages are a few kilobytes to a few tens of kilobytes of text with
many links each; about nine in ten live in the one directory "ref/", the rest in a few
small section directories. Every page is reachable from the start within about log2(PAGES)
hyperlink steps (page i links to pages 2i+1 and 2i+2), and each also links to a spread of
other pages, a shared style sheet and a few pictures, as generated manuals do.

With --dense the pages are like generated API documentation (Doxygen): each repeats a
navigation tree of the same hundred-odd pages and lists a few hundred members, each a link
with a fragment to another page, so most links on a page lead to pages already seen.
"""
import os
import random
import sys

WORDS = ("the of and to in is that for it as with was on be by this are or from at which "
         "function value module returns object class method argument default string list "
         "file option see also note example type error raise instance attribute").split()
SECTIONS = ["guide", "howto", "tutorial", "faq", "install"]


def page_path(i, pages):
    if i == 0:
        return "index.html"
    # One in ten pages lives in a section directory, the rest in ref/.
    if i % 10 == 0:
        return "%s/page%06d.html" % (SECTIONS[(i // 10) % len(SECTIONS)], i)
    return "ref/page%06d.html" % i


def relative(from_path, to_path):
    return os.path.relpath(to_path, os.path.dirname(from_path) or ".")


def paragraph(rng, words):
    return " ".join(rng.choice(WORDS) for _ in range(words)).capitalize() + "."


NAV_PAGES = 120


def dense_members(path, pages, rng):
    """A member list: a few hundred links with fragments, to a spread of pages."""
    rows = []
    for m in range(rng.randint(200, 400)):
        target = relative(path, page_path(rng.randrange(pages), pages))
        rows.append('<tr><td class="memItemLeft">int</td><td class="memItemRight">'
                    '<a class="el" href="%s#a%08x">%s</a> (%s)</td></tr>' %
                    (target, rng.getrandbits(32), rng.choice(WORDS), rng.choice(WORDS)))
    return '<table class="memberdecls">\n%s\n</table>' % "\n".join(rows)


def dense_navigation(path, pages):
    """The same tree of links on every page, as Doxygen's navigation panel."""
    items = "".join('<li><a href="%s">Page %d</a></li>' % (relative(path, page_path(t, pages)), t)
                    for t in range(min(pages, NAV_PAGES)))
    return '<div id="nav-tree"><ul>%s</ul></div>' % items


def write_page(root, i, pages, rng, dense=False):
    path = page_path(i, pages)
    links = [c for c in (2 * i + 1, 2 * i + 2) if c < pages]
    links += [rng.randrange(pages) for _ in range(rng.randint(20, 80))]
    if i + 1 < pages:
        links.append(i + 1)
    body = []
    paragraphs = rng.randint(3, 60)  # a few kilobytes to a few tens of kilobytes
    per = max(1, len(links) // paragraphs)
    for p in range(paragraphs):
        chunk = links[p * per:(p + 1) * per] if p < paragraphs - 1 else links[p * per:]
        anchors = " ".join('<a href="%s">%s</a>' % (relative(path, page_path(t, pages)),
                                                    rng.choice(WORDS)) for t in chunk)
        body.append("<p>%s %s</p>" % (paragraph(rng, rng.randint(30, 90)), anchors))
    pictures = " ".join('<img src="%s" alt="">' % relative(path, "_images/fig%02d.png" % rng.randrange(20))
                        for _ in range(rng.randint(0, 3)))
    if dense:
        body.insert(0, dense_navigation(path, pages))
        body.append(dense_members(path, pages, rng))
    html = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Page %d</title>\n"
            "<link rel=\"stylesheet\" href=\"%s\"></head><body>\n"
            "<div class=\"nav\"><a href=\"%s\">Contents</a></div>\n<h1>Page %d</h1>\n%s\n%s\n"
            "</body></html>\n") % (i, relative(path, "_static/site.css"), relative(path, "index.html"),
                                   i, "\n".join(body), pictures)
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w") as f:
        f.write(html)


def main():
    args = [a for a in sys.argv[1:] if a != "--dense"]
    dense = len(args) < len(sys.argv) - 1
    if len(args) < 2:
        sys.exit("usage: make_site.py DIR PAGES [SEED] [--dense]")
    root, pages = args[0], int(args[1])
    rng = random.Random(int(args[2]) if len(args) > 2 else 14)
    os.makedirs(os.path.join(root, "_static"), exist_ok=True)
    os.makedirs(os.path.join(root, "_images"), exist_ok=True)
    with open(os.path.join(root, "_static/site.css"), "w") as f:
        f.write("body { font-family: sans-serif; margin: 2em; }\n.nav { float: right; }\n" * 40)
    for n in range(20):
        with open(os.path.join(root, "_images/fig%02d.png" % n), "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + rng.randbytes(rng.randint(2000, 20000)))
    for i in range(pages):
        write_page(root, i, pages, rng, dense)


if __name__ == "__main__":
    main()
