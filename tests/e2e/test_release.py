"""scripts/release: the signed file verifies with osslsigncode and with WinVerifyTrust under
Wine, its checksums are right, and two clean builds in different folders are the same bytes."""

import hashlib
import os
import subprocess

import pytest

from testkit.harness import (PROBES, SETUP_EXE, SOURCE, build_setting, log_messages, run_windows,
                             trust_roots, win_path)
from testkit.setup_kit import signing_pki

RELEASE = SOURCE / "scripts" / "release"
VERIFY_PROBE = PROBES / "verify_probe.exe"


def release(*args, timeout=120, cwd=None):
    done = subprocess.run(["bash", str(RELEASE), *map(str, args)], capture_output=True,
                          text=True, timeout=timeout, cwd=cwd)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def sums(folder):
    return dict(reversed(line.split("  ")) for line in (folder / "SHA256SUMS").read_text()
                .splitlines())


def test_signed_with_a_test_certificate_verifies(tmp_path):
    out = tmp_path / "out"
    said = release("--from", SETUP_EXE, "--out", out)
    assert "NO CERTIFICATE GIVEN" in said and "TEST certificate" in said
    signed = out / "Skyloom-Setup.exe"
    unsigned = out / "Skyloom-Setup.unsigned.exe"
    assert unsigned.read_bytes() == SETUP_EXE.read_bytes()
    assert signed.read_bytes() != unsigned.read_bytes()
    for name, digest in sums(out).items():
        assert hashlib.sha256((out / name).read_bytes()).hexdigest() == digest, name
        assert digest in said

    checked = subprocess.run(["osslsigncode", "verify", "-CAfile", str(out / "test-root.pem"),
                              "-in", str(signed)], capture_output=True, text=True)
    assert checked.returncode == 0, checked.stdout + checked.stderr
    assert "sha256" in checked.stdout.lower()

    # WinVerifyTrust through the program's own check: the signature and its signer pass, and
    # the check stops only at the version, which a bootstrapper's 1.0.0.0 does not reach.
    trust_roots(out / "test-root.pem")
    log = tmp_path / "verify.log"
    probe = run_windows(VERIFY_PROBE, [win_path(log), win_path(signed)])
    assert "result=22" in probe.stdout, probe.stdout
    lines = log_messages(log)
    assert any(line.startswith("assinatura valida: O=[QUORVANE, LDA] C=[PT]") for line in lines)
    assert "versao do instalador: 1.0.0.0" in lines


@pytest.mark.parametrize("kind", ["pkcs12", "pem"])
def test_signed_with_the_named_certificate(tmp_path, kind):
    """The caller's certificate, named by paths relative to the caller's own folder."""
    good = signing_pki()["good"]
    if kind == "pkcs12":
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(good.key), "-in",
                        str(good.certs), "-out", str(tmp_path / "id.p12"), "-passout",
                        "pass:not-a-secret"], check=True, capture_output=True)
        (tmp_path / "pass.txt").write_text("not-a-secret")
        args = ["--pkcs12", "id.p12", "--password-file", "pass.txt"]
    else:
        (tmp_path / "chain.pem").write_bytes(good.certs.read_bytes())
        (tmp_path / "leaf.key").write_bytes(good.key.read_bytes())
        args = ["--cert", "chain.pem", "--key", "leaf.key"]
    said = release("--from", SETUP_EXE, "--out", "out", *args, cwd=tmp_path)
    assert "TEST certificate" not in said
    root = good.certs.read_text().split("-----END CERTIFICATE-----")[-2] + \
        "-----END CERTIFICATE-----\n"
    (tmp_path / "root.pem").write_text(root.lstrip())
    checked = subprocess.run(["osslsigncode", "verify", "-CAfile", str(tmp_path / "root.pem"),
                              "-in", str(tmp_path / "out" / "Skyloom-Setup.exe")],
                             capture_output=True, text=True)
    assert checked.returncode == 0, checked.stdout + checked.stderr


def test_tampered_release_fails_both_checks(tmp_path):
    out = tmp_path / "out"
    release("--from", SETUP_EXE, "--out", out)
    tampered = out / "tampered.exe"
    data = bytearray((out / "Skyloom-Setup.exe").read_bytes())
    data[0x400] ^= 0xFF  # a byte of the code, inside what the signature covers
    tampered.write_bytes(bytes(data))
    checked = subprocess.run(["osslsigncode", "verify", "-CAfile", str(out / "test-root.pem"),
                              "-in", str(tampered)], capture_output=True, text=True)
    assert checked.returncode != 0
    trust_roots(out / "test-root.pem")
    probe = run_windows(VERIFY_PROBE, [win_path(tmp_path / "v.log"), win_path(tampered)])
    assert "result=20" in probe.stdout, probe.stdout


def test_two_clean_builds_are_identical(tmp_path):
    """The whole command: two clean builds in different folders, compared, then signed."""
    out = tmp_path / "out"
    said = release("--out", out, "--quiet-args", build_setting("SKYLOOM_INSTALLER_QUIET_ARGS"),
                   "--next-signers", build_setting("SKYLOOM_NEXT_SIGNERS"),
                   timeout=1800)
    assert "both builds are byte for byte the same" in said
    unsigned = (out / "Skyloom-Setup.unsigned.exe").read_bytes()
    assert unsigned[:2] == b"MZ"
    # The same flags and settings as the test build: the file the tests ran is the file that
    # ships.
    assert unsigned == SETUP_EXE.read_bytes()
    assert os.path.getsize(out / "Skyloom-Setup.exe") > len(unsigned)
