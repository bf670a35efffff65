"""`sysmon serve --web.config.file`: TLS with a certificate made by openssl in
the test, client certificates, basic authentication against a bcrypt hash made
with htpasswd, reloading, and what a broken configuration does."""
import base64
import os
import shutil
import socket
import ssl
import subprocess
import time
import urllib.request

import pytest

from conftest import SYSMON, Server, bcrypt_hash, make_cert

PASSWORD = "s3cret-Pass"  # never to appear in anything the server prints


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    folder = tmp_path_factory.mktemp("pki")
    make_cert(folder, "ca", cn="sysmon test CA")
    make_cert(folder, "server", ca="ca")
    make_cert(folder, "client", ca="ca", cn="scraper")
    make_cert(folder, "stranger", cn="stranger")  # self-signed: not from the CA
    return folder


def write_config(folder, text):
    path = folder / "web.yml"
    path.write_text(text)
    return path


def tls_context(pki, client=None):
    context = ssl.create_default_context(cafile=str(pki / "ca.crt"))
    if client:
        context.load_cert_chain(str(pki / f"{client}.crt"), str(pki / f"{client}.key"))
    return context


def get(server, path, context, user=None, password=None, header=None):
    request = urllib.request.Request(server.base + path)
    if user is not None:
        token = base64.b64encode(f"{user}:{password}".encode()).decode()
        request.add_header("Authorization", f"Basic {token}")
    if header is not None:
        request.add_header("Authorization", header)
    try:
        with urllib.request.urlopen(request, timeout=20, context=context) as response:
            return response.status, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


def served_common_name(port, context):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
        with context.wrap_socket(raw, server_hostname="127.0.0.1") as tls:
            subject = dict(item[0] for item in tls.getpeercert()["subject"])
            return subject["commonName"]


class CapturingServer(Server):
    """A server whose stderr is kept whole, to be read after it stops."""

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.text = self.process.stderr.read().decode()
        self.process.stderr.close()
        return self.process.returncode


def test_https_with_basic_auth(pki, tmp_path):
    config = write_config(tmp_path, f"""
tls_server_config:
  cert_file: {pki}/server.crt
  key_file: {pki}/server.key
basic_auth_users:
  prometheus: '{bcrypt_hash("prometheus", PASSWORD)}'
""")
    server = CapturingServer("--web.config.file", str(config))
    try:
        assert server.base.startswith("https://")
        context = tls_context(pki)
        for path in ["/", "/metrics", "/api/snapshot"]:
            assert get(server, path, context)[0] == 401, path
            assert get(server, path, context, "prometheus", "wrong")[0] == 401, path
            assert get(server, path, context, "nobody", PASSWORD)[0] == 401, path
            assert get(server, path, context, "prometheus", PASSWORD)[0] == 200, path
        for header in ["Basic", "Basic !!!", "Basic " + base64.b64encode(b"no-colon").decode(),
                       "Bearer x", "Basic " + base64.b64encode(b"prometheus:" + PASSWORD.encode()
                                                            + b"\0x").decode(), "basic ==="]:
            assert get(server, "/metrics", context, header=header)[0] == 401, header
        status, body = get(server, "/metrics", context, "prometheus", PASSWORD)
        assert b"sysmon_cpu_seconds_total" in body
        # curl against the CA, as a user would check it.
        done = subprocess.run(["curl", "-sf", "--cacert", str(pki / "ca.crt"), "-u",
                               f"prometheus:{PASSWORD}", server.base + "/metrics"],
                              capture_output=True, timeout=30)
        assert done.returncode == 0 and b"sysmon_memory_total_bytes" in done.stdout
        # Plain HTTP on the TLS port gets no answer.
        plain = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                                f"http://127.0.0.1:{server.port}/metrics"],
                               capture_output=True, timeout=30, text=True)
        assert plain.stdout != "200"
        # TLS 1.1 is refused (min_version defaults to TLS 1.2); TLS 1.2 works.
        for version, works in (("-tls1_1", False), ("-tls1_2", True)):
            probe = subprocess.run(["openssl", "s_client", "-connect", f"127.0.0.1:{server.port}",
                                    version, "-CAfile", str(pki / "ca.crt")],
                                   input=b"", capture_output=True, timeout=30)
            assert (probe.returncode == 0) == works, (version, probe.stdout[-400:])
        # Garbage instead of a handshake: no HTTP answer, serving goes on.
        with socket.create_connection(("127.0.0.1", server.port), timeout=10) as sock:
            sock.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n" + b"\xff" * 300)
            try:
                answer = sock.recv(100)
            except ConnectionResetError:
                answer = b""
            assert not answer.startswith(b"HTTP"), answer
        assert get(server, "/metrics", context, "prometheus", PASSWORD)[0] == 200
    finally:
        server.stop()
    assert PASSWORD not in server.text and "$2" not in server.text, server.text


