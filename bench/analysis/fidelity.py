#!/usr/bin/env python3
"""How closely a stored site looks like the original, page by page.

Serves a site folder with nginx on 127.0.0.1, mirrors it with quillmoor-cli get (once with the
default names, once with the option ExtLast for reading from disk) and with wget2 -m -k -p, then
opens each chosen page in headless Chromium (through chromedriver, loopback only) as:
  orig   the original, served by nginx
  serve  the stored copy through quillmoor-cli serve
  disk   the stored copy from disk (ExtLast=1)
  wget2  wget2's copy from disk
and prints per page: style rules applied (rules whose selector matches something), sub-resources
that failed to load (console errors), and the share of pixels that differ from the original.

    bench/analysis/fidelity.py BUILD_DIR [SITE_DIR] [PAGE ...]

SITE_DIR defaults to the Python documentation (python3.11-doc). Only the standard library is
used; PNG screenshots are decoded here.
"""
import base64
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request
import zlib

PAGES = [
    "index.html", "contents.html", "tutorial/index.html", "tutorial/introduction.html",
    "library/index.html", "library/functions.html", "library/stdtypes.html", "library/os.html",
    "library/re.html", "library/asyncio.html", "reference/index.html", "reference/datamodel.html",
    "howto/index.html", "howto/logging.html", "faq/general.html", "glossary.html",
    "whatsnew/3.11.html", "c-api/index.html", "using/cmdline.html", "genindex.html",
    "py-modindex.html", "library/tkinter.html",
]

COUNT_RULES = """
var n = 0;
function walk(list) {
  for (var i = 0; i < list.length; i++) {
    var r = list[i];
    if (r.styleSheet) { try { walk(r.styleSheet.cssRules); } catch (e) {} }
    else if (r.selectorText !== undefined) {
      try { if (document.querySelector(r.selectorText)) n++; } catch (e) {}
    } else if (r.cssRules) { walk(r.cssRules); }
  }
}
for (var s = 0; s < document.styleSheets.length; s++) {
  try { walk(document.styleSheets[s].cssRules); } catch (e) {}
}
return n;
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), 0.5):
                return True
        except OSError:
            time.sleep(0.1)
    return False


def start_nginx(root, work):
    port = free_port()
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off; master_process off; worker_processes 1;
pid {work}/nginx.pid; error_log {work}/nginx-error.log warn;
events {{ worker_connections 256; }}
http {{ include /etc/nginx/mime.types; default_type application/octet-stream;
  access_log off; client_body_temp_path {work}/body; proxy_temp_path {work}/proxy;
  fastcgi_temp_path {work}/fcgi; uwsgi_temp_path {work}/uwsgi; scgi_temp_path {work}/scgi;
  server {{ listen 127.0.0.1:{port}; root {root}; }} }}
""")
    proc = subprocess.Popen(["nginx", "-p", work, "-c", conf, "-e", work + "/nginx-error.log"])
    if not wait_port(port):
        sys.exit("nginx did not start")
    return proc, port


def cli(build, home, *args, timeout=1800):
    r = subprocess.run([os.path.join(build, "src/cli/quillmoor-cli"), "--home", home, *args],
                       capture_output=True, text=True, timeout=timeout)
    if r.returncode != 0:
        sys.exit(f"quillmoor-cli {' '.join(args)} failed: {r.stderr[-2000:]}")
    return r


def mirror(build, work, name, url, ext_last, http_port):
    home = os.path.join(work, name + "-home")
    store = os.path.join(work, name + "-store")
    os.makedirs(home)
    os.makedirs(store)
    cli(build, home, "options", f"PathPrefix={store}/", f"ExtLast={1 if ext_last else 0}",
        f"HTTPPort={http_port}", "HTTPCount=10")
    started = time.time()
    cli(build, home, "get", url, "--level", "40", "--folder", "Sites")
    return home, store, time.time() - started


