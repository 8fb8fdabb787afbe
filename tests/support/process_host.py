#!/usr/bin/env python3
"""Starts the native test servers for a Windows test program run under Wine.

Usage: process_host.py COMMAND...

Listens on a free 127.0.0.1 port, runs COMMAND with KV_PROCESS_HOST=<port> in
its environment, and on that port starts, reads, stops and runs programs of
this system for it (the Windows side of tests/support: TestProcess and
RunCommand). Each request is one connection carrying one JSON line; the
answer is one JSON line:
  {"op":"start","argv":[...],"stderr":path}   -> {"id":N}
  {"op":"readline","id":N,"timeout_ms":T}     -> {"line":s} | {"eof":true} | {"timeout":true}
  {"op":"alive","id":N}                       -> {"alive":bool}
  {"op":"stop","id":N,"grace_ms":G}           -> {"ok":true}
  {"op":"run","argv":[...],"log":path}        -> {"status":code}
  {"op":"account"}                            -> {"root":bool,"user":s,"group":s}
Paths are this system's. When COMMAND ends, every process still running is
stopped, and the exit status of COMMAND is this script's.
"""
import json
import os
import queue
import signal
import socket
import socketserver
import subprocess
import sys
import threading

procs = {}
lock = threading.Lock()
next_id = [1]


class Proc:
    def __init__(self, argv, stderr):
        err = open(stderr, "ab") if stderr else None
        self.p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=err if err else subprocess.STDOUT, start_new_session=True)
        if err:
            err.close()
        self.lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()

    def _pump(self):
        for raw in self.p.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def stop(self, grace_ms):
        if self.p.poll() is None:
            try:
                os.killpg(self.p.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.p.wait(grace_ms / 1000.0)
            except subprocess.TimeoutExpired:
                pass
        try:
            os.killpg(self.p.pid, signal.SIGKILL)  # stragglers of the group
        except ProcessLookupError:
            pass
        self.p.wait()


def serve(req):
    op = req.get("op")
    if op == "start":
        proc = Proc(req["argv"], req.get("stderr") or "")
        with lock:
            pid = next_id[0]
            next_id[0] += 1
            procs[pid] = proc
        return {"id": pid}
    if op == "run":
        log = req.get("log") or ""
        out = open(log, "ab") if log else subprocess.DEVNULL
        try:
            status = subprocess.call(req["argv"], stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        except OSError:
            status = -1
        finally:
            if log:
                out.close()
        return {"status": status}
    if op == "account":
        import grp
        import pwd
        return {"root": os.geteuid() == 0, "user": pwd.getpwuid(os.geteuid()).pw_name,
                "group": grp.getgrgid(os.getegid()).gr_name}
    with lock:
        proc = procs.get(req.get("id"))
    if proc is None:
        return {"error": "no such process"}
    if op == "readline":
        try:
            line = proc.lines.get(timeout=max(0, req.get("timeout_ms", 0)) / 1000.0)
        except queue.Empty:
            return {"timeout": True}
        if line is None:
            proc.lines.put(None)
            return {"eof": True}
        return {"line": line}
    if op == "alive":
        return {"alive": proc.p.poll() is None}
    if op == "stop":
        proc.stop(req.get("grace_ms", 3000))
        return {"ok": True}
    return {"error": "unknown op"}


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        try:
            answer = serve(json.loads(self.rfile.readline()))
        except Exception as e:  # the client gets the reason
            answer = {"error": str(e)}
        self.wfile.write((json.dumps(answer) + "\n").encode())


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ, KV_PROCESS_HOST=str(server.server_address[1]))
    try:
        status = subprocess.call(sys.argv[1:], env=env)
    finally:
        server.shutdown()
        with lock:
            left = list(procs.values())
        for proc in left:
            proc.stop(1000)
    sys.exit(status)


if __name__ == "__main__":
    main()
