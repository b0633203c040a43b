"""A scripted local HTTP(S) server for the download tests (Python standard library only).

Each test hands it a script: one Reply per request, in order. A Reply says what to answer
(status, headers, body) and how (where to drop the connection, how slowly to send, when to
stall). With `real=BODY` the server answers like an ordinary web server once the script is
used up (or from the start when the script is empty): 200 with the whole body, 206 for
"Range: bytes=N-", 416 with "bytes */SIZE" when N is at or past the end, each with the
headers in `validators` (ETag, Last-Modified); an If-Range that names neither gets the whole
body unless `if_range` is False (a server that ignores it).

A header value in `headers` or `validators` may be a function, called as the answer goes out
(`answer_time`: a Last-Modified that is the time of each answer, as some servers send it).

Every request is recorded (path, headers, Range, User-Agent, arrival time), so a test asserts
what the client sent. The server listens on 127.0.0.1 (or another loopback address) on a port of its own, plain or with TLS,
and stops by itself when its `with` block (or the fixture that holds it) ends.

    with ScriptedServer([Reply(200, body=origin)]) as server:
        ... run the client against server.url() ...
    assert server.requests[0].range is None

Bodies are bytes, a file path (served with sendfile when nothing slows it down) or a
Generated body made on the fly (large sizes without a file).
"""

import dataclasses
import email.utils
import http.server
import os
import pathlib
import random
import socket
import ssl
import struct
import threading
import time
import typing

_PIECE = 64 * 1024


