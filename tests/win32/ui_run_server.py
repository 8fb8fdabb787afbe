#!/usr/bin/env python3
"""The server of the native-window upgrade runs (ui-tests.sh), on 127.0.0.1.

  ui_run_server.py APP_DIR     prints "PORT <n>" once it listens

  /<name>.txt      an info file announcing version 2.0 with the file /<name>.bin
                   and its target APP_DIR/<name>.bin (a Windows path on Wine's Z:)
  /slow.bin        400000 bytes in 2000-byte pieces, 40 ms apart
  /protected.bin   401 with a Basic challenge whatever login comes
  /cut.bin         Content-Length 200000, 3000 bytes, then the connection closes
Every wait is bounded; the server ends when its parent kills it.
"""
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

APP = sys.argv[1]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def head(self, code, length, extra=()):
        self.send_response(code)
        self.send_header("Content-Length", str(length))
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()

    def do_GET(self):
        path = self.path.split("?")[0]
        try:
            if path.endswith(".txt"):
                name = path[1:-4]
                host = self.headers.get("Host")
                body = f"#version=2.0\n#url1=http://{host}/{name}.bin=Z:{APP}/{name}.bin\n".encode()
                self.head(200, len(body), [("Content-Type", "text/plain")])
                self.wfile.write(body)
            elif path == "/slow.bin":
                self.head(200, 400000)
                for _ in range(200):
                    self.wfile.write(b"k" * 2000)
                    self.wfile.flush()
                    time.sleep(0.04)
            elif path == "/protected.bin":
                body = b"no"
                self.head(401, len(body), [("WWW-Authenticate", 'Basic realm="Area 51"')])
                self.wfile.write(body)
            elif path == "/cut.bin":
                self.head(200, 200000)
                self.wfile.write(b"c" * 3000)
                self.wfile.flush()
                self.close_connection = True
            else:
                self.head(404, 0)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
