"""The upgrade round of upgrade_round.c, from Python through ctypes: the
library from KVTEST_LIBKELVORA, the info file's address from
KVTEST_INFO_URL. Started as <interpreter> <this file> <arguments>; the
restart parameter is an option the interpreter ignores, so the restarted
run gets this file again."""
import ctypes
import os
import sys


class Result(ctypes.Structure):
    _fields_ = [("outcome", ctypes.c_int), ("user_started", ctypes.c_int), ("offered_version", ctypes.c_char_p),
                ("reason", ctypes.c_char_p), ("address", ctypes.c_char_p), ("status_code", ctypes.c_int)]


Callback = ctypes.CFUNCTYPE(None, ctypes.POINTER(Result), ctypes.c_void_p)
RUN_CLOSE, UI_CONSOLE_ASSUME_YES, FAILED = 1, 2, 4

lib = ctypes.CDLL(os.environ["KVTEST_LIBKELVORA"])
lib.kelvora_create.restype = ctypes.c_void_p
lib.kelvora_free.argtypes = [ctypes.c_void_p]
for name in ("kelvora_set_info_address", "kelvora_set_version", "kelvora_set_restart_parameter"):
    getattr(lib, name).argtypes = [ctypes.c_void_p, ctypes.c_char_p]
lib.kelvora_set_ui.argtypes = [ctypes.c_void_p, ctypes.c_int]
lib.kelvora_on_finished.argtypes = lib.kelvora_on_restarted.argtypes = [ctypes.c_void_p, Callback, ctypes.c_void_p]
for name in ("kelvora_init", "kelvora_run", "kelvora_restarted"):
    getattr(lib, name).argtypes = [ctypes.c_void_p]
lib.kelvora_check_now.argtypes = [ctypes.c_void_p, ctypes.c_int]
lib.kelvora_last_error.argtypes = [ctypes.c_void_p]
lib.kelvora_last_error.restype = lib.kelvora_outcome_name.restype = ctypes.c_char_p
lib.kelvora_outcome_name.argtypes = [ctypes.c_int]


@Callback
def restarted(result, user):
    print(f"myapp: updated to {result.contents.offered_version.decode()}, arguments: {' '.join(sys.argv[1:])}")


@Callback
def finished(result, user):
    r = result.contents
    print(f"myapp: {lib.kelvora_outcome_name(r.outcome).decode()}")
    if r.outcome == FAILED:
        print(f"myapp: {r.reason.decode()} ({r.address.decode()})")


u = lib.kelvora_create()
lib.kelvora_set_info_address(u, os.environ["KVTEST_INFO_URL"].encode())
lib.kelvora_set_version(u, b"1.4.0")
lib.kelvora_set_ui(u, UI_CONSOLE_ASSUME_YES)
lib.kelvora_set_restart_parameter(u, b"-Xkelvora-restarted")
lib.kelvora_on_restarted(u, restarted, None)
lib.kelvora_on_finished(u, finished, None)
if lib.kelvora_init(u) != 0:
    sys.exit(f"myapp: {lib.kelvora_last_error(u).decode()}")
# The restarted run is told by its first argument, which Python keeps in sys._xoptions.
assert bool(lib.kelvora_restarted(u)) == ("kelvora-restarted" in sys._xoptions)
lib.kelvora_check_now(u, 1)
lib.kelvora_run(u)
lib.kelvora_free(u)
sys.stdout.flush()
sys.exit(0)