@dataclasses.dataclass(frozen=True)
class Generated:
    """`size` bytes made on the fly from a seed: no file, no memory of that size. Every MiB is
    a different rotation of one random MiB, so a copy shifted by whole MiB does not match."""

    size: int
    seed: int = 0

    _BLOCK = 1 << 20

    def _block(self) -> bytes:
        cached = _GENERATED_BLOCKS.get(self.seed)
        if cached is None:
            block = random.Random(self.seed).randbytes(self._BLOCK)
            cached = _GENERATED_BLOCKS[self.seed] = block + block
        return cached

    def chunks(self, start: int, end: int, piece: int = _PIECE):
        doubled = self._block()
        position = start
        while position < end:
            offset = position % self._BLOCK
            rotation = (position // self._BLOCK * 7919) % self._BLOCK
            count = min(piece, end - position, self._BLOCK - offset)
            first = offset + rotation
            yield doubled[first:first + count]
            position += count

    def read(self, start: int = 0, end: typing.Optional[int] = None) -> bytes:
        return b"".join(self.chunks(start, self.size if end is None else end, self._BLOCK))


_GENERATED_BLOCKS: dict = {}

Body = typing.Union[bytes, os.PathLike, Generated]


def body_size(body: Body) -> int:
    if isinstance(body, (bytes, bytearray)):
        return len(body)
    if isinstance(body, Generated):
        return body.size
    return os.path.getsize(body)


def body_bytes(body: Body, start: int = 0, end: typing.Optional[int] = None) -> bytes:
    """The body's bytes from start to end, for comparisons in tests."""
    end = body_size(body) if end is None else end
    if isinstance(body, (bytes, bytearray)):
        return bytes(body[start:end])
    if isinstance(body, Generated):
        return body.read(start, end)
    with open(body, "rb") as f:
        f.seek(start)
        return f.read(end - start)


def _chunks(body: Body, start: int, end: int, piece: int = _PIECE):
    if isinstance(body, (bytes, bytearray)):
        view = memoryview(body)
        for i in range(start, end, piece):
            yield view[i:min(i + piece, end)]
    elif isinstance(body, Generated):
        yield from body.chunks(start, end, piece)
    else:
        with open(body, "rb") as f:
            f.seek(start)
            left = end - start
            while left > 0:
                data = f.read(min(piece, left))
                if not data:
                    return
                left -= len(data)
                yield data


@dataclasses.dataclass
class Reply:
    """One scripted answer.

    status, headers: as sent (headers are added as given: Content-Range, Retry-After,
        Location...). "Connection: close" is always sent.
    body: the body; `start` sends it from that byte; `extra` is sent after it.
    length: the Content-Length: "auto" for the bytes actually in the body, an int for a value of
        the test's choice, None for no header at all.
    ranged: answer like a real server from `body` and the request's Range (status, Content-Range
        and start are then computed; headers still add to them).
    drop_after: close the connection after this many body bytes; `reset` makes it a TCP reset.
    stall: (after_bytes, seconds): send that many body bytes, flush, wait, then go on.
    rate: at most this many body bytes per second.
    delay: seconds to wait before the status line.
    hangup: close the connection without any answer (`reset` applies).
    raw_status: the status line as bytes, sent as it is (a hostile server's "HTTP/1.1 2000 X").
    raw_headers: header lines as bytes, sent as they are after `headers` (bytes that
        http.server would refuse or re-encode: NUL, bytes above 0x7F, overlong values).
    """

    status: int = 200
    body: Body = b""
    headers: dict = dataclasses.field(default_factory=dict)
    length: typing.Union[str, int, None] = "auto"
    start: int = 0
    extra: bytes = b""
    ranged: bool = False
    drop_after: typing.Optional[int] = None
    reset: bool = False
    stall: typing.Optional[tuple] = None
    rate: typing.Optional[int] = None
    delay: float = 0.0
    hangup: bool = False
    raw_status: typing.Optional[bytes] = None
    raw_headers: tuple = ()


@dataclasses.dataclass
class Request:
    method: str
    path: str
    headers: dict  # lower-case names
    time: float  # time.monotonic() at arrival
    tls: bool
    observed: object = None  # what the server's `observe` callable returned at arrival
    sent: int = 0  # body bytes written to the connection

    @property
    def range(self) -> typing.Optional[str]:
        return self.headers.get("range")

    @property
    def user_agent(self) -> typing.Optional[str]:
        return self.headers.get("user-agent")



def answer_time() -> str:
    """The present time as an HTTP-date, as the Date of an answer sent now."""
    return email.utils.formatdate(usegmt=True)


def _evaluated(headers: dict) -> dict:
    return {name: value() if callable(value) else value for name, value in headers.items()}


def real_reply(body: Body, range_header: typing.Optional[str], validators: dict = None,
               if_range: typing.Optional[str] = None, honour_if_range: bool = True) -> Reply:
    """What an ordinary server answers to a GET with this Range header (open ranges only);
    validators, if_range: see the module's text."""
    validators = _evaluated(validators or {})
    size = body_size(body)
    if honour_if_range and if_range is not None and \
            if_range not in (validators.get("ETag"), validators.get("Last-Modified")):
        range_header = None
    if range_header and range_header.startswith("bytes=") and range_header.endswith("-"):
        try:
            first = int(range_header[6:-1])
        except ValueError:
            first = None
        if first is not None:
            if first >= size:
                return Reply(416, headers={**validators, "Content-Range": f"bytes */{size}"})
            return Reply(206, body=body, start=first,
                         headers={**validators,
                                  "Content-Range": f"bytes {first}-{size - 1}/{size}"})
    return Reply(200, body=body, headers=validators)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(30)
            try:
                self.request.do_handshake()
            except (ssl.SSLError, OSError):
                self.server.owner.tls_failures += 1
                raise
        super().setup()

    def handle(self):
        try:
            super().handle()
        except (ConnectionError, ssl.SSLError, OSError):
            pass  # the client went away: nothing to answer

    def do_GET(self):
        self.server.owner._answer(self)

    def log_message(self, format, *args):
        pass


class _ThreadingServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False

    def get_request(self):
        sock, address = self.socket.accept()
        context = self.owner.tls
        if context is not None:
            # The handshake happens in the handler's thread, so a slow client blocks no one.
            sock = context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        self.owner._opened(sock)
        return sock, address

    def shutdown_request(self, request):
        self.owner._closed(request)
        super().shutdown_request(request)

    def handle_error(self, request, client_address):
        pass


class ScriptedServer:
    """See the module's text. `tls` is a server-side ssl.SSLContext (None: plain http)."""

    def __init__(self, script=(), *, tls: typing.Optional[ssl.SSLContext] = None,
                 real: typing.Optional[Body] = None, host: str = "127.0.0.1",
                 observe: typing.Optional[typing.Callable[[], object]] = None,
                 validators: typing.Optional[dict] = None, if_range: bool = True):
        """host: the loopback address to listen on (127.0.0.2 is a second machine to the
        client's URL rules). observe: called as each request arrives (the size of the client's
        file on disk, say); its value is kept in Request.observed."""
        self.tls = tls
        self.host = host
        self.real = real
        self.validators = dict(validators or {})
        self.if_range = if_range
        self.observe = observe
        self.requests: list = []
        self.unscripted = 0  # requests that found the script used up and no real body
        self.tls_failures = 0
        self._script = list(script)
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._sockets: set = set()
        self._server = _ThreadingServer((host, 0), _Handler)
        self._server.owner = self
        self._thread = threading.Thread(target=self._server.serve_forever, args=(0.05,),
                                        daemon=True)
        self._thread.start()

    # --- the interface for tests ---

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    @property
    def scheme(self) -> str:
        return "https" if self.tls else "http"

    def url(self, path: str = "/Skyloom-win-Setup.exe", host: typing.Optional[str] = None) -> str:
        return f"{self.scheme}://{host or self.host}:{self.port}{path}"

    def add(self, *replies: Reply) -> None:
        with self._lock:
            self._script.extend(replies)

    @property
    def pending(self) -> int:
        """Replies of the script not yet used."""
        with self._lock:
            return len(self._script)

    @property
    def ranges(self) -> list:
        return [r.range for r in self.requests]

    def stop(self) -> None:
        self._stopping.set()
        self._server.shutdown()
        with self._lock:
            sockets = list(self._sockets)
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self._server.server_close()
        self._thread.join(timeout=5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # --- serving ---

    def _opened(self, sock):
        with self._lock:
            self._sockets.add(sock)

    def _closed(self, sock):
        with self._lock:
            self._sockets.discard(sock)

    def _wait(self, seconds: float) -> bool:
        """Sleeps unless the server stops first; True when it stopped."""
        return self._stopping.wait(seconds)

    def _answer(self, handler: _Handler) -> None:
        headers = {k.lower(): v for k, v in handler.headers.items()}
        observed = self.observe() if self.observe else None
        request = Request(handler.command, handler.path, headers, time.monotonic(),
                          self.tls is not None, observed)
        with self._lock:
            self.requests.append(request)
            reply = self._script.pop(0) if self._script else None
        if reply is None:
            if self.real is None:
                self.unscripted += 1
                reply = Reply(500, body=b"script used up")
            else:
                reply = real_reply(self.real, headers.get("range"), self.validators,
                                   headers.get("if-range"), self.if_range)
        elif reply.ranged:
            computed = real_reply(reply.body, headers.get("range"))
            reply = dataclasses.replace(reply, status=computed.status, start=computed.start,
                                        headers={**computed.headers, **reply.headers},
                                        body=computed.body, ranged=False)
        reply = dataclasses.replace(reply, headers=_evaluated(reply.headers))
        handler.close_connection = True
        if reply.delay and self._wait(reply.delay):
            return
        if reply.hangup:
            self._drop(handler.connection, reply.reset)
            return
        end = body_size(reply.body)
        count = max(0, end - reply.start) + len(reply.extra)
        if reply.raw_status is not None or reply.raw_headers:
            self._send_raw_head(handler, reply, count)
            self._send_body(handler, reply, end, request)
            return
        handler.send_response(reply.status)
        for name, value in reply.headers.items():
            handler.send_header(name, str(value))
        if reply.length == "auto":
            handler.send_header("Content-Length", str(count))
        elif reply.length is not None:
            handler.send_header("Content-Length", str(reply.length))
        handler.send_header("Connection", "close")
        handler.end_headers()
        handler.wfile.flush()
        self._send_body(handler, reply, end, request)

    @staticmethod
    def _send_raw_head(handler: _Handler, reply: Reply, count: int) -> None:
        """The head written byte for byte, past http.server's checks and encoding."""
        lines = [reply.raw_status or f"HTTP/1.1 {reply.status} Scripted".encode()]
        lines += [f"{name}: {value}".encode("utf-8") for name, value in reply.headers.items()]
        lines += list(reply.raw_headers)
        if reply.length == "auto":
            lines.append(f"Content-Length: {count}".encode())
        elif reply.length is not None:
            lines.append(f"Content-Length: {reply.length}".encode())
        lines.append(b"Connection: close")
        handler.wfile.write(b"\r\n".join(lines) + b"\r\n\r\n")
        handler.wfile.flush()

    def _send_body(self, handler: _Handler, reply: Reply, end: int, request: Request) -> None:
        sock = handler.connection
        plain = (reply.drop_after is None and reply.stall is None and reply.rate is None
                 and self.tls is None and isinstance(reply.body, (str, os.PathLike)))
        if plain:
            with open(reply.body, "rb") as f:
                try:
                    request.sent += sock.sendfile(f, reply.start, end - reply.start)
                except OSError:
                    # What went out before the client left counts too: sendfile leaves the
                    # file's position after the last byte it sent.
                    request.sent += f.tell() - reply.start
                    raise
            if reply.extra:
                sock.sendall(reply.extra)
                request.sent += len(reply.extra)
            return

        def pieces():
            yield from _chunks(reply.body, reply.start, end)
            if reply.extra:
                yield reply.extra

        sent = 0
        stalled = reply.stall is None
        started = time.monotonic()
        for piece in pieces():
            piece = memoryview(piece)
            while len(piece):
                take = len(piece)
                if reply.drop_after is not None:
                    take = min(take, reply.drop_after - sent)
                if not stalled:
                    take = min(take, reply.stall[0] - sent)
                if take > 0:
                    sock.sendall(piece[:take])
                    sent += take
                    request.sent = sent
                    piece = piece[take:]
                if reply.drop_after is not None and sent >= reply.drop_after:
                    self._drop(sock, reply.reset)
                    return
                if not stalled and sent >= reply.stall[0]:
                    stalled = True
                    if self._wait(reply.stall[1]):
                        return
                if reply.rate:
                    ahead = sent / reply.rate - (time.monotonic() - started)
                    if ahead > 0 and self._wait(ahead):
                        return
        if reply.drop_after is not None:
            self._drop(sock, reply.reset)

    @staticmethod
    def _drop(sock, reset: bool) -> None:
        if reset:
            # Linger 0, then the descriptor itself closed (the handler's files still refer to
            # the socket object, whose close() would wait for them): the kernel sends RST and
            # the client's read fails instead of ending.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            os.close(sock.detach())
            return
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def server_context(cert: pathlib.Path, key: pathlib.Path) -> ssl.SSLContext:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(str(cert), str(key))
    return context


def main() -> None:
    """python3 scripted_server.py FILE [--tls CERT KEY]: serves FILE like a real server until
    Ctrl-C (for a demo by hand)."""
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("file", type=pathlib.Path)
    parser.add_argument("--tls", nargs=2, type=pathlib.Path, metavar=("CERT", "KEY"))
    args = parser.parse_args()
    tls = server_context(*args.tls) if args.tls else None
    with ScriptedServer(real=args.file, tls=tls) as server:
        print(server.url(), flush=True)
        try:
            while True:
                time.sleep(3600)
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
