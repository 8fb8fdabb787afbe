#!/usr/bin/env python3
"""Scripted HTTP test server with fault injection, for the test suites.

Binds 127.0.0.1 on the given port (0 = any free one), prints "PORT <n>" on
stdout once it listens, and serves until killed. Every answer is chosen by
the path; numbers come from the query string. Bodies are a fixed byte
pattern (see pattern_byte), so clients can check any range of them.

  /bytes?n=N[&ranges=0][&type=T][&lastmod=1][&etag=E][&cut=M]   N pattern bytes; Range honoured unless
                              ranges=0 or an If-Range names another validator; cut=M: the first answer to
                              this exact target sends M bytes of its body, then closes the connection
  /truncated?n=N&send=M       Content-Length N, M bytes, then the connection closes
  /nolength?n=N               no Content-Length; body ends when the connection closes
  /chunked?n=N&chunk=K        chunked transfer coding
  /overlong?n=N&extra=E       Content-Length N, N+E bytes sent
  /hugelength?len=L&send=M    Content-Length L, M bytes, then close
  /hugeheader?size=S[&name=H] a header (default X-Huge) of S characters, then a short body
  /slow?n=N&chunk=K&delay=MS[&length=0]  body in K-byte pieces, MS milliseconds apart; length=0: no Content-Length
  /stall?n=N&after=M          Content-Length N, M bytes, then silence until the client leaves (at most 30 s)
  /never                      reads the request, never answers (until the client leaves, at most 30 s)
  /close-before-status        closes the connection without a status line
  /garbage                    answers with a line that is not a status line
  /status/C[?retry_after=R]   status C with a small HTML error page (and Retry-After: R)
  /416?size=S                 always 416 with Content-Range: bytes */S
  /badrange?n=N&first=F&last=L[&always=1]  a request with Range (or any, with always=1) gets 206 with
                              Content-Range: bytes F-L/N and pattern bytes F..L, whatever was asked; else 200
  /script?n=N&etag=E&a=A1,A2,...  the k-th request to this exact target gets answer Ak (the last one
                              repeats), all with ETag "E" (default "v1"); an answer is one of
                                ok        /bytes?n=N&etag=E: the range honoured when If-Range allows
                                cut.M     200, Content-Length N, M bytes, then the connection closes
                                len.L     200, Content-Length L and L bytes, whatever was asked
                                part.F    206 from byte F (or where the range starts) to N-1 of N,
                                          asked for or not
                                total.T   206 from where the range starts, Content-Range total T,
                                          Content-Length to match; the body (at most 64 MiB) goes
                                          on until the client leaves
                                rest.T    206 from where the range starts to N-1, total T (rest:
                                          total "*")
                                long.E    206 from where the range starts to N-1 of N, no length,
                                          E bytes more than that, then the connection closes
                                416       416 with Content-Range: bytes */<where the range starts>
  /loop                       302 to itself
  /auth/basic?user=U&pass=P&n=N   401 with Basic realm="Area 51" until the login matches
  /auth/digest?user=U&pass=P&n=N  the same with a Digest (MD5, qop=auth) challenge
  /echo                       text/plain: request line, headers and body as received
  /setcookie                  sets the cookie kv=42
  /upload                     POST: answers "<length> <md5>" of the body
  /p/ROUTE/K:V/...            ROUTE with the query K=V&... given as path steps (for addresses that
                              cannot hold "=", such as an info file's)
  /_log                       the requests received so far, one JSON object per line, each with the
                              body bytes the server sent for it ("sent")
  /_stats                     JSON: connections accepted and requests served

A request whose target is an absolute URL is a proxy request: it is answered
407 with Proxy-Authenticate: Basic realm="proxy" unless it carries the proxy
login given with --proxy-login user:pass (default proxyuser:proxypass); with
it, the path of the URL is served as above.
"""

import argparse
import base64
import hashlib
import json
import os
import select
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PATTERN_PERIOD = 65521
PATTERN = bytes(((j * 2654435761) & 0xFFFFFFFF) >> 24 for j in range(PATTERN_PERIOD))
REALM = "Area 51"
MAX_WAIT = 30.0


def pattern_slice(start, end):
    """Bytes start..end-1 of the endless pattern."""
    out = bytearray()
    pos = start
    while pos < end:
        off = pos % PATTERN_PERIOD
        take = min(PATTERN_PERIOD - off, end - pos)
        out += PATTERN[off:off + take]
        pos += take
    return bytes(out)


