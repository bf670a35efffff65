#!/usr/bin/python3
"""The process sweep of libvantorel-sysmon against psutil and ps at 100, 2000
and 10 000 processes.

Run with Debian's interpreter (it has python3-psutil) after building the
bench preset:

    cmake --preset bench && cmake --build --preset bench
    /usr/bin/python3 bench/compare.py [--counts 100,2000,10000] [--rounds 7]
                                      [--threaded 0.1] [--waking 0.1]

For each count it first starts as many extra idle processes as the machine
lacks (one helper process forks them; they sleep reading a pipe that only
this script holds, so they all end when it closes it or dies; by default they
are single-threaded and never wake: the library reads the command line and
io of such a process only until it sees that it has not run, so that is its
best case. --threaded makes a share of them two-threaded (read in full on
every sweep) and --waking a share of them wake every 100 ms), then times,
round after round so that a busy machine weighs on all three alike:

- sysmon_processes(0,0) through build/bench/bench/sysmon_bench (the mean of
  a Google Benchmark run, warm: the lists have grown and the baseline is
  there);
- psutil's equivalent sweep: every process's pid, ppid, name, command line,
  user, status, processor share since the previous sweep, resident memory
  and its share, threads, io counters and processor times, sorted by
  processor share like the library's default list;
- ps with the same figures as far as ps has them (it has no io counters):
  ps -eo pid,ppid,user,stat,pcpu,rss,pmem,nlwp,time,comm,args --sort=-pcpu,
  as a host pays for it (start-up included).

Beside them it times the floor: stat, cmdline and io of every process opened,
read once and closed, nothing else (BM_SyscallFloor).

It prints the medians in wall time and in processor time, the ratios, the
library's cost per listed process with its ratio between the largest and the
smallest count (and the floor's), the library's cost over the idle floor at
each count (BM_IdleFloor: schedstat and stat of every process, the least
the library asks when every process is idle; the kernel's cost per file
differs with the kind and number of processes, the ratio is the library's
own), and the heap allocations of one steady-state sweep.
"""
import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time

import psutil

PROCESS_FIELDS = ["pid", "ppid", "name", "cmdline", "username", "status", "cpu_percent",
                  "memory_info", "memory_percent", "num_threads", "io_counters", "cpu_times"]
PS_COMMAND = ["ps", "-eo", "pid,ppid,user,stat,pcpu,rss,pmem,nlwp,time,comm,args", "--sort=-pcpu"]

# The helper: forks argv[1] children that block reading descriptor argv[2]
# and end at its end of file, prints how many it started, then reaps them.
# The first argv[3] of them block on a second thread too; the next argv[4]
# wake every 100 ms until the end of file.
HELPER = r"""
import os, resource, select, sys, threading
wanted, fd = int(sys.argv[1]), int(sys.argv[2])
threaded, waking = int(sys.argv[3]), int(sys.argv[4])
soft, hard = resource.getrlimit(resource.RLIMIT_NPROC)
try:
    resource.setrlimit(resource.RLIMIT_NPROC, (hard, hard))
except (ValueError, OSError):
    pass
started = 0
children = []
for _ in range(wanted):
    try:
        pid = os.fork()
    except OSError:
        break
    if pid == 0:
        try:
            os.close(1)
            if started < threaded:
                threading.Thread(target=os.read, args=(fd, 1), daemon=True).start()
            if threaded <= started < threaded + waking:
                while not select.select([fd], [], [], 0.1)[0]:
                    pass
            os.read(fd, 1)
        finally:
            os._exit(0)
    started += 1
    children.append(pid)
# Ready once every child sleeps where it is meant to (a child still
# starting up is read in full by every sweep, which is not what is measured).
pending = children[:threaded] + children[threaded + waking:]
for _ in range(1200):
    still = []
    for pid in pending:
        try:
            with open(f"/proc/{pid}/stat") as f:
                if f.read().rpartition(")")[2].split()[0] != "S":
                    still.append(pid)
        except OSError:
            pass
    pending = still
    if not pending:
        break
    select.select([], [], [], 0.1)
print(started, flush=True)
os.close(1)
while True:
    try:
        os.wait()
    except ChildProcessError:
        break
"""


