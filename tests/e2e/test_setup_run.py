"""The whole road without a window: Skyloom-Setup.exe --sem-janela under Wine downloads from the
local HTTPS test server, checks real signed files, launches the test installer and cleans up."""

import os
import pathlib
import re
import signal
import socket
import time

import pytest

from testkit.harness import (PROBES, SETUP_EXE, Workspace, build_setting, ended,
                             full_installer_line, held, run_windows, setup_processes,
                             start_windows, win_path)
from testkit.scripted_server import Reply, ScriptedServer, answer_time
from testkit.setup_kit import https_server, installer

# What the build gives a quiet installer (scripts/build sets some for the tests; "" for none).
QUIET_ARGS = build_setting("SKYLOOM_INSTALLER_QUIET_ARGS")
NO_SIGNATURE = 0x800B0100  # TRUST_E_NOSIGNATURE
BAD_DIGEST = 0x80096010  # TRUST_E_BAD_DIGEST
FORM_UNKNOWN = 0x800B0003  # TRUST_E_SUBJECT_FORM_UNKNOWN


def assert_cleaned_up(workspace):
    assert not workspace.installer.exists()
    assert not workspace.work_folder.exists()


def test_checked_without_running(workspace):
    good = installer()
    with https_server(real=good) as server:
        run = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
    assert run.code == 0
    assert run.lines[-1] == "verificado; --sem-executar: nao corre"
    assert "versao do instalador: 1.1.40.0" in run.lines
    assert [r.range for r in server.requests] == [None]
    assert server.requests[0].user_agent == "Skyloom-Setup/1.0"
    assert_cleaned_up(workspace)


def test_windowed_run_uses_the_worker_thread(workspace):
    with https_server(real=installer()) as server:
        run = workspace.run_setup("--sem-executar", "--url", server.url())
    assert run.code == 0
    assert run.lines[0] == "=== Skyloom-Setup 1.0 (lingua en, sem executar) ==="
    assert run.lines[-1] == "verificado; --sem-executar: nao corre"
    assert_cleaned_up(workspace)


def report_of(path: pathlib.Path) -> dict:
    lines = path.read_text(encoding="utf-8").splitlines()
    return dict(line.split("=", 1) for line in lines)


# 3010 and 1641 are successes that ask for a restart, 1618 a "try again later": deployment
# tools read the code itself. --argumentos, quotes and backslashes as they came, replace the
# build's quiet arguments; an empty value passes none.
@pytest.mark.parametrize("installer_code, exit_code, arguments", [
    (0, 0, None), (3010, 3010, None), (100, 41, ""), (0xC0000005, 41, None),
    (1618, 1618, r'/quiet DIR="C:\Program Files\Skyloom" LOG=C:\a\b.log KEY=ABCD-1234'),
])
def test_launch_and_installer_exit_code(workspace, installer_code, exit_code, arguments):
    report = workspace.root / "report.txt"
    marker = workspace.root / "inherited-marker.txt"
    marker.write_text("a handle the bootstrapper must not pass on")
    env = {"SKYLOOM_TEST_REPORT": win_path(report),
           "SKYLOOM_TEST_EXIT_CODE": str(installer_code)}
    given = [] if arguments is None else ["--argumentos", arguments]
    with https_server(real=installer()) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url(), *given, env=env,
                                  inherit_file=marker)
    assert run.code == exit_code
    seen = report_of(report)
    installer_path = win_path(workspace.installer)
    # Without a window by option, the installer is quiet too when the build says how, unless
    # --argumentos replace the quiet arguments.
    passed = QUIET_ARGS if arguments is None else arguments
    command_line = f'"{installer_path}"' + (f" {passed}" if passed else "")
    assert seen["command_line"] == command_line
    assert seen["own_path"].lower() == installer_path.lower()
    assert seen["current_directory"].rstrip("\\").lower() == win_path(workspace.work_folder).lower()
    # The bootstrapper holds the checked file with read sharing only while the installer runs.
    for operation in ("open_for_write", "rename", "delete"):
        assert seen[operation].startswith("0 "), (operation, seen[operation])
    assert seen["inherited_handle"] == "absent"
    # The folder this process was given: the workspace's, open to its owner alone.
    assert seen["temp"] == win_path(workspace.temp)
    started = [line for line in run.lines if line.startswith("o instalador arrancou (pid ")]
    assert len(started) == 1
    assert f"a arrancar: {command_line}" in run.lines
    # After a failure without a window the log ends with the way out; a restart or another
    # installation in progress is no failure.
    after = {0: [], 3010: ["instalado; e' preciso reiniciar o computador"],
             1618: ["outra instalacao esta' a decorrer: tentar mais tarde (1618)"]}.get(
        installer_code, [full_installer_line()])
    assert run.lines[-1 - len(after):] == [f"o instalador acabou com {installer_code}", *after]
    assert not any(line.startswith("erro ") for line in run.lines)
    assert_cleaned_up(workspace)


