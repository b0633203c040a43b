#!/usr/bin/env python3
"""Soak: many runs of the real Skyloom-Setup.exe under Wine against a local server that drops
the connection at random byte offsets (with FIN or with a reset), hangs up before answering and
stalls at random, all drawn from one seed, so a run of the soak can be repeated exactly.

For every run it checks:
- each request's Range asks for exactly the bytes after those on disk when it arrives (the
  server looks at the file then): nothing on disk is fetched again;
- a run that succeeds started an installer that is byte for byte the origin (the test
  installer copies the file it was started from before the bootstrapper deletes it);
- a run that gives up ends with 10 or 14 and leaves neither file nor folder behind.
It counts the faults that struck, the pauses of the retry loop, and the bytes sent beyond the
file's size (those in flight when a connection broke), and can write them to
docs/reliability.md.

    scripts/soak [--runs 50] [--seed 1] [--long-stalls 1] [--write-doc]

Needs a build (SKYLOOM_BUILD, default build/) and a display-less Wine; see docs/reliability.md.
"""

import argparse
import collections
import dataclasses
import pathlib
import random
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent

from testkit.harness import (SETUP_EXE, SOURCE, SetupRun, Workspace, run_windows,  # noqa: E402
                             win_path)
from testkit.scripted_server import Reply, ScriptedServer  # noqa: E402
from testkit.setup_kit import installer  # noqa: E402

FILE_SIZE = 3 * 1024 * 1024
REPLIES_PER_RUN = 8  # two URLs of three attempts each: six at most are used
LONG_STALL_S = 62  # past the 60 s receive time-out
WEIGHTS = {"clean": 30, "drop": 45, "stall": 20, "hangup": 5}


@dataclasses.dataclass
class Planned:
    kind: str
    reply: Reply


