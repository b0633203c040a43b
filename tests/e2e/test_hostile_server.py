"""Hostile servers, end to end through Skyloom-Setup.exe --sem-janela under Wine: header values
that are huge, negative, not numbers, overlong, with a NUL or bytes outside ASCII; status codes
outside the table; redirects that loop or leave this machine. Each run ends with its code within
the fixed time-outs, leaves nothing behind, and never starts a file that did not pass the check
(the test installer writes its report only when it is started)."""

import pytest

from testkit.harness import win_path
from testkit.scripted_server import Reply, ScriptedServer
from testkit.setup_kit import https_server, installer

EXIT_CODES = {0, 1, 2, 10, 11, 12, 13, 14, 15, 20, 21, 22, 30, 40, 41, 50}
# The attempt's own time-outs bound every run: three attempts per URL of at most
# 15 + 15 + 30 + 60 s each would be far beyond this, so a run that reaches it hangs.
RUN_LIMIT = 150


def run_hostile(workspace, *urls):
    report = workspace.root / "report.txt"
    args = ["--sem-janela"]
    for url in urls:
        args += ["--url", url]
    run = workspace.run_setup(*args, env={"SKYLOOM_TEST_REPORT": win_path(report)},
                              timeout=RUN_LIMIT)
    assert run.code in EXIT_CODES, (run.stdout, run.lines)
    assert not workspace.installer.exists()
    assert not workspace.work_folder.exists()
    # Only a checked file may ever start, and only a run that ends with 0 checked one.
    assert report.exists() == (run.code == 0), run.lines
    if run.code == 0:
        assert "versao do instalador: 1.1.40.0" in run.lines
    else:
        assert run.lines[-1].startswith(f"erro {run.code} (detalhe ")
    return run


def raw(name: str, value: bytes) -> bytes:
    return name.encode() + b": " + value


HUGE = b"99999999999999999999999"
OVERLONG = b"1" * 200  # longer than any of the header buffers (64 and 128 units)
FULLWIDTH = "\uff12\uff10\uff19\uff17\uff11\uff15\uff12".encode()  # 2097152 in wide digits

# Content-Length of a 200, answered the same way three times: the size test turns every
# unusable value into 13 with no transfer, and 13 gives up the URL at once. A value whose
# leading digits make a usable size (the reading stops at the NUL or the stray byte) is taken
# at that size; the short body then ends each of the three attempts with 14.
LENGTH_CASES = {
    "huge": (HUGE, 13, 1),
    "negative": (b"-5", 13, 1),
    "not a number": (b"abc", 13, 1),
    "overlong": (OVERLONG, 13, 1),
    "outside ASCII": (FULLWIDTH, 13, 1),
    "embedded NUL": (b"2097152\x00junk", 14, 3),
    "Latin-1 byte": (b"2097152\xff", 14, 3),
}


@pytest.mark.parametrize("case", LENGTH_CASES)
def test_hostile_content_length(workspace, case):
    value, code, requests = LENGTH_CASES[case]
    script = [Reply(200, body=b"x" * 1000, length=None,
                    raw_headers=(raw("Content-Length", value),))] * 3
    with https_server(script) as server:
        run = run_hostile(workspace, server.url())
    assert run.code == code, run.lines
    assert len(server.requests) == requests
    if code == 14:
        assert "acabou aos 1000 de 2097152" in run.lines


# Retry-After of a 429: whatever it says, the run ends at once with 11.
RETRY_AFTER_CASES = {
    "huge": HUGE,
    "negative": b"-120",
    "not a number": b"soon",
    "overlong": OVERLONG,
    "embedded NUL": b"120\x00999999",
    "outside ASCII": FULLWIDTH,
    "past 32 bits": b"4294967296",
}


@pytest.mark.parametrize("case", RETRY_AFTER_CASES)
def test_hostile_retry_after(workspace, case):
    script = [Reply(429, raw_headers=(raw("Retry-After", RETRY_AFTER_CASES[case]),))]
    with https_server(script) as server:
        run = run_hostile(workspace, server.url())
    assert run.code == 11
    assert run.lines[-1] == "erro 11 (detalhe 0)"
    assert len(server.requests) == 1


ON_DISK = 500_000  # bytes of the good installer left by an earlier run


def content_range_cases(size):
    # name: Content-Range of a 206 to "Range: bytes=500000-". None of them continues the
    # file: it is emptied and fetched again whole, and the run ends with the checked file.
    return {
        "huge": b"bytes 500000-" + HUGE + b"/" + HUGE,
        "negative": b"bytes -500000--1/" + str(size).encode(),
        "not a number": b"bytes abc-def/ghi",
        "overlong": b"bytes 500000-" + b"9" * 200 + b"/" + str(size).encode(),
        "embedded NUL": b"bytes 500000-\x00" + str(size - 1).encode() + b"/" + str(size).encode(),
        "outside ASCII": "bytes \uff15\uff10\uff10\uff10\uff10\uff10-".encode() + b"1/2",
        "total below the offset": f"bytes {ON_DISK}-{ON_DISK}/{ON_DISK}".encode(),
        "last past the total": f"bytes {ON_DISK}-{size}/{size}".encode(),
    }


