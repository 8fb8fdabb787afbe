#!/usr/bin/env python3
"""The C interface from elsewhere: the README's C program (built against the
shared library) and upgrade_round_ctypes.py (Python through ctypes) each
upgrade themselves once with the real updater from a server on 127.0.0.1,
as the README's C++ programs do. The Python program is an interpreter
(a copy of this one, as a frozen Python program would carry its own) with a
script; that copy is the program the updater replaces and starts again."""
import argparse
import ctypes
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "readme"))
from upgrade_round import round_trip, serve  # noqa: E402

EXPECTED = [
    "myapp: updated",
    "myapp: updated to 1.5.0, arguments: --greeting two words",
    "myapp: up to date",
]


def refusals(library, work):
    """Misuse is refused with a code and a text, and a check that finds no
    info file (404) ends kelvora_run with its outcome, address and status;
    returns what went wrong, or None."""
    lib = ctypes.CDLL(library)
    lib.kelvora_create.restype = ctypes.c_void_p
    lib.kelvora_last_error.restype = ctypes.c_char_p
    for name in ("kelvora_free", "kelvora_init", "kelvora_run", "kelvora_last_error", "kelvora_checking"):
        getattr(lib, name).argtypes = [ctypes.c_void_p]
    for name in ("kelvora_set_info_address", "kelvora_set_version"):
        getattr(lib, name).argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    lib.kelvora_check_now.argtypes = lib.kelvora_set_ui.argtypes = [ctypes.c_void_p, ctypes.c_int]
    class Result(ctypes.Structure):
        _fields_ = [("outcome", ctypes.c_int), ("user_started", ctypes.c_int), ("offered_version", ctypes.c_char_p),
                    ("reason", ctypes.c_char_p), ("address", ctypes.c_char_p), ("status_code", ctypes.c_int)]

    Callback = ctypes.CFUNCTYPE(None, ctypes.POINTER(Result), ctypes.c_void_p)
    lib.kelvora_on_finished.argtypes = [ctypes.c_void_p, Callback, ctypes.c_void_p]
    results = []

    @Callback
    def finished(result, user):
        r = result.contents
        results.append((r.outcome, r.user_started, r.offered_version.decode(), r.reason.decode(), r.address.decode(),
                        r.status_code, user))

    www = os.path.join(work, "refusals")
    os.makedirs(www)
    server = serve(www)
    u = lib.kelvora_create()
    try:
        checks = [
            ("init without an address", lib.kelvora_init(u), 3),
            ("a null address", lib.kelvora_set_info_address(u, None), 1),
            ("a check before init", lib.kelvora_check_now(u, 1), 2),
            ("a UI mode out of range", lib.kelvora_set_ui(u, 7), 1),
        ]
        for what, got, want in checks:
            if got != want:
                return f"{what}: code {got}, expected {want}"
        lib.kelvora_set_ui(u, 3)  # none: nothing on the terminal
        lib.kelvora_set_info_address(u, f"http://127.0.0.1:{server.server_address[1]}/info.txt".encode())
        lib.kelvora_set_version(u, b"1.0")
        lib.kelvora_on_finished(u, finished, 42)
        if lib.kelvora_init(u) != 0 or lib.kelvora_last_error(u) != b"":
            return f"init: {lib.kelvora_last_error(u)}"
        if lib.kelvora_set_version(u, b"2.0") != 2 or b"already started" not in lib.kelvora_last_error(u):
            return "a setter after init is not refused"
        lib.kelvora_check_now(u, 0)
        if lib.kelvora_run(u) != 0 or lib.kelvora_checking(u):
            return "kelvora_run did not end with the check"
        address = f"http://127.0.0.1:{server.server_address[1]}/info.txt"
        if results != [(6, 0, "", "", address, 404, 42)]:
            return f"results {results}"
        return None
    finally:
        lib.kelvora_free(u)
        server.shutdown()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--c-build", required=True, help="the folder holding the built C program, myapp")
    parser.add_argument("--library", required=True, help="the shared library, for ctypes")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    python_build = os.path.join(args.work, "build-python")
    os.makedirs(python_build)
    shutil.copy2(os.path.realpath(sys.executable), os.path.join(python_build, "myapp"))
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "upgrade_round_ctypes.py")
    env = {"KVTEST_LIBKELVORA": os.path.abspath(args.library)}
    failures = []
    problem = refusals(args.library, args.work)
    print(f"refusals: {'ok' if problem is None else problem}")
    if problem:
        failures.append("refusals")
    for name, build, leading in (("c", args.c_build, ()), ("python", python_build, (script,))):
        problem = round_trip(name, build, args.work, EXPECTED, env, leading)
        print(f"{name}: {'ok' if problem is None else problem}")
        if problem:
            failures.append(name)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
