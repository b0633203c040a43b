"""Faults of the machine with the real executable under Wine, each ending with its code: the disk
filling up during the transfer, the working folder deleted or held by another process while
the file downloads, a temporary folder that cannot be written, instances racing at start, and
log paths that cannot be written. (A kill -9 mid-transfer and its resume is in
test_setup_run.py; the free-space test before the body in test_download_space.py.)"""

import contextlib
import shutil
import subprocess
import time

import pytest

from testkit.harness import Workspace, ended, held, win_path
from testkit.scripted_server import Reply, ScriptedServer
from testkit.setup_kit import installer

MIB = 1 << 20


def slow_server(body, rate=300_000):
    """The first answer crawls, so the test can act while the file is being written; later
    requests are answered at full speed."""
    return ScriptedServer([Reply(200, body=body, rate=rate)], real=body)


def wait_until_written(path, size=200_000, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and path.stat().st_size >= size:
            return
        time.sleep(0.05)
    raise AssertionError(f"{path} never reached {size} bytes")


def test_disk_that_fills_up_during_the_transfer(tmp_path, small_volume):
    # Room for the file plus the 400 MiB margin when the size is judged; then the test takes
    # the room away while the body is written.
    temp = small_volume(402 * MIB)
    workspace = Workspace(tmp_path)
    env = {"TEMP": win_path(temp), "TMP": win_path(temp)}
    log = tmp_path / "run.log"
    good = installer()
    with slow_server(good.read_bytes()) as server:
        run = workspace.start_setup("--sem-janela", "--url", server.url(), "--log",
                                    win_path(log), env=env)
        wait_until_written(temp / "Skyloom-Setup" / "Skyloom-win-Setup.exe")
        subprocess.run(["fallocate", "-l", str(401 * MIB), str(temp / "filler")], check=False)
        # Whatever fallocate could not take, a plain write takes.
        with open(temp / "filler2", "wb") as f:
            try:
                while True:
                    f.write(b"\0" * MIB)
                    f.flush()
            except OSError:
                pass
        code = ended(run)
    lines = Workspace.messages(log.read_bytes().decode("utf-8"))
    assert code == 30, lines
    assert lines[-1] in ("erro 30 (detalhe 112)", "erro 30 (detalhe 39)")
    assert len(server.requests) == 1
    assert not (temp / "Skyloom-Setup").exists()


def test_working_folder_deleted_while_the_file_downloads(workspace):
    # Linux lets the folder go while Wine holds it and the file open (on Windows the open file
    # keeps it): the check, inside the folder held, then finds no file, a local error; the next
    # run starts over and succeeds.
    good = installer()
    with slow_server(good.read_bytes()) as server:
        run = workspace.start_setup("--sem-janela", "--sem-executar", "--url", server.url())
        wait_until_written(workspace.installer)
        shutil.rmtree(workspace.work_folder)
        code = ended(run)
        lines = workspace.messages(workspace.read_log())
        assert code == 50, lines
        assert lines[-1] == "erro 50 (detalhe 2)"
        again = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
    assert again.code == 0
    assert server.ranges == [None, None]
    assert not workspace.work_folder.exists()


@pytest.mark.parametrize("how", [["--share-read-write"], ["--cwd"]])
def test_working_folder_held_by_another_process_while_the_file_downloads(workspace, how):
    # A folder opened by another process (which can no longer take it without sharing: the run
    # holds it), or made the current folder of a command prompt, while the file downloads: the
    # run ends as it would have; only the folder stays, and is logged.
    good = installer()
    flag = workspace.root / "release"
    folder = win_path(workspace.work_folder)
    with slow_server(good.read_bytes()) as server:
        run = workspace.start_setup("--sem-janela", "--sem-executar", "--url", server.url())
        wait_until_written(workspace.installer)
        with held(workspace.work_folder, flag, *how):
            code = ended(run)
        lines = workspace.messages(workspace.read_log())
        assert code == 0, lines
        assert lines[-3:] == ["verificado; --sem-executar: nao corre",
                              "a pasta esta' ocupada: espero (32)", f"desisto: {folder} (32)"]
        assert workspace.work_folder.is_dir() and not workspace.installer.exists()
        # The next run uses the folder that stayed.
        again = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url())
    assert again.code == 0
    assert not workspace.work_folder.exists()