def plan_reply(rng: random.Random, body: bytes, long_stall: bool) -> Planned:
    size = len(body)
    if long_stall:
        return Planned("long stall", Reply(ranged=True, body=body,
                                           stall=(rng.randrange(0, size // 2), LONG_STALL_S)))
    kind = rng.choices(list(WEIGHTS), weights=list(WEIGHTS.values()))[0]
    if kind == "drop":
        reset = rng.random() < 0.5
        return Planned("drop (reset)" if reset else "drop (close)",
                       Reply(ranged=True, body=body, drop_after=rng.randrange(0, size * 6 // 10),
                             reset=reset))
    if kind == "stall":
        return Planned("short stall", Reply(ranged=True, body=body,
                                            stall=(rng.randrange(0, size * 8 // 10),
                                                   round(rng.uniform(0.3, 2.5), 2))))
    if kind == "hangup":
        return Planned("hang-up before answering",
                       Reply(ranged=True, body=body, hangup=True, reset=rng.random() < 0.5))
    return Planned("clean", Reply(ranged=True, body=body))


@dataclasses.dataclass
class RunResult:
    code: int
    seconds: float
    requests: int
    faults: collections.Counter
    pauses_s: int
    held_waits: int
    sent: int
    refetched: int
    largest_break_loss: int
    problems: list


def plan_run(rng: random.Random, body: bytes, long_stall: bool) -> list:
    return [plan_reply(rng, body, long_stall and i == 0) for i in range(REPLIES_PER_RUN)]


def one_run(index: int, plans: list, body: bytes, root: pathlib.Path) -> RunResult:
    workspace = Workspace(root / f"run{index:03d}")
    copy = workspace.root / "started-installer.exe"

    def on_disk() -> int:
        try:
            return workspace.installer.stat().st_size
        except FileNotFoundError:
            return -1

    with ScriptedServer([p.reply for p in plans], observe=on_disk) as server:
        urls = [server.url("/download/app"), server.url("/updates/Skyloom-win-Setup.exe")]
        started = time.monotonic()
        done = run_windows(SETUP_EXE, ["--sem-janela", "--url", urls[0], "--url", urls[1]],
                           {**workspace.env, "SKYLOOM_TEST_COPY_TO": win_path(copy)}, 600)
        run = SetupRun(done.code, "", workspace.messages(workspace.read_log()), done.stdout)
        seconds = time.monotonic() - started
        requests = list(server.requests)

    problems = []
    faults = collections.Counter()
    size = len(body)
    refetched = 0
    largest = 0
    for i, request in enumerate(requests):
        disk = max(request.observed, 0)
        expected = None if disk == 0 else f"bytes={disk}-"
        if request.range != expected:
            problems.append(f"request {i}: Range {request.range!r} with {disk} bytes on disk")
        due = size - disk
        plan = plans[i]
        struck = plan.kind != "clean" and (
            plan.kind.startswith("hang-up")
            or (plan.reply.drop_after is not None and plan.reply.drop_after < due)
            or (plan.reply.stall is not None and plan.reply.stall[0] < due))
        if struck:
            faults[plan.kind] += 1
        if i + 1 < len(requests):
            kept = max(requests[i + 1].observed, 0) - disk
            loss = request.sent - kept
            if kept < 0 or loss < 0:
                problems.append(f"request {i}: sent {request.sent}, file grew by {kept}")
            refetched += max(loss, 0)
            largest = max(largest, loss)
    sent = sum(r.sent for r in requests)
    finished = any(line.startswith("o instalador acabou com") for line in run.lines)
    abrupt = run.code == 0 and not finished
    if abrupt:
        # Seen under Wine after connection resets: the process ends in the middle of the retry
        # loop and Wine reports exit code 0. No clean-up ran; what it had must still be there.
        faults["process ended abruptly"] += 1
        print(f"run {index}: ended abruptly; log {run.lines[1:]}; Wine said {done.stderr[-3000:]!r}",
              flush=True)
        kept = workspace.installer.read_bytes() if workspace.installer.exists() else b""
        if kept != body[:len(kept)]:
            problems.append("the file left by a process that ended abruptly is not the origin's")
    elif run.code == 0:
        if not copy.exists() or copy.read_bytes() != body:
            problems.append("the installer that ran is not the origin")
        refetched_total = sent - size
        if refetched_total != refetched:
            problems.append(f"bytes sent {sent} = size + {refetched_total}, breaks lost {refetched}")
    elif run.code in (10, 14):
        if workspace.work_folder.exists():
            problems.append("a run that gave up left its folder behind")
    else:
        problems.append(f"unexpected exit code {run.code}")
    if problems:
        problems.append(f"log: {run.lines[1:]}; sent {[r.sent for r in requests]}")
    pauses = sum(2 if line.startswith("nova tentativa (2)") else 4
                 for line in run.lines if line.startswith("nova tentativa"))
    held = sum(1 for line in run.lines if "ocupad" in line)
    return RunResult(run.code, seconds, len(requests), faults, pauses, held, sent, refetched,
                     largest, problems)


def source_commit() -> str:
    """The short commit of the tree the program was built from, marked when it had changes."""
    def git(*words):
        return subprocess.run(["git", "-C", str(SOURCE), *words], capture_output=True,
                              text=True).stdout.strip()
    commit = git("rev-parse", "--short", "HEAD") or "an unknown commit"
    return commit + (" with uncommitted changes" if git("status", "--porcelain", "-uno") else "")


def report(args, results, body_size, elapsed) -> str:
    faults = collections.Counter()
    for r in results:
        faults.update(r.faults)
    ok = sum(1 for r in results if r.code == 0 and not r.faults["process ended abruptly"])
    codes = collections.Counter(r.code for r in results if r.code != 0)
    problems = [p for r in results for p in r.problems]
    lines = [
        f"Run of {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())} at {source_commit()}. "
        f"Command: `scripts/soak --runs {args.runs} --seed {args.seed} "
        f"--long-stalls {args.long_stalls}`",
        "",
        "| figure | value |",
        "|---|---|",
        f"| runs | {len(results)} |",
        f"| succeeded (installer started, byte-identical to the origin) | {ok} |",
        f"| gave up | {sum(1 for r in results if r.code != 0)}"
        + (f" ({', '.join(f'{n} with {c}' for c, n in sorted(codes.items()))})" if codes else "")
        + " |",
        f"| file size | {body_size:,} bytes |",
        f"| requests | {sum(r.requests for r in results)} |",
    ]
    for kind in ("drop (close)", "drop (reset)", "hang-up before answering", "short stall",
                 "long stall"):
        lines.append(f"| faults that struck: {kind} | {faults[kind]} |")
    lines.append(f"| runs whose process ended abruptly under Wine (exit 0, log cut short, file "
                 f"kept as a prefix of the origin) | {faults['process ended abruptly']} |")
    lines += [
        f"| retry pauses | {sum(r.pauses_s for r in results)} s in all |",
        f"| waits for a held file or folder | {sum(r.held_waits for r in results)} |",
        f"| bytes sent in all | {sum(r.sent for r in results):,} |",
        f"| bytes sent again (in flight at a break, not yet on disk) | "
        f"{sum(r.refetched for r in results):,} |",
        f"| most sent again at one break | {max((r.largest_break_loss for r in results), default=0):,} |",
        f"| Range requests that asked again for bytes on disk | "
        f"{sum(1 for p in problems if 'Range' in p)} |",
        f"| runs that left something behind after giving up | "
        f"{sum(1 for p in problems if 'left' in p)} |",
        f"| what was lost | {'nothing' if not problems else '; '.join(problems[:5])} |",
        f"| wall time | {elapsed / 60:.1f} min |",
    ]
    return "\n".join(lines)


# Everything above this heading in docs/reliability.md is the page's own explanation, kept as
# it is; --write-doc replaces what follows it.
FIGURES_HEADING = "## Last figures\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=50)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--long-stalls", type=int, default=1,
                        help="runs whose first answer stalls past the receive time-out")
    parser.add_argument("--only", type=int, help="repeat only this run of the soak")
    parser.add_argument("--write-doc", action="store_true",
                        help="write the figures to docs/reliability.md")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    body = installer(size=FILE_SIZE).read_bytes()
    long_runs = set(rng.sample(range(args.runs), min(args.long_stalls, args.runs)))
    results = []
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="skyloom-soak-") as folder:
        for index in range(args.runs):
            # The plans are drawn for every run, so --only repeats one run exactly.
            plans = plan_run(rng, body, index in long_runs)
            if args.only is not None and index != args.only:
                continue
            result = one_run(index, plans, body, pathlib.Path(folder))
            results.append(result)
            print(f"run {index:3d}: exit {result.code:2d} in {result.seconds:5.1f} s, "
                  f"{result.requests} requests, faults {dict(result.faults)}, "
                  f"sent again {result.refetched}"
                  + (f"  PROBLEMS {result.problems}" if result.problems else ""), flush=True)
    text = report(args, results, len(body), time.monotonic() - started)
    print(text)
    if args.write_doc and args.only is None:
        doc = HERE.parents[1] / "docs" / "reliability.md"
        page = doc.read_text()
        if FIGURES_HEADING not in page:
            sys.exit(f"{doc} has no heading {FIGURES_HEADING.strip()!r} to put the figures under")
        doc.write_text(page[:page.index(FIGURES_HEADING) + len(FIGURES_HEADING)] + "\n" + text
                       + "\n")
    return 1 if any(r.problems for r in results) else 0


if __name__ == "__main__":
    sys.exit(main())
