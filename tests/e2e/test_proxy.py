"""A proxy in the way: Debian's tinyproxy, started by the test on loopback with a configuration of
its own. Under Wine 8, WinHTTP takes a proxy from its own registry setting (as `netsh winhttp
set proxy` writes it) or from the http_proxy variable, but only for a session opened with the
default access type; a session opened with WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, as the
bootstrapper's is without --proxy, always goes direct there. The tests show both halves:
tests/probes/winhttp_get.exe with the default access type goes through the proxy (http and https through CONNECT, with a
resume), and the real bootstrapper with the same settings goes direct. On Windows 8.1 and
later the automatic access type takes the system's and the user's proxy settings, so the same
run would go through the proxy. With --proxy the bootstrapper opens its session with
WINHTTP_ACCESS_TYPE_NAMED_PROXY, which Wine 8 follows as Windows does."""

import contextlib
import os
import pathlib
import re
import shutil
import socket
import struct
import subprocess
import time

import pytest

from testkit.harness import PROBES, WINE_RUN, full_installer_line, run_windows
from testkit.scripted_server import Reply, ScriptedServer
from testkit.setup_kit import https_server, installer

WINHTTP_GET = PROBES / "winhttp_get.exe"
CONNECTIONS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
PER_USER = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
DEFAULT_ACCESS, AUTOMATIC_ACCESS = 0, 4

