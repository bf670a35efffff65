"""`sysmon serve`: the /metrics exposition read by Prometheus's own Python
parser, the /api documents, and what the server refuses."""
import concurrent.futures
import json
import os
import re
import socket
import subprocess
import time

import pytest
from prometheus_client.parser import text_string_to_metric_families

from conftest import SYSMON, Server, meminfo_total_bytes, schema

# Every family the exporter writes: type and the label names of its samples.
FAMILIES = {
    "sysmon_cpu_usage_ratio": ("gauge", set()),
    "sysmon_cpu_core_usage_ratio": ("gauge", {"core"}),
    "sysmon_cpu_logical_processors": ("gauge", set()),
    "sysmon_cpu_physical_cores": ("gauge", set()),
    "sysmon_cpu_frequency_hertz": ("gauge", set()),
    "sysmon_cpu_temperature_celsius": ("gauge", set()),
    "sysmon_memory_total_bytes": ("gauge", set()),
    "sysmon_memory_used_bytes": ("gauge", set()),
    "sysmon_memory_available_bytes": ("gauge", set()),
    "sysmon_memory_cached_bytes": ("gauge", set()),
    "sysmon_swap_total_bytes": ("gauge", set()),
    "sysmon_swap_used_bytes": ("gauge", set()),
    "sysmon_volume_size_bytes": ("gauge", {"device", "mountpoint", "fstype"}),
    "sysmon_volume_used_bytes": ("gauge", {"device", "mountpoint", "fstype"}),
    "sysmon_volume_free_bytes": ("gauge", {"device", "mountpoint", "fstype"}),
    "sysmon_volume_read_bytes_per_second": ("gauge", {"device", "mountpoint", "fstype"}),
    "sysmon_volume_write_bytes_per_second": ("gauge", {"device", "mountpoint", "fstype"}),
    # The parser names counter families without their _total suffix.
    "sysmon_volume_read_bytes": ("counter", {"device", "mountpoint", "fstype"}),
    "sysmon_volume_written_bytes": ("counter", {"device", "mountpoint", "fstype"}),
    "sysmon_cpu_seconds": ("counter", {"mode"}),
    "sysmon_cpu_core_seconds": ("counter", {"core", "mode"}),
    "sysmon_scrape_duration_seconds": ("gauge", set()),
    # The parser names counter families without their _total suffix.
    "sysmon_network_receive_bytes": ("counter", {"device"}),
    "sysmon_network_transmit_bytes": ("counter", {"device"}),
    "sysmon_network_receive_bytes_per_second": ("gauge", {"device"}),
    "sysmon_network_transmit_bytes_per_second": ("gauge", {"device"}),
    "sysmon_processes": ("gauge", set()),
    "sysmon_top_process_cpu_ratio": ("gauge", {"pid", "name"}),
    "sysmon_top_process_resident_memory_bytes": ("gauge", {"pid", "name"}),
    "sysmon_uptime_seconds": ("gauge", set()),
    "sysmon_system_info": ("gauge", {"hostname", "os", "kernel", "arch"}),
    "sysmon_battery_present": ("gauge", set()),
    "sysmon_battery_charge_ratio": ("gauge", set()),
    "sysmon_battery_health_ratio": ("gauge", set()),
    "sysmon_battery_time_remaining_seconds": ("gauge", set()),
    "sysmon_battery_power_watts": ("gauge", set()),
    "sysmon_battery_status": ("gauge", {"status"}),
    "sysmon_gpu_usage_ratio": ("gauge", {"gpu", "name"}),
    "sysmon_gpu_memory_total_bytes": ("gauge", {"gpu", "name"}),
    "sysmon_gpu_memory_used_bytes": ("gauge", {"gpu", "name"}),
    "sysmon_gpu_temperature_celsius": ("gauge", {"gpu", "name"}),
    "sysmon_gpu_power_watts": ("gauge", {"gpu", "name"}),
    "sysmon_gpu_info": ("gauge", {"gpu", "name", "driver", "source"}),
}
# Families that must be present whatever the machine has.
ALWAYS = set(FAMILIES) - {
    name for name, (_, labels) in FAMILIES.items() if labels & {"device", "mountpoint", "gpu"}}


