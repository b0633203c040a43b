"""A test PKI for code signing, made with openssl when the tests run.

Nothing here is ever committed: the keys live in a folder of the build (or any folder given),
made once and reused while its stamp matches this file's description of the identities.

    from testkit.signing_pki import make_pki
    pki = make_pki(build / "test-pki")
    pki["good"].key, pki["good"].certs   # leaf key, PEM chain leaf..root for osslsigncode
    pki.store_roots                      # PEM files for tests/probes/addroot.exe

Command line: python3 signing_pki.py FOLDER   (prints one line per identity)
"""

import dataclasses
import hashlib
import json
import pathlib
import subprocess
import sys

EXPECTED_ROOT = "Microsoft Identity Verification Root Certificate Authority"
assert len(EXPECTED_ROOT) == 58
ORG = "QUORVANE, LDA"
COUNTRY = "PT"
# The next signer that scripts/build names in SKYLOOM_NEXT_SIGNERS, under a root of its own.
NEXT_ORG, NEXT_COUNTRY, NEXT_ROOT = "Skyloom Test Next, S.A.", "IE", "Skyloom Test Next Root CA"

# Roots: name -> (common name, whether the tests put it in the prefix's Root store).
ROOTS = {
    "exact": (EXPECTED_ROOT, True),
    "year": (EXPECTED_ROOT + " 2020", True),
    # One character short of the pinned prefix.
    "short": (EXPECTED_ROOT[:-1], True),
    # The pinned prefix with one letter in other case.
    "case": (EXPECTED_ROOT.replace("Authority", "authority") + " 2020", True),
    # Not in the store at all: Windows refuses it as an untrusted root, Wine does not.
    "foreign": ("Quorvane Test Root CA", False),
    "next": (NEXT_ROOT + " 2031", True),
}

# Signing identities: name -> (root, leaf subject attributes, extra leaf extensions).
# Every identity but "self" is leaf -> intermediate -> root.
IDENTITIES = {
    "good": ("year", {"O": ORG, "C": COUNTRY}),
    "good_exact_root": ("exact", {"O": ORG, "C": COUNTRY}),
    "root_short": ("short", {"O": ORG, "C": COUNTRY}),
    "root_case": ("case", {"O": ORG, "C": COUNTRY}),
    "root_foreign": ("foreign", {"O": ORG, "C": COUNTRY}),
    "org_case": ("year", {"O": "Quorvane, Lda", "C": COUNTRY}),
    "org_blank": ("year", {"O": ORG + " ", "C": COUNTRY}),
    "org_absent": ("year", {"C": COUNTRY}),
    "country_other": ("year", {"O": ORG, "C": "ES"}),
    "country_case": ("year", {"O": ORG, "C": "pt"}),
    "next": ("next", {"O": NEXT_ORG, "C": NEXT_COUNTRY}),
}

LEAF_EXT = """basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
"""
CA_EXT = """basicConstraints=critical,CA:TRUE{pathlen}
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
"""
ROOT_EXT = """basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
"""


@dataclasses.dataclass(frozen=True)
class Identity:
    name: str
    key: pathlib.Path  # the leaf's private key, PEM
    certs: pathlib.Path  # PEM chain: leaf, intermediate, root (just the leaf when self-signed)
    leaf: pathlib.Path
    root_name: str
    in_store: bool


@dataclasses.dataclass
class Pki:
    folder: pathlib.Path
    identities: dict
    store_roots: list  # PEM files that belong in the prefix's machine Root store

    def __getitem__(self, name) -> Identity:
        return self.identities[name]


def _openssl(*args, cwd):
    subprocess.run(["openssl", *map(str, args)], cwd=cwd, check=True, capture_output=True)


def _subject(attrs: dict) -> str:
    # openssl keeps blanks and commas inside a slash-separated subject as they are.
    return "".join(f"/{k}={v}" for k, v in attrs.items())


def _key(folder, name):
    path = folder / f"{name}.key"
    _openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", path,
             cwd=folder)
    return path