class Stats:
    lock = threading.Lock()
    connections = 0
    requests = 0
    log = []
    nonces = set()
    cut_done = set()
    script_count = {}


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def get_request(self):
        sock, addr = super().get_request()
        with Stats.lock:
            Stats.connections += 1
        return sock, addr


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FaultServer/1.0"
    proxy_login = "proxyuser:proxypass"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s\n" % (fmt % args))

    # --- helpers ---
    def client_gone(self, timeout):
        """Waits up to timeout seconds; True when the client closed."""
        try:
            r, _, _ = select.select([self.connection], [], [], timeout)
            if r:
                return self.connection.recv(1, socket.MSG_PEEK) == b""
        except (OSError, ValueError):
            return True
        return False

    def wait_for_client_to_leave(self):
        deadline = time.monotonic() + MAX_WAIT
        while time.monotonic() < deadline:
            if self.client_gone(0.05):
                return

    def send_body_headers(self, code, length=None, ctype="application/octet-stream", extra=None, close=False):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        if length is not None:
            self.send_header("Content-Length", str(length))
        for k, v in (extra or []):
            self.send_header(k, v)
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()

    def write_pattern(self, start, end):
        pos = start
        while pos < end:
            step = min(65536, end - pos)
            self.wfile.write(pattern_slice(pos, pos + step))
            pos += step
            with Stats.lock:
                self.entry["sent"] += step

    def write_pattern_or_cut(self, start, end):
        """The body, or with cut=M only its first M bytes once per target."""
        cut = self.q.get("cut")
        with Stats.lock:
            first = cut is not None and self.path not in Stats.cut_done
            if first:
                Stats.cut_done.add(self.path)
        if not first:
            self.write_pattern(start, end)
            return
        self.write_pattern(start, min(end, start + int(cut)))
        self.wfile.flush()
        self.close_connection = True
        self.connection.shutdown(socket.SHUT_WR)

    def read_body(self):
        n = int(self.headers.get("Content-Length") or 0)
        data = b""
        while len(data) < n:
            chunk = self.rfile.read(n - len(data))
            if not chunk:
                break
            data += chunk
        return data

    def error_page(self, code, close=False, extra=None):
        body = ("<html><head><title>%d</title></head><body><h1>Error %d</h1>"
                "<p>The resource cannot be served.</p></body></html>" % (code, code)).encode()
        self.send_body_headers(code, len(body), "text/html", extra=extra, close=close)
        if self.command != "HEAD":
            self.wfile.write(body)

    # --- dispatch ---
    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def do_PUT(self):
        self.dispatch()

    def dispatch(self):
        target = self.path
        entry = {"method": self.command, "target": target, "headers": [[k, v] for k, v in self.headers.items()],
                 "sent": 0}
        self.entry = entry
        with Stats.lock:
            Stats.requests += 1
            Stats.log.append(entry)
        if target.startswith("http://") or target.startswith("https://"):
            if not self.proxy_authorised():
                return
            parsed = urllib.parse.urlsplit(target)
            target = parsed.path + ("?" + parsed.query if parsed.query else "")
        url = urllib.parse.urlsplit(target)
        self.q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
        path = url.path
        route = ROUTES.get(path)
        if route is None:
            for prefix, fn in PREFIX_ROUTES:
                if path.startswith(prefix):
                    route = fn
                    break
        if route is None:
            if self.command == "POST":
                self.read_body()
            self.error_page(404)
            return
        route(self, path)

    def num(self, name, default=0):
        try:
            return int(self.q.get(name, default))
        except ValueError:
            return default

    def proxy_authorised(self):
        want = "Basic " + base64.b64encode(self.proxy_login.encode()).decode()
        if self.headers.get("Proxy-Authorization") == want:
            return True
        if self.command == "POST":
            self.read_body()
        body = b"<html><body>Proxy login required</body></html>"
        self.send_body_headers(407, len(body), "text/html",
                               [("Proxy-Authenticate", 'Basic realm="proxy"')])
        self.wfile.write(body)
        return False

    # --- routes ---
    def r_bytes(self, _):
        n = self.num("n", 1024)
        extra = []
        if self.q.get("lastmod"):
            extra.append(("Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT"))
        if "etag" in self.q:
            extra.append(("ETag", '"%s"' % self.q["etag"]))
        for name in ("Content-Language", "Content-Encoding", "Expires", "Date-Override"):
            key = name.lower().replace("-", "")
            if key in self.q:
                extra.append((name, self.q[key]))
        ctype = self.q.get("type", "application/octet-stream")
        rng = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        valid = [v for _, v in extra if _ in ("ETag", "Last-Modified")]
        if if_range is not None and if_range not in valid:
            rng = None  # changed since: the whole resource
        if rng and self.q.get("ranges", "1") != "0" and rng.lower().startswith("bytes="):
            wanted = rng[6:].split(",")[0].strip()
            first, _, last = wanted.partition("-")
            try:
                start = int(first) if first else max(0, n - int(last))
                end = int(last) + 1 if (first and last) else n
            except ValueError:
                start, end = 0, n
            end = min(end, n)
            if start >= n:
                self.send_body_headers(416, 0, ctype, [("Content-Range", "bytes */%d" % n)])
                return
            extra.append(("Content-Range", "bytes %d-%d/%d" % (start, end - 1, n)))
            self.send_body_headers(206, end - start, ctype, extra)
            if self.command != "HEAD":
                self.write_pattern_or_cut(start, end)
            return
        self.send_body_headers(200, n, ctype, extra)
        if self.command != "HEAD":
            self.write_pattern_or_cut(0, n)

    def r_truncated(self, _):
        n, send = self.num("n", 4096), self.num("send", 1000)
        self.send_body_headers(200, n, close=True)
        self.write_pattern(0, min(send, n))
        self.wfile.flush()
        self.connection.shutdown(socket.SHUT_WR)

    def r_nolength(self, _):
        n = self.num("n", 5000)
        self.send_body_headers(200, None, close=True)
        self.write_pattern(0, n)

    def r_chunked(self, _):
        n, chunk = self.num("n", 10000), max(1, self.num("chunk", 1000))
        self.send_body_headers(200, None, extra=[("Transfer-Encoding", "chunked")])
        pos = 0
        while pos < n:
            data = pattern_slice(pos, min(n, pos + chunk))
            self.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")
            pos += len(data)
        self.wfile.write(b"0\r\n\r\n")

    def r_overlong(self, _):
        n, extra = self.num("n", 1000), self.num("extra", 500)
        self.send_body_headers(200, n, close=True)
        self.write_pattern(0, n + extra)

    def r_hugelength(self, _):
        length, send = self.q.get("len", "2147483648"), self.num("send", 1000)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", length)
        self.send_header("Connection", "close")
        self.close_connection = True
        self.end_headers()
        self.write_pattern(0, send)

    def r_hugeheader(self, _):
        size, name = self.num("size", 8192), self.q.get("name", "X-Huge")
        body = b"small body"
        self.send_response(200)
        self.send_header(name, "v" * size)
        self.send_header("Content-Length", str(len(body)))
        if name.lower() != "content-type":
            self.send_header("Content-Type", "text/plain")
        self.end_headers()
        self.wfile.write(body)

    def r_slow(self, _):
        n, chunk, delay = self.num("n", 4000), max(1, self.num("chunk", 500)), self.num("delay", 100)
        if self.num("length", 1):
            self.send_body_headers(200, n)
        else:
            self.send_body_headers(200, None, close=True)
        pos = 0
        while pos < n:
            self.wfile.write(pattern_slice(pos, min(n, pos + chunk)))
            self.wfile.flush()
            pos += chunk
            if pos < n and self.client_gone(delay / 1000.0):
                self.close_connection = True
                return

    def r_stall(self, _):
        n, after = self.num("n", 100000), self.num("after", 10000)
        self.send_body_headers(200, n, close=True)
        self.write_pattern(0, min(n, after))
        self.wfile.flush()
        self.wait_for_client_to_leave()

    def r_never(self, _):
        self.close_connection = True
        self.wait_for_client_to_leave()

    def r_close_before_status(self, _):
        self.close_connection = True
        self.connection.shutdown(socket.SHUT_RDWR)

    def r_garbage(self, _):
        self.close_connection = True
        self.wfile.write(b"GARBAGE WITHOUT ANY STATUS\r\nfoo bar\r\n\r\nbody")

    def r_status(self, path):
        try:
            code = int(path.rsplit("/", 1)[1])
        except ValueError:
            code = 500
        if self.command == "POST":
            self.read_body()
        retry = self.q.get("retry_after")
        self.error_page(code, extra=[("Retry-After", retry)] if retry else None)

    def r_416(self, _):
        size = self.num("size", 0)
        self.send_body_headers(416, 0, extra=[("Content-Range", "bytes */%d" % size)])

    def r_badrange(self, _):
        n, first, last = self.num("n", 5000), self.num("first", 0), self.num("last", 0)
        if not self.headers.get("Range") and self.q.get("always") != "1":
            self.send_body_headers(200, n)
            self.write_pattern(0, n)
            return
        self.send_body_headers(206, last - first + 1, extra=[("Content-Range", "bytes %d-%d/%d" % (first, last, n))])
        self.write_pattern(first, last + 1)

    def r_script(self, _):
        n, etag = self.num("n", 1024), self.q.get("etag", "v1")
        answers = self.q.get("a", "ok").split(",")
        with Stats.lock:
            k = Stats.script_count.get(self.path, 0)
            Stats.script_count[self.path] = k + 1
        kind, _, arg = answers[min(k, len(answers) - 1)].partition(".")
        if kind == "ok":
            self.q = {"n": str(n), "etag": etag}
            self.r_bytes(None)
            return
        tag = [("ETag", '"%s"' % etag)]
        rng = self.headers.get("Range") or ""
        start = 0
        if rng.lower().startswith("bytes=") and rng[6:].split("-")[0].strip().isdigit():
            start = int(rng[6:].split("-")[0])
        if kind == "cut":
            self.send_body_headers(200, n, extra=tag)
            self.write_pattern(0, min(n, int(arg)))
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_WR)
        elif kind == "len":
            self.send_body_headers(200, int(arg), extra=tag)
            self.write_pattern(0, int(arg))
        elif kind == "part":
            first = int(arg) if arg else start
            self.send_body_headers(206, n - first, extra=tag + [("Content-Range", "bytes %d-%d/%d" % (first, n - 1, n))])
            self.write_pattern(first, n)
        elif kind == "total":
            total = int(arg)
            self.send_body_headers(206, total - start, close=True,
                                   extra=tag + [("Content-Range", "bytes %d-%d/%d" % (start, total - 1, total))])
            self.write_pattern(start, min(total, start + 64 * 1024 * 1024))
        elif kind == "rest":
            self.send_body_headers(206, n - start, extra=tag + [("Content-Range", "bytes %d-%d/%s" % (start, n - 1, arg or "*"))])
            self.write_pattern(start, n)
        elif kind == "long":
            self.send_body_headers(206, None, close=True,
                                   extra=tag + [("Content-Range", "bytes %d-%d/%d" % (start, n - 1, n))])
            self.write_pattern(start, n + int(arg))
        elif kind == "416":
            self.send_body_headers(416, 0, extra=[("Content-Range", "bytes */%d" % start)])
        else:
            self.error_page(500)

    def r_redirect(self, _):
        code, to = self.num("code", 302), self.q.get("to", "/bytes?n=100")
        if self.command == "POST":
            self.read_body()
        body = b"moved"
        self.send_body_headers(code, len(body), "text/plain", [("Location", to)])
        if self.command != "HEAD":
            self.wfile.write(body)

    def body_or_challenge(self, ok, challenge):
        if self.command == "POST":
            self.read_body()
        if ok:
            n = self.num("n", 1000)
            self.send_body_headers(200, n)
            if self.command != "HEAD":
                self.write_pattern(0, n)
            return
        body = b"<html><body>Login required</body></html>"
        self.send_body_headers(401, len(body), "text/html", [("WWW-Authenticate", challenge)])
        self.wfile.write(body)

    def r_loop(self, _):
        self.send_body_headers(302, 0, "text/plain", [("Location", "/loop")])

    def r_auth_basic(self, _):
        user, pw = self.q.get("user", "alice"), self.q.get("pass", "secret")
        want = "Basic " + base64.b64encode(("%s:%s" % (user, pw)).encode()).decode()
        self.body_or_challenge(self.headers.get("Authorization") == want, 'Basic realm="%s"' % REALM)

    def r_auth_digest(self, _):
        user, pw = self.q.get("user", "alice"), self.q.get("pass", "secret")
        ok = False
        auth = self.headers.get("Authorization") or ""
        if auth.lower().startswith("digest "):
            fields = {}
            for part in _split_params(auth[7:]):
                k, _, v = part.partition("=")
                fields[k.strip().lower()] = v.strip().strip('"')
            md5 = lambda s: hashlib.md5(s.encode()).hexdigest()
            if fields.get("username") == user and fields.get("nonce") in Stats.nonces:
                ha1 = md5("%s:%s:%s" % (user, REALM, pw))
                ha2 = md5("%s:%s" % (self.command, fields.get("uri", "")))
                if fields.get("qop"):
                    want = md5("%s:%s:%s:%s:%s:%s" % (ha1, fields["nonce"], fields.get("nc", ""),
                                                     fields.get("cnonce", ""), fields["qop"], ha2))
                else:
                    want = md5("%s:%s:%s" % (ha1, fields["nonce"], ha2))
                ok = want == fields.get("response")
        nonce = os.urandom(16).hex()
        with Stats.lock:
            Stats.nonces.add(nonce)
        challenge = 'Digest realm="%s", qop="auth", nonce="%s", opaque="%s", algorithm=MD5' % (
            REALM, nonce, os.urandom(8).hex())
        self.body_or_challenge(ok, challenge)

    def r_echo(self, _):
        body = self.read_body() if self.command in ("POST", "PUT") else b""
        text = "%s %s\n" % (self.command, self.path)
        for k, v in self.headers.items():
            text += "%s: %s\n" % (k, v)
        data = text.encode() + b"\n" + body
        self.send_body_headers(200, len(data), "text/plain")
        self.wfile.write(data)

    def r_setcookie(self, _):
        body = b"cookie set"
        self.send_body_headers(200, len(body), "text/plain", [("Set-Cookie", "kv=42; Path=/")])
        self.wfile.write(body)

    def r_upload(self, _):
        data = self.read_body()
        out = ("%d %s" % (len(data), hashlib.md5(data).hexdigest())).encode()
        self.send_body_headers(200, len(out), "text/plain")
        self.wfile.write(out)

    def r_log(self, _):
        with Stats.lock:
            text = "".join(json.dumps(e) + "\n" for e in Stats.log[:-1])
        data = text.encode()
        self.send_body_headers(200, len(data), "application/json")
        self.wfile.write(data)

    def r_path_query(self, path):
        steps = path[len("/p/"):].split("/")
        self.q = dict(step.split(":", 1) for step in steps[1:] if ":" in step)
        route = ROUTES.get("/" + steps[0])
        if route is None:
            self.error_page(404)
            return
        route(self, "/" + steps[0])

    def r_stats(self, _):
        with Stats.lock:
            data = json.dumps({"connections": Stats.connections, "requests": Stats.requests}).encode()
        self.send_body_headers(200, len(data), "application/json")
        self.wfile.write(data)


