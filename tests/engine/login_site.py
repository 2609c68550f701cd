#!/usr/bin/env python3
"""A small site behind a log-in form, for the crawler's log-in, cookie and pace tests.

POST /login with user=alice and password=secret sets a session cookie (valid for --session
seconds on the server, and as Max-Age) and an already expired cookie; every other page needs
the session and otherwise redirects to /login. /logout ends the session. /robots.txt keeps
crawlers out of /hidden/. Each request is printed as
"METHOD PATH<TAB>COOKIE<TAB>MONOTONIC-SECONDS".
"""
import argparse
import secrets
import sys
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SESSIONS = {}
PAGES = {
    "/": '<html><a href="/a.html">a</a> <a href="/b.html">b</a> <a href="/logout">Log out</a>'
         ' <a href="/hidden/c.html">c</a></html>',
    "/a.html": '<html><a href="/b.html">b</a> <a href="/account/sign-out">out</a> <img src="/pic.png"></html>',
    "/b.html": '<html><a href="/a.html">a</a> <a href="/d.html">d</a></html>',
    "/d.html": "<html>deep</html>",
    "/hidden/c.html": "<html>hidden</html>",
    "/pic.png": "PNG",
}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def note(self):
        print("%s %s\t%s\t%.4f" % (self.command, self.path, self.headers.get("Cookie", ""), time.monotonic()),
              flush=True)

    def session(self):
        for part in self.headers.get("Cookie", "").split(";"):
            name, _, value = part.strip().partition("=")
            if name == "session" and SESSIONS.get(value, 0) > time.monotonic():
                return value
        return None

    def send(self, status, body=b"", headers=()):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        self.note()
        length = min(int(self.headers.get("Content-Length", "0") or 0), 10000)
        form = urllib.parse.parse_qs(self.rfile.read(length).decode("latin-1"))
        if self.path == "/login" and form.get("user") == ["alice"] and form.get("password") == ["secret"]:
            token = secrets.token_hex(8)
            SESSIONS[token] = time.monotonic() + ARGS.session
            self.send(303, b"", [("Location", "/"),
                                 ("Set-Cookie", "session=%s; Path=/; Max-Age=%d; HttpOnly" % (token, ARGS.session)),
                                 ("Set-Cookie", "stale=1; Path=/; Expires=Thu, 01 Jan 1970 00:00:01 GMT")])
        else:
            self.send(403, b"wrong user or password")

    def do_GET(self):
        self.note()
        if self.path == "/robots.txt":
            self.send(200, b"User-agent: *\nDisallow: /hidden/\n", [("Content-Type", "text/plain")])
            return
        if self.path == "/login":
            self.send(200, b'<form method="post"><input name="user"><input name="password"></form>',
                      [("Content-Type", "text/html")])
            return
        token = self.session()
        if token is None:
            self.send(302, b"", [("Location", "/login")])
            return
        if self.path in ("/logout", "/account/sign-out"):
            SESSIONS.pop(token, None)
            self.send(302, b"", [("Location", "/login")])
            return
        body = PAGES.get(self.path)
        if body is None:
            self.send(404, b"not here")
            return
        kind = "image/png" if self.path.endswith(".png") else "text/html"
        self.send(200, body.encode(), [("Content-Type", kind)])


parser = argparse.ArgumentParser()
parser.add_argument("--port", type=int, required=True)
parser.add_argument("--session", type=int, default=300)
ARGS = parser.parse_args()
server = ThreadingHTTPServer(("127.0.0.1", ARGS.port), Handler)
print("ready", flush=True)
try:
    server.serve_forever()
except KeyboardInterrupt:
    sys.exit(0)
