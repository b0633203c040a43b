"""What a whole run of the bootstrapper needs: signed test installers, a local HTTPS server
whose root the build's Wine prefix trusts, and the signing roots in the same store."""

import functools
import pathlib

from testkit.harness import BUILD, trust_roots
from testkit.make_test_installer import Variant, build_installer
from testkit.scripted_server import ScriptedServer, server_context
from testkit.signing_pki import make_pki
from testkit.tls_pki import make_server_pki


@functools.lru_cache(maxsize=None)
def signing_pki():
    pki = make_pki(BUILD / "test-pki")
    trust_roots(*pki.store_roots)
    return pki


@functools.lru_cache(maxsize=None)
def tls_context():
    pki = make_server_pki(BUILD / "tls-pki")
    trust_roots(pki.ca_cert)
    return server_context(pki.server_cert, pki.server_key)


def installer(signer="good", **options) -> pathlib.Path:
    """A test installer built (once per build folder) and signed by the named test identity;
    signer=None leaves it unsigned."""
    identity = signing_pki()[signer] if signer else None
    return build_installer(Variant(signer=identity, **options), BUILD / "test-installers")


def https_server(script=(), real=None) -> ScriptedServer:
    return ScriptedServer(script, tls=tls_context(), real=real)
