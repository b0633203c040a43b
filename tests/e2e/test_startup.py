"""Start-up of the real Skyloom-Setup.exe under Wine: run header, language, single instance,
working folder, log file."""

import re
import socket
import threading

import pytest

from testkit.harness import (LOGWRITER, PROBES, SETUP_EXE, Workspace, finish, run_windows,
                             settled, start_windows, win_path)
from testkit.scripted_server import Reply, ScriptedServer

# A URL that the download refuses without touching the network: runs stay short.
REFUSED = "http://refused.invalid/Skyloom-win-Setup.exe"


@pytest.mark.parametrize("args, header", [
    ([], "=== Skyloom-Setup 1.0 (lingua pt) ==="),
    (["--sem-janela"], "=== Skyloom-Setup 1.0 (lingua pt, sem janela) ==="),
    (["--sem-executar"], "=== Skyloom-Setup 1.0 (lingua pt, sem executar) ==="),
    (["--sem-executar", "--sem-janela"],
     "=== Skyloom-Setup 1.0 (lingua pt, sem janela, sem executar) ==="),
    (["--sem-janela", "--sem-janela", "--lingua", "fr", "--lingua", "it"],
     "=== Skyloom-Setup 1.0 (lingua it, sem janela) ==="),
    # Not options: the value of --url, capitals, the equals form.
    (["--url", "--sem-janela", "--SEM-EXECUTAR", "--lingua=de"],
     "=== Skyloom-Setup 1.0 (lingua pt) ==="),
])
def test_run_header_names_language_and_options(workspace, args, header):
    full = ("--url", REFUSED, "--lingua", "pt", *args)
    if "sem janela" in header:
        run = workspace.run_setup(*full)
    else:
        # The refused URL ends in the failure dialog, in the language asked for; its Close
        # ends the run.
        run, driven = workspace.run_windowed(*full, steps=["press:8"])
        failure = settled(driven.windows()[-1])
        assert failure.instruction == "Não foi possível instalar o Skyloom"
        assert failure.buttons.keys() == {4, 8}
        assert run.code == 15
    assert run.lines[0] == header
    assert run.lines.count(header) == 1


@pytest.mark.parametrize("locale, lingua, code", [
    ("pt_BR.UTF-8", None, "pt"),
    ("de_CH.UTF-8", None, "de"),
    ("es_ES.UTF-8", None, "es"),
    ("ja_JP.UTF-8", None, "en"),
    ("de_CH.UTF-8", "it", "it"),
    ("de_CH.UTF-8", "PT", "de"),
    ("fr_FR.UTF-8", "pt-PT", "fr"),
])
def test_ui_language_of_the_process_picks_the_catalogue(workspace, locale, lingua, code):
    args = ["--sem-janela", "--url", REFUSED] + (["--lingua", lingua] if lingua else [])
    run = workspace.run_setup(*args, unix_env={"LC_ALL": locale, "LANG": locale})
    assert run.lines[0] == f"=== Skyloom-Setup 1.0 (lingua {code}, sem janela) ==="


def test_log_is_utf8_crlf_with_time_stamps(workspace):
    run = workspace.run_setup("--sem-janela", "--url", REFUSED)
    raw = workspace.log_file.read_bytes()
    assert not raw.startswith(b"\xef\xbb\xbf")
    assert raw.endswith(b"\r\n")
    assert raw.count(b"\r\n") == len(run.lines) >= 2
    assert b"\n" not in raw.replace(b"\r\n", b"")
    import re
    for line in run.log.split("\r\n")[:-1]:
        assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  \S.*", line), line


def test_last_log_option_wins_and_relative_path_uses_current_folder(workspace):
    cwd = workspace.root / "cwd"
    cwd.mkdir()
    run = workspace.run_setup("--sem-janela", "--log", "a.log", "--url", REFUSED, "--log",
                              "b.log", cwd=cwd)
    assert not (cwd / "a.log").exists()
    assert not workspace.log_file.exists()
    lines = Workspace.messages((cwd / "b.log").read_bytes().decode("utf-8"))
    assert lines[0] == "=== Skyloom-Setup 1.0 (lingua en, sem janela) ==="
    assert run.code != 0


def test_two_runs_append_to_the_same_log(workspace):
    first = workspace.run_setup("--sem-janela", "--url", REFUSED)
    second = workspace.run_setup("--sem-janela", "--url", REFUSED, "--lingua", "de")
    assert second.lines[:len(first.lines)] == first.lines
    assert second.lines[len(first.lines)] == "=== Skyloom-Setup 1.0 (lingua de, sem janela) ==="


def test_log_in_missing_folder_changes_nothing(workspace):
    with_log = workspace.run_setup("--sem-janela", "--url", REFUSED)
    missing = workspace.root / "no-such-folder" / "x.log"
    without = workspace.run_setup("--sem-janela", "--url", REFUSED, "--log", win_path(missing))
    assert without.code == with_log.code
    assert not missing.parent.exists()
    assert not workspace.work_folder.exists()


