"""Shared fixtures of the sysmon command's tests.

SYSMON_CLI names the built command and SYSMON_SCHEMAS the folder of the JSON
Schemas and their validator (both set by ctest)."""
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import urllib.request

import pytest

SYSMON = os.environ["SYSMON_CLI"]
sys.path.insert(0, os.environ["SYSMON_SCHEMAS"])
import validate as schema  # noqa: E402  (the schemas' own validator)


def run(*args, timeout=60, check=True):
    """Runs sysmon with `args`; returns the completed process."""
    done = subprocess.run([SYSMON, *args], capture_output=True, timeout=timeout)
    if check:
        assert done.returncode == 0, done.stderr.decode(errors="replace")
    return done


def document(name, args):
    """Runs a query, validates its output against schema `name`, returns it parsed."""
    out = run(*args).stdout
    schema.validate(name, out.strip())
    return json.loads(out)


class Server:
    """`sysmon serve` on a free loopback port, stopped by stop()."""

    def __init__(self, *args, env=None):
        self.process = subprocess.Popen([SYSMON, "serve", "--listen", "127.0.0.1:0", *args],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
        line = self.process.stderr.readline().decode()
        match = re.search(r"(https?)://127\.0\.0\.1:(\d+)/metrics", line)
        if not match:
            self.stop()
            raise RuntimeError(f"sysmon serve did not start: {line!r}")
        self.port = int(match.group(2))
        self.base = f"{match.group(1)}://127.0.0.1:{self.port}"

    def get(self, path, method="GET", data=None, timeout=30):
        """(status, headers, body bytes) of one request."""
        request = urllib.request.Request(self.base + path, method=method, data=data)
        try:
            with urllib.request.urlopen(request, timeout=timeout) as response:
                return response.status, response.headers, response.read()
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read()

    def stop(self):
        """SIGTERM, then the exit status (killed after 10 s)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()
        return self.process.returncode


@pytest.fixture
def server():
    srv = Server()
    yield srv
    srv.stop()


def meminfo_total_bytes():
    for line in pathlib.Path("/proc/meminfo").read_text().splitlines():
        if line.startswith("MemTotal:"):
            return int(line.split()[1]) * 1024
    raise AssertionError("no MemTotal in /proc/meminfo")


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_cert(folder, name, ca=None, cn="127.0.0.1"):
    """name.key and name.crt: self-signed, or signed by `ca` (a name)."""
    key_args = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", f"{name}.key", "-subj", f"/CN={cn}"]
    if ca is None:
        openssl("req", "-x509", *key_args, "-out", f"{name}.crt", "-days", "2",
                "-addext", "subjectAltName=IP:127.0.0.1", cwd=folder)
        return
    openssl("req", *key_args, "-out", f"{name}.csr", cwd=folder)
    (folder / f"{name}.ext").write_text("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", f"{name}.csr", "-CA", f"{ca}.crt", "-CAkey", f"{ca}.key",
            "-CAcreateserial", "-out", f"{name}.crt", "-days", "2", "-extfile", f"{name}.ext",
            cwd=folder)


def bcrypt_hash(user, password):
    line = subprocess.run(["htpasswd", "-nbBC", "5", user, password], check=True,
                          capture_output=True, text=True).stdout.strip()
    return line.split(":", 1)[1]
