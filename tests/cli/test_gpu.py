"""The command with GPU adapters: the fake NVML (tests/gpu/fake_nvml.c) found
by its ordinary name through LD_LIBRARY_PATH, with two devices. The query
validates against the schema, the exporter's GPU series parse with the
Prometheus client's parser, and `top` shows a line per adapter."""
import json
import os
import shlex
import subprocess

import pytest
from prometheus_client.parser import text_string_to_metric_families

from conftest import SYSMON, Server, schema
from test_top import Pane

CONFIG = """driver 550.54.14
device
name NVIDIA A100-SXM4-40GB
bus 00000000:65:00.0
util 0 3
mem2 42949672960 536870912 1610612736 0
temp 33 0
power 61234 0
device
name NVIDIA GeForce RTX 3090
bus 00000000:B3:00.0
util 87 0
mem2 25769803776 0 8000000000 0
temp 71 0
power 305500 0
"""


@pytest.fixture
def fake_env(tmp_path):
    config = tmp_path / "nvml.conf"
    config.write_text(CONFIG)
    library_dir = os.path.join(os.environ["SYSMON_FAKE_NVML_DIR"], "fake-nvml")
    return dict(os.environ, LD_LIBRARY_PATH=library_dir, FAKE_NVML_CONFIG=str(config))


def test_query_lists_both_adapters(fake_env):
    done = subprocess.run([SYSMON, "gpu"], capture_output=True, timeout=60, env=fake_env, check=True)
    schema.validate("gpu", done.stdout.strip())
    doc = json.loads(done.stdout)
    assert doc["source"] == "nvml" and doc["name"] == "NVIDIA A100-SXM4-40GB"
    assert [a["bus_id"] for a in doc["adapters"]] == ["0000:65:00.0", "0000:b3:00.0"]
    assert doc["adapters"][1]["usage_percent"] == 87
    assert doc["vram_used"] == 1610612736 and doc["power_watts"] == 61.2


def test_exporter_series_per_adapter(fake_env):
    server = Server(env=fake_env)
    try:
        status, _, body = server.get("/metrics")
    finally:
        assert server.stop() == 0
    assert status == 200
    families = {f.name: f for f in text_string_to_metric_families(body.decode())}
    usage = {s.labels["gpu"]: s for s in families["sysmon_gpu_usage_ratio"].samples}
    assert usage["0"].labels["name"] == "NVIDIA A100-SXM4-40GB" and usage["0"].value == 0
    assert usage["1"].value == pytest.approx(0.87)
    total = {s.labels["gpu"]: s.value for s in families["sysmon_gpu_memory_total_bytes"].samples}
    assert total == {"0": 42949672960, "1": 25769803776}
    used = {s.labels["gpu"]: s.value for s in families["sysmon_gpu_memory_used_bytes"].samples}
    assert used["1"] == 8000000000
    temps = {s.labels["gpu"]: s.value for s in families["sysmon_gpu_temperature_celsius"].samples}
    assert temps == {"0": 33, "1": 71}
    power = {s.labels["gpu"]: s.value for s in families["sysmon_gpu_power_watts"].samples}
    assert power["1"] == pytest.approx(305.5)
    info = [s.labels for s in families["sysmon_gpu_info"].samples]
    assert info[1] == {"gpu": "1", "name": "NVIDIA GeForce RTX 3090", "driver": "550.54.14",
                       "source": "nvml"}


def test_top_shows_a_line_per_adapter(fake_env, tmp_path):
    pane = Pane()
    try:
        exports = " ".join(f"{k}={shlex.quote(fake_env[k])}" for k in ("LD_LIBRARY_PATH", "FAKE_NVML_CONFIG"))
        pane.type_line(f"{exports} {shlex.quote(SYSMON)} top --interval 300")
        screen = pane.wait_for(r"GPU1 \[")
        assert "GPU0 [" in screen and "NVIDIA A100-SXM4-40GB" in screen
        assert "NVIDIA GeForce RTX 3090" in screen and " 87.0%" in screen
        assert "GPU2" not in screen
        pane.keys("q")
    finally:
        pane.close()
