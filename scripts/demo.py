"""The main job, end to end on this machine: a test-signed installer served by the local HTTPS
test server, fetched, checked and started by the real Skyloom-Setup.exe under Wine.

    scripts/demo [--sem-janela] [more options for Skyloom-Setup.exe]

With its window, the demo saves screenshots of the progress dialog's three faces and, from a
second run against a server that answers 404, of the failure dialog, in build/demo/screenshots.
"""

import os
import pathlib
import shutil
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
os.environ.setdefault("SKYLOOM_BUILD", str(ROOT / "build"))
os.environ.setdefault("SKYLOOM_SOURCE", str(ROOT))
from screenshots import Camera, failure_face, progress_faces
from testkit.harness import BUILD, Workspace, win_path
from testkit.scripted_server import Reply
from testkit.setup_kit import https_server, installer


def main(args) -> int:
    folder = BUILD / "demo"
    shutil.rmtree(folder, ignore_errors=True)
    workspace = Workspace(folder)
    windowed = "--sem-janela" not in args
    shots = folder / "screenshots"
    shots.mkdir(parents=True, exist_ok=True)
    camera = Camera(progress_faces(shots))
    print("making a test-signed installer (product version 1.1.40.0)...", flush=True)
    # Large enough, and served slowly enough, for each face of the dialog to stay a moment.
    signed = installer(size=64 << 20) if windowed else installer()
    report = folder / "installer-report.txt"
    script = [Reply(200, body=signed, rate=16 << 20, delay=1.5)] if windowed else []
    with https_server(script, real=signed) as server:
        url = server.url()
        print(f"serving it at {url} (test root trusted by the build's Wine prefix)", flush=True)
        command = ["Skyloom-Setup.exe", "--url", url, *args]
        print("running:", " ".join(command), flush=True)
        env = {"SKYLOOM_TEST_REPORT": win_path(report)}
        if windowed:
            run, _ = workspace.run_windowed("--url", url, *args, env=env, on_view=camera,
                                            redraw=True)
        else:
            run = workspace.run_setup("--url", url, *args, env=env)
    print()
    print(f"--- log ({workspace.log_file}) ---")
    print(run.log.replace("\r\n", "\n"), end="")
    print("---")
    if report.exists():
        seen = dict(line.split("=", 1) for line in report.read_text(encoding="utf-8").splitlines())
        print(f"the installer ran: command line {seen['command_line']}, "
              f"current folder {seen['current_directory']}")
    else:
        print("the installer did not run")
    print(f"requests the server saw: {[(r.path, r.range) for r in server.requests]}")
    print(f"exit code: {run.code}")
    if windowed:
        print("a second run against a server that answers 404, for the failure dialog...",
              flush=True)
        failure = Camera({shots / "failure.png": failure_face})
        with https_server([Reply(404, body=b"no")]) as server:
            Workspace(folder / "failing").run_windowed(
                "--url", server.url(), *args, steps=["#8=>wait:1500", "press:8"],
                on_view=failure, redraw=True)
        print("screenshots:")
        for path in sorted(camera.taken + failure.taken):
            print(f"  {path}")
    return run.code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
