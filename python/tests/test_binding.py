"""The binding against the freshly built library (VANTOREL_SYSMON_LIBRARY), or,
with VANTOREL_SYSMON_TEST_INSTALLED=1, the installed package and the library
inside it."""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import threading

import pytest

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
INSTALLED = os.environ.get("VANTOREL_SYSMON_TEST_INSTALLED") == "1"
# The package under test: the source folder, or whatever is installed.
SOURCE_PATH = {} if INSTALLED else {"PYTHONPATH": str(HERE.parent)}
if not INSTALLED:
    sys.path.insert(0, str(HERE.parent))
sys.path.insert(0, str(ROOT / "schemas"))

import validate  # noqa: E402  (schemas/validate.py)
import vantorel_sysmon as sysmon  # noqa: E402


def test_library_is_the_one_under_test(tmp_path):
    if INSTALLED:
        assert "VANTOREL_SYSMON_LIBRARY" not in os.environ
        package = pathlib.Path(sysmon.__file__).resolve().parent
        assert pathlib.Path(sysmon.library_path()).parent == package
        assert package != HERE.parent
        # VANTOREL_SYSMON_LIBRARY still chooses another copy.
        other = tmp_path / "libvantorel-sysmon.so.1"
        shutil.copy(sysmon.library_path(), other)
        script = "import vantorel_sysmon as s; print(s.library_path(), s.memory()['total'] > 0)"
        out = subprocess.run([sys.executable, "-c", script], cwd=str(tmp_path),
                             env=dict(os.environ, VANTOREL_SYSMON_LIBRARY=str(other)),
                             capture_output=True, text=True, timeout=60, check=True).stdout
        assert out.split() == [str(other), "True"]
    else:
        assert os.environ.get("VANTOREL_SYSMON_LIBRARY"), "run with VANTOREL_SYSMON_LIBRARY set"
        assert sysmon.library_path() == os.environ["VANTOREL_SYSMON_LIBRARY"]
    assert sysmon.platform() in (sysmon.Platform.WINDOWS, sysmon.Platform.LINUX)


@pytest.mark.parametrize("name,call", [
    ("cpu", sysmon.cpu), ("memory", sysmon.memory), ("disks", sysmon.disks),
    ("network", sysmon.network), ("gpu", sysmon.gpu), ("system", sysmon.system),
    ("battery", sysmon.battery), ("snapshot", sysmon.snapshot),
    ("processes", lambda: sysmon.processes(0, sysmon.Sort.NAME)),
    ("process_tree", lambda: sysmon.process_tree(3)),
])
def test_every_document_is_parsed_and_valid(name, call):
    document = call()
    validate.validator(name).validate(document)


def test_histories_fill_from_snapshots():
    sysmon.cleanup()
    for _ in range(3):
        sysmon.snapshot()
    samples = sysmon.history(sysmon.Metric.MEMORY, 10)
    assert len(samples) == 3 and all(0 < s <= 100 for s in samples)
    validate.validator("history").validate(samples)
    cores = sysmon.cpu_core_history(2)
    validate.validator("core_history").validate(cores)
    assert len(cores) == sysmon.cpu()["threads"] and all(len(c) == 2 for c in cores)
    assert sysmon.history(99, 5) == []


def test_sort_filter_and_limit():
    own = os.getpid()
    by_pid = sysmon.processes(0, sysmon.Sort.PID)
    assert [p["pid"] for p in by_pid] == sorted(p["pid"] for p in by_pid)
    assert own in {p["pid"] for p in by_pid}
    assert len(sysmon.processes(2, sysmon.Sort.MEMORY)) == 2
    sysmon.set_process_filter("no process is called like this 7f3a")
    try:
        assert sysmon.processes() == [] and sysmon.process_tree() == []
    finally:
        sysmon.set_process_filter(None)
    sysmon.set_interval(500)


def test_kill_ends_a_child_and_failures_raise():
    child = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"])
    try:
        sysmon.kill_process(child.pid)
        assert child.wait(timeout=10) != 0
    finally:
        if child.poll() is None:
            child.kill()
    with pytest.raises(sysmon.SysmonError, match=r"^Invalid pid: -5$"):
        sysmon.kill_process(-5)
    assert sysmon.last_error() == "Invalid pid: -5"
    with pytest.raises(ValueError):
        sysmon.kill_process(2**40)


def test_threads_share_the_library_safely():
    errors = []

    def work(call):
        try:
            for _ in range(20):
                call()
        except Exception as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(c,)) for c in
               (sysmon.snapshot, sysmon.cpu, lambda: sysmon.processes(5), sysmon.process_tree)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def test_missing_library_names_what_was_tried(tmp_path):
    missing = tmp_path / "nowhere" / "libvantorel-sysmon.so.1"
    script = ("import vantorel_sysmon as s\n"
              "try:\n    s.cpu()\nexcept s.LibraryNotFoundError as e:\n    print(e)\n")
    env = dict(os.environ, VANTOREL_SYSMON_LIBRARY=str(missing), LD_LIBRARY_PATH="", **SOURCE_PATH)
    out = subprocess.run([sys.executable, "-c", script], env=env, cwd=str(tmp_path),
                         capture_output=True, text=True, timeout=60, check=True).stdout
    assert "vantorel-sysmon library not found" in out
    assert str(missing) in out and "VANTOREL_SYSMON_LIBRARY" in out


def test_example_prints_summary_lines():
    out = subprocess.run([sys.executable, str(HERE.parent / "examples" / "summary.py"), "--count", "2"],
                         env=dict(os.environ, **SOURCE_PATH),
                         capture_output=True, text=True, timeout=60, check=True).stdout
    lines = out.strip().splitlines()
    assert len(lines) == 2 and all(line.startswith("cpu ") for line in lines)


def test_first_reading_of_a_fresh_process_agrees_with_its_processors():
    # The README's first lines in a new interpreter: the total is the mean of
    # the processors' loads, never a figure derived over a few milliseconds.
    script = ("import json, vantorel_sysmon as s; snap = s.snapshot(); "
              "print(json.dumps([snap['cpu']['total_usage'], snap['cpu']['per_core']]))")
    for _ in range(3):
        out = subprocess.run([sys.executable, "-c", script], env=dict(os.environ, **SOURCE_PATH),
                             capture_output=True, text=True, timeout=60, check=True).stdout
        total, cores = json.loads(out)
        assert cores and abs(total - sum(cores) / len(cores)) <= 0.01
