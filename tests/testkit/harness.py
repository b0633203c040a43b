"""Runs the real Windows programs of the build under the build's own Wine prefix."""

import contextlib
import dataclasses
import json
import os
import pathlib
import re
import subprocess
import tempfile
import threading
import time

BUILD = pathlib.Path(os.environ.get("SKYLOOM_BUILD", pathlib.Path(__file__).parents[2] / "build"))
SOURCE = pathlib.Path(os.environ.get("SKYLOOM_SOURCE", pathlib.Path(__file__).parents[2]))
WINE_RUN = BUILD / "wine-run"
PROBES = BUILD / "tests" / "probes"  # the Windows-side helpers of the tests
# %SystemRoot%\Temp of the build's prefix: where an elevated run works and logs.
MACHINE_TEMP = BUILD / "wineprefix" / "drive_c" / "windows" / "temp"
WINRUN = PROBES / "winrun.exe"
SETUP_EXE = BUILD / "Skyloom-Setup.exe"
ADDROOT = PROBES / "addroot.exe"
DIALOG_DRIVER = PROBES / "dialog_driver.exe"
HOLDFILE = PROBES / "holdfile.exe"
LOGWRITER = PROBES / "logwriter.exe"
LINK = re.compile(r"<a(?: [^>]*)?>(.*?)</a>")


def win_path(path) -> str:
    """The Windows name of a Unix path (Wine maps / to Z:)."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def windows_command(exe, args=(), env=None, inherit_file=None, elevated=False):
    """Command line that starts exe under Wine through winrun, with env set on the Windows side
    (Wine takes TEMP and TMP from the prefix, not from the Unix environment). inherit_file: a
    file that winrun opens with an inheritable handle and hands down to exe. exe runs with a
    user's limited token, as on Windows, unless elevated."""
    pairs = [f"{k}={v}" for k, v in (env or {}).items()]
    if inherit_file is not None:
        pairs.append(f"--inherit-file={win_path(inherit_file)}")
    if elevated:
        pairs.append("--elevated")
    return [str(WINE_RUN), str(WINRUN), *pairs, "--", win_path(exe), *map(str, args)]


@dataclasses.dataclass
class Finished:
    code: int  # the full 32-bit exit code
    stdout: str
    stderr: str


def _exit_code(stdout: str, returncode: int) -> int:
    for line in reversed(stdout.splitlines()):
        if line.startswith("exit="):
            return int(line[5:])
    return returncode


def run_windows(exe, args=(), env=None, timeout=180, cwd=None, unix_env=None,
                inherit_file=None, elevated=False) -> Finished:
    """unix_env: variables for Wine itself, such as LC_ALL, which sets the UI language. The
    output goes to files, not pipes: a process the run starts by the way (Wine's desktop,
    explorer.exe, when none is running) inherits them and would keep a pipe open long after the
    run has ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run(windows_command(exe, args, env, inherit_file, elevated),
                              stdout=out, stderr=err, timeout=timeout, cwd=cwd,
                              env={**os.environ, **(unix_env or {})})
        texts = []
        for file in (out, err):
            file.seek(0)
            texts.append(file.read().decode("utf-8", errors="replace"))
    return Finished(_exit_code(texts[0], done.returncode), *texts)


def start_windows(exe, args=(), env=None, unix_env=None, elevated=False) -> subprocess.Popen:
    return subprocess.Popen(windows_command(exe, args, env, elevated=elevated),
                            stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, errors="replace",
                            env={**os.environ, **(unix_env or {})})


def finish(process: subprocess.Popen, timeout=180) -> Finished:
    out, err = process.communicate(timeout=timeout)
    return Finished(_exit_code(out, process.returncode), out, err)


def trust_roots(*pem_files) -> None:
    """Adds test roots to the machine Root store of the build's own prefix, nothing else."""
    added = run_windows(ADDROOT, [win_path(p) for p in pem_files])
    assert added.code == 0, added.stdout + added.stderr


def build_setting(name: str) -> str:
    """A text setting of the build, as the generated build_config.h holds it."""
    config = (BUILD / "generated" / "build_config.h").read_text()
    return re.search(rf'#define {name} L"(.*)"', config).group(1)


def full_installer_line() -> str:
    """The log's line that names the full installer after a failure without a window."""
    return f"o instalador completo esta' em {build_setting('SKYLOOM_FULL_INSTALLER_URL')}"


