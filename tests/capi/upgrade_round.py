#!/usr/bin/env python3
"""The C interface from elsewhere: the README's C program (built against the
shared library) and upgrade_round_ctypes.py (Python through ctypes) each
upgrade themselves once with the real updater from a server on 127.0.0.1,
as the README's C++ programs do. The Python program is an interpreter
(a copy of this one, as a frozen Python program would carry its own) with a
script; that copy is the program the updater replaces and starts again."""
import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "readme"))
from upgrade_round import round_trip  # noqa: E402

EXPECTED = [
    "myapp: updated",
    "myapp: updated to 1.5.0, arguments: --greeting two words",
    "myapp: up to date",
]


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
    for name, build, leading in (("c", args.c_build, ()), ("python", python_build, (script,))):
        problem = round_trip(name, build, args.work, EXPECTED, env, leading)
        print(f"{name}: {'ok' if problem is None else problem}")
        if problem:
            failures.append(name)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
