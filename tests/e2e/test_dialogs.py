"""The windowed road: the real Skyloom-Setup.exe under Wine and Xvfb, its task dialogs read and
pressed from the Windows side by tests/probes/dialog_driver.exe, as a user would."""

import contextlib
import re
import subprocess
import time

import pytest

from testkit.harness import (LOGWRITER, WINE_RUN, Workspace, build_setting, log_messages,
                             settled, win_path)
from testkit.scripted_server import Reply, ScriptedServer, server_context
from testkit.setup_kit import https_server, installer
from testkit.tls_pki import make_server_pki

IDCANCEL, IDRETRY, IDCLOSE = 2, 4, 8

# The faces in three of the six languages: (connecting, downloading, checking, MB line).
FACES = {
    "en": ("Connecting to the server…", "Downloading Skyloom…",
           "Checking that the file comes from Quorvane…", r"(\d+) MB of (\d+) MB"),
    "pt": ("A ligar ao servidor…", "A descarregar o Skyloom…",
           "A confirmar que o ficheiro é da Quorvane…", r"(\d+) MB de (\d+) MB"),
    "de": ("Verbindung zum Server…", "Skyloom wird heruntergeladen…",
           "Es wird geprüft, ob die Datei von Quorvane stammt…", r"(\d+) MB von (\d+) MB"),
}
HEADING = "Skyloom couldn't be installed"
DOWNLOAD_FAILED = "Skyloom couldn't be downloaded. Check your connection and try again."
BROKE_OFF = ("The server couldn't be reached or the connection broke off: a firewall or a proxy "
             "may be in the way.")
REFUSED = "The server refused the download: try again later."
UNTRUSTED = ("The secure connection to the server isn't trusted: a network that inspects secure "
             "connections, or a missing root certificate, can cause this.")
UNTRUSTED_LOG = "causa: o certificado TLS nao e' de confianca (rede que intercepta ou raiz em falta)"
NO_CHANNEL = ("The secure connection to the server couldn't be set up: a device on the network may "
              "be breaking it, or this computer and the server share no secure protocol.")
NO_CHANNEL_LOG = ("causa: a ligacao segura nao se estabeleceu (sem protocolo comum, ou algo na rede "
                  "a corta)")
FULL_INSTALLER = "Download the full installer"
MIB = 1 << 20


def assert_cleaned_up(workspace: Workspace):
    assert not workspace.installer.exists()
    assert not workspace.work_folder.exists()


def failure_content(*sentences) -> str:
    """The failure dialog's content: the message and its advice, then the link on its own."""
    return " ".join(sentences) + "\n\n" + FULL_INSTALLER


def first_instruction(views) -> str:
    """The first main instruction a window showed (its first views may still be empty)."""
    return next(v.instruction for v in views if v.instruction)


def faces(windows_views) -> list:
    """The distinct faces of one window in order: (instruction, content, marquee)."""
    seen = []
    for view in windows_views:
        if view.bar is None:  # caught while the dialog was still being built
            continue
        face = (view.instruction, view.content, view.bar[1])
        if not seen or seen[-1] != face:
            seen.append(face)
    return seen


