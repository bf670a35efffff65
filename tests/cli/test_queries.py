"""The query commands: every document validated by its schema, options,
errors and --help, and kill."""
import json
import os
import signal
import subprocess

import pytest

from conftest import SYSMON, document, meminfo_total_bytes, run

FAST = ["--interval", "150"]


@pytest.mark.parametrize("command,schema_name,rates", [
    ("snapshot", "snapshot", True), ("cpu", "cpu", True), ("memory", "memory", False),
    ("disks", "disks", True), ("network", "network", True), ("gpu", "gpu", False),
    ("battery", "battery", False), ("system", "system", False),
    ("processes", "processes", True), ("tree", "process_tree", True),
])
def test_document_commands_print_valid_documents(command, schema_name, rates):
    doc = document(schema_name, [command, *(FAST if rates else [])])
    pretty = run("--pretty", command, *(FAST if rates else [])).stdout.decode()
    assert "\n  " in pretty or pretty.strip() in ("[]", "{}")
    assert type(json.loads(pretty)) is type(doc)
    # --pretty is accepted after the subcommand too.
    assert run(command, "--pretty", *(FAST if rates else [])).stdout.decode().count("\n") > 1


def test_figures_match_the_machine():
    cpu = document("cpu", ["cpu", *FAST])
    assert len(cpu["per_core"]) == os.cpu_count()
    assert document("memory", ["memory"])["total"] == meminfo_total_bytes()
    # The window is real: the busy child below gets a processor share.
    busy = subprocess.Popen(["/usr/bin/python3", "-c", "while True: pass"])
    try:
        procs = document("processes", ["processes", "--interval", "500", "--filter", "while True"])
        mine = [p for p in procs if p["pid"] == busy.pid]
        assert mine and mine[0]["cpu_percent"] > 5.0
    finally:
        busy.kill()
        busy.wait()


def test_process_options():
    by_memory = document("processes", ["processes", *FAST, "--sort", "memory", "--limit", "5"])
    assert len(by_memory) == 5
    sizes = [p["memory_bytes"] for p in by_memory]
    assert sizes == sorted(sizes, reverse=True)
    by_pid = document("processes", ["processes", *FAST, "--sort", "pid"])
    pids = [p["pid"] for p in by_pid]
    assert pids == sorted(pids) and os.getpid() in pids
    by_name = document("processes", ["processes", *FAST, "--sort", "name", "--limit", "0"])
    names = [p["name"].lower() for p in by_name]
    assert names == sorted(names)

    marker = "sysmon-filter-marker-7731"
    child = subprocess.Popen(["/bin/sh", "-c", f"sleep 30 # {marker}"])
    try:
        found = document("processes", ["processes", *FAST, "--filter", marker.upper()])
        assert child.pid in [p["pid"] for p in found]
        assert all(marker in p["command"].lower() or marker in p["name"].lower() for p in found)
        tree = document("process_tree", ["tree", *FAST, "--filter", marker, "--limit", "1"])
        assert len(tree) == 1
    finally:
        child.kill()
        child.wait()


def test_tree_limit_keeps_real_roots_with_their_subtrees():
    busy = subprocess.Popen(["/usr/bin/python3", "-c", "while True: pass"])
    try:
        tree = document("process_tree", ["tree", "--interval", "500", "--limit", "1"])
        listed = {p["pid"] for p in document("processes", ["processes", *FAST])}

        def pids(node):
            yield node["pid"]
            for child in node["children"]:
                yield from pids(child)
        assert len(tree) == 1
        assert tree[0]["ppid"] not in listed or tree[0]["ppid"] == tree[0]["pid"]
        # The busy child counts for its ancestors' root, which holds it.
        assert busy.pid in set(pids(tree[0]))
    finally:
        busy.kill()
        busy.wait()


def test_history_takes_the_asked_samples():
    samples = document("history", ["history", "cpu", "--samples", "3", "--interval", "120"])
    assert len(samples) == 3 and all(0 <= s <= 100 for s in samples)
    assert len(document("history", ["history", "net-down", "--samples", "3",
                                    "--interval", "120", "--count", "2"])) == 2
    assert len(document("history", ["history", "1", "--interval", "120"])) == 1
    cores = document("core_history", ["history", "cpu-cores", "--samples", "2", "--interval", "120"])
    assert len(cores) == os.cpu_count() and all(len(c) == 2 for c in cores)


@pytest.mark.parametrize("args", [
    [], ["nonsense"], ["history"], ["history", "bogus"], ["processes", "--sort", "size"],
    ["cpu", "--interval", "5"], ["processes", "--limit", "-1"], ["kill"], ["kill", "abc"],
    ["serve", "--listen", "nocolon"], ["history", "cpu", "--count", "0"],
])
def test_bad_arguments_fail_on_stderr(args):
    done = run(*args, check=False)
    assert done.returncode == 2
    assert done.stderr.strip()
    assert not done.stdout.strip().startswith((b"{", b"["))


@pytest.mark.parametrize("command", [
    "snapshot", "cpu", "memory", "disks", "network", "gpu", "battery", "system",
    "processes", "tree", "history", "kill", "top", "serve",
])
def test_every_subcommand_has_help(command):
    out = run(command, "--help").stdout.decode()
    assert "Usage" in out or "usage" in out.lower()
    assert command in out


def test_kill_ends_a_child_and_reports_failures():
    child = subprocess.Popen(["sleep", "60"])
    try:
        done = run("kill", str(child.pid))
        assert done.stdout == b""
        assert child.wait(timeout=10) == -signal.SIGKILL
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    # A pid that no process has (beyond the kernel's pid_max).
    failed = run("kill", "2147483647", check=False)
    assert failed.returncode == 1
    assert b"kill(2147483647) failed: 3 (" in failed.stderr
    invalid = run("kill", "0", check=False)
    assert invalid.returncode == 1 and b"Invalid pid: 0" in invalid.stderr
