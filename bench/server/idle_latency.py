#!/usr/bin/env python3
"""Time of a request to the local web server while many idle clients are connected.

Starts quillmoor-cli serve on 127.0.0.1 with one stored 10 KB page (or uses --url), opens
--idle connections that send nothing, then times --requests requests one after the other,
each on a new connection, and reports the median and the slowest, and how many idle
connections the server still held at the end. This script raises its own descriptor limit
(soft to hard); the server raises its own when it starts.

  bench/server/idle_latency.py BUILD_DIR [--idle 1000] [--requests 20] [--cli PATH]
"""
import argparse
import os
import re
import resource
import select
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def start_server(cli, work):
    site = os.path.join(work, "site", "host")
    os.makedirs(site)
    text = "<html><body>"
    while len(text) < 10240 - 14:
        text += "stored text of a ten kilobyte page. "
    with open(os.path.join(site, "page.htm"), "w") as f:
        f.write(text[:10240 - 14] + "</body></html>")
    home = os.path.join(work, "home")
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    subprocess.run([cli, "--home", home, "options", "PathPrefix=" + os.path.join(work, "site") + "/",
                    "HTTPPort=%d" % port], check=True, stdout=subprocess.DEVNULL)
    log = open(os.path.join(work, "serve.log"), "w+")
    proc = subprocess.Popen([cli, "--home", home, "serve"], stdout=log, stderr=subprocess.STDOUT)
    for _ in range(100):
        log.seek(0)
        m = re.search(r"Serving stored sites at http://127\.0\.0\.1:(\d+)/", log.read())
        if m:
            return proc, int(m.group(1)), "/Default/host/page.htm"
        time.sleep(0.1)
    proc.kill()
    sys.exit("quillmoor-cli serve did not start")


def open_idle(port, count, wait_s=3.0):
    """Opens count connections at once; returns the ones connected within wait_s."""
    pending = []
    for _ in range(count):
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        pending.append(s)
    connected, deadline = [], time.monotonic() + wait_s
    poller = select.poll()
    by_fd = {s.fileno(): s for s in pending}
    for fd in by_fd:
        poller.register(fd, select.POLLOUT)
    while by_fd and time.monotonic() < deadline:
        for fd, _ in poller.poll(100):
            s = by_fd.pop(fd)
            poller.unregister(fd)
            if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == 0:
                connected.append(s)
            else:
                s.close()
    for s in by_fd.values():
        s.close()
    return connected


def timed_request(port, path, timeout_s=30.0):
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout_s)
    s.sendall(("GET %s HTTP/1.0\r\n\r\n" % path).encode())
    data = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except socket.timeout:
        pass
    s.close()
    return time.monotonic() - start, data.split(b"\r\n", 1)[0].decode(errors="replace")


def still_open(sockets):
    alive = 0
    for s in sockets:
        r, _, _ = select.select([s], [], [], 0)
        if not r:
            alive += 1
            continue
        try:
            alive += 1 if s.recv(1, socket.MSG_DONTWAIT) else 0
        except (BlockingIOError, ConnectionError):
            pass
    return alive


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--idle", type=int, default=1000)
    ap.add_argument("--requests", type=int, default=20)
    ap.add_argument("--cli", help="quillmoor-cli to measure (default: BUILD/src/cli/quillmoor-cli)")
    args = ap.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    work = tempfile.mkdtemp(prefix="qm-idle.")
    proc = None
    try:
        proc, port, path = start_server(args.cli or os.path.join(args.build, "src/cli/quillmoor-cli"), work)
        idle = open_idle(port, args.idle)
        time.sleep(0.5)
        times, statuses = [], set()
        for _ in range(args.requests):
            t, status = timed_request(port, path)
            times.append(t * 1000)
            statuses.add(status)
        print("idle connections opened: %d of %d" % (len(idle), args.idle))
        print("requests: %d, status %s" % (len(times), ", ".join(sorted(statuses))))
        print("time of one request: first %.1f ms, median %.1f ms, slowest %.1f ms"
              % (times[0], statistics.median(times), max(times)))
        print("idle connections still open afterwards: %d" % still_open(idle))
        for s in idle:
            s.close()
    finally:
        if proc:
            proc.terminate()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
