#!/usr/bin/python3
"""`sysmon serve` under load: what one sample and one scrape cost, whether the
server's memory stays flat over 1000 scrapes, and how much slow clients delay
a scrape, with 2000 extra processes running. Not part of the tests (it
measures; it asserts nothing).

    bench/serve_bench.py build/bench/cli/sysmon [extra processes, default 2000]
"""
import os
import re
import socket
import statistics
import subprocess
import sys
import time
import urllib.request

CLOCK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK


def rss_kib(pid):
    return int(re.search(r"VmRSS:\s+(\d+)", open(f"/proc/{pid}/status").read()).group(1))


def start(sysmon, *args):
    server = subprocess.Popen([sysmon, "serve", "--listen", "127.0.0.1:0", *args],
                              stderr=subprocess.PIPE, stdout=subprocess.DEVNULL)
    port = int(re.search(rb":(\d+)/metrics", server.stderr.readline()).group(1))
    return server, f"http://127.0.0.1:{port}", port


def get(url):
    with urllib.request.urlopen(url, timeout=30) as response:
        return response.read()


def main():
    sysmon = sys.argv[1]
    extra = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    sleepers = [subprocess.Popen(["sleep", "3600"]) for _ in range(extra)]
    try:
        # Sampling cost: the server's processor time per sample, nobody scraping.
        server, base, port = start(sysmon, "--interval", "1000")
        time.sleep(2)
        before = cpu_seconds(server.pid)
        time.sleep(10)
        per_sample = (cpu_seconds(server.pid) - before) / 10
        processes = re.search(rb"^sysmon_processes (\d+)", get(base + "/metrics"), re.M).group(1)
        print(f"processes listed: {processes.decode()}")
        print(f"sampling (interval 1 s): {per_sample * 1000:.1f} ms processor time per sample")

        # Scrape cost: wall time and the server's processor time per scrape.
        get(base + "/metrics")
        times = []
        before = cpu_seconds(server.pid)
        for _ in range(200):
            start_at = time.perf_counter()
            get(base + "/metrics")
            times.append(time.perf_counter() - start_at)
        cpu = (cpu_seconds(server.pid) - before) / 200
        print(f"scrape of /metrics: median {statistics.median(times) * 1000:.2f} ms wall, "
              f"{cpu * 1000:.2f} ms server processor time (sampling included)")

        # Slow clients: 8 idle connections and 8 sending a header a byte at a time.
        idle = [socket.create_connection(("127.0.0.1", port)) for _ in range(8)]
        slow = [socket.create_connection(("127.0.0.1", port)) for _ in range(8)]
        for sock in slow:
            sock.sendall(b"GET /metrics HTTP/1.1\r\nX")
        worst = 0.0
        end = time.monotonic() + 6
        while time.monotonic() < end:
            for sock in slow:
                try:
                    sock.sendall(b"x")
                except OSError:
                    pass
            start_at = time.perf_counter()
            get(base + "/metrics")
            worst = max(worst, time.perf_counter() - start_at)
            time.sleep(0.2)
        for sock in idle + slow:
            sock.close()
        print(f"scrape beside 8 idle and 8 slow clients: worst {worst * 1000:.1f} ms")
        server.terminate()
        server.wait()

        # Memory over 1000 scrapes, sampling every 100 ms meanwhile.
        server, base, port = start(sysmon, "--interval", "100")
        for path in ("/metrics", "/api/processes", "/api/tree"):
            get(base + path)
        first = rss_kib(server.pid)
        rss = []
        for i in range(1000):
            get(base + ("/metrics", "/api/processes?sort=memory&limit=20", "/api/tree")[i % 3]
                if i % 10 == 0 else base + "/metrics")
            if i % 100 == 99:
                rss.append(rss_kib(server.pid))
            time.sleep(0.01)
        print(f"resident memory over 1000 scrapes: {first / 1024:.1f} MiB after the first, "
              + ", ".join(f"{r / 1024:.1f}" for r in rss) + " MiB every 100")
        server.terminate()
        server.wait()
    finally:
        for p in sleepers:
            p.kill()
        for p in sleepers:
            p.wait()


if __name__ == "__main__":
    main()
