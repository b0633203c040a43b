"""Speed, memory and start-up of Skyloom-Setup.exe under Wine, side by side with the platform's
own cost and with curl, all measured in one run so that the machine's noise cancels out in the
ratios. Prints one table of medians (bench/README.md says what each column means).

    bench/run                     # build folder: $SKYLOOM_BUILD or build/
    bench/run --rounds 7 --sizes 1,100 --layouts overlay

Each round runs, for every installer size and layout and for http and https, four downloads of
the same signed installer from a local nginx, in an order that rotates from round to round.
The two layouts hold the same random payload: "resource" as a resource inside a section (the
tests' installer), "overlay" after the last section, as installer builders lay theirs out. Wine
maps every section of the file for the version calls, so the two differ there.
  program  Skyloom-Setup.exe --sem-janela --sem-executar --url URL (download, trust check,
           clean-up; the check's own time from the file's last close to the log's
           "versao do instalador" line);
  bare     bench/bare_download.exe: the least WinHTTP loop, then one WinVerifyTrust;
  bare+ver the same, then the product's version API calls (GetFileVersionInfoSizeW,
           GetFileVersionInfoW, VerQueryValueW) on the file;
  curl     the Linux side's curl, for scale.
A holder process keeps Wine's desktop up for the whole run, as Windows always has one.
Each round ends with one run of the program per scheme against a server that breaks off at half
the file, to count the body bytes the server sends over both requests. Last comes a release that
changed between two runs: the program killed with half of one release on disk, then run again
against a server that has another release of the same size, once honouring If-Range and once
ignoring it; the body bytes the server sends in that second run are counted.
"""

import argparse
import ctypes
import ctypes.util
import datetime
import os
import pathlib
import platform
import re
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time

SOURCE = pathlib.Path(__file__).resolve().parents[1]
BUILD = pathlib.Path(os.environ.get("SKYLOOM_BUILD", SOURCE / "build")).resolve()
os.environ["SKYLOOM_BUILD"] = str(BUILD)

MIB = 1 << 20
# The program accepts 1 MiB..400 MiB inclusive; signing adds a few KiB to the padding, so the
# largest installer is asked for a little under the bound.
SIZE_LIMIT = 400 * MIB
SIZE_REQUEST = {1: MIB, 100: 100 * MIB, 400: 400 * MIB - 64 * 1024}
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
TOOLS = ("program", "bare", "bare_ver", "curl")
LABELS = {"program": "program", "bare": "bare", "bare_ver": "bare+ver", "curl": "curl"}
LAYOUTS = ("resource", "overlay")
RESUME_CASE = (100, "resource")
# The release that replaces the one a killed run left half of.
CHANGED_VERSION = (1, 1, 41, 0)


def wine_env():
    return {**os.environ, "WINEPREFIX": str(BUILD / "wineprefix"), "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml="}


def win_path(path) -> str:
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


# --- preparing --------------------------------------------------------------------------------