def _split_params(text):
    """Splits a challenge parameter list at commas outside quotes."""
    parts, cur, quoted = [], "", False
    for c in text:
        if c == '"':
            quoted = not quoted
        if c == "," and not quoted:
            parts.append(cur)
            cur = ""
        else:
            cur += c
    if cur.strip():
        parts.append(cur)
    return parts


ROUTES = {
    "/bytes": Handler.r_bytes,
    "/truncated": Handler.r_truncated,
    "/nolength": Handler.r_nolength,
    "/chunked": Handler.r_chunked,
    "/overlong": Handler.r_overlong,
    "/hugelength": Handler.r_hugelength,
    "/hugeheader": Handler.r_hugeheader,
    "/slow": Handler.r_slow,
    "/stall": Handler.r_stall,
    "/never": Handler.r_never,
    "/close-before-status": Handler.r_close_before_status,
    "/garbage": Handler.r_garbage,
    "/416": Handler.r_416,
    "/badrange": Handler.r_badrange,
    "/script": Handler.r_script,
    "/redirect": Handler.r_redirect,
    "/loop": Handler.r_loop,
    "/auth/basic": Handler.r_auth_basic,
    "/auth/digest": Handler.r_auth_digest,
    "/echo": Handler.r_echo,
    "/setcookie": Handler.r_setcookie,
    "/upload": Handler.r_upload,
    "/_log": Handler.r_log,
    "/_stats": Handler.r_stats,
}
PREFIX_ROUTES = [("/status/", Handler.r_status), ("/p/", Handler.r_path_query)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    ap.add_argument("--proxy-login", default="proxyuser:proxypass")
    args = ap.parse_args()
    Handler.proxy_login = args.proxy_login
    server = Server(("127.0.0.1", args.port), Handler)
    if args.tls:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