@pytest.mark.parametrize("lingua", ["en", "pt", "de"])
def test_three_faces_in_order_with_the_languages_texts(workspace, lingua):
    connecting, downloading, checking, line = FACES[lingua]
    # Large, so that the check outlasts a few of the dialog's ticks, and trickled, so that the
    # byte count changes on the screen.
    big = installer(size=64 * MIB)
    size = big.stat().st_size
    with https_server([Reply(200, body=big, rate=16 * MIB)], real=big) as server:
        run, driven = workspace.run_windowed("--sem-executar", "--lingua", lingua,
                                             "--url", server.url())
    assert run.code == 0, run.lines
    assert run.lines[-1] == "verificado; --sem-executar: nao corre"
    [progress] = driven.windows()
    shown = faces(progress)
    instructions = [f[0] for f in shown]
    assert first_instruction(progress) == connecting
    # Connecting, then downloading, then checking, never back.
    groups = [i for k, i in enumerate(instructions) if k == 0 or instructions[k - 1] != i]
    assert groups == [connecting, downloading, checking]
    # The driver may read the dialog between two messages of one tick: the last view of each
    # face is the settled one.
    settled = [f for k, f in enumerate(shown) if k + 1 == len(shown) or shown[k + 1][0] != f[0]]
    assert [(f[1] != "", f[2]) for f in settled] == [(False, True), (True, False), (False, True)]
    counts = [re.fullmatch(line, f[1]) for f in shown if f[0] == downloading and f[1]]
    assert counts and all(counts), [f[1] for f in shown]
    received = [int(m.group(1)) for m in counts]
    assert {int(m.group(2)) for m in counts} == {size >> 20}
    assert received == sorted(received)
    assert len(set(received)) >= 2
    # The bar follows the bytes: never backwards, at most 1000.
    positions = [v.bar[0] for v in progress if v.bar and not v.bar[1]]
    assert positions == sorted(positions) and positions[-1] <= 1000
    # Cancel alone, and so the default button (views of a dialog still being built or already
    # being taken down aside).
    built = [v for v in progress if v.bar and v.buttons]
    assert built and all(v.buttons.keys() == {IDCANCEL} for v in built)
    assert all(v.default_button == IDCANCEL for v in built)
    assert driven.code == 0
    assert_cleaned_up(workspace)


def test_cancel_while_downloading_ends_at_once(workspace):
    good = installer()
    # 64 KiB a second: the whole file would take about 25 s.
    with https_server([Reply(200, body=good, rate=64 * 1024)]) as server:
        run, driven = workspace.run_windowed("--url", server.url(),
                                             steps=[" MB of =>press:2"])
    assert run.code == 1
    assert run.lines[-1] == "cancelado por quem instala"
    assert not any(line.startswith("erro ") for line in run.lines)
    # Wine lets a read already blocked go on until the next bytes come (Windows aborts it),
    # so the worker stops within one trickled chunk.
    assert run.ended - driven.event_time("done", "press:2") < 8
    assert len(server.requests) == 1
    assert len(driven.windows()) == 1  # no failure dialog after a cancel
    assert_cleaned_up(workspace)


def test_cancel_while_checking_still_ends_as_cancelled(workspace):
    # Large, so that the check lasts long enough to be seen and cancelled.
    big = installer(size=64 * MIB)
    checking = FACES["en"][2]
    with https_server(real=big) as server:
        run, driven = workspace.run_windowed("--sem-executar", "--url", server.url(),
                                             steps=[f"{checking}=>press:2"])
    assert run.code == 1
    assert run.lines[-1] == "cancelado por quem instala"
    assert "verificado; --sem-executar: nao corre" not in run.lines
    assert len(driven.windows()) == 1
    assert_cleaned_up(workspace)


def test_retry_resumes_the_file_and_reopens_the_progress_dialog(workspace):
    good = installer()
    size = good.stat().st_size
    partial = 300_000

    def broken(start, drop):
        return Reply(206, body=good, start=start, drop_after=drop,
                     headers={"Content-Range": f"bytes {start}-{size - 1}/{size}"})
    # Every attempt of the first run breaks off; the run after Retry finds a whole server.
    script = [Reply(200, body=good, drop_after=partial), broken(partial, 100_000),
              broken(partial + 100_000, 100_000)]
    with https_server(script, real=good) as server:
        run, driven = workspace.run_windowed("--sem-executar", "--url", server.url(),
                                             steps=["Retry=>press:4"])
    on_disk = partial + 200_000
    assert server.ranges == [None, f"bytes={partial}-", f"bytes={partial + 100_000}-",
                             f"bytes={on_disk}-"]
    assert run.code == 0
    assert run.lines[-1] == "verificado; --sem-executar: nao corre"
    erro = next(i for i, line in enumerate(run.lines) if line.startswith("erro 14 "))
    assert run.lines[erro + 1] == "tentar de novo"
    first, failure, second = driven.windows()
    detail = int(run.lines[erro].split("detalhe ")[1].rstrip(")"))
    failed = settled(failure)
    assert failed.instruction == HEADING
    assert failed.content == failure_content(DOWNLOAD_FAILED, BROKE_OFF)
    assert failed.details.endswith(f"\n(14/0x{detail:08X})")
    assert failed.buttons.keys() == {IDRETRY, IDCLOSE}
    assert failed.default_button == IDRETRY
    # The progress dialog opens again in its connecting face.
    assert first_instruction(second) == FACES["en"][0]
    assert first_instruction(first) == FACES["en"][0]
    assert_cleaned_up(workspace)


