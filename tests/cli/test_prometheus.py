"""A real Prometheus server scrapes `sysmon serve` over TLS with basic
authentication; its HTTP API then answers with this machine's processor count
and memory total, and rate() works on the processor counters. promtool finds
nothing to say about the exposition."""
import json
import os
import pathlib
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request

import pytest

from conftest import Server, bcrypt_hash, make_cert, meminfo_total_bytes

PROMETHEUS = shutil.which("prometheus")


def free_port():
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


def query(port, expression):
    """The instant vector of `expression`, or [] while Prometheus has nothing."""
    url = f"http://127.0.0.1:{port}/api/v1/query?" + urllib.parse.urlencode({"query": expression})
    try:
        with urllib.request.urlopen(url, timeout=5) as response:
            answer = json.load(response)
    except (OSError, ValueError):
        return []
    assert answer["status"] == "success", answer
    return answer["data"]["result"]


def wait_for(port, expression, deadline):
    while time.monotonic() < deadline:
        result = query(port, expression)
        if result:
            return result
        time.sleep(0.5)
    raise AssertionError(f"Prometheus never answered {expression}")


@pytest.mark.skipif(PROMETHEUS is None, reason="Debian's prometheus package is not installed")
def test_prometheus_scrapes_the_exporter_over_tls_with_basic_auth():
    work = tempfile.mkdtemp(prefix="sysmon-prometheus-")
    folder = pathlib.Path(work)
    make_cert(folder, "ca", cn="sysmon test CA")
    make_cert(folder, "server", ca="ca")
    (folder / "web.yml").write_text(
        "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
        f"basic_auth_users:\n  prometheus: '{bcrypt_hash('prometheus', 'scrape-pass')}'\n")
    (folder / "password").write_text("scrape-pass\n")
    exporter = Server("--web.config.file", str(folder / "web.yml"), "--interval", "500")
    prometheus = None
    try:
        config = os.path.join(work, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                    "scrape_configs:\n  - job_name: sysmon\n    scheme: https\n"
                    f"    tls_config:\n      ca_file: {work}/ca.crt\n"
                    "    basic_auth:\n      username: prometheus\n"
                    f"      password_file: {work}/password\n"
                    "    static_configs:\n"
                    f"      - targets: ['127.0.0.1:{exporter.port}']\n")
        port = free_port()
        log = open(os.path.join(work, "prometheus.log"), "wb")
        prometheus = subprocess.Popen(
            [PROMETHEUS, f"--config.file={config}", f"--storage.tsdb.path={work}/data",
             f"--web.listen-address=127.0.0.1:{port}"],
            stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 120
        up = wait_for(port, 'up{job="sysmon"} == 1', deadline)
        assert up[0]["metric"]["instance"] == f"127.0.0.1:{exporter.port}"

        cores = wait_for(port, "count(sysmon_cpu_core_usage_ratio)", deadline)
        assert int(cores[0]["value"][1]) == os.cpu_count()
        logical = wait_for(port, "sysmon_cpu_logical_processors", deadline)
        assert int(logical[0]["value"][1]) == os.cpu_count()
        memory = wait_for(port, "sysmon_memory_total_bytes", deadline)
        assert int(float(memory[0]["value"][1])) == meminfo_total_bytes()
        # Counters work with rate() once two scrapes are stored: the busy and
        # idle time of all processors grow by at most one second per second each.
        rates = wait_for(port, "sum(rate(sysmon_cpu_seconds_total[10s]))", deadline)
        assert 0 < float(rates[0]["value"][1]) <= os.cpu_count() * 1.5
        if query(port, "sysmon_network_receive_bytes_total"):
            wait_for(port, "sum(rate(sysmon_network_receive_bytes_total[10s])) >= 0", deadline)
    finally:
        if prometheus is not None:
            prometheus.terminate()
            try:
                prometheus.wait(timeout=20)
            except subprocess.TimeoutExpired:
                prometheus.kill()
                prometheus.wait()
            if prometheus.returncode not in (0, -15):
                print(open(os.path.join(work, "prometheus.log")).read())
        exporter.stop()
        shutil.rmtree(work, ignore_errors=True)


@pytest.mark.skipif(shutil.which("promtool") is None, reason="promtool is not installed")
def test_promtool_finds_nothing_in_the_exposition():
    exporter = Server()
    try:
        body = exporter.get("/metrics")[2]
        done = subprocess.run(["promtool", "check", "metrics"], input=body, capture_output=True,
                              timeout=60)
        assert done.returncode == 0 and not done.stdout.strip() and not done.stderr.strip(), done
    finally:
        exporter.stop()
