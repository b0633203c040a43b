import os
import pathlib
import subprocess

import pytest

import shutil

from testkit.harness import MACHINE_TEMP, Workspace


@pytest.fixture
def workspace(tmp_path):
    return Workspace(tmp_path)


@pytest.fixture
def small_volume(tmp_path):
    """mount(size): a tmpfs of that many bytes in the test's folder, unmounted afterwards."""
    mounted = []

    def mount(size: int) -> pathlib.Path:
        if os.geteuid() != 0:
            pytest.skip("mounting a small tmpfs needs root")
        point = tmp_path / f"volume{len(mounted)}"
        point.mkdir()
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(point)],
                              capture_output=True, text=True)
        if done.returncode != 0:
            pytest.skip(f"mount -t tmpfs is not permitted here: {done.stderr.strip()}")
        mounted.append(point)
        return point

    yield mount
    for point in mounted:
        subprocess.run(["umount", "-l", str(point)], capture_output=True)


@pytest.fixture
def machine_temp():
    """MACHINE_TEMP, cleared of what the program leaves there before and after the test, its mode
    put back: an elevated run works and logs there, whatever TEMP says."""
    def clear():
        for left in MACHINE_TEMP.glob("Skyloom-Setup*"):
            if left.is_dir() and not left.is_symlink():
                shutil.rmtree(left, ignore_errors=True)
            else:
                left.unlink(missing_ok=True)
    mode = MACHINE_TEMP.stat().st_mode & 0o7777
    clear()
    yield MACHINE_TEMP
    clear()
    MACHINE_TEMP.chmod(mode)