def test_temporary_folder_others_may_write_to_gives_the_installer_its_own(workspace):
    # Wine shows Everyone with write access on a folder of mode 0777: the installer then gets a
    # folder of the program's own beside the working folder instead, kept from run to run. A
    # later launch deletes there what was last written over a day ago, except what is held open,
    # and a link as itself, never what it leads to.
    workspace.temp.chmod(0o777)
    kept = workspace.temp / "Skyloom-Setup-TEMP"
    report = workspace.root / "report.txt"
    with https_server(real=installer()) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url(),
                                  env={"SKYLOOM_TEST_REPORT": win_path(report)})
        assert run.code == 0, run.lines
        assert report_of(report)["temp"] == win_path(kept)
        assert f"TEMP do instalador: {win_path(kept)}" in run.lines
        assert_cleaned_up(workspace)
        assert kept.is_dir()

        day_ago = time.time() - 25 * 3600
        outside = workspace.root / "outside"
        outside.mkdir()
        (kept / "old").mkdir()
        for path in (kept / "old.log", kept / "held.log", kept / "young.log",
                     kept / "old" / "inner.txt", outside / "kept.txt"):
            path.write_text("left")
        (kept / "link").symlink_to(outside)
        for path in (kept / "old.log", kept / "held.log", kept / "old" / "inner.txt", kept / "old",
                     outside / "kept.txt", outside, kept / "link"):
            os.utime(path, (day_ago, day_ago), follow_symlinks=False)
        with held(kept / "held.log", workspace.root / "let-go", "--share-all"):
            again = workspace.run_setup("--sem-janela", "--url", server.url())
    assert again.code == 0, again.lines
    # Wine 8 follows a link even when asked not to: the program then leaves it alone, where
    # Windows deletes it as itself.
    link_left = (kept / "link").is_symlink()
    assert again.lines[len(run.lines) + 4:len(run.lines) + 6] == [
        f"TEMP do instalador: apaguei {3 if link_left else 4} entradas antigas",
        f"TEMP do instalador: {win_path(kept)}"]
    assert {p.name for p in kept.iterdir()} == {"held.log", "young.log"} | (
        {"link"} if link_left else set())
    assert (outside / "kept.txt").read_text() == "left"


def test_elevated_installers_temp_outlives_the_run(workspace, machine_temp):
    # %SystemRoot%\Temp is open to others on Windows, and here at mode 0777: an elevated run's
    # installer gets the kept folder there. What it started writes in that TEMP after the run
    # has ended (its program lies elsewhere, so nothing else is in that TEMP before).
    kept = "C:\\windows\\Temp\\Skyloom-Setup-TEMP"
    report = workspace.root / "report.txt"
    env = {**workspace.env, "SKYLOOM_TEST_REPORT": win_path(report),
           "SKYLOOM_TEST_CHILD_FOLDER": win_path(workspace.root)}
    mode = machine_temp.stat().st_mode
    machine_temp.chmod(0o777)
    try:
        with https_server(real=installer(child_linger_ms=2000)) as server:
            done = run_windows(SETUP_EXE, ["--sem-janela", "--url", server.url()], env,
                               elevated=True)
    finally:
        machine_temp.chmod(mode)
    lines = Workspace.messages(workspace.read_log(machine_temp / "Skyloom-Setup.log"))
    assert done.code == 0, lines
    assert f"TEMP do instalador: {kept}" in lines
    child = report.with_name("report.txt.child")
    deadline = time.monotonic() + 30
    while not child.exists() and time.monotonic() < deadline:
        time.sleep(0.2)
    assert report_of(child) == {"temp": kept, "write": "1"}


