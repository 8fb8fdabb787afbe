#!/usr/bin/env python3
"""Installs the package, builds the README's consumer programs against it and
lets each upgrade itself once: an info file and a newer build (the same
program with a marker appended) served on 127.0.0.1, the real updater
replacing the program and starting it again with its own arguments."""
import argparse
import functools
import http.server
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

MARKER = b"\nKVTEST-NEW-BUILD\n"


def run(*cmd):
    result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{result.stdout}")


def processes_of(path):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.readlink(f"/proc/{entry}/exe") == path:
                    found.append(int(entry))
            except OSError:
                pass
    return found


def serve(folder):
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = functools.partial(Quiet, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def round_trip(name, build, work, expected, env_extra, leading_args=()):
    """Runs the program (with leading_args before its own arguments) until it
    and the run the updater started have ended; returns what went wrong, or
    None."""
    root = os.path.join(work, name)
    app, www, tmp = (os.path.join(root, d) for d in ("app", "www", "tmp"))
    for d in (app, www, tmp):
        os.makedirs(d)
    os.chmod(tmp, 0o700)
    program = os.path.join(app, "myapp")
    shutil.copy2(os.path.join(build, "myapp"), program)
    with open(program, "rb") as f:
        new_build = f.read() + MARKER
    with open(os.path.join(www, "myapp"), "wb") as f:
        f.write(new_build)
    server = serve(www)
    base = f"http://127.0.0.1:{server.server_address[1]}"
    with open(os.path.join(www, "info.txt"), "w") as f:
        f.write(f"#version=1.5.0\n#url1={base}/myapp=%current%myapp\n")
    env = dict(os.environ, KVTEST_INFO_URL=f"{base}/info.txt", TMPDIR=tmp, **env_extra)
    env.pop("XDG_RUNTIME_DIR", None)
    out_path = os.path.join(root, "out.txt")
    try:
        with open(out_path, "w") as out:
            first = subprocess.Popen([program, *leading_args, "--greeting", "two words"], stdout=out, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, env=env, cwd=root)

        def seen():
            # The window may be gone before the status bar's last change is seen.
            prefix = expected[0].split(":")[0] + ":"
            return [l for l in open(out_path).read().splitlines() if l.startswith(prefix) and l != "qt: updated"]

        # The first run, the updater (a program of its own) and the run it
        # started again: done when the last line has come and all have ended.
        end = time.monotonic() + 120
        while time.monotonic() < end and (len(seen()) < len(expected) or first.poll() is None or
                                          processes_of(program)):
            time.sleep(0.1)
        lines = seen()
        if lines != expected:
            return f"output {lines}, expected {expected}\n--- all output:\n{open(out_path).read()}"
        if processes_of(program):
            return "the restarted program did not end"
        with open(program, "rb") as f:
            if not f.read().endswith(MARKER):
                return "the program was not replaced"
        return None
    finally:
        for pid in processes_of(program):
            os.kill(pid, signal.SIGKILL)
        server.shutdown()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--headless", required=True)
    parser.add_argument("--qt", default="")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    prefix = os.path.join(args.work, "prefix")
    run("cmake", "--install", args.build_dir, "--prefix", prefix)
    consumers = [("headless", args.headless, {}, [
        "myapp: updated",
        "myapp: updated to 1.5.0, arguments: --greeting two words",
        "myapp: up to date",
    ])]
    if args.qt:
        consumers.append(("qt", args.qt, {"QT_QPA_PLATFORM": "offscreen"}, [
            "qt: title My App",
            "qt: title My App", "qt: Updated to 1.5.0", "qt: up to date",
        ]))
    failures = []
    for name, source, env, expected in consumers:
        build = os.path.join(args.work, "build-" + name)
        run("cmake", "-S", source, "-B", build, f"-DCMAKE_PREFIX_PATH={prefix}")
        run("cmake", "--build", build)
        problem = round_trip(name, build, args.work, expected, env)
        print(f"{name}: {'ok' if problem is None else problem}")
        if problem:
            failures.append(name)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