def test_elevated_runs_log_only_in_a_folder_where_its_path_says(workspace, machine_temp):
    # An elevated run's --log: a folder reached through a link, at its last step or above it,
    # gives way to the default log in %SystemRoot%\Temp, never to a file beside the path refused;
    # a plain folder is used.
    real = workspace.root / "logs"
    real.mkdir()
    (workspace.root / "linked").symlink_to(real)
    (workspace.root / "above").mkdir()
    (workspace.root / "above" / "logs").mkdir()
    (workspace.root / "parent").symlink_to(workspace.root / "above")
    root = win_path(workspace.root)  # win_path resolves links: the rest is written by hand
    refused = [f"{root}\\linked\\x.log", f"{root}\\parent\\logs\\x.log"]
    for given in (*refused, f"{root}\\logs\\x.log"):
        done = run_windows(SETUP_EXE, ["--sem-janela", "--url", REFUSED, "--log", given],
                           workspace.env, elevated=True)
        assert done.code == 15, given
    lines = Workspace.messages(workspace.read_log(machine_temp / "Skyloom-Setup.log"))
    reasons = [line for line in lines if line.startswith("o registo fica em")]
    assert reasons == [f"o registo fica em C:\\windows\\Temp\\Skyloom-Setup.log: {given} nao serve "
                       f"(a pasta {why})" for given, why in zip(refused, ("e' uma ligacao",
                                                                          "leva a outro sitio"))]
    assert not list((workspace.root / "above" / "logs").iterdir()), "written through the link"
    assert [p.name for p in real.iterdir()] == ["x.log"], "the plain folder took no log"
    assert Workspace.messages(workspace.read_log(real / "x.log"))[0].startswith("=== Skyloom")


def test_elevated_run_writes_no_log_its_user_made_first(workspace, machine_temp):
    # %SystemRoot%\Temp open to others (Wine shows it so at mode 0777): the user's unelevated
    # process makes the default log's name first; the elevated run does not write into it, and
    # the log it makes instead is readable by the trusted set alone (Wine maps that DACL to a
    # file mode with nothing for others).
    machine_temp.chmod(0o777)
    planted = machine_temp / "Skyloom-Setup.log"
    assert finish(start_windows(LOGWRITER, ["C:\\windows\\Temp\\Skyloom-Setup.log", "U", 1, 4])
                  ).code == 0
    before = planted.read_bytes()
    done = run_windows(SETUP_EXE, ["--sem-janela", "--url", REFUSED], workspace.env, elevated=True)
    assert done.code == 15
    assert planted.read_bytes() == before
    fresh = [p for p in machine_temp.iterdir()
             if re.fullmatch(r"Skyloom-Setup-[0-9A-F]{8}\.log", p.name)]
    assert len(fresh) == 1, "no fresh log beside the planted one"
    assert Workspace.messages(workspace.read_log(fresh[0]))[1] == (
        f"o registo fica em C:\\windows\\Temp\\{fresh[0].name}: "
        f"C:\\windows\\Temp\\Skyloom-Setup.log nao serve (o dono e' outro)")
    assert fresh[0].stat().st_mode & 0o007 == 0, oct(fresh[0].stat().st_mode)


def test_log_path_with_non_ascii_characters(workspace):
    folder = workspace.root / "Instalação Ωμέγα"
    folder.mkdir()
    log = folder / "registo ç.log"
    workspace.run_setup("--sem-janela", "--url", REFUSED, "--log", win_path(log))
    lines = Workspace.messages(log.read_bytes().decode("utf-8"))
    assert lines[0] == "=== Skyloom-Setup 1.0 (lingua en, sem janela) ==="


def test_missing_temporary_folder_exits_50(workspace):
    missing = workspace.root / "gone"
    log = workspace.root / "run.log"
    run = workspace.run_setup("--sem-janela", "--url", REFUSED, "--log", win_path(log),
                              env={"TEMP": win_path(missing), "TMP": win_path(missing)},
                              log_path=log)
    assert run.code == 50
    # The folder that would hold the working folder cannot be held (Wine says 2, not 3); the
    # line scripts and support people read is there as ever.
    assert len(run.lines) == 3, run.lines
    assert re.fullmatch(re.escape(f"nao consegui abrir {win_path(missing)}\\ (") + r"[23]\)",
                        run.lines[1]), run.lines
    assert re.fullmatch(re.escape(f"nao consegui criar {win_path(missing)}\\Skyloom-Setup (")
                        + r"[23]\)", run.lines[2]), run.lines
    assert not missing.exists()


def test_existing_working_folder_is_used(workspace):
    workspace.work_folder.mkdir()
    (workspace.work_folder / "keep.txt").write_text("x")
    run = workspace.run_setup("--sem-janela", "--url", REFUSED)
    assert not any(line.startswith("nao consegui criar") for line in run.lines)
    assert len(run.lines) > 1
    # Clean-up removes only an empty folder.
    assert (workspace.work_folder / "keep.txt").exists()