def test_client_certificates_required_and_verified(pki, tmp_path):
    config = write_config(tmp_path, f"""
tls_server_config:
  cert_file: server.crt
  key_file: server.key
  client_auth_type: RequireAndVerifyClientCert
  client_ca_file: ca.crt
""")
    for name in ("server.crt", "server.key", "ca.crt"):
        shutil.copy(pki / name, tmp_path / name)  # relative to the configuration's folder
    server = Server("--web.config.file", str(config))
    try:
        assert get(server, "/metrics", tls_context(pki, "client"))[0] == 200
        for client in (None, "stranger"):
            with pytest.raises((ssl.SSLError, ConnectionError, urllib.error.URLError)):
                get(server, "/metrics", tls_context(pki, client))
        assert get(server, "/api/cpu", tls_context(pki, "client"))[0] == 200
    finally:
        server.stop()


def test_renewed_certificate_and_broken_configuration(pki, tmp_path):
    for name in ("server.crt", "server.key", "ca.crt", "ca.key"):
        shutil.copy(pki / name, tmp_path / name)
    config = write_config(tmp_path, "tls_server_config:\n  cert_file: server.crt\n"
                                    "  key_file: server.key\n")
    server = CapturingServer("--web.config.file", str(config))
    try:
        context = tls_context(pki)
        assert served_common_name(server.port, context) == "127.0.0.1"
        # Renewed on disk (new key, new name): the next connection gets it.
        make_cert(tmp_path, "renewed", ca="ca", cn="renewed")
        os.replace(tmp_path / "renewed.key", tmp_path / "server.key")
        os.replace(tmp_path / "renewed.crt", tmp_path / "server.crt")
        time.sleep(0.3)
        assert served_common_name(server.port, context) == "renewed"
        # A broken file later: the configuration in force stays, with the reason.
        config.write_text("tls_server_config: [unclosed\n")
        time.sleep(0.3)
        assert get(server, "/metrics", context)[0] == 200
        assert served_common_name(server.port, context) == "renewed"
    finally:
        server.stop()
    assert "not usable" in server.text and "YAML" in server.text, server.text


@pytest.mark.parametrize("text,reason", [
    ("tls_server_config:\n  cert_file: /nonexistent.crt\n  key_file: /nonexistent.key\n",
     "cannot read cert_file"),
    ("basic_auth_users:\n  admin: plaintext-password\n", "not a bcrypt hash"),
    ("tls_server_config:\n  cert_file: a\n  key_file: b\n  min_version: TLS99\n", "TLS99"),
    ("tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: RequireAndVerifyClientCert\n",
     "client_ca_file"),
    ("unknown_section: 1\n", "unknown_section"),
    ("- a list\n", "mapping"),
])
def test_unusable_configuration_at_start_is_an_error(tmp_path, text, reason):
    config = write_config(tmp_path, text)
    done = subprocess.run([SYSMON, "serve", "--listen", "127.0.0.1:0", "--web.config.file",
                           str(config)], capture_output=True, timeout=30)
    assert done.returncode != 0 and reason.encode() in done.stderr, done.stderr
    assert b"plaintext-password" not in done.stderr
