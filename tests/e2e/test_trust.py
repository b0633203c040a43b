"""The trust check on real signed files, through Wine's real WinTrust.

Every file is a real Windows program (tests/test_installer) built with the cross compiler, given
a version resource per case and signed with osslsigncode by a leaf of a test PKI made here
(testkit/signing_pki.py). tests/probes/verify_probe.exe runs verifyInstaller on one file and
prints the result, the detail and whether the file stayed open; the log it writes is read back.

Where Wine 8 differs from Windows:
- Wine's chain policy accepts a root that is not in the Root store; Windows refuses it in
  WinVerifyTrust with CERT_E_UNTRUSTEDROOT (0x800B0109) and SignatureInvalid. Under Wine the
  pinned root name is what rejects such a foreign root (SignerMismatch), as the case
  "root_foreign" shows.
- Wine builds the signer's chain without any revocation flags, so it never fetches a CRL and
  never answers CERT_E_REVOCATION_FAILURE; the NetworkError mapping of that status is covered
  by the unit tests (TrustStatusResult) instead.
"""

import pathlib
import shutil

import pytest

from testkit.harness import (BUILD, PROBES, build_setting, finish, log_messages, run_windows,
                             start_windows, win_path)
from testkit.setup_kit import signing_pki
from testkit.make_test_installer import Variant, build_installer
from testkit.signing_pki import EXPECTED_ROOT, NEXT_COUNTRY, NEXT_ORG, NEXT_ROOT

PROBE = PROBES / "verify_probe.exe"

OK, NETWORK, SIGNATURE, SIGNER, VERSION, LOCAL = 0, 10, 20, 21, 22, 50

GOOD_NAMES = f"O=[QUORVANE, LDA] C=[PT] raiz=[{EXPECTED_ROOT} 2020]"


def valid(names=GOOD_NAMES):
    return f"assinatura valida: {names}"


# name: (variant options, with "signer" naming an identity of the PKI)
VARIANTS = {
    "good": dict(signer="good"),
    "good_exact_root": dict(signer="good_exact_root"),
    "root_short": dict(signer="root_short"),
    "root_case": dict(signer="root_case"),
    "root_foreign": dict(signer="root_foreign"),
    "org_case": dict(signer="org_case"),
    "org_blank": dict(signer="org_blank"),
    "org_absent": dict(signer="org_absent"),
    "country_other": dict(signer="country_other"),
    "country_case": dict(signer="country_case"),
    "next_signer": dict(signer="next"),
    "self_signed": dict(signer="self"),
    "unsigned": dict(),
    "tampered": dict(signer="good", tamper=True),
    "v1.1.40.1": dict(signer="good", product_version=(1, 1, 40, 1)),
    "v1.2.0.0": dict(signer="good", product_version=(1, 2, 0, 0)),
    "v2.0.0.0": dict(signer="good", product_version=(2, 0, 0, 0)),
    "v1.1.39.65535": dict(signer="good", product_version=(1, 1, 39, 65535)),
    "v1.0.99.0": dict(signer="good", product_version=(1, 0, 99, 0)),
    "v0.9.0.0": dict(signer="good", product_version=(0, 9, 0, 0)),
    # The file version plays no part, in either direction.
    "file_high_product_low": dict(signer="good", product_version=(1, 0, 0, 0),
                                  file_version=(9, 9, 9, 9)),
    "file_low_product_ok": dict(signer="good", product_version=(1, 1, 40, 0),
                                file_version=(0, 1, 0, 0)),
    "no_version": dict(signer="good", version_resource=False),
    "bare_version_block": dict(signer="good", bare_version_block=True),
    "unsigned_no_version": dict(version_resource=False),
}

# The test next signer under a root of its own: accepted where the build names it, as
# scripts/build does (Wine does not check the root's trust: this proves the names).
NEXT = build_setting("SKYLOOM_NEXT_SIGNERS").split(";")
NEXT_ENTRY, NEXT_NAMES = f"{NEXT_ORG}|{NEXT_COUNTRY}|{NEXT_ROOT}", valid(
    f"O=[{NEXT_ORG}] C=[{NEXT_COUNTRY}] raiz=[{NEXT_ROOT} 2031]")