def _self_signed(folder, name, subject, ext, key):
    cert = folder / f"{name}.pem"
    ext_file = folder / f"{name}.ext"
    ext_file.write_text(ext)
    _openssl("req", "-x509", "-new", "-key", key, "-subj", subject, "-days", "3650",
             "-sha256", "-set_serial", "0x" + hashlib.sha1(name.encode()).hexdigest()[:16],
             "-extensions", "v3", "-config", _req_config(folder, ext), "-out", cert, cwd=folder)
    return cert


def _req_config(folder, ext):
    config = folder / "req.cnf"
    config.write_text("[req]\ndistinguished_name=dn\n[dn]\n[v3]\n" + ext)
    return config


def _issue(folder, name, subject, ext, key, issuer_cert, issuer_key):
    csr = folder / f"{name}.csr"
    cert = folder / f"{name}.pem"
    ext_file = folder / f"{name}.ext"
    ext_file.write_text(ext)
    _openssl("req", "-new", "-key", key, "-subj", subject, "-config", _req_config(folder, ""),
             "-out", csr, cwd=folder)
    _openssl("x509", "-req", "-in", csr, "-CA", issuer_cert, "-CAkey", issuer_key,
             "-set_serial", "0x" + hashlib.sha1(name.encode()).hexdigest()[:16], "-days",
             "3650", "-sha256", "-extfile", ext_file, "-out", cert, cwd=folder)
    return cert


def _description() -> str:
    return json.dumps({"roots": ROOTS, "ids": IDENTITIES, "leaf": LEAF_EXT, "ca": CA_EXT,
                       "version": 1}, sort_keys=True)


def _build(folder: pathlib.Path):
    leaf_key = _key(folder, "leaf")
    for root, (cn, _) in ROOTS.items():
        key = _key(folder, f"root-{root}")
        cert = _self_signed(folder, f"root-{root}", f"/O=Test PKI/CN={cn}", ROOT_EXT, key)
        ikey = _key(folder, f"inter-{root}")
        _issue(folder, f"inter-{root}", f"/O=Test PKI/CN=Code Signing CA under {root}",
               CA_EXT.format(pathlen=",pathlen:0"), ikey, cert, key)
    for name, (root, attrs) in IDENTITIES.items():
        leaf = _issue(folder, f"leaf-{name}", _subject({**attrs, "CN": f"Skyloom {name}"}),
                      LEAF_EXT, leaf_key, folder / f"inter-{root}.pem",
                      folder / f"inter-{root}.key")
        chain = [leaf, folder / f"inter-{root}.pem", folder / f"root-{root}.pem"]
        (folder / f"chain-{name}.pem").write_text("".join(p.read_text() for p in chain))
    # A self-signed code-signing leaf: its chain is that one certificate.
    self_key = _key(folder, "leaf-self")
    self_cert = _self_signed(folder, "leaf-self", _subject({"O": ORG, "C": COUNTRY,
                                                             "CN": EXPECTED_ROOT + " self"}),
                             LEAF_EXT.replace("authorityKeyIdentifier=keyid\n", ""), self_key)
    (folder / "chain-self.pem").write_text(self_cert.read_text())


def make_pki(folder) -> Pki:
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    stamp = folder / "stamp.json"
    if not stamp.exists() or stamp.read_text() != _description():
        for old in folder.iterdir():
            old.unlink()
        _build(folder)
        stamp.write_text(_description())
    identities = {}
    for name, (root, _) in IDENTITIES.items():
        cn, in_store = ROOTS[root]
        identities[name] = Identity(name, folder / "leaf.key", folder / f"chain-{name}.pem",
                                    folder / f"leaf-{name}.pem", cn, in_store)
    # Put in the store as well, so that Windows would build the same one-certificate chain.
    identities["self"] = Identity("self", folder / "leaf-self.key", folder / "chain-self.pem",
                                  folder / "leaf-self.pem", EXPECTED_ROOT + " self", True)
    roots = [folder / f"root-{r}.pem" for r, (_, stored) in ROOTS.items() if stored]
    roots.append(folder / "leaf-self.pem")
    return Pki(folder, identities, roots)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: signing_pki.py FOLDER")
    made = make_pki(sys.argv[1])
    for identity in made.identities.values():
        print(identity.name, identity.key, identity.certs)