def process_count():
    return sum(1 for name in os.listdir("/proc") if name.isdigit())


class IdleProcesses:
    """Extra sleeping processes, all ended when the context closes."""

    def __init__(self, wanted, threaded=0, waking=0):
        self.wanted = max(0, wanted)
        self.threaded = threaded
        self.waking = waking
        self.helper = None
        self.write_end = None
        self.started = 0

    def __enter__(self):
        if self.wanted == 0:
            return self
        read_end, self.write_end = os.pipe()
        try:
            self.helper = subprocess.Popen(
                [sys.executable, "-c", HELPER, str(self.wanted), str(read_end), str(self.threaded),
                 str(self.waking)],
                pass_fds=(read_end,), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        finally:
            os.close(read_end)
        line = self.helper.stdout.readline()
        self.started = int(line) if line.strip() else 0
        return self

    def __exit__(self, *exc):
        if self.write_end is not None:
            os.close(self.write_end)  # every child reads end of file and exits
            self.write_end = None
        if self.helper is not None:
            try:
                self.helper.wait(timeout=120)
            except subprocess.TimeoutExpired:
                self.helper.kill()
                self.helper.wait()
            self.helper.stdout.close()
        return False


def bench_run(binary, name, extra_args):
    out = subprocess.run([binary, f"--benchmark_filter=^{name}(/|$)", "--benchmark_format=json"] + extra_args,
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)["benchmarks"][0]


def psutil_sweep():
    procs = [p.info for p in psutil.process_iter(PROCESS_FIELDS)]
    procs.sort(key=lambda info: -(info["cpu_percent"] or 0.0))
    return len(procs)


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def measure(binary, rounds, min_time):
    lib_wall, lib_cpu, lib_procs = [], [], []
    floor_wall, floor_cpu = [], []
    idle_cpu = []
    ps_wall, ps_cpu = [], []
    py_wall, py_cpu = [], []
    psutil_sweep()  # warm: psutil's process cache and each process's first share
    for _ in range(rounds):
        b = bench_run(binary, "BM_SysmonProcesses", [f"--benchmark_min_time={min_time}"])
        lib_wall.append(b["real_time"])
        lib_cpu.append(b["cpu_time"])
        lib_procs.append(b["procs"])
        f = bench_run(binary, "BM_SyscallFloor", [f"--benchmark_min_time={min_time}"])
        floor_wall.append(f["real_time"])
        floor_cpu.append(f["cpu_time"])
        idle_cpu.append(bench_run(binary, "BM_IdleFloor", [f"--benchmark_min_time={min_time}"])["cpu_time"])

        start, cpu_start = time.perf_counter(), time.process_time()
        psutil_sweep()
        py_wall.append((time.perf_counter() - start) * 1e3)
        py_cpu.append((time.process_time() - cpu_start) * 1e3)

        start, cpu_start = time.perf_counter(), children_cpu()
        subprocess.run(PS_COMMAND, check=True, stdout=subprocess.DEVNULL)
        ps_wall.append((time.perf_counter() - start) * 1e3)
        ps_cpu.append((children_cpu() - cpu_start) * 1e3)
    allocs = bench_run(binary, "BM_ProcessesAllocations", [])
    med = statistics.median
    return {
        "procs": int(med(lib_procs)),
        "lib": med(lib_wall), "lib_cpu": med(lib_cpu),
        "floor": med(floor_wall), "floor_cpu": med(floor_cpu), "idle_cpu": med(idle_cpu),
        "psutil": med(py_wall), "psutil_cpu": med(py_cpu),
        "ps": med(ps_wall), "ps_cpu": med(ps_cpu),
        "allocs": allocs["allocs_per_sweep"],
    }


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "bench"))
    parser.add_argument("--counts", default="100,2000,10000", help="process counts to reach")
    parser.add_argument("--rounds", type=int, default=7, help="timed rounds per count (median)")
    parser.add_argument("--min-time", default="0.5", help="Google Benchmark seconds per round")
    parser.add_argument("--threaded", type=float, default=0.0,
                        help="share of each count made of two-threaded extra processes")
    parser.add_argument("--waking", type=float, default=0.0,
                        help="share of each count made of extra processes that wake every 100 ms")
    args = parser.parse_args()
    binary = os.path.join(args.build, "bench", "sysmon_bench")
    if not os.access(binary, os.X_OK):
        sys.exit(f"{binary} not found: cmake --preset bench && cmake --build --preset bench")

    if args.threaded or args.waking:
        print(f"extra processes: {args.threaded:.0%} of each count two-threaded, {args.waking:.0%} waking "
              "every 100 ms, the rest idle")
    else:
        print("extra processes: idle and single-threaded (the library's best case)")
    rows = []
    for target in (int(c) for c in args.counts.split(",")):
        # The helper itself is one more process.
        wanted = target - process_count() - 1
        with IdleProcesses(wanted, round(target * args.threaded), round(target * args.waking)) as idle:
            if idle.started < idle.wanted:
                print(f"note: {idle.started} of {idle.wanted} extra processes could be started",
                      file=sys.stderr)
            row = measure(binary, args.rounds, args.min_time)
        row["target"] = target
        rows.append(row)

    print(f"{'target':>6} {'listed':>6} | {'sysmon_processes(0,0)':>21} | {'psutil sweep':>12} | "
          f"{'x':>5} | {'ps':>9} | {'x':>5} | {'us/process':>10} | {'floor':>9} | {'allocs/sweep':>12}")
    for r in rows:
        print(f"{r['target']:>6} {r['procs']:>6} | {r['lib']:18.2f} ms | {r['psutil']:9.1f} ms | "
              f"{r['psutil'] / r['lib']:5.1f} | {r['ps']:6.1f} ms | {r['ps'] / r['lib']:5.1f} | "
              f"{r['lib'] * 1e3 / r['procs']:10.2f} | {r['floor']:6.1f} ms | {r['allocs']:12.1f}")
    print("\nthe same in processor time (the measuring thread; ps: its own time; a loaded machine "
          "stretches wall time):")
    for r in rows:
        print(f"{r['target']:>6} {r['procs']:>6} | {r['lib_cpu']:18.2f} ms | {r['psutil_cpu']:9.1f} ms | "
              f"{r['psutil_cpu'] / r['lib_cpu']:5.1f} | {r['ps_cpu']:6.1f} ms | "
              f"{r['ps_cpu'] / r['lib_cpu']:5.1f} | {r['lib_cpu'] * 1e3 / r['procs']:10.2f} | "
              f"{r['floor_cpu']:6.1f} ms |")
    if len(rows) > 1:
        first, last = rows[0], rows[-1]
        per = lambda r, k: r[k] / r["procs"]  # noqa: E731
        print(f"\ncost per process, {last['procs']} against {first['procs']} processes: "
              f"{per(last, 'lib') / per(first, 'lib'):.2f} (wall), "
              f"{per(last, 'lib_cpu') / per(first, 'lib_cpu'):.2f} (processor time); the floor's: "
              f"{per(last, 'floor_cpu') / per(first, 'floor_cpu'):.2f} (processor time)")
    print("library over the idle floor, processor time: " +
          ", ".join(f"{r['lib_cpu'] / r['idle_cpu']:.2f} at {r['procs']}" for r in rows))
    print("x: the peer's median over the library's; medians of rounds that time all of them in turn;\n"
          "floor: stat, cmdline and io of every process opened, read once and closed one by one, nothing\n"
          "parsed (what reading every figure afresh asks of the kernel); idle floor: schedstat and stat\n"
          "of every process read, the descriptors closed 32 at a time (the least the library's sweep asks\n"
          "when every process is idle). The kernel's cost per file differs with the kind and the number\n"
          "of processes; the library over the idle floor is its own cost.")


if __name__ == "__main__":
    main()
