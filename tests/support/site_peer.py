#!/usr/bin/env python3
"""A small scripted web site for the tests, on 127.0.0.1 only.

Serves the files under --root, answers the redirects listed in --redirects ("PATH LOCATION"
lines), protects every path under --protect with Basic or Digest authentication of --user
("name:password"), optionally over TLS (--cert, --key), and logs every request as one line
"PATH<TAB>AUTHORIZATION<TAB>REFERER" in --log. With --hold "PATH UNTIL" a request for PATH is
answered only once UNTIL has been asked for (or after 30 s), and then logged again as
"answered PATH".
"""
import argparse
import hashlib
import http.server
import mimetypes
import os
import re
import secrets
import ssl
import threading

args = None
log_lock = threading.Lock()
asked = set()
asked_changed = threading.Condition(log_lock)
NONCE = secrets.token_hex(16)


def digest_ok(header, method, user, password, algorithm):
    if not header.startswith("Digest "):
        return False
    fields = dict((k.lower(), v1 if v1 else v2) for k, v1, v2 in
                  re.findall(r'(\w+)=(?:"((?:[^"\\]|\\.)*)"|([^,\s]*))', header[7:]))
    h = hashlib.sha256 if algorithm.startswith("SHA-256") else hashlib.md5
    H = lambda text: h(text.encode()).hexdigest()
    if fields.get("username") != user or fields.get("nonce") != NONCE:
        return False
    if fields.get("qop") != "auth" or fields.get("nc") != "00000001" or not fields.get("cnonce"):
        return False
    ha1 = H("%s:%s:%s" % (user, "site", password))
    if algorithm.endswith("-sess"):
        ha1 = H("%s:%s:%s" % (ha1, NONCE, fields["cnonce"]))
    ha2 = H("%s:%s" % (method, fields.get("uri", "")))
    want = H("%s:%s:%s:%s:auth:%s" % (ha1, NONCE, fields["nc"], fields["cnonce"], ha2))
    return fields.get("response") == want and fields.get("opaque") == "op"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *a):
        pass

    def send(self, code, body=b"", headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?")[0]
        auth = self.headers.get("Authorization", "")
        with log_lock, open(args.log, "a") as f:
            f.write("%s\t%s\t%s\n" % (self.path, auth, self.headers.get("Referer", "")))
            asked.add(path)
            asked_changed.notify_all()
        if args.hold and path == args.hold.split()[0]:
            with log_lock:
                asked_changed.wait_for(lambda: args.hold.split()[1] in asked, timeout=30)
                with open(args.log, "a") as f:
                    f.write("answered %s\n" % path)
        if args.protect and path.startswith(args.protect):
            user, password = args.user.split(":", 1)
            if args.auth == "basic":
                import base64
                good = auth == "Basic " + base64.b64encode(args.user.encode()).decode()
                challenge = 'Basic realm="site"'
            else:
                good = digest_ok(auth, "GET", user, password, args.auth)
                challenge = ('Digest realm="site", qop="auth", algorithm=%s, nonce="%s", opaque="op"'
                             % (args.auth, NONCE))
            if not good:
                self.send(401, b"<p>protected</p>", [("WWW-Authenticate", challenge),
                                                     ("Content-Type", "text/html")])
                return
        if path in redirects:
            self.send(302, b"", [("Location", redirects[path])])
            return
        full = os.path.join(args.root, path.lstrip("/"))
        if path.endswith("/"):
            full = os.path.join(full, "index.html")
        if not os.path.isfile(full):
            self.send(404, b"not found", [("Content-Type", "text/plain")])
            return
        with open(full, "rb") as f:
            body = f.read()
        kind = mimetypes.guess_type(full)[0] or "application/octet-stream"
        self.send(200, body, [("Content-Type", kind)])


def main():
    global args, redirects
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--root", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--redirects", default="")
    p.add_argument("--protect", default="")
    p.add_argument("--user", default="")
    p.add_argument("--auth", default="basic")  # basic, MD5, MD5-sess, SHA-256, SHA-256-sess
    p.add_argument("--cert", default="")
    p.add_argument("--key", default="")
    p.add_argument("--hold", default="")  # "PATH UNTIL"
    args = p.parse_args()
    redirects = {}
    if args.redirects:
        with open(args.redirects) as f:
            for line in f:
                if line.strip():
                    source, target = line.split(None, 1)
                    redirects[source] = target.strip()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