def test_planted_log_is_not_written_and_the_lines_go_to_a_fresh_one(workspace):
    # The log's name made first as a second name of another file, in a temporary folder others
    # may write to (mode 0777): it is looked at with an open that asks for no data, and Wine
    # reports the link count to that (Wine cannot show another owner).
    workspace.temp.chmod(0o777)
    other = workspace.root / "someone-elses.txt"
    other.write_bytes(b"not a log\r\n")
    os.link(other, workspace.log_file)
    with https_server(real=installer()) as server:
        run = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
    assert run.code == 0
    assert other.read_bytes() == b"not a log\r\n"
    fresh = [p for p in workspace.temp.iterdir() if re.fullmatch(r"Skyloom-Setup-[0-9A-F]{8}\.log",
                                                                  p.name)]
    assert len(fresh) == 1
    lines = Workspace.messages(workspace.read_log(fresh[0]))
    assert lines[1] == (f"o registo fica em {win_path(fresh[0])}: "
                        f"{win_path(workspace.log_file)} nao serve (tem outro nome)")
    assert lines[-1] == "verificado; --sem-executar: nao corre"


def test_no_display_is_no_cancel(workspace):
    # No --sem-janela and nowhere to show a window: the run goes on without one, to its end, and
    # the installer is started as in a run with a window: no quiet arguments for a person whose
    # dialog could not be shown.
    report = workspace.root / "report.txt"
    with https_server(real=installer()) as server:
        run = workspace.run_setup("--url", server.url(), unix_env={"DISPLAY": ""},
                                  env={"SKYLOOM_TEST_REPORT": win_path(report)})
    assert run.code == 0, run.lines
    assert "a janela de progresso nao apareceu: continuo sem janela" in run.lines
    installer_path = win_path(workspace.installer)
    assert report_of(report)["command_line"] == f'"{installer_path}"'
    assert f'a arrancar: "{installer_path}"' in run.lines
    assert run.lines[-1] == "o instalador acabou com 0"
    assert_cleaned_up(workspace)


def test_installer_that_cannot_start_gives_40(workspace):
    # Signed and versioned, so it passes the check, but a DLL: CreateProcessW refuses it.
    with https_server(real=installer(dll=True)) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url())
    assert run.code == 40
    assert run.lines[-2:] == ["CreateProcess falhou (193)", full_installer_line()]
    assert_cleaned_up(workspace)


def test_installer_asking_for_elevation(workspace):
    # On Windows CreateProcessW does not elevate and fails with 740, giving exit code 40. Wine
    # starts such a program like any other, so here the run takes the ordinary road.
    report = workspace.root / "report.txt"
    with https_server(real=installer(manifest_level="requireAdministrator")) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url(),
                                  env={"SKYLOOM_TEST_REPORT": win_path(report)})
    if run.code == 40:
        assert run.lines[-2:] == ["CreateProcess falhou (740)", full_installer_line()]
    else:
        assert run.code == 0
        assert report.exists()
    assert_cleaned_up(workspace)