class SilentServer:
    """Accepts connections and never answers until released: holds a download open."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.connected = threading.Event()
        self.release = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        self.sock.settimeout(0.2)
        held = []
        while not self.release.is_set():
            try:
                conn, _ = self.sock.accept()
                held.append(conn)
                self.connected.set()
            except OSError:
                pass
        for conn in held:
            try:
                # Read the request first: closing over unread data would reset the connection.
                conn.settimeout(5)
                request = b""
                while b"\r\n\r\n" not in request:
                    piece = conn.recv(4096)
                    if not piece:
                        break
                    request += piece
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                             b"Connection: close\r\n\r\n")
                conn.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            finally:
                conn.close()
        self.sock.close()


@pytest.mark.parametrize("second_args, first_elevated", [
    (["--sem-janela"], False), ([], False),
    # A "Run as administrator" copy beside a user's run, and a user's run beside it.
    (["--sem-janela", "--elevated"], False), (["--sem-janela"], True),
])
def test_second_instance_exits_2_without_window(workspace, machine_temp, second_args,
                                                first_elevated):
    server = SilentServer()
    url = f"http://127.0.0.1:{server.port}/Skyloom-win-Setup.exe"
    first = workspace.start_setup("--sem-janela", "--url", url, elevated=first_elevated)
    try:
        assert server.connected.wait(60), "the first instance never connected"
        second_log = workspace.root / "second.log"
        args = [a for a in second_args if a != "--elevated"]
        second = run_windows(SETUP_EXE, [*args, "--url", REFUSED, "--log", win_path(second_log)],
                             workspace.env, elevated="--elevated" in second_args)
        lines = Workspace.messages(workspace.read_log(second_log))
        assert second.code == 2, lines
        assert lines[1:] == ["ja' ha' um a correr"]
    finally:
        server.release.set()
        done = finish(first, timeout=120)
    assert done.code == 12
    # The second instance made nothing of its own in the temporary folders.
    assert not workspace.work_folder.exists()
    assert not (machine_temp / "Skyloom-Setup").exists()


# Refused before anything is made or fetched, without a dialog. (The room on the installer's
# command line is unit-tested: winrun's own line, with the value, would pass the limit first.)
@pytest.mark.parametrize("option, value, refusal", [
    ("--argumentos", "/quiet\tKEY=1",
     "--argumentos recusado: o valor tem um caracter de controlo"),
    ("--proxy", "localhost", "--proxy recusado: o valor nao e' host:porta (porta de 1 a 65535)"),
])
def test_unusable_option_value_ends_the_run_with_3(workspace, option, value, refusal):
    with ScriptedServer([Reply(404, body=b"no")]) as server:
        run = workspace.run_setup(option, value, "--url", server.url())
    assert run.code == 3
    assert run.lines[1:] == [refusal]
    assert "proxy" not in run.lines[0]
    assert server.requests == []
    assert [p.name for p in workspace.temp.iterdir()] == ["Skyloom-Setup.log"]


def test_import_table_names_only_system_dlls():
    import subprocess
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(SETUP_EXE)],
                          capture_output=True, text=True, check=True).stdout
    dlls = {line.split(":", 1)[1].strip().lower() for line in dump.splitlines()
            if "DLL Name:" in line}
    system = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll",
              "winhttp.dll", "wintrust.dll", "crypt32.dll", "version.dll", "msvcrt.dll",
              "ucrtbase.dll", "ole32.dll", "gdi32.dll", "rpcrt4.dll", "ntdll.dll"}
    assert dlls and dlls <= system, dlls - system
    assert "kernel32.dll" in dlls
    assert "Subsystem\t\t00000002" in dump  # Windows GUI
    assert "file format pei-x86-64" in dump
    characteristics = int(dump.split("DllCharacteristics")[1].split()[0], 16)
    for flag in (0x0020, 0x0040, 0x0100, 0x8000):  # high entropy, ASLR, NX, TS aware
        assert characteristics & flag, hex(flag)


def test_log_lines_of_two_processes_stay_whole(workspace):
    log = workspace.root / "shared.log"
    writer = PROBES / "logwriter.exe"
    count = 400
    runs = [start_windows(writer, [win_path(log), tag, count, length])
            for tag, length in (("A", 1500), ("U", 900))]
    for run in runs:
        assert finish(run).code == 0
    lines = Workspace.messages(log.read_bytes().decode("utf-8"))
    assert len(lines) == 2 * count
    expected = {"A": "x" * 1500, "U": "é" * 900}
    seen = set()
    for line in lines:
        tag, number, body = line.split(" ", 2)
        assert body == expected[tag], line[:40]
        seen.add((tag, int(number)))
    assert len(seen) == 2 * count
