#!/usr/bin/env python3
"""Prints a one-line summary of the machine every second (Ctrl-C ends it).

    summary.py [--count N]     stop after N lines
"""
import argparse
import time

import vantorel_sysmon as sysmon


def summary_line(snap):
    cpu, mem = snap["cpu"], snap["memory"]
    used_pct = 100.0 * mem["used"] / mem["total"] if mem["total"] else 0.0
    down = sum(n["down_bytes_sec"] for n in snap["network"])
    up = sum(n["up_bytes_sec"] for n in snap["network"])
    busiest = snap["processes"][0]["name"] if snap["processes"] else "-"
    return (f"cpu {cpu['total_usage']:5.1f}%  mem {used_pct:5.1f}%  "
            f"net down {down / 1024:8.1f} KiB/s up {up / 1024:8.1f} KiB/s  busiest {busiest}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=0, help="lines to print (0: until Ctrl-C)")
    args = parser.parse_args()
    sysmon.init()
    printed = 0
    try:
        while args.count <= 0 or printed < args.count:
            time.sleep(1.0)
            print(summary_line(sysmon.snapshot()), flush=True)
            printed += 1
    except KeyboardInterrupt:
        pass
    finally:
        sysmon.cleanup()


if __name__ == "__main__":
    main()
