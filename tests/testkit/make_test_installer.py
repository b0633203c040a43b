"""Builds variants of the test installer (tests/test_installer/main.cpp) with the cross compiler.

    from testkit.make_test_installer import Variant, build_installer
    exe = build_installer(Variant(product_version=(1, 2, 0, 0), signer=pki["good"]), cache)

A variant fixes the version resource, the size (random bytes: an RCDATA resource, or with
layout="overlay" a payload after the last section, as installer builders lay theirs out), the
signature (osslsigncode, by a leaf of testkit/signing_pki.py and its chain) and whether a byte is
changed after signing. Built files are cached in the given folder under a name derived from
everything that went into them, so each variant is compiled once per build folder.

Command line:
    make_test_installer.py OUT.exe [--cache DIR] [--product-version 1.1.40.0]
        [--file-version 1.1.40.0] [--no-version] [--bare-version-block] [--size BYTES]
        [--overlay] [--sign-key KEY.pem --sign-certs CHAIN.pem] [--tamper] [--console]
        [--child-linger-ms MS]
"""

import argparse
import dataclasses
import hashlib
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile

SOURCE = pathlib.Path(__file__).parents[1] / "test_installer" / "main.cpp"
CXX = "x86_64-w64-mingw32-g++-posix"
WINDRES = "x86_64-w64-mingw32-windres"
DEFAULT_SIZE = 1536 * 1024  # the download takes 1 MiB..400 MiB


@dataclasses.dataclass(frozen=True)
class Variant:
    product_version: tuple = (1, 1, 40, 0)
    file_version: tuple = None  # None: the same as the product version
    # False: no version resource at all.
    version_resource: bool = True
    # A version resource that carries no VS_FIXEDFILEINFO (its value length 0).
    bare_version_block: bool = False
    size: int = DEFAULT_SIZE  # about: signing adds a few KiB, the linker rounds to 512 bytes
    # Where the padding lies: "resource" (inside the image, mapped with it) or "overlay" (after
    # the last section, outside the image; the signature covers it all the same).
    layout: str = "resource"
    signer: object = None  # a signing_pki.Identity, or None for an unsigned file
    tamper: bool = False  # change one byte of the padding after signing
    dll: bool = False  # linked as a DLL: it passes the check, but CreateProcessW refuses it
    manifest_level: str = None  # an application manifest with this requestedExecutionLevel
    console: bool = False  # a console program: it gets a console host of its own
    # Starts a copy of itself that stays this many ms in the current folder after the
    # installer has ended (0: none).
    child_linger_ms: int = 0


def _run(*args, cwd=None):
    done = subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{args[0]} failed: {done.stdout}{done.stderr}")


def _words(version) -> str:
    return ",".join(str(int(w)) for w in version)


def _dotted(version) -> str:
    return ".".join(str(int(w)) for w in version)


def _version_block(v: Variant) -> str:
    file_version = v.file_version or v.product_version
    return f"""1 VERSIONINFO
FILEVERSION {_words(file_version)}
PRODUCTVERSION {_words(v.product_version)}
FILEOS 0x40004
FILETYPE 0x1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "ProductName", "Skyloom test installer"
      VALUE "FileVersion", "{_dotted(file_version)}"
      VALUE "ProductVersion", "{_dotted(v.product_version)}"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
"""


def _manifest(level: str) -> str:
    return f"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="{level}" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