def padded(size):
    """A body of the given size that is no installer at all."""
    return bytes(range(256)) * (size // 256)


WORKER_FAILURES = [
    ("not_found", [Reply(404, body=b"no")], None, 12, 404),
    ("busy", [Reply(429, headers={"Retry-After": "120"})], None, 11, 0),
    ("too_small", [Reply(200, body=b"x" * 1000)], None, 13, 0),
    ("refused", [], "http://example.com/Skyloom-win-Setup.exe", 15, 0),
    ("unsigned", "unsigned", None, 20, NO_SIGNATURE),
    ("tampered", "tampered", None, 20, BAD_DIGEST),
    ("other_signer", "org_case", None, 21, 0),
    ("old_version", "old", None, 22, 0),
    ("just_below_the_minimum", "just_below", None, 22, 0),
    # Hostile files, made from a built installer: none of them may ever be started.
    ("not_an_executable", "not_pe", None, 20, FORM_UNKNOWN),
    # Cut or lengthened, the signature no longer covers the file as it is: Wine finds no
    # signature in either (the table no longer ends the file); Windows may name the digest.
    ("truncated_signed_file", "truncated", None, 20, (NO_SIGNATURE, BAD_DIGEST)),
    ("signed_file_with_bytes_appended", "appended", None, 20, (NO_SIGNATURE, BAD_DIGEST)),
]


@pytest.mark.parametrize("name, script, url, code, detail", WORKER_FAILURES,
                         ids=[row[0] for row in WORKER_FAILURES])
def test_worker_failure_reaches_the_exit_code(workspace, name, script, url, code, detail):
    files = {"unsigned": lambda: installer(signer=None),
             "tampered": lambda: installer(tamper=True),
             "org_case": lambda: installer(signer="org_case"),
             "old": lambda: installer(product_version=(1, 0, 99, 0)),
             "just_below": lambda: installer(product_version=(1, 1, 39, 65535)),
             "not_pe": lambda: padded(2 * 1024 * 1024),
             "truncated": lambda: installer().read_bytes()[:-200_000],
             "appended": lambda: installer().read_bytes() + bytes(range(256)) * 16}
    if isinstance(script, str):
        script = [Reply(200, body=files[script]())]
    report = workspace.root / "report.txt"
    with https_server(script) as server:
        run = workspace.run_setup("--sem-janela", "--url", url or server.url(),
                                  env={"SKYLOOM_TEST_REPORT": win_path(report)})
    assert run.code == code, run.lines
    details = detail if isinstance(detail, tuple) else (detail,)
    assert run.lines[-1] in [f"erro {code} (detalhe {d})" for d in details]
    assert not report.exists(), "a file that failed the check was started"
    assert not any("recomeca do zero, uma vez" in line for line in run.lines)
    if url:
        assert server.requests == []
    assert_cleaned_up(workspace)


def test_broken_transfer_is_cleaned_up(workspace):
    body = padded(2 * 1024 * 1024)
    script = [Reply(200, body=body, drop_after=300_000)]
    script += [Reply(206, body=body, start=300_000, drop_after=100_000,
                     headers={"Content-Range": f"bytes 300000-{len(body) - 1}/{len(body)}"})]
    script += [Reply(206, body=body, start=400_000, drop_after=100_000,
                     headers={"Content-Range": f"bytes 400000-{len(body) - 1}/{len(body)}"})]
    with https_server(script) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url())
    assert run.code == 14
    assert run.lines[-1].startswith("erro 14 (detalhe ")
    assert server.ranges == [None, "bytes=300000-", "bytes=400000-"]
    assert_cleaned_up(workspace)


def test_complete_file_from_earlier_run_failing_the_check_is_fetched_again(workspace):
    good = installer()
    workspace.work_folder.mkdir()
    # Same size as the good file, so the server's 416 says it is complete.
    workspace.installer.write_bytes(installer(tamper=True).read_bytes())
    with https_server(real=good) as server:
        run = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
    size = good.stat().st_size
    assert server.ranges == [f"bytes={size}-", None]
    assert f"416: o ficheiro ja' esta' completo ({size})" in run.lines
    assert run.lines.count(
        "a verificacao falhou depois de uma retoma: recomeca do zero, uma vez") == 1
    assert f"WinVerifyTrust: 0x{BAD_DIGEST:08X}" in run.lines
    assert run.code == 0
    assert run.lines[-1] == "verificado; --sem-executar: nao corre"


def test_restart_that_fails_again_gives_the_second_code(workspace):
    bad = installer(signer="org_case")
    workspace.work_folder.mkdir()
    workspace.installer.write_bytes(bad.read_bytes()[:500_000])
    with https_server(real=bad) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url())
    assert server.ranges == ["bytes=500000-", None]
    assert run.lines.count(
        "a verificacao falhou depois de uma retoma: recomeca do zero, uma vez") == 1
    assert run.code == 21
    assert run.lines[-1] == "erro 21 (detalhe 0)"
    assert_cleaned_up(workspace)


