"""A file or folder held for a moment by someone else, with the real executable under Wine: a
scanner-like holder (tests/probes/holdfile.exe) that opens the file with no sharing, a console
installer, and an installer that leaves a process behind whose current folder is the working
folder. Held operations are tried again for at most 1.5 s each and 4.5 s per process."""

import pathlib
import time

import pytest

from testkit.harness import ended, full_installer_line, held, win_path
from testkit.setup_kit import https_server, installer


def wait_for_line(log: pathlib.Path, line: str, timeout: float = 60) -> bool:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if log.exists() and line in log.read_bytes().decode("utf-8", "replace"):
            return True
        time.sleep(0.05)
    return False


def test_partial_file_held_at_start_is_waited_for_then_resumed(workspace):
    good = installer()
    data = good.read_bytes()
    workspace.work_folder.mkdir()
    workspace.installer.write_bytes(data[:400_000])
    flag = workspace.root / "release"
    with https_server(real=good) as server:
        with held(workspace.installer, flag):
            run = workspace.start_setup("--sem-janela", "--sem-executar", "--url", server.url())
            # Let go only once the bootstrapper has met the hold and said it waits.
            seen = wait_for_line(workspace.log_file, "o ficheiro esta' ocupado: espero (32)")
            flag.touch()
        code = ended(run)
    assert seen
    lines = workspace.messages(workspace.read_log())
    assert code == 0, lines
    assert server.ranges == ["bytes=400000-"]
    assert lines.count("o ficheiro esta' ocupado: espero (32)") == 1
    assert not any(line.startswith("desisto") for line in lines)
    assert lines[-1] == "verificado; --sem-executar: nao corre"
    assert not workspace.work_folder.exists()


def test_file_held_for_longer_gives_50_with_32_and_the_waits_stay_bounded(workspace):
    good = installer()
    workspace.work_folder.mkdir()
    workspace.installer.write_bytes(good.read_bytes()[:400_000])
    flag = workspace.root / "release"
    installer_path = win_path(workspace.installer)
    folder = win_path(workspace.work_folder)
    with https_server(real=good) as server:
        with held(workspace.installer, flag):
            started = time.monotonic()
            run = workspace.run_setup("--sem-janela", "--url", server.url())
            took = time.monotonic() - started
    assert run.code == 50
    assert server.requests == []
    end = run.lines[run.lines.index("erro 50 (detalhe 32)") - 4:]
    # The open gives up after its waits; clean-up meets the same holder on the file, then a
    # folder that is not empty: each says once that it waits and once that it gives up.
    assert end == [
        "o ficheiro esta' ocupado: espero (32)", f"desisto: {installer_path} (32)",
        full_installer_line(), "causa: o ficheiro esta' ocupado por outro programa",
        "erro 50 (detalhe 32)",
        "o ficheiro esta' ocupado: espero (32)", f"desisto: {installer_path} (32)",
        "a pasta esta' ocupada: espero (145)", f"desisto: {folder} (145)",
    ]
    # Three operations of 1.5 s fill the process's 4.5 s; Wine's start-up adds the rest.
    assert took >= 4.5
    # What was on disk stays for the next run, which resumes it.
    assert workspace.installer.stat().st_size == 400_000


def test_console_installer_leaves_no_working_folder(workspace):
    with https_server(real=installer(console=True)) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url())
    assert run.code == 0, run.lines
    # Under Wine its console host may still hold the folder for a moment: one wait at most.
    after = run.lines[run.lines.index("o instalador acabou com 0") + 1:]
    assert after in ([], ["a pasta esta' ocupada: espero (32)"])
    assert not any(line.startswith("desisto") for line in run.lines)
    assert not workspace.work_folder.exists()


@pytest.mark.parametrize("linger_ms, folder_stays", [(300, False), (8000, True)])
def test_child_of_the_installer_in_the_working_folder(workspace, linger_ms, folder_stays):
    folder = win_path(workspace.work_folder)
    with https_server(real=installer(child_linger_ms=linger_ms)) as server:
        run = workspace.run_setup("--sem-janela", "--url", server.url())
        # The exit code is the installer's, whatever becomes of the folder.
        assert run.code == 0, run.lines
        finished = run.lines.index("o instalador acabou com 0")
        after = run.lines[finished + 1:]
        assert not workspace.installer.exists()
        if folder_stays:
            # On Windows as under Wine, a process's current folder cannot be removed.
            assert after == ["a pasta esta' ocupada: espero (32)", f"desisto: {folder} (32)"]
            assert workspace.work_folder.is_dir()
            assert list(workspace.work_folder.iterdir()) == []
            # The next run uses the folder again and, the child gone, removes it.
            time.sleep(linger_ms / 1000)
            again = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
            assert again.code == 0
            assert not any(line.startswith(("nao consegui criar", "desisto"))
                           for line in again.lines[len(run.lines):])
            assert not workspace.work_folder.exists()
        else:
            assert after in ([], ["a pasta esta' ocupada: espero (32)"])
            assert not workspace.work_folder.exists()
