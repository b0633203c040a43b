"""Screenshots of the bootstrapper's dialogs under Xvfb, taken with ImageMagick's `import` while
the dialog driver (tests/probes/dialog_driver.cpp) reads them.

    scripts/screenshots [OUT_FOLDER]

Writes, for each of the six languages, LANG-downloading.png (the progress dialog while the
installer comes in) and LANG-failure.png (the failure dialog after a refused download), and
en-untrusted.png (the failure dialog after a certificate from an unknown root) into OUT_FOLDER
(default docs/screenshots). Wine runs in the dialog's locale, so that its own button labels
speak the same language. Needs a display: scripts/screenshots provides one.
"""

import os
import pathlib
import subprocess
import sys
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
os.environ.setdefault("SKYLOOM_BUILD", str(ROOT / "build"))
os.environ.setdefault("SKYLOOM_SOURCE", str(ROOT))

from testkit.harness import BUILD, Workspace  # noqa: E402
from testkit.scripted_server import Reply, ScriptedServer, server_context  # noqa: E402
from testkit.setup_kit import https_server, installer  # noqa: E402
from testkit.tls_pki import make_server_pki  # noqa: E402

LANGUAGES = ("en", "pt", "es", "fr", "de", "it")
# Wine takes its own language from these; glibc needs no generated locale for that.
LOCALES = {"en": "en_US.UTF-8", "pt": "pt_PT.UTF-8", "es": "es_ES.UTF-8", "fr": "fr_FR.UTF-8",
           "de": "de_DE.UTF-8", "it": "it_IT.UTF-8"}
DOWNLOADING = {"en": "Downloading", "pt": "A descarregar", "es": "Descargando",
               "fr": "Téléchargement", "de": "heruntergeladen", "it": "Download"}


def grab(view, path: pathlib.Path) -> None:
    """The dialog's rectangle of the screen, as a PNG."""
    left, top, right, bottom = view.rect
    subprocess.run(["import", "-silent", "-window", "root", "-crop",
                    f"{right - left}x{bottom - top}+{left}+{top}", "+repage", str(path)],
                   check=True)


class Camera:
    """Takes one screenshot per named face: the first view for which its test holds, after
    a moment for the window to paint itself. Called on the driver's reading thread."""

    def __init__(self, faces):
        self.faces = dict(faces)  # path -> test(view)
        self.taken = []
        self.lock = threading.Lock()

    def __call__(self, view):
        for path, test in list(self.faces.items()):
            if test(view):
                with self.lock:
                    if path not in self.faces:
                        continue
                    del self.faces[path]
                time.sleep(1.0)
                grab(view, path)
                self.taken.append(path)


def downloading_face(lingua):
    def test(view):
        return (DOWNLOADING[lingua] in view.instruction and " M" in view.content
                and not view.content.startswith("0 "))
    return test


def progress_faces(out: pathlib.Path) -> dict:
    """The three faces of the progress dialog in any language: the marquee before and after
    the byte count."""
    seen = set()

    def face(name, test):
        def check(view):
            if view.bar is None or not test(view):
                return False
            seen.add(name)
            return True
        return out / f"{name}.png", check

    return dict([
        face("connecting", lambda v: v.bar[1] and "downloading" not in seen),
        face("downloading", lambda v: not v.bar[1] and v.content[:2] not in ("", "0 ")),
        face("checking", lambda v: v.bar[1] and "downloading" in seen),
    ])


def failure_face(view):
    return 8 in view.buttons and view.content != ""


def in_locale(lingua: str) -> dict:
    return {"LC_ALL": LOCALES[lingua], "LANG": LOCALES[lingua]}


def shoot_language(lingua: str, out: pathlib.Path) -> list:
    folder = BUILD / "screenshots" / lingua
    workspace = Workspace(folder)
    camera = Camera({out / f"{lingua}-downloading.png": downloading_face(lingua),
                     out / f"{lingua}-failure.png": failure_face})
    good = installer(size=24 << 20)
    # A slow download, cancelled once its face is taken; then a refused one for the failure.
    with https_server([Reply(200, body=good, rate=1 << 20)]) as server:
        workspace.run_windowed("--lingua", lingua, "--url", server.url(),
                               steps=[" M=>wait:1500", "press:2"], on_view=camera,
                               redraw=True, unix_env=in_locale(lingua))
    with https_server([Reply(404, body=b"no")]) as server:
        workspace.run_windowed("--lingua", lingua, "--url", server.url(),
                               steps=["#8=>wait:1500", "press:8"], on_view=camera,
                               redraw=True, unix_env=in_locale(lingua))
    return camera.taken


def shoot_untrusted(out: pathlib.Path) -> list:
    """The failure after a certificate from a root the prefix was never told to trust."""
    folder = BUILD / "screenshots" / "untrusted"
    pki = make_server_pki(folder / "pki", name="Unknown Root")
    camera = Camera({out / "en-untrusted.png": failure_face})
    with ScriptedServer(tls=server_context(pki.server_cert, pki.server_key)) as server:
        Workspace(folder).run_windowed("--lingua", "en", "--url", server.url(),
                                       steps=["#8=>wait:1500", "press:8"], on_view=camera,
                                       redraw=True, unix_env=in_locale("en"))
    return camera.taken


def main(args) -> int:
    out = pathlib.Path(args[0]) if args else ROOT / "docs" / "screenshots"
    out.mkdir(parents=True, exist_ok=True)
    taken = []
    for lingua in LANGUAGES:
        taken += shoot_language(lingua, out)
    taken += shoot_untrusted(out)
    for path in taken:
        print(path)
    return 0 if len(taken) == 2 * len(LANGUAGES) + 1 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