# Escape and the title bar's close button on the failure dialog: Windows ends it with
# IDCANCEL (TDF_ALLOW_DIALOG_CANCELLATION). Wine's task dialog ignores both when it has no
# Cancel button, so after a pause the Close button ends it there. Either way: the run's result.
@pytest.mark.parametrize("name, steps, code, last", [
    ("close button", ["press:8"], 12, "erro 12 (detalhe 404)"),
    ("escape in the failure dialog", ["Retry=>escape", "wait:2000", "press:8"], 12,
     "erro 12 (detalhe 404)"),
    ("title bar close", ["Retry=>close", "wait:2000", "press:8"], 12, "erro 12 (detalhe 404)"),
    ("escape in the progress dialog", [" MB of =>escape"], 1, "cancelado por quem instala"),
    ("title bar close of the progress dialog", [" MB of =>close"], 1,
     "cancelado por quem instala"),
])
def test_escape_and_close_end_with_the_runs_result(workspace, name, steps, code, last):
    good = installer()
    if code == 12:
        script = [Reply(404, body=b"no")]
    else:
        script = [Reply(200, body=good, rate=64 * 1024)]
    with https_server(script) as server:
        run, driven = workspace.run_windowed("--url", server.url(), steps=steps)
    assert run.code == code, name
    assert run.lines[-1] == last, name
    assert "tentar de novo" not in run.lines
    assert driven.code in (0, 4)  # 4: the dialog was gone before the last step (Windows)
    if code == 12:
        failure = settled(driven.windows()[-1])
        assert failure.instruction == HEADING
        assert failure.content == failure_content(DOWNLOAD_FAILED, REFUSED)
        assert failure.details.endswith("\n(12/0x00000194)")
        assert failure.details.startswith("The log file is at ")
        # One word of the catalogue's: Wine's own "See details" wraps and is cut.
        assert failure.details_toggle == "Details"
        assert failure.buttons.keys() == {IDRETRY, IDCLOSE}
        assert failure.default_button == IDRETRY
    else:
        assert len(driven.windows()) == 1
    assert_cleaned_up(workspace)


def test_failed_installer_offers_close_only(workspace):
    with https_server(real=installer()) as server:
        run, driven = workspace.run_windowed(
            "--url", server.url(), "--lingua", "en", steps=["press:8"],
            env={"SKYLOOM_TEST_EXIT_CODE": "1603"})
    assert run.code == 41
    assert run.lines[-1] == "o instalador acabou com 1603"
    failure = settled(driven.windows()[-1])
    assert failure.instruction == HEADING
    assert failure.content.startswith("The installation didn't finish (code 1603). Try again")
    assert failure.details.endswith("\n(41/0x00000643)")
    assert failure.buttons.keys() == {IDCLOSE}
    assert failure.default_button == IDCLOSE
    assert_cleaned_up(workspace)


def test_another_installation_in_progress_asks_for_a_retry_of_the_same_file(workspace):
    # The installer's 1618 once, then 0: the failure dialog explains it, and Retry starts the
    # checked file again, with no second download nor check. --argumentos reach the installer
    # with a window too.
    with https_server(real=installer()) as server:
        run, driven = workspace.run_windowed(
            "--url", server.url(), "--argumentos", "/passive", steps=["Retry=>press:4"],
            env={"SKYLOOM_TEST_EXIT_CODE": "1618",
                 "SKYLOOM_TEST_EXIT_ONCE": win_path(workspace.root / "started")})
    assert run.code == 0
    launch = f'a arrancar: "{win_path(workspace.installer)}" /passive'
    first = run.lines.index("o instalador acabou com 1618")
    assert run.lines[first + 1:first + 4] == [
        "outra instalacao esta' a decorrer: tentar mais tarde (1618)", "tentar de novo", launch]
    assert run.lines[-1] == "o instalador acabou com 0"
    assert run.lines.count(launch) == 2
    assert len(server.requests) == 1
    assert len([line for line in run.lines if line.startswith("assinatura valida")]) == 1
    failure = settled(driven.windows()[-1])
    assert failure.content == failure_content(
        "The installation didn't finish (code 1618). Try again; if it happens again, write to "
        f"us at {build_setting('SKYLOOM_SUPPORT_EMAIL')}.",
        "Another installation is in progress: let it finish, then press Retry.")
    assert failure.buttons.keys() == {IDRETRY, IDCLOSE}
    assert_cleaned_up(workspace)