@pytest.mark.parametrize("planted, reason", [
    ("link", "e' uma ligacao"),
    ("folder everyone may write to", "outros podem escrever nela"),
], ids=["link", "folder everyone may write to"])
def test_working_folder_of_someone_else_is_left_alone(workspace, planted, reason):
    # Made before the run under the working folder's name, with a partial installer file in it:
    # a link to a folder of another's choosing, or a folder that Wine shows Everyone may write
    # to (mode 0777). Nothing in it is resumed, started or deleted; a fresh folder does the run.
    behind = workspace.root / "chosen" if planted == "link" else workspace.work_folder
    behind.mkdir()
    (behind / "Skyloom-win-Setup.exe").write_bytes(b"MZ planted")
    if planted == "link":
        workspace.work_folder.symlink_to(behind)
    else:
        behind.chmod(0o777)
    report = workspace.root / "report.txt"
    with https_server(real=installer()) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url(),
                                  env={"SKYLOOM_TEST_REPORT": win_path(report)})
    assert run.code == 0, run.lines
    temp = win_path(workspace.temp)
    assert f"nao uso {temp}\\Skyloom-Setup: {reason}" in run.lines
    assert server.ranges == [None]
    assert [p.name for p in behind.iterdir()] == ["Skyloom-win-Setup.exe"]
    assert (behind / "Skyloom-win-Setup.exe").read_bytes() == b"MZ planted"
    fresh = report_of(report)["current_directory"].rstrip("\\")
    assert re.fullmatch(re.escape(temp) + r"\\Skyloom-Setup-[0-9A-F]{8}", fresh), fresh
    assert report_of(report)["own_path"] == fresh + "\\Skyloom-win-Setup.exe"
    # The fresh folder goes at the end; what was planted stays as it was.
    assert sorted(p.name for p in workspace.temp.iterdir()) == ["Skyloom-Setup",
                                                               "Skyloom-Setup.log"]


def test_elevated_run_holds_its_working_folder_against_renames(workspace, machine_temp):
    # An elevated run works in %SystemRoot%\Temp, and holds its folder from its creation until
    # the clean-up lets go of it to delete it: a process of the same account that keeps renaming
    # the folder away, to put its own under the name, gets nowhere before that, and the installer
    # starts from the folder made.
    folder = "C:\\windows\\Temp\\Skyloom-Setup"
    flag, report = workspace.root / "stop", workspace.root / "report.txt"
    renamer = start_windows(PROBES / "renamefolder.exe", [folder, "--until", win_path(flag)])
    assert renamer.stdout.readline().strip() == "started"
    with https_server(real=installer()) as server:
        code = ended(workspace.start_setup("--sem-janela", "--url", server.url(), elevated=True,
                                           env={"SKYLOOM_TEST_REPORT": win_path(report)}))
    flag.touch()
    tried = renamer.stdout.read()
    ended(renamer)
    log = workspace.read_log(machine_temp / "Skyloom-Setup.log")
    lines = Workspace.messages(log)
    assert code == 0, lines
    assert "error 32:" in tried, tried
    # A rename may only come in the moment between the hold and the deletion.
    done = next(line[:23] for line in log.split("\r\n") if "o instalador acabou com 0" in line)
    first = re.search(r"^first (.*)$", tried, re.M)
    assert first is None or first.group(1) >= done, (tried, done)
    seen = report_of(report)
    assert seen["own_path"].lower() == (folder + "\\Skyloom-win-Setup.exe").lower()
    assert seen["current_directory"].rstrip("\\").lower() == folder.lower()


def test_folders_of_killed_runs_go_once_stale_and_free(workspace):
    # Fresh folders of runs killed long ago go at start, their files with them, four a run at
    # most, however many young ones (another account's, or runs killed within the hour) the
    # listing gives first; one that another process still holds stays. (Wine reports a folder's
    # change of contents as its making; it shows every owner as the current user.)
    def left(number, hours):
        folder = workspace.temp / f"Skyloom-Setup-{number:08X}"
        folder.mkdir(mode=0o755)
        (folder / "Skyloom-win-Setup.exe").write_bytes(b"MZ left by a killed run")
        os.utime(folder, (time.time() - hours * 3600,) * 2)
        return folder
    young = [left(0x0A000000 + i, 0) for i in range(40)]
    stale = [left(0x0B000000 + i, 2) for i in range(6)]
    busy = left(0x0C000000, 2)
    with held(busy, workspace.root / "release", "--share-read-write"):
        run = workspace.run_setup("--sem-janela", "--url", "http://refused.invalid/x")
    gone = [folder for folder in stale if not folder.exists()]
    assert len(gone) == 4, run.lines
    assert sorted(run.lines[1:5]) == sorted(f"apaguei a pasta de uma execucao interrompida: "
                                            f"{win_path(folder)}" for folder in gone), run.lines
    assert all(folder.exists() for folder in young) and busy.exists()


