"""`sysmon top` driven under tmux: it starts, shows its sections, follows the
keys, ends a process after asking, and gives the terminal back on q, Ctrl-C
and SIGTERM."""
import itertools
import os
import re
import shlex
import shutil
import subprocess
import time

import pytest

from conftest import SYSMON

TMUX = shutil.which("tmux")
pytestmark = pytest.mark.skipif(TMUX is None, reason="tmux is not installed")


class Pane:
    """A shell in a detached session of a private tmux server."""

    serial = itertools.count()

    def __init__(self, width=120, height=40):
        self.socket = f"sysmon-test-{os.getpid()}-{next(Pane.serial)}"
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.tmux("-f", "/dev/null", "new-session", "-d", "-s", "top", "-x", str(width),
                  "-y", str(height), "/bin/sh", env=env)

    def tmux(self, *args, env=None):
        return subprocess.run([TMUX, "-L", self.socket, *args], capture_output=True,
                              timeout=20, check=True, env=env).stdout.decode()

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "top", *keys)

    def type_line(self, text):
        self.tmux("send-keys", "-t", "top", "-l", text)
        self.keys("Enter")

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "top")

    def wait_for(self, pattern, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            text = self.screen()
            if re.search(pattern, text):
                return text
            if time.monotonic() > deadline:
                raise AssertionError(f"{pattern!r} never appeared; the screen:\n{text}")
            time.sleep(0.2)

    def close(self):
        subprocess.run([TMUX, "-L", self.socket, "kill-server"], capture_output=True, timeout=20)


@pytest.fixture
def pane():
    p = Pane()
    yield p
    p.close()


def start_top(pane, tag):
    """Starts top from the shell so that its exit status and the terminal
    settings before and after can be printed afterwards."""
    pane.type_line(f"S=$(stty -g); {shlex.quote(SYSMON)} top --interval 300; "
                   f"echo \"{tag} rc=$? same=$([ \"$S\" = \"$(stty -g)\" ] && echo yes || echo no)\"")
    return pane.wait_for(r"Processes: [1-9]")


def table_pids(screen):
    return [int(m.group(1)) for m in re.finditer(r"^ *(\d+) \S+ +\d+\.\d +\d+\.\d +\S+ +\d+ \S ", screen, re.M)]


def test_top_sections_keys_and_quit(pane):
    marker = "3117"
    child = subprocess.Popen(["sleep", marker + "1"])
    try:
        screen = start_top(pane, "first")
        for section in [r"^sysmon top - ", r"^CPU +\d", r"^ +0 \[", r"^Mem +\[", r"^Swap \[",
                        r"Net down", r"Net up", r"Disk read", r"Disk write", r"Processes: \d+"]:
            assert re.search(section, screen, re.M), (section, screen)
        pane.wait_for(r"[▁▂▃▄▅▆▇█]")  # sparklines once samples exist

        pane.keys("m")
        pane.wait_for(r"sort: memory")
        pane.keys("p")
        screen = pane.wait_for(r"sort: pid")
        pids = table_pids(screen)
        assert len(pids) > 3 and pids == sorted(pids)
        pane.keys("n")
        pane.wait_for(r"sort: name")
        pane.keys("c")
        pane.wait_for(r"sort: cpu")

        pane.keys("/")
        pane.wait_for(r"Filter")
        pane.type_line(f"sleep {marker}")
        screen = pane.wait_for(rf"filter: sleep {marker}")
        assert table_pids(screen) == [child.pid], screen

        pane.keys("t")
        screen = pane.wait_for(r"\(tree, filter")
        assert table_pids(screen) == [child.pid]
        pane.keys("t")
        pane.wait_for(r"\(list, sort: cpu")

        pane.keys("k")
        pane.wait_for(rf"End process {child.pid} \(sleep\)\? \[y/N\]")
        pane.keys("n")
        pane.wait_for(r"not ended")
        assert child.poll() is None
        pane.keys("k")
        pane.wait_for(rf"End process {child.pid}")
        pane.keys("y")
        pane.wait_for(rf"ended {child.pid}")
        assert child.wait(timeout=10) != 0

        pane.tmux("resize-window", "-t", "top", "-x", "70", "-y", "20")
        # Redrawn for the new width: the memory bar ends with its figures.
        screen = pane.wait_for(r"(?m)^Mem +\[\|*\s*\] \S+/\S+$")
        assert max(len(line) for line in screen.splitlines()) <= 70
        assert "PID USER" in screen

        pane.keys("q")
        screen = pane.wait_for(r"first rc=\d+ same=\w+")
        assert "first rc=0 same=yes" in screen, screen
        assert "PID USER" not in screen  # the alternate screen is gone
    finally:
        if child.poll() is None:
            child.kill()
        child.wait()


def test_top_restores_the_terminal_on_signals(pane):
    start_top(pane, "interrupted")
    pane.keys("C-c")
    screen = pane.wait_for(r"interrupted rc=\d+ same=\w+")
    assert "interrupted rc=0 same=yes" in screen, screen

    start_top(pane, "terminated")
    shell = pane.tmux("display-message", "-p", "-t", "top", "#{pane_pid}").strip()
    top = subprocess.run(["pgrep", "-P", shell, "-x", "sysmon"], capture_output=True,
                         timeout=10).stdout.split()
    assert len(top) == 1
    os.kill(int(top[0]), 15)
    screen = pane.wait_for(r"terminated rc=\d+ same=\w+")
    assert "terminated rc=0 same=yes" in screen, screen


def test_top_reports_errors_and_keeps_the_terminal(pane):
    pane.type_line(f"S=$(stty -g); TERM=no-such-terminal {shlex.quote(SYSMON)} top; "
                   "echo \"failed rc=$? same=$([ \"$S\" = \"$(stty -g)\" ] && echo yes || echo no)\"")
    screen = pane.wait_for(r"failed rc=\d+ same=\w+")
    assert "failed rc=1 same=yes" in screen, screen
    assert "sysmon: cannot use this terminal" in screen


def test_top_refuses_a_non_terminal():
    done = subprocess.run([SYSMON, "top"], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=30)
    assert done.returncode != 0 and b"terminal" in done.stderr