# name: (result, detail, log lines in order); detail stays 0 unless a status is stored
CASES = {
    "good": (OK, 0, [valid(), "versao do instalador: 1.1.40.0"]),
    "good_exact_root": (OK, 0, [valid(f"O=[QUORVANE, LDA] C=[PT] raiz=[{EXPECTED_ROOT}]"),
                                "versao do instalador: 1.1.40.0"]),
    "root_short": (SIGNER, 0, [valid(f"O=[QUORVANE, LDA] C=[PT] raiz=[{EXPECTED_ROOT[:-1]}]")]),
    "root_case": (SIGNER, 0, [valid("O=[QUORVANE, LDA] C=[PT] raiz=[" +
                                    EXPECTED_ROOT.replace("Authority", "authority") + " 2020]")]),
    # Not in the Root store: Windows stops at WinVerifyTrust with 0x800B0109; Wine lets it
    # through and the pinned root name refuses it.
    "root_foreign": (SIGNER, 0, [valid("O=[QUORVANE, LDA] C=[PT] raiz=[Quorvane Test Root CA]")]),
    "org_case": (SIGNER, 0, [valid(GOOD_NAMES.replace("QUORVANE, LDA", "Quorvane, Lda"))]),
    "org_blank": (SIGNER, 0, [valid(GOOD_NAMES.replace("QUORVANE, LDA", "QUORVANE, LDA "))]),
    "org_absent": (SIGNER, 0, [valid(GOOD_NAMES.replace("QUORVANE, LDA", ""))]),
    "country_other": (SIGNER, 0, [valid(GOOD_NAMES.replace("C=[PT]", "C=[ES]"))]),
    "country_case": (SIGNER, 0, [valid(GOOD_NAMES.replace("C=[PT]", "C=[pt]"))]),
    "next_signer": (OK, 0, [NEXT_NAMES, f"aceite como assinante seguinte "
                                        f"{NEXT.index(NEXT_ENTRY) + 1} de SKYLOOM_NEXT_SIGNERS",
                            "versao do instalador: 1.1.40.0"]) if NEXT_ENTRY in NEXT
    else (SIGNER, 0, [NEXT_NAMES]),
    "self_signed": (SIGNER, 0, ["sem cadeia de certificados"]),
    "unsigned": (SIGNATURE, 0x800B0100, ["WinVerifyTrust: 0x800B0100"]),
    "unsigned_no_version": (SIGNATURE, 0x800B0100, ["WinVerifyTrust: 0x800B0100"]),
    "tampered": (SIGNATURE, 0x80096010, ["WinVerifyTrust: 0x80096010"]),
    "v1.1.40.1": (OK, 0, [valid(), "versao do instalador: 1.1.40.1"]),
    "v1.2.0.0": (OK, 0, [valid(), "versao do instalador: 1.2.0.0"]),
    "v2.0.0.0": (OK, 0, [valid(), "versao do instalador: 2.0.0.0"]),
    "v1.1.39.65535": (VERSION, 0, [valid(), "versao do instalador: 1.1.39.65535"]),
    "v1.0.99.0": (VERSION, 0, [valid(), "versao do instalador: 1.0.99.0"]),
    "v0.9.0.0": (VERSION, 0, [valid(), "versao do instalador: 0.9.0.0"]),
    "file_high_product_low": (VERSION, 0, [valid(), "versao do instalador: 1.0.0.0"]),
    "file_low_product_ok": (OK, 0, [valid(), "versao do instalador: 1.1.40.0"]),
    "no_version": (VERSION, 0, [valid(), "sem versao no ficheiro"]),
    "bare_version_block": (VERSION, 0, [valid(), "a versao nao se le"]),
}


class Kit:
    def __init__(self, files: dict):
        self.files = files