def killed_past(workspace, url: str, past: int) -> int:
    """Starts a run against url and kills it once its file holds more than `past` bytes, as a
    power cut would; returns the bytes left on disk."""
    first = workspace.start_setup("--sem-janela", "--sem-executar", "--url", url)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if workspace.installer.exists() and workspace.installer.stat().st_size > past:
            break
        time.sleep(0.1)
    pids = setup_processes()
    assert pids, "Skyloom-Setup.exe is not running"
    for pid in pids:
        os.kill(pid, signal.SIGKILL)
    first.communicate(timeout=60)
    return workspace.installer.stat().st_size


OLD_DATE = "Sun, 06 Nov 1994 08:49:37 GMT"


# A server without validators, and one with an old Last-Modified only, whose 206 to the If-Range
# omits it as RFC 9110 asks: both give the missing bytes in one request.
@pytest.mark.parametrize("last_modified", [None, OLD_DATE], ids=["no validators", "old date"])
def test_killed_run_resumes_from_the_bytes_on_disk(workspace, last_modified):
    good = installer()
    size = good.stat().st_size
    validators = {"Last-Modified": last_modified} if last_modified else {}
    with ScriptedServer([Reply(200, body=good, rate=200_000, headers=validators),
                         Reply(ranged=True, body=good)]) as server:
        on_disk = killed_past(workspace, server.url(), 300_000)
        assert 300_000 <= on_disk < size
        run = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
    assert server.ranges == [None, f"bytes={on_disk}-"]
    assert server.requests[1].headers.get("if-range") == last_modified
    assert server.requests[1].sent == size - on_disk
    assert f"{server.url()} -> HTTP 206 (a partir de {on_disk})" in run.lines
    assert run.code == 0, run.lines
    assert_cleaned_up(workspace)


def test_a_date_that_proves_nothing_resumes_a_link_that_keeps_breaking(workspace):
    # Last-Modified is the time of each answer: it cannot tell one release from another, so the
    # resumes go without If-Range, on the total alone, instead of starting from zero each time.
    good = installer()
    size = good.stat().st_size
    now = {"Last-Modified": answer_time}
    with https_server([Reply(200, body=good, drop_after=600_000, headers=now),
                       Reply(ranged=True, body=good, drop_after=600_000, headers=now),
                       Reply(ranged=True, body=good, headers=now)]) as server:
        run = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
    assert run.code == 0, run.lines
    assert server.ranges == [None, "bytes=600000-", "bytes=1200000-"]
    assert [r.headers.get("if-range") for r in server.requests] == [None] * 3
    assert sum(r.sent for r in server.requests) == size
    assert not [line for line in run.lines if "recomeca do zero" in line]
    assert_cleaned_up(workspace)


@pytest.mark.parametrize("honours_if_range", [True, False])
def test_a_release_that_changed_between_two_runs_is_never_spliced(workspace, honours_if_range):
    # The first run is killed with part of one release on disk; by the second the server has
    # another one, of the same size. If-Range makes an honest server send the new file whole,
    # once; the 206 of a server that ignores it carries the new ETag and is not appended.
    old, new = installer(), installer(product_version=(1, 1, 41, 0))
    size = new.stat().st_size
    with ScriptedServer([Reply(200, body=old, rate=200_000, headers={"ETag": '"r40"'})],
                        if_range=honours_if_range) as server:
        on_disk = killed_past(workspace, server.url(), 300_000)
        server.real, server.validators = new, {"ETag": '"r41"'}
        run = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
    assert run.code == 0, run.lines
    assert "versao do instalador: 1.1.41.0" in run.lines
    assert not [line for line in run.lines if "WinVerifyTrust" in line or "falhou" in line]
    resumed = server.requests[1]
    assert (resumed.range, resumed.headers.get("if-range")) == (f"bytes={on_disk}-", '"r40"')
    if honours_if_range:
        assert len(server.requests) == 2
        assert resumed.sent == size
        assert "outra versao no servidor: recomeca do zero" in run.lines
    else:
        again = server.requests[2]
        assert (len(server.requests), again.range, again.headers.get("if-range")) == (3, None, None)
        assert again.sent == size
        assert (f'206 de outra versao (["r41"] {size}, guardado ["r40"] {old.stat().st_size}): '
                "recomeca do zero") in run.lines
    assert_cleaned_up(workspace)


