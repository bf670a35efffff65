#!/usr/bin/python3
"""Side-by-side benchmark of libvantorel-sysmon against the naive /proc floor
and psutil, at the machine's own process count and with extra idle processes.

Run with Debian's interpreter (it has python3-psutil) after building the
bench preset:

    cmake --preset bench && cmake --build --preset bench
    /usr/bin/python3 bench/compare.py [--extra 500] [--build build/bench]

For each process count it runs build/bench/bench/sysmon_bench (Google
Benchmark: the naive floor, sysmon_processes(0,0), sysmon_snapshot() and the
heap allocations per process) and a warm psutil sweep of the same fields for
every process plus the machine-wide figures, then prints one table.
"""
import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import time

import psutil

PROCESS_FIELDS = ["pid", "ppid", "name", "cmdline", "username", "status", "cpu_percent",
                  "memory_info", "num_threads", "io_counters", "cpu_times"]


def psutil_sweep():
    """Every process's fields and the machine-wide figures, as one reading."""
    procs = list(psutil.process_iter(PROCESS_FIELDS))
    psutil.cpu_percent(percpu=True)
    psutil.cpu_count(logical=False)
    psutil.cpu_freq()
    psutil.virtual_memory()
    psutil.swap_memory()
    for part in psutil.disk_partitions():
        try:
            psutil.disk_usage(part.mountpoint)
        except OSError:
            pass
    psutil.disk_io_counters(perdisk=True)
    psutil.net_io_counters(pernic=True)
    psutil.net_if_addrs()
    psutil.net_if_stats()
    psutil.boot_time()
    if hasattr(psutil, "sensors_temperatures"):
        psutil.sensors_temperatures()
    if hasattr(psutil, "sensors_battery"):
        psutil.sensors_battery()
    return len(procs)


def time_psutil(repeats):
    psutil_sweep()  # warm: cached process objects, first cpu_percent
    psutil_sweep()
    samples, cpu_samples = [], []
    count = 0
    for _ in range(repeats):
        start, cpu_start = time.perf_counter(), time.process_time()
        count = psutil_sweep()
        samples.append(time.perf_counter() - start)
        cpu_samples.append(time.process_time() - cpu_start)
    return statistics.median(samples) * 1e3, statistics.median(cpu_samples) * 1e3, count


def run_bench(binary, extra, min_time):
    out = subprocess.run([binary, f"--extra-children={extra}", "--benchmark_format=json",
                          f"--benchmark_min_time={min_time}"],
                         check=True, capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        results[b["name"].split("/")[0]] = b
    return results


def start_idle(count):
    return [subprocess.Popen(["/bin/sleep", "3600"], stdin=subprocess.DEVNULL).pid
            for _ in range(count)]


def end_idle(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    for pid in pids:
        try:
            os.waitpid(pid, 0)
        except ChildProcessError:
            pass


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "bench"))
    parser.add_argument("--extra", type=int, default=500, help="extra idle processes (default 500)")
    parser.add_argument("--repeats", type=int, default=20, help="psutil sweeps timed (median)")
    parser.add_argument("--min-time", default="1.0", help="seconds per Google Benchmark case")
    args = parser.parse_args()
    binary = os.path.join(args.build, "bench", "sysmon_bench")
    if not os.access(binary, os.X_OK):
        sys.exit(f"{binary} not found: cmake --preset bench && cmake --build --preset bench")

    rows = []
    for extra in (0, args.extra):
        bench = run_bench(binary, extra, args.min_time)
        idle = start_idle(extra)
        try:
            psutil_ms, psutil_cpu_ms, psutil_procs = time_psutil(args.repeats)
        finally:
            end_idle(idle)
        ms = lambda name: bench[name]["real_time"]  # noqa: E731 (unit: ms)
        cpu = lambda name: bench[name]["cpu_time"]  # noqa: E731
        procs = bench["BM_SysmonProcesses"]["procs"]
        rows.append({
            "extra": extra,
            "procs": int(procs),
            "naive_ms": ms("BM_NaiveFloor"),
            "naive_us_per_proc": ms("BM_NaiveFloor") * 1e3 / bench["BM_NaiveFloor"]["procs"],
            "processes_ms": ms("BM_SysmonProcesses"),
            "snapshot_ms": ms("BM_SysmonSnapshot"),
            "psutil_ms": psutil_ms,
            "naive_cpu": cpu("BM_NaiveFloor"),
            "processes_cpu": cpu("BM_SysmonProcesses"),
            "snapshot_cpu": cpu("BM_SysmonSnapshot"),
            "psutil_cpu": psutil_cpu_ms,
            "psutil_procs": psutil_procs,
            "allocs_per_proc": bench["BM_AllocationsPerProcess"]["allocs_per_proc"],
            "allocs_per_call": bench["BM_AllocationsPerProcess"]["allocs_per_call"],
        })

    print(f"{'processes':>9} | {'naive floor':>20} | {'sysmon_processes(0,0)':>21} | {'vs floor':>8} | "
          f"{'sysmon_snapshot()':>17} | {'psutil sweep':>12} | {'psutil/snap':>11} | {'allocs/proc':>11}")
    for r in rows:
        print(f"{r['procs']:>9} | {r['naive_ms']:8.2f} ms ({r['naive_us_per_proc']:5.1f} us/p) | "
              f"{r['processes_ms']:18.2f} ms | {r['processes_ms'] / r['naive_ms']:7.2f}x | "
              f"{r['snapshot_ms']:14.2f} ms | {r['psutil_ms']:9.2f} ms | "
              f"{r['psutil_ms'] / r['snapshot_ms']:10.1f}x | {r['allocs_per_proc']:11.4f}")
    print("\nthe same in processor time of the measuring thread (a loaded machine stretches wall time):")
    for r in rows:
        print(f"{r['procs']:>9} | naive floor {r['naive_cpu']:.2f} ms | processes(0,0) {r['processes_cpu']:.2f} ms "
              f"({r['processes_cpu'] / r['naive_cpu']:.2f}x) | snapshot {r['snapshot_cpu']:.2f} ms | "
              f"psutil {r['psutil_cpu']:.2f} ms ({r['psutil_cpu'] / r['snapshot_cpu']:.1f}x)")
    per_call = ", ".join("%.1f" % r["allocs_per_call"] for r in rows)
    print("\nvs floor: sysmon_processes(0,0) time / naive floor time (target <= 1.0x); "
          "psutil/snap: psutil sweep time / sysmon_snapshot() time (target >= 4x);\n"
          "allocs/proc: heap allocations per listed process in steady-state processes(0,0) + snapshot() "
          f"calls (per call: {per_call}).")


if __name__ == "__main__":
    main()