@pytest.fixture(scope="module")
def kit():
    pki = signing_pki()
    cache = BUILD / "test-installers"
    files = {}
    for name, options in VARIANTS.items():
        options = dict(options)
        signer = options.pop("signer", None)
        files[name] = build_installer(Variant(signer=pki[signer] if signer else None,
                                              **options), cache)
    return Kit(files)


def place(kit, name, folder: pathlib.Path) -> pathlib.Path:
    folder.mkdir(parents=True, exist_ok=True)
    target = folder / "Skyloom-win-Setup.exe"
    shutil.copyfile(kit.files[name], target)
    return target


def probe_output(stdout: str) -> dict:
    values = {}
    for line in stdout.splitlines():
        key, sep, value = line.partition("=")
        if sep and key in ("result", "detail", "phase", "verified_open"):
            values[key] = int(value, 0)
    return values


def run_probe(installer: pathlib.Path, log: pathlib.Path) -> dict:
    done = run_windows(PROBE, [win_path(log), win_path(installer)])
    assert done.code == 0, done.stdout + done.stderr
    return probe_output(done.stdout)


@pytest.mark.parametrize("name", list(CASES))
def test_verdict_detail_and_log(kit, tmp_path, name):
    result, detail, lines = CASES[name]
    installer = place(kit, name, tmp_path / "work")
    log = tmp_path / "trust.log"
    out = run_probe(installer, log)
    assert out["result"] == result
    assert out["detail"] == detail
    assert out["phase"] == 2  # Verifying, until the worker sets the final phase
    # The file stays open on every outcome once it could be opened.
    assert out["verified_open"] == 1
    assert log_messages(log) == lines
    assert installer.read_bytes() == kit.files[name].read_bytes()


def test_missing_file_is_a_local_error_without_log_line(tmp_path):
    log = tmp_path / "trust.log"
    out = run_probe(tmp_path / "Skyloom-win-Setup.exe", log)
    assert out == {"result": LOCAL, "detail": 2, "phase": 2, "verified_open": 0}
    assert log_messages(log) == []


def try_operations(target: pathlib.Path, spare: pathlib.Path) -> dict:
    done = run_windows(PROBE, ["--try", win_path(target), win_path(spare)])
    assert done.code == 0, done.stdout + done.stderr
    outcome = {}
    for line in done.stdout.splitlines():
        head, has_error, error = line.partition(" error=")
        name, sep, ok = head.partition("=")
        if sep and has_error:
            outcome[name] = (int(ok), int(error))
    return outcome


def test_checked_file_can_be_read_but_not_changed_while_open(kit, tmp_path):
    installer = place(kit, "good", tmp_path / "work")
    spare = tmp_path / "spare.exe"
    shutil.copyfile(kit.files["v2.0.0.0"], spare)
    flag = tmp_path / "release"
    holder = start_windows(PROBE, [win_path(tmp_path / "trust.log"), win_path(installer),
                                   "--hold", win_path(flag)])
    try:
        seen = []
        while True:
            line = holder.stdout.readline()
            assert line, "the probe ended before it held the file: " + "".join(seen)
            seen.append(line)
            if line.strip() == "holding":
                break
        assert probe_output("".join(seen))["result"] == OK
        # Another process, while verifiedFile is open.
        locked = try_operations(installer, spare)
    finally:
        flag.write_text("")
        finish(holder)
    sharing_violation = 32
    assert locked["read"] == (1, 0)
    assert locked["write"] == (0, sharing_violation)
    assert locked["rename"][0] == 0
    assert locked["replace"][0] == 0
    assert locked["delete"][0] == 0
    assert installer.read_bytes() == kit.files["good"].read_bytes()
    assert spare.exists()

    # Once the handle is closed the same operations succeed: the lock was the only obstacle.
    free = try_operations(installer, spare)
    assert free == {"read": (1, 0), "write": (1, 0), "rename": (1, 0), "replace": (1, 0),
                    "delete": (1, 0)}
    assert not installer.exists()
