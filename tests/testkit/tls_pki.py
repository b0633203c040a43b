"""A throw-away test PKI made with `openssl` at test time: a root CA and a server certificate
for 127.0.0.1 and localhost issued by it. Nothing of it is ever committed; every test session
makes its own in a temporary folder.

    pki = make_server_pki(tmp_folder)
    pki.ca_cert, pki.server_cert, pki.server_key   # PEM files
"""

import dataclasses
import pathlib
import subprocess
import sys


@dataclasses.dataclass(frozen=True)
class ServerPki:
    ca_cert: pathlib.Path
    server_cert: pathlib.Path
    server_key: pathlib.Path


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_server_pki(folder, name: str = "Skyloom Test") -> ServerPki:
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "ca.ext").write_text(
        "basicConstraints=critical,CA:TRUE\n"
        "keyUsage=critical,keyCertSign,cRLSign\n"
        "subjectKeyIdentifier=hash\n")
    (folder / "server.ext").write_text(
        "basicConstraints=critical,CA:FALSE\n"
        "keyUsage=critical,digitalSignature,keyEncipherment\n"
        "extendedKeyUsage=serverAuth\n"
        # Wine's crypt32 matches the host only against DNS names, Windows an address against
        # IP entries too: the address is in both forms.
        "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\n"
        "authorityKeyIdentifier=keyid\n")
    _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
             "-subj", f"/CN={name} Root CA", "-out", "ca.csr", cwd=folder)
    _openssl("x509", "-req", "-in", "ca.csr", "-signkey", "ca.key", "-days", "2",
             "-sha256", "-extfile", "ca.ext", "-out", "ca.pem", cwd=folder)
    _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
             "-subj", "/CN=127.0.0.1", "-out", "server.csr", cwd=folder)
    _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-days", "2", "-sha256", "-extfile", "server.ext",
             "-out", "server.pem", cwd=folder)
    (folder / "ca.key").unlink()  # nothing can be issued under this root once the PKI is made
    return ServerPki(folder / "ca.pem", folder / "server.pem", folder / "server.key")


if __name__ == "__main__":
    print(make_server_pki(sys.argv[1] if len(sys.argv) > 1 else "pki"))
