"""The main job, end to end on this machine: a test-signed installer served by the local HTTPS
test server, fetched, checked and started by the real Skyloom-Setup.exe under Wine.

    python3 tools/demo.py [--sem-janela] [more options for Skyloom-Setup.exe]
"""

import os
import pathlib
import shutil
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
os.environ.setdefault("SKYLOOM_BUILD", str(ROOT / "build"))
os.environ.setdefault("SKYLOOM_SOURCE", str(ROOT))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness import BUILD, Workspace, win_path  # noqa: E402
from setup_kit import https_server, installer  # noqa: E402


def main(args) -> int:
    folder = BUILD / "demo"
    shutil.rmtree(folder, ignore_errors=True)
    workspace = Workspace(folder)
    print("making a test-signed installer (product version 1.1.40.0)...", flush=True)
    signed = installer()
    report = folder / "installer-report.txt"
    with https_server(real=signed) as server:
        url = server.url()
        print(f"serving it at {url} (test root trusted by the build's Wine prefix)", flush=True)
        command = ["Skyloom-Setup.exe", "--url", url, *args]
        print("running:", " ".join(command), flush=True)
        run = workspace.run_setup("--url", url, *args,
                                  env={"SKYLOOM_TEST_REPORT": win_path(report)})
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
    return run.code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