def log_messages(path) -> list:
    """The messages of a log file, without their time stamps; [] when there is no file."""
    path = pathlib.Path(path)
    if not path.exists():
        return []
    return [line[25:] for line in path.read_bytes().decode("utf-8").split("\r\n") if line]


@dataclasses.dataclass
class DialogView:
    """One task dialog as tests/probes/dialog_driver.exe read it: its child controls in creation
    order (Wine builds the task dialog from ordinary controls; texts that may hold links are SysLink
    controls, read with their markup)."""

    window: str
    controls: list  # dicts: class, id, visible, text; position and marquee for the bar
    time: float  # time.monotonic() when the driver printed it
    rect: tuple = (0, 0, 0, 0)  # left, top, right, bottom on the screen
    owner: str = ""  # the owner window's handle, as `window` is written
    thread: int = 0  # the id of the thread the window belongs to

    def _statics(self):
        return [c for c in self.controls if c["class"] in ("Static", "SysLink")]

    def _texts(self):
        return [c["text"] for c in self._statics() if c["visible"] and c["text"].strip()]

    @property
    def instruction(self) -> str:
        texts = self._texts()
        return texts[0] if texts else ""

    @property
    def content(self) -> str:
        """The content as shown, links as their text; "" while it is the marquee faces' blank."""
        texts = self._texts()
        return LINK.sub(r"\1", texts[1]) if len(texts) > 1 else ""

    @property
    def links(self) -> list:
        """The texts of the content's links."""
        texts = self._texts()
        return LINK.findall(texts[1]) if len(texts) > 1 else []

    @property
    def details(self) -> str:
        """The collapsed details: the text static after the content, shown or not."""
        statics = self._statics()
        return statics[3]["text"] if len(statics) > 3 else ""

    @property
    def buttons(self) -> dict:
        """Command buttons by id (the details toggle has id 0)."""
        return {c["id"]: c["text"] for c in self.controls if c["class"] == "Button" and c["id"]}

    @property
    def details_toggle(self) -> str:
        """The text of the details toggle (the button with id 0), "" when there is none."""
        return next((c["text"] for c in self.controls if c["class"] == "Button" and not c["id"]),
                    "")

    @property
    def default_button(self):
        found = [c["id"] for c in self.controls
                 if c["class"] == "Button" and c["id"] and c.get("default")]
        return found[0] if len(found) == 1 else None

    @property
    def bar(self):
        """(position, marquee) of the progress bar, None when there is none."""
        for c in self.controls:
            if c["class"] == "msctls_progress32":
                return c["position"], c["marquee"]
        return None


def settled(views) -> "DialogView":
    """The last view of one window that shows its buttons, instruction and content: not one read
    while the dialog was still being built or already being taken down."""
    whole = [v for v in views if v.buttons and v.instruction and v.content]
    assert whole, views
    return whole[-1]


@dataclasses.dataclass
class DriverRun:
    views: list  # DialogView, in the order seen
    events: list  # (name, detail, time): "done" for each step, "gone", "timeout"
    code: int

    def windows(self) -> list:
        """The views grouped by window, in the order the windows appeared."""
        grouped = {}
        for view in self.views:
            grouped.setdefault(view.window, []).append(view)
        return list(grouped.values())

    def event_time(self, name: str, detail: str = None) -> float:
        return next(t for n, d, t in self.events if n == name and detail in (None, d))


class DialogDriver:
    """tests/probes/dialog_driver.exe on the dialogs titled `title`; steps "WHEN=>ACTION" (see the
    tool). Its lines are read as they come, with the time each arrived."""

    def __init__(self, steps=(), title="Skyloom", seconds=90, on_view=None, redraw=False):
        options = ["--redraw"] if redraw else []
        self.process = start_windows(DIALOG_DRIVER, [title, seconds, *options, *steps])
        self.views, self.events = [], []
        self.on_view = on_view  # called with each DialogView as it arrives
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            if not line.startswith("{"):
                continue
            now = time.monotonic()
            seen = json.loads(line)
            if "event" in seen:
                self.events.append((seen["event"], seen["detail"], now))
            else:
                view = DialogView(seen["window"], seen["controls"], now, tuple(seen["rect"]),
                                  seen["owner"], seen["thread"])
                self.views.append(view)
                if self.on_view:
                    self.on_view(view)

    def finish(self, timeout=120) -> DriverRun:
        self.process.wait(timeout=timeout)
        self.reader.join(timeout=10)
        return DriverRun(self.views, self.events, self.process.returncode)