</assembly>
"""


def _bare_version_bytes() -> bytes:
    """VS_VERSIONINFO with wValueLength 0: a key, no fixed record, no children."""
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    body = (0).to_bytes(2, "little") + (0).to_bytes(2, "little") + key  # wValueLength, wType
    while (len(body) + 2) % 4:
        body += b"\0"
    return (len(body) + 2).to_bytes(2, "little") + body


def _padding(v: Variant, base: int) -> bytes:
    seed = hashlib.sha256(repr(v).encode()).digest()
    generator = random.Random(seed)
    # In pieces: one randbytes call takes at most 256 MiB (its bit count is a C int).
    left = max(0, v.size - base)
    pieces = []
    while left > 0:
        pieces.append(generator.randbytes(min(left, 64 << 20)))
        left -= len(pieces[-1])
    return b"".join(pieces)


def _key(v: Variant) -> str:
    digest = hashlib.sha256()
    digest.update(SOURCE.read_bytes())
    digest.update(pathlib.Path(__file__).read_bytes())
    digest.update(repr(dataclasses.replace(v, signer=None)).encode())
    if v.signer is not None:
        digest.update(pathlib.Path(v.signer.key).read_bytes())
        digest.update(pathlib.Path(v.signer.certs).read_bytes())
    return digest.hexdigest()[:24]


def _object(cache: pathlib.Path) -> pathlib.Path:
    """The compiled program, shared by every variant."""
    tag = hashlib.sha256(SOURCE.read_bytes()).hexdigest()[:16]
    obj = cache / f"main-{tag}.o"
    if not obj.exists():
        partial = obj.with_suffix(".tmp")
        _run(CXX, "-std=c++20", "-O1", "-municode", "-Wall", "-Wextra", "-Werror",
             "-DUNICODE", "-D_UNICODE", "-c", SOURCE, "-o", partial)
        partial.replace(obj)
    return obj


def _link(v: Variant, obj, work: pathlib.Path, padding: bytes) -> pathlib.Path:
    rc = ""
    if v.version_resource and v.bare_version_block:
        (work / "version.bin").write_bytes(_bare_version_bytes())
        rc += '1 16 "version.bin"\n'
    elif v.version_resource:
        rc += _version_block(v)
    if v.manifest_level:
        (work / "app.manifest").write_text(_manifest(v.manifest_level))
        rc += '1 24 "app.manifest"\n'
    if v.child_linger_ms:
        (work / "linger.txt").write_text(str(int(v.child_linger_ms)))
        rc += '101 RCDATA "linger.txt"\n'
    if padding and v.layout == "resource":
        (work / "padding.bin").write_bytes(padding)
        rc += '100 RCDATA "padding.bin"\n'
    objects = [obj]
    if rc:
        (work / "variant.rc").write_text("#include <winver.h>\n" + rc)
        _run(WINDRES, "-i", "variant.rc", "-o", "variant.res.o", cwd=work)
        objects.append(work / "variant.res.o")
    exe = work / "unsigned.exe"
    subsystem = "-mconsole" if v.console else "-mwindows"
    _run(CXX, "-static", "-O1", "-municode", subsystem, *(["-shared"] if v.dll else []),
         *objects, "-o", exe)
    if padding and v.layout == "overlay":
        with open(exe, "ab") as f:
            f.write(padding)
    return exe


def _tamper(path: pathlib.Path, padding: bytes):
    data = bytearray(path.read_bytes())
    at = data.find(padding[4096:4160])
    if at < 0:
        raise RuntimeError("padding not found: nothing to tamper with")
    data[at] ^= 0x01
    path.write_bytes(bytes(data))


def build_installer(v: Variant, cache) -> pathlib.Path:
    """Returns the cached file of the variant, building it first when needed."""
    cache = pathlib.Path(cache)
    cache.mkdir(parents=True, exist_ok=True)
    out = cache / f"installer-{_key(v)}.exe"
    if out.exists():
        return out
    if v.tamper and v.size < 8192:
        raise ValueError("tampering needs padding of at least 8 KiB")
    if v.layout not in ("resource", "overlay"):
        raise ValueError(f"unknown layout {v.layout!r}")
    obj = _object(cache)
    with tempfile.TemporaryDirectory(dir=cache) as tmp:
        work = pathlib.Path(tmp)
        # Link once without padding to learn the program's own size, then pad up to the goal.
        base = _link(v, obj, work, b"").stat().st_size
        padding = _padding(v, base + 64)
        exe = _link(v, obj, work, padding)
        if v.signer is not None:
            signed = work / "signed.exe"
            _run("osslsigncode", "sign", "-certs", v.signer.certs, "-key", v.signer.key,
                 "-h", "sha256", "-n", "Skyloom", "-in", exe, "-out", signed)
            exe = signed
        if v.tamper:
            _tamper(exe, padding)
        partial = cache / (out.name + ".tmp")
        shutil.copyfile(exe, partial)
        partial.replace(out)
    return out


def _version_arg(text: str) -> tuple:
    words = tuple(int(w) for w in text.split("."))
    if len(words) != 4 or any(not 0 <= w <= 65535 for w in words):
        raise argparse.ArgumentTypeError("four words 0..65535, like 1.1.40.0")
    return words


@dataclasses.dataclass(frozen=True)
class _Signer:
    key: pathlib.Path
    certs: pathlib.Path


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description="Builds one variant of the test installer.")
    p.add_argument("out", type=pathlib.Path)
    p.add_argument("--cache", type=pathlib.Path,
                   default=pathlib.Path(tempfile.gettempdir()) / "skyloom-test-installers")
    p.add_argument("--product-version", type=_version_arg, default=(1, 1, 40, 0))
    p.add_argument("--file-version", type=_version_arg)
    p.add_argument("--no-version", action="store_true")
    p.add_argument("--bare-version-block", action="store_true")
    p.add_argument("--size", type=int, default=DEFAULT_SIZE)
    p.add_argument("--overlay", action="store_true", help="the padding after the last section")
    p.add_argument("--sign-key", type=pathlib.Path)
    p.add_argument("--sign-certs", type=pathlib.Path)
    p.add_argument("--tamper", action="store_true")
    p.add_argument("--console", action="store_true")
    p.add_argument("--child-linger-ms", type=int, default=0)
    a = p.parse_args(argv)
    if (a.sign_key is None) != (a.sign_certs is None):
        p.error("--sign-key and --sign-certs go together")
    signer = _Signer(a.sign_key.resolve(), a.sign_certs.resolve()) if a.sign_key else None
    v = Variant(product_version=a.product_version, file_version=a.file_version,
                version_resource=not a.no_version, bare_version_block=a.bare_version_block,
                size=a.size, layout="overlay" if a.overlay else "resource", signer=signer,
                tamper=a.tamper, console=a.console, child_linger_ms=a.child_linger_ms)
    built = build_installer(v, a.cache)
    shutil.copyfile(built, a.out)
    print(a.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