@pytest.mark.parametrize("case", content_range_cases(0))
def test_hostile_content_range_restarts_from_zero(workspace, case):
    good = installer()
    size = good.stat().st_size
    value = content_range_cases(size)[case]
    workspace.work_folder.mkdir()
    workspace.installer.write_bytes(good.read_bytes()[:ON_DISK])
    script = [Reply(206, body=good, start=ON_DISK, raw_headers=(raw("Content-Range", value),))]
    with https_server(script, real=good) as server:
        run = run_hostile(workspace, server.url())
    assert run.code == 0
    assert server.ranges == [f"bytes={ON_DISK}-", None]
    assert any(line.startswith("Content-Range estranho [") and
               line.endswith("]: recomeca do zero") for line in run.lines)
    assert run.lines.count(
        "a verificacao falhou depois de uma retoma: recomeca do zero, uma vez") == 0


def test_stale_file_longer_than_the_servers_restarts_instead_of_failing_for_ever(workspace):
    # The server's partial answer starts at the end of a file longer than its own: it used to
    # be taken as a continuation of nothing, and every attempt and Retry ended with 14.
    good = installer()
    size = good.stat().st_size
    stale = size + 100
    workspace.work_folder.mkdir()
    workspace.installer.write_bytes(good.read_bytes() + b"x" * 100)
    script = [Reply(206, body=b"", headers={"Content-Range": f"bytes {stale}-{stale}/{size}"})]
    with https_server(script, real=good) as server:
        run = run_hostile(workspace, server.url())
    assert run.code == 0
    assert server.ranges == [f"bytes={stale}-", None]
    assert f"Content-Range estranho [bytes {stale}-{stale}/{size}]: recomeca do zero" in run.lines


@pytest.mark.parametrize("length", [None, b"abc", HUGE, b"1048575"])
def test_bad_whole_answer_from_one_url_keeps_the_partial_file_for_the_next(workspace, length):
    # A 200 to the range request whose size is unusable ends that URL with 13 without touching
    # the file, so the next URL resumes it.
    good = installer()
    workspace.work_folder.mkdir()
    workspace.installer.write_bytes(good.read_bytes()[:ON_DISK])
    headers = () if length is None else (raw("Content-Length", length),)
    with https_server([Reply(200, body=b"x" * 1000, length=None, raw_headers=headers)]) as bad, \
            https_server(real=good) as second:
        run = run_hostile(workspace, bad.url(), second.url())
    assert run.code == 0
    assert bad.ranges == [f"bytes={ON_DISK}-"]
    assert second.ranges == [f"bytes={ON_DISK}-"]
    assert "o servidor ignorou o Range: recomeca do zero" not in run.lines
    assert any(line.startswith("tamanho fora do esperado: ") for line in run.lines)


# Status codes outside the decision table: 12 with the status, the URL given up at once.
@pytest.mark.parametrize("status", [204, 299, 304, 418, 500, 599, 600, 999])
def test_status_outside_the_table(workspace, status):
    with https_server([Reply(status, body=b"" if status in (204, 304) else b"no")]) as server:
        run = run_hostile(workspace, server.url())
    assert run.code == 12
    assert run.lines[-1] == f"erro 12 (detalhe {status})"
    assert len(server.requests) == 1


# Status lines no server should send: whatever the platform makes of them, the run ends with a
# code of the table, cleans up and starts nothing.
@pytest.mark.parametrize("line", [b"HTTP/1.1 2000 Big", b"HTTP/1.1 -200 Negative",
                                  b"HTTP/1.1 abc Text", b"HTTP/1.1 20\x000 Nul",
                                  b"GARBAGE"])
def test_malformed_status_line(workspace, line):
    with https_server([Reply(raw_status=line, body=b"x" * 100)] * 3) as server:
        run = run_hostile(workspace, server.url())
    assert run.code in (10, 12, 14)
    assert 1 <= len(server.requests) <= 3


def test_https_redirect_loop_ends(workspace):
    with https_server() as server:
        server.add(*[Reply(302, headers={"Location": server.url("/loop")}) for _ in range(60)])
        run = run_hostile(workspace, server.url("/loop"))
    # WinHTTP stops after its limit of automatic redirects (10) and fails the receive with
    # ERROR_WINHTTP_REDIRECT_FAILED: a network error, so three attempts of 11 requests each.
    assert run.code == 10
    assert run.lines[-1] == "erro 10 (detalhe 12156)"
    assert len(server.requests) == 33


@pytest.mark.parametrize("status", [301, 302, 303, 307, 308])
def test_plain_http_follows_no_redirect(workspace, status):
    good = installer()
    with ScriptedServer(real=good, host="127.0.0.2") as elsewhere, \
            ScriptedServer([Reply(status, headers={"Location": elsewhere.url()})]) as local:
        run = run_hostile(workspace, local.url())
    assert run.code == 12
    assert run.lines[-1] == f"erro 12 (detalhe {status})"
    assert elsewhere.requests == [], "a plain-http redirect left this machine"
    assert len(local.requests) == 1


def test_plain_http_redirect_loop_is_one_answer(workspace):
    with ScriptedServer() as local:
        local.add(Reply(302, headers={"Location": local.url()}))
        run = run_hostile(workspace, local.url())
    assert run.code == 12
    assert len(local.requests) == 1


def test_https_still_follows_a_redirect_to_https(workspace):
    good = installer()
    with https_server(real=good) as target, \
            https_server([Reply(302, headers={"Location": target.url("/moved")})]) as first:
        run = run_hostile(workspace, first.url())
    assert run.code == 0
    assert [r.path for r in target.requests] == ["/moved"]
