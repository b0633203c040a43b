"""The test installer that the trust, download and launch tests use: what it reports when it runs,
the exit code it returns, its size, and the command line of testkit/make_test_installer.py."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

from testkit.harness import BUILD, PROBES, SOURCE, run_windows, start_windows, finish, win_path
from testkit.setup_kit import signing_pki
from testkit.make_test_installer import DEFAULT_SIZE, Variant, _padding, build_installer

PROBE = PROBES / "verify_probe.exe"
CACHE = BUILD / "test-installers"


@pytest.fixture(scope="module")
def pki():
    return signing_pki()


@pytest.fixture(scope="module")
def plain():
    return build_installer(Variant(), CACHE)


def read_report(path: pathlib.Path) -> dict:
    text = path.read_bytes().decode("utf-8")
    return dict(line.split("=", 1) for line in text.splitlines())


def copy_to(source, folder: pathlib.Path, name="Skyloom-win-Setup.exe") -> pathlib.Path:
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(source, folder / name)
    return folder / name


@pytest.mark.parametrize("code_text, expected", [
    (None, 0),
    ("0", 0),
    ("41", 41),
    ("3221225477", 3221225477),  # a crash code: the full unsigned 32-bit value comes back
    ("4294967295", 4294967295),
])
def test_exit_code_comes_from_the_environment(plain, tmp_path, code_text, expected):
    installer = copy_to(plain, tmp_path / "work")
    env = {} if code_text is None else {"SKYLOOM_TEST_EXIT_CODE": code_text}
    done = run_windows(installer, [], env)
    assert done.code == expected
    # No report was asked for, so none is written and the file is left alone.
    assert sorted(p.name for p in (tmp_path / "work").iterdir()) == ["Skyloom-win-Setup.exe"]


def test_report_tells_how_it_was_started_and_what_it_may_do(plain, tmp_path):
    installer = copy_to(plain, tmp_path / "work")
    report = tmp_path / "report.txt"
    done = run_windows(installer, ["--flag", "two words"],
                       {"SKYLOOM_TEST_REPORT": win_path(report), "SKYLOOM_TEST_EXIT_CODE": "7"})
    assert done.code == 7
    values = read_report(report)
    assert list(values) == ["command_line", "current_directory", "own_path", "temp",
                            "open_for_write", "rename", "delete", "inherited_handle"]
    assert values["own_path"].lower() == win_path(installer).lower()
    assert "two words" in values["command_line"]
    assert values["current_directory"].lower().rstrip("\\") == win_path(os.getcwd()).lower()
    # Each answer is "1" or "0 <error>".
    for key in ("open_for_write", "rename", "delete"):
        ok, _, error = values[key].partition(" ")
        assert ok in ("0", "1")
        assert (ok == "1") == (error == "")
    # After a rename that worked the file is back under its own name (unless deleted).
    if values["delete"] != "1":
        assert installer.exists()


def test_report_shows_the_lock_of_the_trust_check(pki, tmp_path):
    """While verify_probe holds verifiedFile, the installer cannot change its own file."""
    signed = build_installer(Variant(signer=pki["good"]), CACHE)
    installer = copy_to(signed, tmp_path / "work")
    flag = tmp_path / "release"
    holder = start_windows(PROBE, [win_path(tmp_path / "trust.log"), win_path(installer),
                                   "--hold", win_path(flag)])
    try:
        while (line := holder.stdout.readline()) and line.strip() != "holding":
            pass
        assert line, "the probe ended before it held the file"
        report = tmp_path / "report.txt"
        done = run_windows(installer, [], {"SKYLOOM_TEST_REPORT": win_path(report)})
    finally:
        flag.write_text("")
        finish(holder)
    assert done.code == 0
    values = read_report(report)
    assert values["open_for_write"] == "0 32"
    assert values["rename"].startswith("0 ")
    assert values["delete"].startswith("0 ")
    assert installer.read_bytes() == signed.read_bytes()


@pytest.mark.parametrize("size", [DEFAULT_SIZE, 3 * 1024 * 1024])
def test_size_is_padded_to_about_the_goal(size):
    built = build_installer(Variant(size=size), CACHE)
    actual = built.stat().st_size
    assert size <= actual <= size + 16 * 1024
    assert 1024 * 1024 <= actual <= 400 * 1024 * 1024


# One randbytes call stops short of 256 MiB, and the benchmark needs the largest installer the
# program takes (400 MiB): the padding comes in pieces, each new, and always the same per variant.
@pytest.mark.parametrize("size, base", [
    ((64 << 20) + (64 << 10), 40 << 10),  # one whole piece and a short second one
    (400 << 20, 40 << 10),  # the upper bound of a download
])
def test_padding_reaches_every_size_in_new_pieces(size, base):
    padding = _padding(Variant(size=size), base)
    assert len(padding) == size - base
    tail = len(padding) - (64 << 20)
    assert padding[64 << 20:] != padding[:tail]
    if size < (100 << 20):
        assert _padding(Variant(size=size), base) == padding


def test_command_line_builds_a_signed_file_the_check_accepts(pki, tmp_path):
    out = tmp_path / "work" / "Skyloom-win-Setup.exe"
    out.parent.mkdir()
    good = pki["good"]
    subprocess.run([sys.executable, "-m", "testkit.make_test_installer", str(out),
                    "--cache", str(CACHE), "--product-version", "1.2.3.4",
                    "--file-version", "0.0.0.1", "--sign-key", str(good.key),
                    "--sign-certs", str(good.certs)], check=True, capture_output=True,
                   env={**os.environ, "PYTHONPATH": str(SOURCE / "tests")})
    log = tmp_path / "trust.log"
    done = run_windows(PROBE, [win_path(log), win_path(out)])
    assert "result=0" in done.stdout.splitlines()
    assert log.read_bytes().decode("utf-8").endswith("versao do instalador: 1.2.3.4\r\n")


def test_variants_are_cached_and_distinct(pki):
    first = build_installer(Variant(product_version=(1, 2, 0, 0), signer=pki["good"]), CACHE)
    again = build_installer(Variant(product_version=(1, 2, 0, 0), signer=pki["good"]), CACHE)
    other = build_installer(Variant(product_version=(1, 2, 0, 1), signer=pki["good"]), CACHE)
    assert first == again
    assert first != other
    assert first.read_bytes() != other.read_bytes()
