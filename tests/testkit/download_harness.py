"""Runs tests/probes/download_probe.exe (the download engine without the worker) under Wine and
reads what it printed and logged. Shared by the test_download*.py files."""

import dataclasses
import os
import pathlib
import re
import subprocess
import typing

from testkit.harness import BUILD, PROBES, WINE_RUN, log_messages, win_path

PROBE = PROBES / "download_probe.exe"
WINEPREFIX = BUILD / "wineprefix"

_FIELD = re.compile(r"(\w+)=(\S+)")


@dataclasses.dataclass
class ProbeResult:
    """One downloadInstaller call as the probe printed it."""

    result: int
    detail: int
    retryMinutes: int
    neededMegabytes: int
    downloaded: int
    total: int
    resumedDownload: int
    phase: int
    slotEmpty: int
    canceller: str
    closedHandle: str
    exception: typing.Optional[str] = None


@dataclasses.dataclass
class ProbeRun:
    results: list
    lines: list  # log messages without their time stamps, every run of the process
    stdout: str
    stderr: str

    @property
    def one(self) -> ProbeResult:
        assert len(self.results) == 1, self.stdout
        return self.results[0]


def _parse(stdout: str) -> list:
    results = []
    for line in stdout.splitlines():
        if not line.startswith("probe "):
            continue
        fields = dict(_FIELD.findall(line))
        values = {}
        for f in dataclasses.fields(ProbeResult):
            if f.name in fields:
                raw = fields[f.name]
                values[f.name] = raw if f.name in ("canceller", "closedHandle", "exception") \
                    else int(raw)
        results.append(ProbeResult(**values))
    return results


class Probe:
    """One test's probe: its installer file, work folder and log in the test's own folder."""

    def __init__(self, folder: pathlib.Path):
        self.folder = pathlib.Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.installer = self.folder / "Skyloom-win-Setup.exe"
        self.work_folder = self.folder
        self.log = self.folder / "probe.log"

    def seed(self, data: bytes) -> None:
        """Leaves `data` in the installer file, as an earlier run would have."""
        self.installer.write_bytes(data)

    def file(self) -> bytes:
        return self.installer.read_bytes() if self.installer.exists() else b""

    def run(self, *urls, runs: int = 1, cancel_after_ms: typing.Optional[int] = None,
            cancel_after_bytes: typing.Optional[int] = None,
            installer: typing.Optional[pathlib.Path] = None,
            work_folder: typing.Optional[pathlib.Path] = None,
            trace: bool = False, timeout: float = 120) -> ProbeRun:
        if self.log.exists():
            self.log.unlink()
        args = ["--installer", win_path(installer or self.installer),
                "--work-folder", win_path(work_folder or self.work_folder),
                "--log", win_path(self.log), "--runs", str(runs)]
        for url in urls:
            args += ["--url", url]
        if cancel_after_ms is not None:
            args += ["--cancel-after-ms", str(cancel_after_ms)]
        if cancel_after_bytes is not None:
            args += ["--cancel-after-bytes", str(cancel_after_bytes)]
        if trace:
            # wine-run silences Wine's debug channels; the trace of WinHTTP's calls shows
            # how often each handle was closed.
            env = {**os.environ, "WINEPREFIX": str(WINEPREFIX),
                   "WINEDEBUG": "-all,trace+winhttp", "WINEDLLOVERRIDES": "mscoree,mshtml="}
            command = ["/usr/lib/wine/wine64", str(PROBE), *args]
        else:
            env = None
            command = [str(WINE_RUN), str(PROBE), *args]
        done = subprocess.run(command, capture_output=True, text=True, errors="replace",
                              timeout=timeout, env=env)
        results = _parse(done.stdout)
        assert len(results) == runs, f"probe printed {done.stdout!r}, {done.stderr[-3000:]!r}"
        return ProbeRun(results, log_messages(self.log), done.stdout, done.stderr)


def close_count(trace: str, handle: str) -> int:
    """How many times Wine's trace shows WinHttpCloseHandle called on this handle."""
    return len(re.findall(rf":WinHttpCloseHandle {handle}\b", trace))