@dataclasses.dataclass
class SetupRun:
    code: int
    log: str  # the whole log file, decoded; "" when there is none
    lines: list  # messages of the log, without time stamps
    stdout: str
    ended: float = 0.0  # time.monotonic() when the run was seen to end


class Workspace:
    """A temporary folder of the test's own, made the TEMP of the programs it starts."""

    def __init__(self, root: pathlib.Path):
        self.root = root
        self.temp = root / "temp"
        self.temp.mkdir(parents=True, exist_ok=True)
        self.env = {"TEMP": win_path(self.temp), "TMP": win_path(self.temp)}

    @property
    def work_folder(self) -> pathlib.Path:
        return self.temp / "Skyloom-Setup"

    @property
    def installer(self) -> pathlib.Path:
        return self.work_folder / "Skyloom-win-Setup.exe"

    @property
    def log_file(self) -> pathlib.Path:
        return self.temp / "Skyloom-Setup.log"

    def read_log(self, path=None) -> str:
        path = pathlib.Path(path or self.log_file)
        return path.read_bytes().decode("utf-8") if path.exists() else ""

    @staticmethod
    def messages(log: str) -> list:
        return [line[25:] for line in log.split("\r\n") if line]

    def run_setup(self, *args, env=None, timeout=180, log_path=None, cwd=None,
                  unix_env=None, inherit_file=None) -> SetupRun:
        done = run_windows(SETUP_EXE, args, {**self.env, **(env or {})}, timeout, cwd, unix_env,
                           inherit_file)
        log = self.read_log(log_path)
        return SetupRun(done.code, log, self.messages(log), done.stdout)

    def start_setup(self, *args, env=None, unix_env=None, elevated=False) -> subprocess.Popen:
        return start_windows(SETUP_EXE, args, {**self.env, **(env or {})}, unix_env, elevated)

    def run_windowed(self, *args, steps=(), env=None, timeout=180, unix_env=None, on_view=None,
                     redraw=False, elevated=False, log_path=None):
        """A run with its windows, driven by the dialog driver's steps: (SetupRun, DriverRun).
        on_view and redraw: see DialogDriver. log_path: where the run logs, when not in the
        workspace (an elevated run logs in MACHINE_TEMP)."""
        driver = DialogDriver(steps, on_view=on_view, redraw=redraw)
        setup = self.start_setup(*args, env=env, unix_env=unix_env, elevated=elevated)
        done = finish(setup, timeout)
        ended = time.monotonic()
        driven = driver.finish(timeout)
        log = self.read_log(log_path)
        lines = self.messages(log)
        # A run that quietly went without its windows would pass many a dialog test for nothing.
        headers = [line for line in lines if line.startswith("=== Skyloom-Setup")]
        assert headers and "sem janela" not in headers[-1], headers
        assert "a janela de progresso nao apareceu: continuo sem janela" not in lines
        return SetupRun(done.code, log, lines, done.stdout, ended), driven


def setup_processes():
    """Unix pids of the Wine processes that run Skyloom-Setup.exe itself, in this build's prefix
    only: a run of another build folder on the same machine is none of the caller's."""
    prefix = f"WINEPREFIX={BUILD / 'wineprefix'}".encode()
    pids = []
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            argv = (entry / "cmdline").read_bytes().split(b"\0")
            environment = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if argv and argv[0].lower().endswith(b"skyloom-setup.exe") and prefix in environment:
            pids.append(int(entry.name))
    return pids


def ended(process, timeout=120) -> int:
    """The exit code winrun prints, without waiting for the end of its output: Wine's own
    services, when this program started them, keep the pipes open for minutes."""
    deadline = time.monotonic() + timeout
    code = None
    while code is None and time.monotonic() < deadline:
        line = process.stdout.readline()
        if not line:
            break
        if line.startswith("exit="):
            code = int(line[5:])
    process.wait(timeout=max(1, deadline - time.monotonic()))
    process.stdout.close()
    process.stderr.close()
    return process.returncode if code is None else code


@contextlib.contextmanager
def held(path: pathlib.Path, flag: pathlib.Path, *options):
    """Holds path (a file or folder, or with --cwd as the current folder) until the block ends
    or the test creates flag."""
    holder = start_windows(HOLDFILE, [win_path(path), "--until", win_path(flag), *options])
    try:
        first = holder.stdout.readline().strip()
        assert first == "held", first + holder.stderr.read()
        yield
    finally:
        flag.touch()
        ended(holder, timeout=60)
