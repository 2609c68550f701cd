#!/usr/bin/env python3
"""A small web site made of crawl traps, for the hostile-site tests. Listens on 127.0.0.1
only (plain HTTP, and TLS when a certificate is given); every request's path is logged to
standard output, one line each, so a test can count what was asked for.

  /loop/a, /loop/b      302 to each other for ever
  /grow/x...            302 to the same path with one more "x"
  /t/N                  a page holding <iframe src="/t/N+1">
  /f/N                  a page holding <frame src="/f/N+1">
  /css/page.html        a page with the style sheet /css/0.css
  /css/N.css            a style sheet importing /css/N+1.css, its background /css/N.png
  /doc/N.html           a documentation page: <link rel=next> to N+1, prev, index, search,
                        author, and a style sheet and an icon
  /rep/...              a page linking "a/b/" relative to itself: /rep/a/b/a/b/...
  /q/                   a page with 1,001 links /q/list?p=0 ... ?p=1000
  /q/list?p=N           a small text file
  /start/index.html     from a host named "localhost": 302 to the same path on 127.0.0.1;
                        else a page linking page.html
  /to-https             301 to https://localhost:TLSPORT/start/index.html
"""
import argparse
import http.server
import socketserver
import ssl
import sys
import threading


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    tls_port = 0

    def log_message(self, fmt, *args):  # the path log is written by do_GET
        pass

    def reply(self, status, body=b"", ctype="text/html", location=None):
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def page(self, html):
        self.reply(200, ("<html><body>%s</body></html>" % html).encode())

    def do_GET(self):
        path = self.path
        host = self.headers.get("Host", "")
        sys.stdout.write("%s %s\n" % (host, path))
        sys.stdout.flush()
        if path == "/loop/a":
            return self.reply(302, location="/loop/b")
        if path == "/loop/b":
            return self.reply(302, location="/loop/a")
        if path.startswith("/grow/"):
            return self.reply(302, location=path + "x")
        for prefix, tag in (("/t/", "iframe"), ("/f/", "frame")):
            if path.startswith(prefix):
                n = int(path[len(prefix):] or "0")
                return self.page('chain %d <%s src="%s%d"></%s>' % (n, tag, prefix, n + 1, tag))
        if path == "/css/page.html":
            return self.page('<link rel="stylesheet" href="/css/0.css">styled')
        if path.startswith("/css/") and path.endswith(".css"):
            n = int(path[len("/css/"):-len(".css")])
            sheet = '@import "/css/%d.css"; body { background: url(/css/%d.png) }' % (n + 1, n)
            return self.reply(200, sheet.encode(), "text/css")
        if path.startswith("/css/") and path.endswith(".png"):
            return self.reply(200, b"PNG", "image/png")
        if path.startswith("/doc/"):
            if path == "/doc/s.css":
                return self.reply(200, b"body{color:black}", "text/css")
            if path == "/doc/icon.png":
                return self.reply(200, b"PNG", "image/png")
            name = path[len("/doc/"):]
            n = int(name.split(".")[0]) if name[:1].isdigit() else 0
            links = "".join('<link rel="%s" href="%s">' % (rel, href) for rel, href in (
                ("next", "%d.html" % (n + 1)), ("prev", "%d.html" % max(n - 1, 0)),
                ("index", "genindex.html"), ("search", "search.html"),
                ("author", "about.html"), ("stylesheet", "s.css"), ("icon", "icon.png")))
            return self.reply(200, ("<html><head>%s</head><body>doc %d</body></html>"
                                    % (links, n)).encode())
        if path.startswith("/rep/"):
            return self.page('<a href="a/b/">deeper</a>')
        if path == "/q/":
            return self.page("".join('<a href="list?p=%d">%d</a>\n' % (i, i) for i in range(1001)))
        if path.startswith("/q/list?p="):
            return self.reply(200, ("item " + path.split("=")[1]).encode(), "text/plain")
        if path == "/start/index.html":
            if host.startswith("localhost:") and not self.is_tls():
                port = host.split(":")[1]
                return self.reply(302, location="http://127.0.0.1:%s%s" % (port, path))
            return self.page('start <a href="page.html">page</a> <img src="/start/pic.gif">')
        if path == "/start/page.html":
            return self.page("the page")
        if path == "/start/pic.gif":
            return self.reply(200, b"GIF89a", "image/gif")
        if path == "/to-https":
            return self.reply(301, location="https://localhost:%d/start/index.html" % self.tls_port)
        self.reply(404, b"not here", "text/plain")

    def is_tls(self):
        return isinstance(self.connection, ssl.SSLSocket)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--tls-port", type=int, default=0)
    ap.add_argument("--cert")
    ap.add_argument("--key")
    a = ap.parse_args()
    Handler.tls_port = a.tls_port
    servers = [Server(("127.0.0.1", a.port), Handler)]
    if a.tls_port and a.cert and a.key:
        tls = Server(("127.0.0.1", a.tls_port), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(a.cert, a.key)
        tls.socket = context.wrap_socket(tls.socket, server_side=True)
        servers.append(tls)
    for s in servers[1:]:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    servers[0].serve_forever()


if __name__ == "__main__":
    main()
