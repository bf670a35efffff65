"""Python binding of vantorel-sysmon.

Every reading returns the parsed JSON document (dicts and lists, as
json.loads gives them). The library serialises readings with its own lock,
so the functions may be called from any thread.
"""
import ctypes
import ctypes.util
import enum
import json
import os
import pathlib
import sys
import threading

__all__ = [
    "Sort", "Metric", "Platform", "SysmonError", "LibraryNotFoundError", "library_path",
    "init", "cleanup", "set_interval", "set_process_filter", "snapshot", "cpu", "memory",
    "disks", "network", "processes", "process_tree", "gpu", "system", "battery", "history",
    "cpu_core_history", "kill_process", "last_error", "platform",
]

__version__ = "1.0.0"

ENVIRONMENT_VARIABLE = "VANTOREL_SYSMON_LIBRARY"


class Sort(enum.IntEnum):
    """Sort keys of processes()."""
    CPU = 0
    MEMORY = 1
    PID = 2
    NAME = 3


class Metric(enum.IntEnum):
    """Figures recorded by snapshot() for history()."""
    CPU = 0
    MEMORY = 1
    NET_DOWN = 2
    NET_UP = 3
    DISK_READ = 4
    DISK_WRITE = 5
    GPU = 6
    CPU_TEMPERATURE = 7


class Platform(enum.IntEnum):
    WINDOWS = 1
    LINUX = 2


class SysmonError(Exception):
    """A call of the library failed; the message is the library's last error."""


class LibraryNotFoundError(OSError):
    """The shared library could not be loaded from any of the places tried."""


def _candidates():
    """The places the library is looked for, in order, as (label, path) pairs."""
    names = (["vantorel-sysmon.dll"] if sys.platform == "win32"
             else ["libvantorel-sysmon.so.1", "libvantorel-sysmon.so"])
    explicit = os.environ.get(ENVIRONMENT_VARIABLE)
    if explicit:
        # An explicit choice is the only one: no silent fallback to another copy.
        return [("$" + ENVIRONMENT_VARIABLE, explicit)]
    found = []
    here = pathlib.Path(__file__).resolve().parent
    for name in names:
        found.append(("beside the package", str(here / name)))
    for name in names:
        found.append(("system library path", name))
    located = ctypes.util.find_library("vantorel-sysmon")
    if located:
        found.append(("system library path", located))
    return found


def _load():
    errors = []
    for label, path in _candidates():
        try:
            return ctypes.CDLL(path), path
        except OSError as error:
            errors.append(f"  {path} ({label}): {error}")
    raise LibraryNotFoundError(
        "vantorel-sysmon library not found; tried:\n" + "\n".join(errors) +
        f"\nSet {ENVIRONMENT_VARIABLE} to the library's path.")


_lib = None
_lib_path = None
_load_lock = threading.Lock()

_TEXT = ctypes.c_char_p
_I32 = ctypes.c_int32

# name: (argument types, result type)
_SIGNATURES = {
    "sysmon_init": ([], _I32),
    "sysmon_cleanup": ([], None),
    "sysmon_set_interval": ([_I32], None),
    "sysmon_set_process_filter": ([_TEXT], None),
    "sysmon_snapshot": ([], _TEXT),
    "sysmon_cpu": ([], _TEXT),
    "sysmon_memory": ([], _TEXT),
    "sysmon_disks": ([], _TEXT),
    "sysmon_network": ([], _TEXT),
    "sysmon_processes": ([_I32, _I32], _TEXT),
    "sysmon_process_tree": ([_I32], _TEXT),
    "sysmon_gpu": ([], _TEXT),
    "sysmon_system": ([], _TEXT),
    "sysmon_battery": ([], _TEXT),
    "sysmon_history": ([_I32, _I32], _TEXT),
    "sysmon_cpu_core_history": ([_I32], _TEXT),
    "sysmon_kill_process": ([_I32], _I32),
    "sysmon_last_error": ([], _TEXT),
    "sysmon_platform": ([], _I32),
}

# A returned text is valid until the next call of the same function; the
# binding copies it (ctypes does, for c_char_p results) while holding a lock
# per function, so that two Python threads never read one buffer while the
# library rewrites it.
_function_locks = {name: threading.Lock() for name in _SIGNATURES}


def _library():
    global _lib, _lib_path
    if _lib is None:
        with _load_lock:
            if _lib is None:
                lib, path = _load()
                for name, (argtypes, restype) in _SIGNATURES.items():
                    function = getattr(lib, name)
                    function.argtypes = argtypes
                    function.restype = restype
                _lib_path = path
                _lib = lib
    return _lib


def library_path():
    """The path the library was loaded from (loading it if needed)."""
    _library()
    return _lib_path


def _call(name, *args):
    function = getattr(_library(), name)
    with _function_locks[name]:
        return function(*args)


def _document(name, *args):
    raw = _call(name, *args)
    return json.loads(raw.decode("utf-8"))


def _int32(value, what):
    value = int(value)
    if not -2**31 <= value < 2**31:
        raise ValueError(f"{what} must fit in 32 bits: {value}")
    return value


def init():
    """Initialises the library (optional: the first reading does it)."""
    return _call("sysmon_init")


def cleanup():
    """Releases the library's buffers and empties the histories."""
    _call("sysmon_cleanup")


def set_interval(milliseconds):
    """The window assumed by the first collection after an initialisation."""
    _call("sysmon_set_interval", _int32(milliseconds, "interval"))


def set_process_filter(text):
    """Narrows processes() and process_tree(); None or "" clears the filter."""
    _call("sysmon_set_process_filter", None if not text else str(text).encode("utf-8"))


def snapshot():
    return _document("sysmon_snapshot")


def cpu():
    return _document("sysmon_cpu")


def memory():
    return _document("sysmon_memory")


def disks():
    return _document("sysmon_disks")


def network():
    return _document("sysmon_network")


def processes(limit=0, sort_by=Sort.CPU):
    """Processes passing the filter, sorted by `sort_by`, at most `limit` (0: all)."""
    return _document("sysmon_processes", _int32(limit, "limit"), _int32(sort_by, "sort_by"))


def process_tree(limit=0):
    """The filtered processes as a forest, at most `limit` roots (0: all)."""
    return _document("sysmon_process_tree", _int32(limit, "limit"))


def gpu():
    return _document("sysmon_gpu")


def system():
    return _document("sysmon_system")


def battery():
    return _document("sysmon_battery")


def history(metric, count=300):
    """The newest `count` samples of a Metric recorded by snapshot()."""
    return _document("sysmon_history", _int32(metric, "metric"), _int32(count, "count"))


def cpu_core_history(count=300):
    return _document("sysmon_cpu_core_history", _int32(count, "count"))


def last_error():
    return _call("sysmon_last_error").decode("utf-8", errors="replace")


def kill_process(pid):
    """Ends process `pid`; raises SysmonError with the library's message on failure.

    The message is read in the same locked section as the call, so another
    Python thread's failure cannot replace it.
    """
    lib = _library()
    with _function_locks["sysmon_kill_process"]:
        if lib.sysmon_kill_process(_int32(pid, "pid")) != 0:
            raise SysmonError(lib.sysmon_last_error().decode("utf-8", errors="replace"))


def platform():
    return Platform(_call("sysmon_platform"))
