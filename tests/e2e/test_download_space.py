"""Disk space: the free-space test before the body, and a disk that fills up while the body is
written. A small tmpfs, mounted for the test (root only), plays the small disk."""

import os

from testkit.download_harness import Probe
from testkit.scripted_server import ScriptedServer

MIB = 1 << 20
MARGIN = 400 * MIB
ORIGIN = os.urandom(6_000_000)
SIZE = len(ORIGIN)


def test_too_little_free_space_for_the_rest_plus_400_mib(tmp_path, small_volume):
    work = small_volume(16 * MIB)
    probe = Probe(tmp_path / "probe")
    probe.seed(ORIGIN[:1_000_000])
    with ScriptedServer(real=ORIGIN) as server:
        url = server.url()
        run = probe.run(url, work_folder=work)
    result = run.one
    needed = SIZE - 1_000_000 + MARGIN
    assert (result.result, result.neededMegabytes, result.detail) == (30, needed >> 20, 0)
    # The size was accepted before the space test; no body was read.
    assert (result.total, result.phase, result.downloaded) == (SIZE, 0, 1_000_000)
    assert probe.file() == ORIGIN[:1_000_000]
    assert run.lines == [f"{url} -> HTTP 206 (a partir de 1000000)"]
    assert server.ranges == ["bytes=1000000-"]


def test_a_disk_that_fills_up_while_writing(tmp_path, small_volume):
    disk = small_volume(2 * MIB)
    probe = Probe(tmp_path / "probe")
    installer = disk / "Skyloom-win-Setup.exe"
    # The free-space test asks about the work folder, which stays on the big disk: the body
    # starts, and the small disk fills up under it.
    with ScriptedServer(real=ORIGIN) as server:
        url = server.url()
        run = probe.run(url, installer=installer)
    result = run.one
    assert result.result == 30
    assert result.detail in (112, 39)
    assert result.neededMegabytes == (SIZE - result.downloaded + MARGIN) >> 20
    kept = installer.read_bytes()
    assert 0 < result.downloaded <= len(kept) <= 2 * MIB
    assert kept == ORIGIN[:len(kept)]
    assert run.lines == [f"{url} -> HTTP 200 (a partir de 0)"]
    assert len(server.requests) == 1