def prepare_build(with_nginx=True):
    if with_nginx:
        subprocess.run(["bash", str(SOURCE / "scripts" / "install-deps"), "nginx-light"],
                       check=True)
    # The product as it ships (scripts/build: its toolchain and flags), then the bench's own tool.
    subprocess.run(["bash", str(SOURCE / "scripts" / "build"), str(BUILD)], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "-j2", "--target", "bare_download"],
                   check=True, stdout=subprocess.DEVNULL)
    # The prefix is made once; one Wine server then serves every run, so no run pays for it.
    subprocess.run([str(BUILD / "wine-run"), "cmd", "/c", "exit"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-p", "60"], env=wine_env(), check=False)


def prepare_installers(cases, version=None):
    """Signed installers, built once per build folder (testkit.make_test_installer caches them:
    the 400 MiB one takes a few minutes the first time); `version`: another product version."""
    from testkit.make_test_installer import Variant, build_installer
    from testkit.signing_pki import make_pki
    from testkit.harness import trust_roots

    pki = make_pki(BUILD / "test-pki")
    trust_roots(*pki.store_roots)
    built = {}
    for size, layout in cases:
        variant = Variant(signer=pki["good"], size=SIZE_REQUEST[size], layout=layout)
        if version:
            variant = Variant(signer=pki["good"], size=SIZE_REQUEST[size], layout=layout,
                              product_version=version)
        path = build_installer(variant, BUILD / "test-installers")
        actual = path.stat().st_size
        if not MIB <= actual <= SIZE_LIMIT:
            sys.exit(f"the {size} MiB installer has {actual} bytes, outside what the program takes")
        built[(size, layout)] = path
    return built


def tls_pki():
    from testkit.harness import trust_roots
    from testkit.tls_pki import make_server_pki

    pki = make_server_pki(BUILD / "bench" / "tls-pki")
    trust_roots(pki.ca_cert)
    return pki


# --- nginx --------------------------------------------------------------------------------------

def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    """nginx on loopback with a configuration and folders of its own; its access log gives each
    request's start ($msec less $request_time) and the bytes it sent."""

    def __init__(self, folder: pathlib.Path, files: dict, pki):
        self.folder = folder
        if folder.exists():
            shutil.rmtree(folder)
        www = folder / "www"
        www.mkdir(parents=True)
        for name, path in files.items():
            os.link(path, www / name)
        self.http_port = free_port()
        self.https_port = free_port()
        self.access_log = folder / "access.log"
        conf = folder / "nginx.conf"
        conf.write_text(f"""
user root;
worker_processes 1;
daemon off;
pid {folder}/nginx.pid;
error_log {folder}/error.log warn;
events {{ worker_connections 64; }}
http {{
    log_format bench '$msec $request_time $status $body_bytes_sent $scheme "$request"';
    access_log {self.access_log} bench;
    client_body_temp_path {folder}/body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    server {{
        listen 127.0.0.1:{self.http_port};
        root {www};
    }}
    server {{
        listen 127.0.0.1:{self.https_port} ssl;
        ssl_certificate {pki.server_cert};
        ssl_certificate_key {pki.server_key};
        root {www};
    }}
}}
""")
        self.process = subprocess.Popen(["nginx", "-p", str(folder), "-e", str(folder / "error.log"),
                                         "-c", str(conf)], stdin=subprocess.DEVNULL)
        for _ in range(100):
            if self._answers():
                break
            time.sleep(0.05)
        else:
            self.stop()
            sys.exit(f"nginx did not start: {(folder / 'error.log').read_text()}")

    def _answers(self) -> bool:
        try:
            with socket.create_connection(("127.0.0.1", self.http_port), timeout=1):
                return True
        except OSError:
            return False

    def url(self, scheme: str, name: str) -> str:
        port = self.http_port if scheme == "http" else self.https_port
        return f"{scheme}://127.0.0.1:{port}/{name}"

    def log_size(self) -> int:
        return self.access_log.stat().st_size if self.access_log.exists() else 0

    def requests_since(self, offset: int) -> list:
        """(start time, status, body bytes) of each request logged after offset. nginx writes
        the line when the request ends, so the caller reads once its client has exited."""
        with open(self.access_log, "rb") as f:
            f.seek(offset)
            text = f.read().decode()
        found = []
        for line in text.splitlines():
            msec, duration, status, sent = line.split()[:4]
            found.append((float(msec) - float(duration), int(status), int(sent)))
        return found

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


# --- measuring one process ------------------------------------------------------------------

class CloseWatch:
    """Notes when a file in a folder is last closed after writing (inotify), which is when the
    program's download hands the file over to the check. The folder may not exist yet: then its
    parent is watched until it is made."""

    IN_CLOSE_WRITE = 0x8
    IN_CREATE = 0x100
    IN_ISDIR = 0x40000000

    def __init__(self, folder: pathlib.Path):
        self.libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self.fd = self.libc.inotify_init()
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify")
        self.folder = folder
        if folder.exists():
            self._watch(folder, self.IN_CLOSE_WRITE)
        else:
            self._watch(folder.parent, self.IN_CREATE)
        self.closed = {}
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _watch(self, folder: pathlib.Path, mask: int):
        if self.libc.inotify_add_watch(self.fd, str(folder).encode(), mask) < 0:
            raise OSError(ctypes.get_errno(), "inotify")

    def _read(self):
        while True:
            try:
                data = os.read(self.fd, 4096)
            except OSError:
                return
            now = time.time()
            at = 0
            while at < len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, at)
                name = data[at + 16:at + 16 + length].rstrip(b"\0").decode()
                at += 16 + length
                if mask & self.IN_CLOSE_WRITE:
                    self.closed[name] = now
                elif mask & self.IN_CREATE and mask & self.IN_ISDIR and \
                        name == self.folder.name:
                    self._watch(self.folder, self.IN_CLOSE_WRITE)

    def stop(self):
        os.close(self.fd)


def server_cpu_ticks() -> int:
    """User and system ticks of this prefix's Wine server (it works for every Windows process
    and is part of the platform's cost); 0 when it cannot be found."""
    prefix = os.stat(BUILD / "wineprefix")
    wanted = f"server-{prefix.st_dev:x}-{prefix.st_ino:x}"
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            # Debian's wineserver is a wrapper that runs wineserver64.
            if not os.path.basename(os.readlink(entry / "exe")).startswith("wineserver") or \
                    not os.readlink(entry / "cwd").endswith(wanted):
                continue
            fields = (entry / "stat").read_text().rsplit(")", 1)[1].split()
            return int(fields[11]) + int(fields[12])
        except OSError:
            continue
    return 0


class Sampler(threading.Thread):
    """Polls the process's memory every few milliseconds: VmHWM, the kernel's own peak of the
    resident set (file-backed pages included), and RssAnon, its private part, whose peak the
    kernel does not keep. The rusage peak is no use here: it also counts the memory of the
    Python process that forked the child."""

    def __init__(self, pid: int):
        super().__init__(daemon=True)
        self.path = f"/proc/{pid}/status"
        self.peak_kib = {"VmHWM": 0, "RssAnon": 0}
        self.done = threading.Event()

    def run(self):
        while not self.done.is_set():
            try:
                with open(self.path) as f:
                    for line in f:
                        name = line.split(":", 1)[0]
                        if name in self.peak_kib:
                            self.peak_kib[name] = max(self.peak_kib[name], int(line.split()[1]))
            except OSError:
                return
            self.done.wait(0.005)


def run_measured(command, env=None) -> dict:
    ticks = server_cpu_ticks()
    start = time.time()
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    sampler = Sampler(process.pid)
    sampler.start()
    out = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.time() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    sampler.done.set()
    sampler.join()
    if process.returncode < 0:
        raise Killed(-process.returncode)
    hz = os.sysconf("SC_CLK_TCK")
    return {"start": start, "wall": wall, "code": process.returncode,
            "cpu": usage.ru_utime + usage.ru_stime, "server_cpu": (server_cpu_ticks() - ticks) / hz,
            "peak_rss": sampler.peak_kib["VmHWM"] / 1024,
            "peak_private": sampler.peak_kib["RssAnon"] / 1024,
            "stdout": out.decode(errors="replace")}


class Killed(Exception):
    """The process was ended by a signal, not by itself."""


def log_time(line: str) -> float:
    stamp = datetime.datetime.strptime(line[:23], "%Y-%m-%d %H:%M:%S.%f")
    return time.mktime(stamp.timetuple()) + stamp.microsecond / 1e6


# --- the bench ----------------------------------------------------------------------------------

class Bench:
    def __init__(self, installers, nginx, pki, work_root, program=None):
        self.program_exe = program or BUILD / "Skyloom-Setup.exe"
        self.installers = installers
        self.nginx = nginx
        self.pki = pki
        temps = [p for p in (BUILD / "wineprefix" / "drive_c" / "users").glob("*/Temp")]
        if len(temps) != 1:
            sys.exit(f"cannot tell the prefix's temporary folder among {temps}")
        # The program's own working folder: every tool writes its copy there, on the same disk.
        self.work = temps[0] / "Skyloom-Setup"
        self.target = self.work / "Skyloom-win-Setup.exe"
        # Wine starts the program elevated, and an elevated run works in %SystemRoot%\Temp.
        self.program_work = BUILD / "wineprefix" / "drive_c" / "windows" / "temp" / "Skyloom-Setup"
        # The log is appended to, never truncated: each run of the bench starts with none.
        self.logs = work_root / "logs"
        if self.logs.exists():
            shutil.rmtree(self.logs)
        self.logs.mkdir(parents=True)
        self.runs = 0

    def _fresh_work(self):
        if self.work.exists():
            shutil.rmtree(self.work)
        self.work.mkdir()

    def program(self, url, size_bytes) -> dict:
        self.runs += 1
        log = self.logs / f"run-{self.runs}.log"
        # The program makes its working folder itself, in %SystemRoot%\Temp: Wine starts it
        # elevated.
        if self.program_work.exists():
            shutil.rmtree(self.program_work)
        watch = CloseWatch(self.program_work)
        try:
            m = run_measured([WINE, str(self.program_exe), "--sem-janela",
                              "--sem-executar", "--log", win_path(log), "--url", url],
                             env=wine_env())
        finally:
            watch.stop()
        lines = log.read_text(encoding="utf-8").splitlines() if log.exists() else []
        signed = [log_time(line) for line in lines if "assinatura valida" in line]
        checked = [log_time(line) for line in lines if "versao do instalador" in line]
        if m["code"] != 0 or not checked or not signed:
            sys.exit(f"the program failed ({m['code']}):\n" + "\n".join(lines))
        closed = watch.closed.get(self.target.name, float("nan"))
        m["check"] = checked[-1] - closed
        m["signature"] = signed[-1] - closed
        m["version"] = checked[-1] - signed[-1]
        return m

    def bare(self, url, size_bytes, extra=()) -> dict:
        self._fresh_work()
        m = run_measured([WINE, str(BUILD / "bench" / "bare_download.exe"), url,
                          win_path(self.target), *extra], env=wine_env())
        fields = dict(re.findall(r"(\w+)=(\S+)", m["stdout"]))
        if m["code"] != 0 or int(fields.get("bytes", -1)) != size_bytes:
            sys.exit(f"bare_download failed ({m['code']}): {m['stdout']}")
        m["signature"] = float(fields["verify_ms"]) / 1000
        m["version"] = float(fields["version_ms"]) / 1000
        m["check"] = m["signature"] + m["version"]
        shutil.rmtree(self.work)
        return m

    def bare_ver(self, url, size_bytes) -> dict:
        return self.bare(url, size_bytes, ["--version-api"])

    def curl(self, url, size_bytes) -> dict:
        self._fresh_work()
        m = run_measured(["curl", "-s", "--cacert", str(self.pki.ca_cert), "-o", str(self.target),
                          "-w", "%{size_download}", url])
        if m["code"] != 0 or int(m["stdout"]) != size_bytes:
            sys.exit(f"curl failed ({m['code']}): {m['stdout']}")
        m["check"] = float("nan")
        shutil.rmtree(self.work)
        return m

    def one(self, tool, scheme, case) -> dict:
        path = self.installers[case]
        url = self.nginx.url(scheme, path.name)
        offset = self.nginx.log_size()
        try:
            m = getattr(self, tool)(url, path.stat().st_size)
        except Killed as killed:
            # On a shared machine something else may end a process; that run is done again.
            print(f"{tool} was ended by signal {killed.args[0]}: once more", flush=True)
            offset = self.nginx.log_size()
            m = getattr(self, tool)(url, path.stat().st_size)
        requests = self.nginx.requests_since(offset)
        m["first_request"] = requests[0][0] - m["start"] if requests else float("nan")
        return m

    def resume(self, scheme, case) -> dict:
        """The program against a server that closes the connection after half the file; the
        second attempt asks for the rest. Counts the body bytes the server sent in all."""
        from testkit.scripted_server import Reply, ScriptedServer, server_context

        path = self.installers[case]
        total = path.stat().st_size
        half = total // 2
        tls = server_context(self.pki.server_cert, self.pki.server_key) if scheme == "https" \
            else None
        with ScriptedServer([Reply(200, body=path, drop_after=half)], tls=tls, real=path) as server:
            self.runs += 1
            log = self.logs / f"run-{self.runs}.log"
            done = subprocess.run([WINE, str(self.program_exe), "--sem-janela",
                                   "--sem-executar", "--log", win_path(log),
                                   "--url", server.url()], env=wine_env(),
                                  stdin=subprocess.DEVNULL, capture_output=True)
            requests = list(server.requests)
        if done.returncode != 0:
            sys.exit(f"the resumed run failed ({done.returncode})")
        # What the server wrote, counted as it went: bytes in flight when the first answer was
        # cut count too.
        return {"sent": sum(r.sent for r in requests), "size": total, "requests": len(requests)}

    def changed_release(self, old, new, honour) -> dict:
        """The program killed with half of `old` on disk, then run again against a server that
        has `new` (of the same size, another ETag) and honours If-Range or ignores it. Counts
        the body bytes the server sends in the second run."""
        from testkit.harness import setup_processes
        from testkit.scripted_server import Reply, ScriptedServer

        half = old.stat().st_size // 2
        tag = {"ETag": '"old"'}
        if self.work.exists():
            shutil.rmtree(self.work)
        # The first answer stops at half the file and waits there until the program is killed.
        first = Reply(200, body=old, headers=tag, stall=(half, 600))
        with ScriptedServer([first], validators=tag, if_range=honour) as server:
            self.runs += 1
            # Through winrun, with the limited token a user's run has: Wine starts everything
            # elevated, and an elevated run does not take the folder a user's run made as its own.
            command = [WINE, str(BUILD / "tests" / "probes" / "winrun.exe"), "--",
                       win_path(self.program_exe), "--sem-janela", "--sem-executar", "--log",
                       win_path(self.logs / f"run-{self.runs}.log"), "--url", server.url()]
            killed = subprocess.Popen(command, env=wine_env(), stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # Written up to the stall, less the part of a read the program still holds.
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline:
                if self.target.exists() and self.target.stat().st_size >= half - (256 << 10):
                    break
                time.sleep(0.05)
            for pid in setup_processes():
                os.kill(pid, 9)
            killed.wait(timeout=60)
            on_disk = self.target.stat().st_size
            server.real, server.validators = new, {"ETag": '"new"'}
            before = len(server.requests)
            self.runs += 1
            command[command.index("--log") + 1] = win_path(self.logs / f"run-{self.runs}.log")
            done = subprocess.run(command, env=wine_env(), stdin=subprocess.DEVNULL,
                                  capture_output=True)
            requests = server.requests[before:]
        if b"exit=0" not in done.stdout.splitlines():
            sys.exit(f"the run after the release changed failed: {done.stdout!r}")
        return {"sent": sum(r.sent for r in requests), "size": new.stat().st_size,
                "requests": len(requests), "on_disk": on_disk}


def changed_report(changed) -> list:
    out = ["A release that changed between two runs (the first killed at half the file): body "
           "bytes the server sent in the second run / the new release's size"]
    for honour, m in changed.items():
        how = "honours" if honour else "ignores"
        out.append(f"{case_name(RESUME_CASE)} http   server {how} If-Range  "
                   f"{m['sent'] / m['size']:.6f} ({m['sent']:,} of {m['size']:,} bytes, "
                   f"{m['requests']} requests; {m['on_disk']:,} bytes of the old one on disk)")
    return out


# --- the report ---------------------------------------------------------------------------------

def median(values):
    values = [v for v in values if v == v]
    return statistics.median(values) if values else float("nan")


def machine() -> str:
    model = "unknown"
    for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    wine = subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()
    nginx = subprocess.run(["nginx", "-v"], capture_output=True, text=True).stderr.strip()
    load = " ".join(pathlib.Path("/proc/loadavg").read_text().split()[:3])
    return (f"{os.cpu_count()} cores, {model}, {platform.system()} {platform.release()}, "
            f"{wine}, {nginx.replace('nginx version: ', '')}, load average {load}")


def case_name(case) -> str:
    size, layout = case
    return f"{size:>3} MiB {layout:8}"


def report(results, resumes, changed, cases, rounds, seconds) -> str:
    out = [f"Skyloom-Setup bench, {datetime.datetime.utcnow():%Y-%m-%d %H:%M} UTC: medians of "
           f"{rounds} rounds ({seconds / 60:.1f} min)",
           machine(), ""]
    header = (f"{'size':>7} {'layout':8} {'scheme':6} {'tool':8} {'wall s':>7} {'CPU s':>6} "
              f"{'check s':>7} {'RSS MiB':>8} {'private MiB':>11} {'1st req ms':>10}")
    out += [header, "-" * len(header)]
    med = {}
    for case in cases:
        for scheme in ("http", "https"):
            for tool in TOOLS:
                runs = results[(case, scheme, tool)]
                m = {k: median([r[k] for r in runs]) for k in
                     ("wall", "cpu", "server_cpu", "check", "peak_rss", "peak_private",
                      "first_request")}
                m["cpu_all"] = median([r["cpu"] + r["server_cpu"] for r in runs])
                med[(case, scheme, tool)] = m
                check = f"{m['check']:7.3f}" if m["check"] == m["check"] else f"{'':7}"
                out.append(f"{case_name(case)} {scheme:6} {LABELS[tool]:8} {m['wall']:7.3f} "
                           f"{m['cpu_all']:6.3f} {check} {m['peak_rss']:8.1f} "
                           f"{m['peak_private']:11.1f} {m['first_request'] * 1000:10.0f}")
            p = med[(case, scheme, "program")]
            for base, label in (("bare", "p/bare"), ("bare_ver", "p/b+ver")):
                b = med[(case, scheme, base)]
                out.append(f"{'':>16} {scheme:6} {label:8} {p['wall'] / b['wall']:7.3f} "
                           f"{p['cpu_all'] / b['cpu_all']:6.3f} {p['check'] / b['check']:7.3f} "
                           f"{p['peak_rss'] - b['peak_rss']:+8.1f} "
                           f"{p['peak_private'] - b['peak_private']:+11.1f} "
                           f"{(p['first_request'] - b['first_request']) * 1000:+10.0f}")
        out.append("")
    if resumes:
        out.append("Resumed after a break at 50 %: body bytes the server sent / the file's size")
    for scheme, runs in resumes.items():
        ratios = [r["sent"] / r["size"] for r in runs]
        out.append(f"{case_name(RESUME_CASE)} {scheme:6} {median(ratios):.6f} "
                   f"({runs[0]['sent']:,} of {runs[0]['size']:,} bytes, "
                   f"{runs[0]['requests']} requests)")
    if changed:
        out.append("")
        out += changed_report(changed)
    out.append("")
    out.append("The check in two (s): the signature, then the version (program: from its log's "
               "\"assinatura valida\" line)")
    for case in cases:
        for scheme in ("http", "https"):
            parts = []
            for tool in ("program", "bare_ver"):
                runs = results[(case, scheme, tool)]
                parts.append(f"{LABELS[tool]} {median([r['signature'] for r in runs]):.3f} + "
                             f"{median([r['version'] for r in runs]):.3f}")
            out.append(f"  {case_name(case)} {scheme:6} " + ", ".join(parts))
    out.append("")
    out.append("First request after the process started, every size together (ms):")
    for scheme in ("http", "https"):
        firsts = {tool: median([r["first_request"] * 1000 for case in cases
                                for r in results[(case, scheme, tool)]])
                  for tool in ("program", "bare", "bare_ver")}
        out.append(f"  {scheme:6} program {firsts['program']:.0f}, bare {firsts['bare']:.0f}, "
                   f"bare+ver {firsts['bare_ver']:.0f}: program - bare "
                   f"{firsts['program'] - firsts['bare']:+.0f}")
    out.append("")
    out.append("Goals (program against bare): wall and CPU ratio <= 1.05; RSS and private "
               "within 2 MiB and flat from the smallest size to the largest; first request "
               "within 50 ms; resume ratio 1.")
    for layout in dict.fromkeys(layout for _, layout in cases):
        ends = [case for case in cases if case[1] == layout]
        first, last = ends[0], ends[-1]
        for scheme in ("http", "https"):
            for tool in ("program", "bare", "bare_ver"):
                growth = [med[(last, scheme, tool)][k] - med[(first, scheme, tool)][k]
                          for k in ("peak_rss", "peak_private")]
                out.append(f"  {LABELS[tool]} over {scheme}, {layout}, {first[0]} MiB -> "
                           f"{last[0]} MiB: RSS {growth[0]:+.1f} MiB, private {growth[1]:+.1f} MiB")
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--sizes", default="1,100,400",
                        help="installer sizes in MiB, of 1, 100 and 400")
    parser.add_argument("--layouts", default=",".join(LAYOUTS),
                        help="where the payload lies: resource, overlay, or resource,overlay")
    parser.add_argument("--no-resume", action="store_true",
                        help="skip the resumed run and the release that changed")
    parser.add_argument("--changed-release-only", action="store_true",
                        help="only the release that changed between two runs (no nginx)")
    parser.add_argument("--program", type=pathlib.Path,
                        help="the Skyloom-Setup.exe to measure (default: the build folder's)")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    if any(s not in SIZE_REQUEST for s in sizes):
        parser.error("sizes are 1, 100 and 400")
    layouts = args.layouts.split(",")
    if any(layout not in LAYOUTS for layout in layouts):
        parser.error("layouts are resource and overlay")
    cases = [(size, layout) for size in sizes for layout in layouts]
    began = time.time()
    print("preparing: build, Wine prefix, test PKI, signed installers", flush=True)
    if args.changed_release_only:
        prepare_build(with_nginx=False)
        old = prepare_installers([RESUME_CASE])[RESUME_CASE]
        new = prepare_installers([RESUME_CASE], CHANGED_VERSION)[RESUME_CASE]
        bench = Bench({}, None, None, BUILD / "bench", args.program)
        text = "\n".join(changed_report({honour: bench.changed_release(old, new, honour)
                                         for honour in (True, False)}))
        print()
        print(f"{args.program or BUILD / 'Skyloom-Setup.exe'}:")
        print(text)
        return
    prepare_build()
    installers = prepare_installers(cases)
    pki = tls_pki()
    work_root = BUILD / "bench"
    nginx = Nginx(work_root / "nginx", {p.name: p for p in installers.values()}, pki)
    bench = Bench(installers, nginx, pki, work_root, args.program)
    holder = subprocess.Popen([WINE, str(BUILD / "bench" / "bare_download.exe"), "--hold"],
                              env=wine_env(), stdin=subprocess.PIPE)
    results = {(case, scheme, tool): [] for case in cases for scheme in ("http", "https")
               for tool in TOOLS}
    resumes = {"http": [], "https": []}
    changed = {}
    try:
        # Unmeasured: the first runs after the trust store changed are slower than any later.
        for tool in TOOLS:
            bench.one(tool, "https", cases[0])
        for round_ in range(args.rounds):
            print(f"round {round_ + 1} of {args.rounds}", flush=True)
            order = TOOLS[round_ % len(TOOLS):] + TOOLS[:round_ % len(TOOLS)]
            if round_ % 2:
                order = order[::-1]
            for case in cases:
                for scheme in ("http", "https"):
                    for tool in order:
                        results[(case, scheme, tool)].append(bench.one(tool, scheme, case))
            if not args.no_resume and RESUME_CASE in installers:
                for scheme in ("http", "https"):
                    resumes[scheme].append(bench.resume(scheme, RESUME_CASE))
        if not args.no_resume and RESUME_CASE in installers:
            new = prepare_installers([RESUME_CASE], CHANGED_VERSION)[RESUME_CASE]
            changed = {honour: bench.changed_release(installers[RESUME_CASE], new, honour)
                       for honour in (True, False)}
    finally:
        nginx.stop()
        holder.stdin.close()
        holder.wait(timeout=30)
    text = report(results, {k: v for k, v in resumes.items() if v}, changed, cases, args.rounds,
                  time.time() - began)
    (work_root / "last-run.txt").write_text(text + "\n")
    print()
    print(text)


if __name__ == "__main__":
    main()