class Browser:
    """Headless Chromium driven through chromedriver's WebDriver API."""

    def __init__(self, work):
        self.port = free_port()
        self.driver = subprocess.Popen(["chromedriver", f"--port={self.port}"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_port(self.port)
        profile = tempfile.mkdtemp(dir=work, prefix="profile-")
        caps = {"capabilities": {"alwaysMatch": {
            "goog:loggingPrefs": {"browser": "ALL"},
            "goog:chromeOptions": {"binary": "/usr/bin/chromium", "args": [
                "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--no-first-run",
                f"--user-data-dir={profile}", "--window-size=1280,1000", "--hide-scrollbars",
                "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1",
                "--allow-file-access-from-files"]}}}}
        self.session = self.call("POST", "/session", caps)["sessionId"]

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=120) as r:
            return json.loads(r.read())["value"]

    def measure(self, url):
        s = f"/session/{self.session}"
        self.call("POST", s + "/se/log", {"type": "browser"})  # drop older messages
        self.call("POST", s + "/url", {"url": url})
        time.sleep(0.3)
        rules = self.call("POST", s + "/execute/sync", {"script": COUNT_RULES, "args": []})
        log = self.call("POST", s + "/se/log", {"type": "browser"})
        failed = sum(1 for e in log if "Failed to load resource" in e.get("message", "")
                     or "Refused to apply style" in e.get("message", ""))
        png = base64.b64decode(self.call("GET", s + "/screenshot"))
        return rules, failed, png

    def close(self):
        try:
            self.call("DELETE", f"/session/{self.session}")
        finally:
            self.driver.terminate()


def decode_png(data):
    """(width, height, rows of RGBA bytes) of an 8-bit RGB or RGBA PNG."""
    pos, chunks = 8, []
    width = height = color = 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, _, color = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            chunks.append(body)
        pos += 12 + length
    raw = zlib.decompress(b"".join(chunks))
    bpp = 4 if color == 6 else 3
    stride = width * bpp
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        f, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if f == 1: line[x] = (line[x] + a) & 255
            elif f == 2: line[x] = (line[x] + b) & 255
            elif f == 3: line[x] = (line[x] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, bpp, rows


def differing_share(first, second):
    if first == second:  # the same encoder makes the same bytes of the same pixels
        return 0.0
    w1, h1, bpp1, r1 = decode_png(first)
    w2, h2, bpp2, r2 = decode_png(second)
    if (w1, h1) != (w2, h2):
        return 1.0
    differ = 0
    for a, b in zip(r1, r2):
        if a == b:
            continue
        for x in range(w1):
            if a[x * bpp1:x * bpp1 + 3] != b[x * bpp2:x * bpp2 + 3]:
                differ += 1
    return differ / float(w1 * h1)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    site = sys.argv[2] if len(sys.argv) > 2 else "/usr/share/doc/python3.11/html"
    pages = sys.argv[3:] or [p for p in PAGES if os.path.exists(os.path.join(site, p))]
    work = tempfile.mkdtemp(prefix="qm-fidelity-")
    nginx, port = start_nginx(site, work)
    procs = [nginx]
    try:
        start = f"http://127.0.0.1:{port}/index.html"
        serve_port = free_port()
        home, store, t1 = mirror(build, work, "served", start, False, serve_port)
        _, disk_store, t2 = mirror(build, work, "disk", start, True, free_port())
        wget_dir = os.path.join(work, "wget2")
        t = time.time()
        subprocess.run(["wget2", "-q", "-m", "-k", "-p", "-nH", "-P", wget_dir, "--max-threads=5", start],
                       timeout=1800)
        t3 = time.time() - t
        print(f"mirror seconds: quillmoor {t1:.1f}, quillmoor ExtLast {t2:.1f}, wget2 {t3:.1f}")
        serve = subprocess.Popen([os.path.join(build, "src/cli/quillmoor-cli"), "--home", home, "serve"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(serve)
        wait_port(serve_port)
        host = f"127.0.0.1+{port}"
        views = {
            "orig": lambda p: f"http://127.0.0.1:{port}/{p}",
            "serve": lambda p: f"http://127.0.0.1:{serve_port}/Sites/{host}/{p}",
            "disk": lambda p: f"file://{disk_store}/{host}/{p}",
            "wget2": lambda p: f"file://{wget_dir}/{p}",
        }
        browser = Browser(work)
        print("%-28s %5s | %5s %4s %6s | %5s %4s %6s | %5s %4s %6s" % (
            "page", "orig", "serve", "fail", "diff%", "disk", "fail", "diff%", "wget2", "fail", "diff%"))
        totals = {k: [0, 0, 0] for k in views}
        for page in pages:
            shots = {k: browser.measure(v(page)) for k, v in views.items()}
            o_rules, _, o_png = shots["orig"]
            cells = []
            for k in ("serve", "disk", "wget2"):
                rules, failed, png = shots[k]
                share = differing_share(o_png, png) * 100
                cells += [rules, failed, share]
                totals[k][0] += int(rules == o_rules)
                totals[k][1] += failed
                totals[k][2] += int(share == 0)
            print("%-28s %5d | %5d %4d %6.2f | %5d %4d %6.2f | %5d %4d %6.2f" % (page, o_rules, *cells))
        for k in ("serve", "disk", "wget2"):
            print(f"{k}: {totals[k][0]}/{len(pages)} pages with all rules, {totals[k][1]} failed loads, "
                  f"{totals[k][2]}/{len(pages)} pages pixel-identical")
        browser.close()
    finally:
        for p in procs:
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        if os.environ.get("QM_KEEP") is None:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