def plausible(name, labels, value, memory_total):
    """Whether one sample's value can be true of this machine."""
    if value != value or value < 0:
        return False
    if name == "sysmon_top_process_cpu_ratio":  # 1 = one logical processor
        return value <= os.cpu_count()
    if name.endswith("_ratio"):
        return value <= 1.0
    if name in ("sysmon_system_info", "sysmon_battery_status"):
        return value == 1
    if name == "sysmon_battery_present":
        return value in (0, 1)
    if name == "sysmon_memory_total_bytes":
        return value == memory_total
    if name.startswith(("sysmon_memory_", "sysmon_top_process_resident")):
        return value <= memory_total
    if name in ("sysmon_cpu_logical_processors", "sysmon_cpu_physical_cores"):
        return 1 <= value <= os.cpu_count()
    if name == "sysmon_processes":
        return 1 <= value <= 2048
    if name == "sysmon_uptime_seconds":
        return 0 < value < 10 * 365 * 86400
    if name == "sysmon_cpu_temperature_celsius":
        return value < 150
    if name.startswith("sysmon_cpu_") and name.endswith("seconds") or name.endswith("duration_seconds"):
        return True  # counters of seconds and the sampling time are any non-negative number
    return value == int(value) or "hertz" in name or "watts" in name


def test_metrics_parse_with_plausible_samples(server):
    server.get("/metrics")  # the second scrape measures over a real window
    status, headers, body = server.get("/metrics")
    assert status == 200
    assert headers["Content-Type"].startswith("text/plain; version=0.0.4")
    text = body.decode("utf-8")
    memory_total = meminfo_total_bytes()
    seen = {}
    for family in text_string_to_metric_families(text):
        assert family.name in FAMILIES, family.name
        family_type, label_names = FAMILIES[family.name]
        assert family.type == family_type, family.name
        assert family.documentation, family.name
        assert family.samples, family.name
        for sample in family.samples:
            expected_name = family.name + ("_total" if family_type == "counter" else "")
            assert sample.name == expected_name
            assert set(sample.labels) == label_names, sample
            assert all(sample.labels.values()) or family.name == "sysmon_system_info", sample
            assert plausible(family.name, sample.labels, sample.value, memory_total), sample
        seen[family.name] = family.samples
    assert ALWAYS <= set(seen), ALWAYS - set(seen)
    for line in text.splitlines():
        if line.startswith("# TYPE "):
            assert line.split()[2] in text  # every TYPE line names a written family

    cores = seen["sysmon_cpu_core_usage_ratio"]
    assert sorted(int(s.labels["core"]) for s in cores) == list(range(os.cpu_count()))
    modes = [(s.labels["core"], s.labels["mode"]) for s in seen["sysmon_cpu_core_seconds"]]
    assert sorted(modes) == sorted((str(c), m) for c in range(os.cpu_count()) for m in ("busy", "idle"))
    # Numbers are the shortest text of their value: no binary noise of a division.
    assert not re.search(r"\d\.\d*(0000000|9999999)\d*$", text, re.M), text
    assert 1 <= len(seen["sysmon_top_process_cpu_ratio"]) <= 10
    assert len(seen["sysmon_top_process_resident_memory_bytes"]) == 10
    assert len({s.labels["pid"] for s in seen["sysmon_top_process_cpu_ratio"]}) == \
        len(seen["sysmon_top_process_cpu_ratio"])
    if "sysmon_network_receive_bytes" in seen:
        devices = [s.labels["device"] for s in seen["sysmon_network_receive_bytes"]]
        assert len(devices) == len(set(devices)) and "lo" not in devices
    if "sysmon_volume_size_bytes" in seen:
        for s in seen["sysmon_volume_size_bytes"]:
            assert s.labels["mountpoint"].startswith("/")


@pytest.mark.parametrize("path,schema_name", [
    ("snapshot", "snapshot"), ("cpu", "cpu"), ("memory", "memory"), ("disks", "disks"),
    ("network", "network"), ("processes", "processes"), ("tree", "process_tree"),
    ("gpu", "gpu"), ("battery", "battery"), ("system", "system"),
    ("history?metric=cpu&count=5", "history"), ("history?metric=cpu-cores", "core_history"),
    ("processes?sort=memory&limit=3", "processes"), ("tree?limit=2&filter=sysmon", "process_tree"),
])
def test_api_documents_are_valid(server, path, schema_name):
    server.get("/metrics")  # records a history sample
    status, headers, body = server.get("/api/" + path)
    assert status == 200 and headers["Content-Type"] == "application/json"
    schema.validate(schema_name, body)
    if path.startswith("processes?"):
        assert len(json.loads(body)) == 3
    if path.startswith("history?metric=cpu&"):
        assert len(json.loads(body)) >= 1