@contextlib.contextmanager
def read_only_volume(tmp_path):
    point = tmp_path / "ro"
    point.mkdir()
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", str(point)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        pytest.skip(f"cannot mount a read-only tmpfs here: {done.stderr.strip()}")
    try:
        yield point
    finally:
        subprocess.run(["umount", "-l", str(point)], capture_output=True)


@pytest.mark.parametrize("kind", ["read-only volume", "a file where the folder belongs"])
def test_temporary_folder_that_cannot_be_written(tmp_path, kind):
    workspace = Workspace(tmp_path)
    log = tmp_path / "run.log"
    with contextlib.ExitStack() as stack:
        if kind == "read-only volume":
            temp = stack.enter_context(read_only_volume(tmp_path))
            # The fixed name fails, and so does the fresh folder that takes its place.
            fixed = f"nao uso {win_path(temp)}\\Skyloom-Setup ("
            expected_end = f"nao consegui criar {win_path(temp)}\\Skyloom-Setup-"
        else:
            temp = tmp_path / "plain"
            temp.mkdir()
            # The working folder's name is taken by a file: it is no folder of the program's
            # own, so it is left alone and the run goes on in a fresh folder.
            (temp / "Skyloom-Setup").write_bytes(b"not a folder")
        env = {"TEMP": win_path(temp), "TMP": win_path(temp)}
        with ScriptedServer(real=installer().read_bytes()) as server:
            run = workspace.run_setup("--sem-janela", "--url", server.url(), "--log",
                                      win_path(log), env=env, log_path=log)
        if kind != "read-only volume":
            assert run.code == 0, run.lines
            assert f"nao uso {win_path(temp)}\\Skyloom-Setup: nao e' uma pasta" in run.lines
            assert (temp / "Skyloom-Setup").read_bytes() == b"not a folder"
            assert [p.name for p in temp.iterdir()] == ["Skyloom-Setup"]
            return
        assert run.code == 50
        assert run.lines[-2].startswith(fixed), run.lines
        assert run.lines[-1].startswith(expected_end), run.lines
        assert not run.lines[-1].endswith("(0)")
        assert server.requests == []


def test_instances_racing_at_start(workspace):
    # Started together: exactly one takes the mutex and runs; the others end with 2 at once and
    # leave the winner's folder and file alone.
    good = installer()
    with ScriptedServer([Reply(200, body=good.read_bytes(), rate=1_000_000)],
                        real=good) as server:
        runs = [workspace.start_setup("--sem-janela", "--sem-executar", "--url", server.url())
                for _ in range(3)]
        codes = sorted(ended(run) for run in runs)
    lines = workspace.messages(workspace.read_log())
    assert codes == [0, 2, 2], lines
    assert lines.count("ja' ha' um a correr") == 2
    assert len(server.requests) == 1
    assert lines.count("verificado; --sem-executar: nao corre") == 1
    assert not workspace.work_folder.exists()


@pytest.mark.parametrize("kind", ["missing folder", "a folder", "held without sharing",
                                  "read-only volume"])
def test_log_path_that_cannot_be_written(tmp_path, workspace, kind):
    good = installer()
    flag = tmp_path / "release"
    with contextlib.ExitStack() as stack:
        if kind == "missing folder":
            log = tmp_path / "missing" / "run.log"
        elif kind == "a folder":
            log = tmp_path / "logdir"
            log.mkdir()
        elif kind == "held without sharing":
            log = tmp_path / "held.log"
            log.write_bytes(b"")
            stack.enter_context(held(log, flag))
        else:
            log = stack.enter_context(read_only_volume(tmp_path)) / "run.log"
        with ScriptedServer(real=good) as server:
            run = workspace.run_setup("--sem-janela", "--sem-executar", "--url", server.url(),
                                      "--log", win_path(log))
    # The run ends as it would have; the lines are lost.
    assert run.code == 0
    assert server.ranges == [None]
    assert not workspace.work_folder.exists()
    assert not log.is_file() or log.stat().st_size == 0