@pytest.mark.parametrize("tampered", [False, True])
def test_a_full_installer_at_hand_replaces_the_download(workspace, tampered):
    # The file is copied and checked as a download would be; nothing is asked of the server,
    # not even after a failed check, and the file named stays as it was.
    at_hand = workspace.root / "media" / "Skyloom-win-Setup.exe"
    at_hand.parent.mkdir()
    at_hand.write_bytes(installer(tamper=tampered).read_bytes())
    before = (at_hand.read_bytes(), at_hand.stat().st_mtime_ns)
    # An interrupted download left a longer head and its validators: the copy goes onto
    # neither.
    workspace.work_folder.mkdir()
    workspace.installer.write_bytes(b"MZ" + bytes(len(before[0]) + 4096))
    validators = workspace.work_folder / "Skyloom-win-Setup.validadores"
    validators.write_bytes(b"skyloom-validadores 1\ntotal 9999999\netag \"old\"\nfim\n")
    with https_server(real=installer()) as server:
        run = workspace.run_setup("--sem-janela", "--instalador", win_path(at_hand),
                                  "--url", server.url())
    assert server.requests == []
    assert (at_hand.read_bytes(), at_hand.stat().st_mtime_ns) == before
    assert run.lines[0] == ("=== Skyloom-Setup 1.0 (lingua en, sem janela, instalador "
                            f"{win_path(at_hand)}) ===")
    assert f"copiado: {len(before[0])} bytes" in run.lines
    if tampered:
        assert run.code == 20
        assert run.lines[-1] == f"erro 20 (detalhe {BAD_DIGEST})"
    else:
        assert run.code == 0, run.lines
        assert run.lines[-1] == "o instalador acabou com 0"
    assert_cleaned_up(workspace)


def test_inheritance_probe_sees_a_handle_that_is_passed_on(workspace):
    # The check that the bootstrapper passes no handle on must be able to see one.
    report = workspace.root / "report.txt"
    marker = workspace.root / "inherited-marker.txt"
    marker.write_text("x")
    done = run_windows(installer(), env={"SKYLOOM_TEST_REPORT": win_path(report)},
                       inherit_file=marker)
    assert done.code == 0
    assert report_of(report)["inherited_handle"] == "present"


def test_installer_file_that_cannot_be_opened_gives_50(workspace):
    # A folder where the installer file belongs: the download cannot open it for writing.
    workspace.installer.mkdir(parents=True)
    with https_server(real=installer()) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url())
    assert run.code == 50
    folder = win_path(workspace.work_folder)
    assert run.lines[-4:] == ["erro 50 (detalhe 5)",
                              f"nao consegui apagar {win_path(workspace.installer)} (5)",
                              "a pasta esta' ocupada: espero (145)", f"desisto: {folder} (145)"]
    assert server.requests == []
    # Clean-up removes only files and an empty folder: this folder stays, and is logged.
    assert workspace.installer.is_dir()


def test_too_little_disk_space_gives_30(small_volume, tmp_path):
    temp = small_volume(8 * 1024 * 1024)
    workspace = Workspace(tmp_path)
    env = {"TEMP": win_path(temp), "TMP": win_path(temp)}
    good = installer()
    with https_server(real=good) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url(), env=env,
                                  log_path=temp / "Skyloom-Setup.log")
    assert run.code == 30
    assert run.lines[-1] == "erro 30 (detalhe 0)"
    assert not (temp / "Skyloom-Setup").exists()


def test_no_server_gives_10_after_three_attempts(workspace):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]  # closed again before the run: nobody listens there
    url = f"http://127.0.0.1:{port}/Skyloom-win-Setup.exe"
    run = workspace.run_setup("--sem-janela", "--url", url)
    assert run.code == 10
    assert [line for line in run.lines if line.startswith("nova tentativa")] == [
        f"nova tentativa (2) em {url}", f"nova tentativa (3) em {url}"]
    assert run.lines[-1].startswith("erro 10 (detalhe ")
    assert run.lines[-1] != "erro 10 (detalhe 0)"
    assert_cleaned_up(workspace)