pytestmark = pytest.mark.skipif(shutil.which("tinyproxy") is None, reason="needs tinyproxy")


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class TinyProxy:
    """tinyproxy in the foreground on 127.0.0.1, logging every request line it receives."""

    def __init__(self, folder: pathlib.Path, basic_auth=None):
        self.port = free_port()
        self.log = folder / "tinyproxy.log"
        conf = folder / "tinyproxy.conf"
        lines = [f"Port {self.port}", "Listen 127.0.0.1", "Timeout 60", f'LogFile "{self.log}"',
                 "LogLevel Connect", "MaxClients 20", "Allow 127.0.0.1"]
        if basic_auth:
            lines.append(f"BasicAuth {basic_auth[0]} {basic_auth[1]}")
        conf.write_text("\n".join(lines) + "\n")
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", str(conf)],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", self.port)) == 0:
                    return
            time.sleep(0.05)
        self.stop()
        raise RuntimeError("tinyproxy did not start")

    @property
    def address(self) -> str:
        # Named, not 127.0.0.1: Wine's WinHTTP treats a proxy whose name equals the server's
        # as no proxy at all, and every test server here is 127.0.0.1.
        return f"localhost:{self.port}"

    def requests(self) -> list:
        """The request lines the proxy received, in order."""
        if not self.log.exists():
            return []
        text = self.log.read_text(errors="replace")
        return re.findall(r"Request \(file descriptor \d+\): (.+)", text)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def reg(*args):
    done = subprocess.run([str(WINE_RUN), "reg", *args], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    return done.returncode


def winhttp_settings(proxy: str) -> str:
    """WinHttpSettings as `netsh winhttp set proxy` writes it: a header (0x18, a counter,
    flags direct|proxy), then the proxy and the bypass list, each with its length."""
    name = proxy.encode()
    blob = struct.pack("<IIII", 0x18, 0, 3, len(name)) + name + struct.pack("<I", 0)
    return blob.hex()


@contextlib.contextmanager
def proxy_setting(kind: str, proxy: TinyProxy):
    """Sets the proxy one way for the block and removes it afterwards; yields the Windows-side
    environment to add."""
    env = {}
    if kind == "winhttp registry":
        reg("add", CONNECTIONS, "/v", "WinHttpSettings", "/t", "REG_BINARY", "/d",
            winhttp_settings(proxy.address), "/f")
    elif kind == "per-user settings":
        reg("add", PER_USER, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
        reg("add", PER_USER, "/v", "ProxyServer", "/t", "REG_SZ", "/d", proxy.address, "/f")
    elif kind == "http_proxy variable":
        env = {"http_proxy": f"http://{proxy.address}", "https_proxy": f"http://{proxy.address}"}
    try:
        yield env
    finally:
        reg("delete", CONNECTIONS, "/v", "WinHttpSettings", "/f")
        reg("delete", PER_USER, "/v", "ProxyEnable", "/f")
        reg("delete", PER_USER, "/v", "ProxyServer", "/f")


def winhttp_get(access: int, url: str, start: int, env: dict) -> str:
    done = run_windows(WINHTTP_GET, [access, url, start], env=env)
    return done.stdout.splitlines()[0] if done.stdout else done.stderr


@pytest.mark.parametrize("kind, default_access_proxied", [
    ("winhttp registry", True),
    ("http_proxy variable", True),
    ("per-user settings", False),
])
@pytest.mark.parametrize("scheme", ["http", "https"])
def test_which_proxy_settings_wine_takes(tmp_path, workspace, kind, default_access_proxied,
                                         scheme):
    good = installer()
    size = good.stat().st_size
    start = 300_000
    serve = https_server if scheme == "https" else (lambda real: ScriptedServer(real=real))
    with TinyProxy(tmp_path) as proxy, serve(real=good) as server, \
            proxy_setting(kind, proxy) as env:
        url = server.url()
        # The default access type: a resumed GET through the proxy where Wine takes the setting.
        assert winhttp_get(DEFAULT_ACCESS, url, start, env) == \
            f"status=206 bytes={size - start}"
        through = proxy.requests()
        expected = (f"GET {url} HTTP/1.1" if scheme == "http"
                    else f"CONNECT 127.0.0.1:{server.port} HTTP/1.1")
        assert through == ([expected] if default_access_proxied else [])

        # The automatic access type goes direct under Wine, whatever is set.
        assert winhttp_get(AUTOMATIC_ACCESS, url, start, env) == \
            f"status=206 bytes={size - start}"
        workspace.work_folder.mkdir()
        workspace.installer.write_bytes(good.read_bytes()[:start])
        run = workspace.run_setup("--sem-janela", "--sem-executar", "--url", url, env=env)
        assert proxy.requests() == through
    assert run.code == 0
    assert f"{url} -> HTTP 206 (a partir de {start})" in run.lines
    last = server.requests[-1]
    assert (last.range, last.user_agent) == (f"bytes={start}-", "Skyloom-Setup/1.0")
    # A plain http request that came through tinyproxy carries its Via header.
    assert "via" not in last.headers
    if scheme == "http":
        assert ("via" in server.requests[0].headers) == default_access_proxied


def test_proxy_that_wants_credentials_reaches_the_caller_as_407(tmp_path):
    body = os.urandom(1_200_000)
    with TinyProxy(tmp_path, basic_auth=("quem", "segredo")) as proxy, \
            ScriptedServer(real=body) as server, proxy_setting("winhttp registry", proxy) as env:
        # WinHTTP answers no proxy challenge by itself: the 407 is the caller's to judge.
        assert winhttp_get(DEFAULT_ACCESS, server.url(), 0, env).startswith("status=407 ")
        assert proxy.requests() == [f"GET {server.url()} HTTP/1.1"]
    assert server.requests == []


@pytest.mark.parametrize("scheme", ["http", "https"])
def test_named_proxy_carries_the_run_with_a_resume(tmp_path, workspace, scheme):
    good = installer()
    start = 300_000
    serve = https_server if scheme == "https" else (lambda real: ScriptedServer(real=real))
    with TinyProxy(tmp_path) as proxy, serve(real=good) as server:
        url = server.url()
        workspace.work_folder.mkdir()
        workspace.installer.write_bytes(good.read_bytes()[:start])
        run = workspace.run_setup("--sem-janela", "--sem-executar", "--proxy", proxy.address,
                                  "--url", url)
    assert run.code == 0
    assert run.lines[0].endswith(f", proxy {proxy.address}) ===")
    assert f"pelo proxy {proxy.address}, em vez das definicoes automaticas" in run.lines
    assert f"{url} -> HTTP 206 (a partir de {start})" in run.lines
    assert proxy.requests() == [f"GET {url} HTTP/1.1" if scheme == "http"
                                else f"CONNECT 127.0.0.1:{server.port} HTTP/1.1"]
    assert [r.range for r in server.requests] == [f"bytes={start}-"]


@pytest.mark.parametrize("source", ["the named proxy", "the server"])
def test_407_ends_the_run_with_unexpected_status(tmp_path, workspace, source):
    # WinHTTP hands a 407 on to the caller, whoever sent it. Without a window nobody is asked:
    # the run's own logon where Negotiate or NTLM is offered, then its cause and the way out.
    if source == "the named proxy":
        with TinyProxy(tmp_path, basic_auth=("quem", "segredo")) as proxy, \
                ScriptedServer(real=os.urandom(1_200_000)) as server:
            run = workspace.run_setup("--sem-janela", "--proxy", proxy.address, "--url",
                                      server.url())
            assert proxy.requests() == [f"GET {server.url()} HTTP/1.1"]
        assert server.requests == []
        # Basic alone, and nobody to ask.
        assert not any(line.startswith("autenticacao no proxy") for line in run.lines)
    else:
        challenges = (b"Proxy-Authenticate: NTLM", b"Proxy-Authenticate: Negotiate")
        with ScriptedServer([Reply(407, raw_headers=challenges, body=b"auth")] * 2) as server:
            run = workspace.run_setup("--sem-janela", "--url", server.url())
        # The account's logon once, Negotiate first, for the proxy target. Wine refuses it
        # before its security provider and sends the request again without one.
        assert "autenticacao no proxy: Negotiate, pela conta" in run.lines
        assert len(server.requests) == 2
        assert not any("authorization" in r.headers for r in server.requests)
    assert run.code == 12
    assert f"{server.url()} -> HTTP 407 (a partir de 0)" in run.lines
    assert run.lines[-3:] == [
        full_installer_line(), "causa: o proxy pede autenticacao (407)", "erro 12 (detalhe 407)"]
    assert not workspace.work_folder.exists()


# The person's answer, in names tinyproxy's BasicAuth takes and no log line holds. The prompt is
# found by its password field (102); its user name (101) is a combo box with an edit control.
USER, PASSWORD = "ana.proxy", "segredo-7f3k"


def sign_in(password):
    return [f"#102=>type:101:{USER}", f"#102=>type:102:{password}", "#102=>press:1"]


def prompts(driven) -> list:
    return [views for views in driven.windows()
            if any(c["id"] == 102 and c["class"] == "Edit" for v in views for c in v.controls)]


def test_a_person_signs_in_to_the_proxy_once_for_the_run(tmp_path, workspace):
    # The first answer breaks off: the retry meets the proxy's 407 again and gets the answer kept.
    good = installer()
    with TinyProxy(tmp_path, basic_auth=(USER, PASSWORD)) as proxy, \
            ScriptedServer([Reply(200, body=good, drop_after=400_000)], real=good) as server:
        # Named apart: Wine goes direct to a server whose name is the proxy's.
        address, url = f"127.0.0.1:{proxy.port}", server.url(host="localhost")
        run, driven = workspace.run_windowed("--sem-executar", "--proxy", address, "--url", url,
                                             steps=sign_in(PASSWORD))
    assert run.code == 0, run.lines
    [prompt], progress = prompts(driven), driven.windows()[0][0]
    # Titled as the progress dialog (the driver watches that title), owned by it, on its thread,
    # naming the proxy.
    assert {(v.owner, v.thread) for v in prompt} == {(progress.window, progress.thread)}
    assert any(address in c["text"] for c in prompt[-1].controls)
    assert run.lines.count("autenticacao no proxy: Basic, por quem instala") == 2
    assert [r.range for r in server.requests] == [None, "bytes=400000-"]
    assert not any("authorization" in h for r in server.requests for h in r.headers)
    assert USER not in run.log and PASSWORD not in run.log


@pytest.mark.parametrize("status", [401, 407])
def test_a_wrong_password_or_a_cancel_ends_the_run_at_the_proxy(tmp_path, workspace, status):
    # tinyproxy answers a wrong password with a 401, which is never answered; a Cancel leaves the
    # 407. Nothing reaches the server; the failure dialog follows, and is closed (8).
    steps = sign_in("errada") if status == 401 else ["#102=>press:2"]
    with TinyProxy(tmp_path, basic_auth=(USER, PASSWORD)) as proxy, \
            ScriptedServer(real=b"x" * 1000) as server:
        run, driven = workspace.run_windowed("--proxy", f"127.0.0.1:{proxy.port}", "--url",
                                             server.url(host="localhost"),
                                             steps=[*steps, "#8=>press:8"])
        # After a Cancel the proxy sees the first request only.
        assert (len(proxy.requests()) == 1) == (status == 407)
    assert server.requests == [] and len(prompts(driven)) == 1
    assert run.code == 12 and run.lines[-1] == f"erro 12 (detalhe {status})"
    if status == 407:
        assert run.lines[-3:-1] == ["quem instala nao se autenticou no proxy",
                                    "causa: o proxy pede autenticacao (407)"]
    assert PASSWORD not in run.log