def test_refuses_what_it_does_not_serve(server):
    for path in ["/api", "/api/", "/api/kill", "/api/nothing", "/metrics/x", "/favicon.ico"]:
        assert server.get(path)[0] == 404, path
    for method in ["POST", "PUT", "DELETE", "PATCH"]:
        status, headers, _ = server.get("/api/processes", method=method, data=b"")
        assert status == 405 and "GET" in headers["Allow"], method
        assert server.get("/metrics", method=method, data=b"")[0] == 405
    assert server.get("/api/processes?sort=size")[0] == 400
    assert server.get("/api/history?count=301")[0] == 400
    assert server.get("/api/cpu?pid=1")[0] == 400
    # A body larger than any request needs is refused.
    assert server.get("/metrics", method="POST", data=b"x" * 100000)[0] == 413
    # An oversized request line is refused and the server keeps serving.
    with socket.create_connection(("127.0.0.1", server.port), timeout=10) as sock:
        sock.sendall(b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\nHost: x\r\n\r\n")
        assert sock.recv(64).startswith(b"HTTP/1.1 414")
    assert server.get("/api/memory")[0] == 200


def test_concurrent_scrapes(server):
    def scrape(i):
        path = "/metrics" if i % 2 else "/api/processes"
        status, _, body = server.get(path)
        assert status == 200
        if i % 2:
            names = {f.name for f in text_string_to_metric_families(body.decode())}
            assert "sysmon_memory_total_bytes" in names
        else:
            schema.validate("processes", body)
        return status

    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        assert list(pool.map(scrape, range(32))) == [200] * 32


def test_a_port_in_use_is_an_error(server):
    done = subprocess.run([SYSMON, "serve", "--listen", f"127.0.0.1:{server.port}"],
                          capture_output=True, timeout=30)
    assert done.returncode == 1 and b"cannot listen" in done.stderr
    assert server.get("/api/memory")[0] == 200


def test_stops_on_sigterm(server):
    assert server.stop() == 0


def test_landing_page_links_metrics_and_documents(server):
    status, headers, body = server.get("/about")
    assert status == 200 and headers["Content-Type"].startswith("text/html")
    page = body.decode()
    assert "sysmon" in page and re.search(r"\d+\.\d+\.\d+", page)
    assert 'href="metrics"' in page and 'href="api/snapshot"' in page
    # "/" is the dashboard page.
    status, headers, _ = server.get("/")
    assert status == 200 and headers["Content-Type"].startswith("text/html")


def test_requests_read_the_latest_sample_and_never_collect():
    # One sample an hour: every request of the test answers from the first.
    srv = Server("--interval", "3600000", "--top-processes", "3")
    try:
        first = [srv.get(p)[2] for p in ("/api/cpu", "/api/processes", "/metrics")]
        # Requests collect nothing: the answers stay those of the one sample.
        assert [srv.get(p)[2] for p in ("/api/cpu", "/api/processes", "/metrics")] == first
        snapshot = json.loads(srv.get("/api/snapshot")[2])
        assert json.loads(first[0]) == snapshot["cpu"]
        families = {f.name: f for f in text_string_to_metric_families(first[2].decode())}
        assert len(families["sysmon_top_process_cpu_ratio"].samples) == 3
        assert len(families["sysmon_top_process_resident_memory_bytes"].samples) == 3
        assert "over the sampling window" in families["sysmon_cpu_usage_ratio"].documentation
    finally:
        srv.stop()


def test_no_api_and_no_process_series():
    srv = Server("--no-api", "--top-processes", "0")
    try:
        assert srv.get("/api/cpu")[0] == 404
        status, _, body = srv.get("/metrics")
        assert status == 200 and b"sysmon_top_process" not in body
        assert b"api/" not in srv.get("/")[2]
    finally:
        srv.stop()


def scrape_seconds(server):
    start = time.monotonic()
    assert server.get("/metrics", timeout=10)[0] == 200
    return time.monotonic() - start


def closed_by_server(sock):
    sock.settimeout(5)
    try:
        while sock.recv(4096):
            pass
        return True
    except (ConnectionResetError, BrokenPipeError):
        return True
    except socket.timeout:
        return False


def test_idle_and_slow_clients_delay_no_scrape(server):
    idle = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(8)]
    slow = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(8)]
    try:
        for sock in slow:
            sock.sendall(b"GET /metrics HTTP/1.1\r\nHo")
        cut = set()
        deadline = time.monotonic() + 8
        while time.monotonic() < deadline and len(cut) < len(slow):
            for sock in slow:
                try:
                    if sock not in cut:
                        sock.sendall(b"s")  # a header a byte at a time
                except (BrokenPipeError, ConnectionResetError):
                    cut.add(sock)
            assert scrape_seconds(server) < 1.0
            time.sleep(0.5)
        # Past the head timeout (5 s) both kinds have been cut off.
        assert all(closed_by_server(sock) for sock in idle + slow)
    finally:
        for sock in idle + slow:
            sock.close()