def test_elevated_run_names_the_full_installer_without_a_link(workspace, machine_temp):
    # Started as administrator: a click must never start a browser with the raised rights. An
    # elevated run works and logs in %SystemRoot%\Temp.
    with https_server([Reply(404, body=b"no")]) as server:
        run, driven = workspace.run_windowed("--url", server.url(), steps=["press:8"],
                                             elevated=True,
                                             log_path=machine_temp / "Skyloom-Setup.log")
    assert run.code == 12
    failure = settled(driven.windows()[-1])
    url = build_setting("SKYLOOM_FULL_INSTALLER_URL")
    assert failure.content == f"{DOWNLOAD_FAILED} {REFUSED}\n\n{FULL_INSTALLER}: {url}"
    assert failure.links == []
    assert not (machine_temp / "Skyloom-Setup").exists()


@contextlib.contextmanager
def https_handler(command: str):
    """The prefix's handler of https URLs, replaced for the block (Wine 8 reads the machine's
    classes only, not the user's)."""
    key = r"HKLM\Software\Classes\https\shell\open\command"

    def reg(*args) -> str:
        return subprocess.run([str(WINE_RUN), "reg", *args], capture_output=True, text=True,
                              check=True).stdout
    before = re.search(r"REG_SZ\s+(.*)", reg("query", key, "/ve")).group(1).strip()
    reg("add", key, "/ve", "/d", command, "/f")
    try:
        yield
    finally:
        reg("add", key, "/ve", "/d", before, "/f")


def test_untrusted_certificate_is_explained_and_the_link_opens_the_full_installer(
        workspace, tmp_path):
    # A root this prefix was never told to trust. Windows fails the send with 12175, the
    # untrusted root's flag coming through the status callback. Wine 8 fails the handshake with
    # 12157, which on Windows means no channel at all, and is explained as that.
    pki = make_server_pki(tmp_path / "pki", name="Unknown Root")
    opened = tmp_path / "opened.log"
    # The stand-in browser writes the URL it was given as a line of a log.
    handler = f'"{win_path(LOGWRITER)}" "{win_path(opened)}" "%1" 1 0'
    with https_handler(handler), \
            ScriptedServer(tls=server_context(pki.server_cert, pki.server_key)) as server:
        run, driven = workspace.run_windowed("--url", server.url(),
                                             steps=["#8=>link", "press:8"])
    url = build_setting("SKYLOOM_FULL_INSTALLER_URL")
    assert run.code == 10
    assert run.lines[-2] in ("erro 10 (detalhe 12157)", "erro 10 (detalhe 12175)")
    advice, advice_log = (NO_CHANNEL, NO_CHANNEL_LOG) if "12157" in run.lines[-2] else \
        (UNTRUSTED, UNTRUSTED_LOG)
    assert run.lines[-3] == advice_log
    assert run.lines[-1] == f"a abrir {url}"
    failure = settled(driven.windows()[-1])
    assert failure.content == failure_content(DOWNLOAD_FAILED, advice)
    assert failure.links == [FULL_INSTALLER]
    deadline = time.monotonic() + 30  # the stand-in may still be starting when the run ends
    while not opened.exists() and time.monotonic() < deadline:
        time.sleep(0.2)
    assert log_messages(opened) == [f"{url} 0 "]
    assert_cleaned_up(workspace)