def test_a_bounded_burst_of_scrapes_all_succeed(server):
    with concurrent.futures.ThreadPoolExecutor(max_workers=32) as pool:
        assert set(pool.map(lambda _: server.get("/metrics")[0], range(64))) == {200}


def raw_request(port, data):
    """The status line the server answers to raw bytes, or b"" when it closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(data)
        try:
            return sock.recv(4096).split(b"\r\n")[0]
        except ConnectionResetError:
            return b""


def test_hostile_requests_get_a_clear_status(server):
    port = server.port
    big = b"x" * (1 << 20)
    cases = [
        (b"GET /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % len(big) + big, b"413"),
        (b"TRACE /metrics HTTP/1.1\r\nHost: x\r\n\r\n", b"405"),
        (b"POST /nowhere HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", b"405"),
        (b"POST /metrics HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", b"411"),
        (b"GET /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: -1\r\n\r\n", b"400"),
        (b"GET /api/%zz%%41 HTTP/1.1\r\nHost: x\r\n\r\n", b"404"),
        (b"GET /metrics HTTP/1.1\r\nHost: x\r\nX-Long: " + b"a" * 20000 + b"\r\n\r\n", b"400"),
        (b"BREW /metrics HTTP/1.1\r\nHost: x\r\n\r\n", b"400"),
        # A TLS handshake to the plain server: no request line ever ends, so
        # the connection is closed at the head timeout.
        (b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + b"\x00" * 64, None),
    ]
    for data, status in cases:
        line = raw_request(port, data)
        if status is None:
            assert line in (b"", b"HTTP/1.1 400 Bad Request"), line
        else:
            assert line.startswith(b"HTTP/1.1 " + status), (data[:40], line)
    assert server.get("/metrics")[0] == 200


def test_counters_never_decrease_while_busy(tmp_path):
    srv = Server("--interval", "200")
    burner = subprocess.Popen(["/usr/bin/python3", "-c", "while True: pass"])
    try:
        previous = {}
        target = tmp_path / "written"
        for _ in range(20):
            with open(target, "ab") as f:
                f.write(os.urandom(1 << 20))
                os.fsync(f.fileno())
            text = srv.get("/metrics")[2].decode()
            for family in text_string_to_metric_families(text):
                if family.type != "counter":
                    continue
                for sample in family.samples:
                    key = (sample.name, tuple(sorted(sample.labels.items())))
                    assert sample.value >= previous.get(key, 0), key
                    previous[key] = sample.value
            time.sleep(0.25)
        busy = [v for (name, labels), v in previous.items()
                if name == "sysmon_cpu_seconds_total" and ("mode", "busy") in labels]
        assert busy and busy[0] > 0
    finally:
        burner.kill()
        burner.wait()
        srv.stop()


def test_warns_when_listening_beyond_loopback_without_web_config():
    # 192.0.2.1 (TEST-NET-1) is on no interface here: the warning comes, then
    # the bind fails, so nothing ever listens beyond loopback.
    for extra, names_api in (((), True), (("--no-api",), False)):
        done = subprocess.run([SYSMON, "serve", "--listen", "192.0.2.1:0", *extra],
                              capture_output=True, timeout=30)
        assert done.returncode == 1, done.stderr
        assert b"warning" in done.stderr and b"--web.config.file" in done.stderr
        assert (b"command line" in done.stderr) == names_api, done.stderr
    with socket.socket() as taken:  # loopback: no warning (and a port in use ends it)
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        done = subprocess.run([SYSMON, "serve", "--listen", f"127.0.0.1:{taken.getsockname()[1]}"],
                              capture_output=True, timeout=30)
    assert done.returncode == 1 and b"warning" not in done.stderr, done.stderr
