"""A request's body, framed as HTTP/1.1 frames it (RFC 9112): by chunked
transfer coding or by Content-Length. The framing is checked before a byte
of the body is read, and every fault is answered at once, with its status,
instead of a read that waits for bytes that never come (Content-Length: -1)
or a connection closed without a reply.
"""

import re

# A report inflates to at most 16 MiB (the report reader's limit), and zlib
# makes data that does not compress less than 0.1 % larger: a larger body
# cannot be a report.
MAX_BODY = (16 << 20) + (64 << 10)
MAX_LINE = 1024          # a chunk size line: the size and its extensions
MAX_TRAILER_LINES = 32
MAX_TRAILER_LINE = 8192

_LENGTH = re.compile(r"[0-9]{1,20}")
_CHUNK_SIZE = re.compile(rb"([0-9A-Fa-f]{1,16})[ \t]*(?:;[^\r\n]*)?")


class BadRequest(Exception):
    """A request that is answered with `status` and `text`, unread."""

    def __init__(self, status, text):
        super().__init__(text)
        self.status = status


def body_length(headers):
    """None for a chunked body, else the length announced; raises BadRequest
    for a request whose body cannot be delimited."""
    codings = headers.get_all("Transfer-Encoding") or []
    lengths = headers.get_all("Content-Length") or []
    if codings:
        # Transfer-Encoding overrides a Content-Length beside it (RFC 9112,
        # 6.3): Wine's WinHTTP sends "Content-Length: 1" with every chunked
        # POST. No proxy behind this server could read the body otherwise.
        coding = ",".join(codings).strip(" \t").lower()
        if coding != "chunked":
            raise BadRequest(501, "transfer coding %s is not supported; send the body chunked" % coding[:40])
        return None
    if not lengths:
        raise BadRequest(411, "a body needs Content-Length or chunked transfer coding")
    values = {value.strip(" \t") for value in lengths}
    if len(values) != 1 or not _LENGTH.fullmatch(next(iter(values))):
        raise BadRequest(400, "Content-Length is not one decimal number")
    length = int(values.pop())
    if length > MAX_BODY:
        raise BadRequest(413, "a body of %d bytes is larger than any report" % length)
    return length


def read_body(headers, rfile):
    """The body of a request with `headers`; raises BadRequest."""
    length = body_length(headers)
    if length is None:
        return read_chunked(rfile)
    body = rfile.read(length)
    if len(body) != length:
        raise BadRequest(400, "the body ends before Content-Length")
    return body


def read_chunked(rfile, limit=MAX_BODY):
    """A chunked body. Chunks are gathered in a bytearray, which grows in
    place: a million one-byte chunks cost a million appends, not a million
    copies of the body so far."""
    body = bytearray()
    while True:
        line = rfile.readline(MAX_LINE + 1)
        if not line.endswith(b"\r\n"):
            raise BadRequest(400, "a chunk size line that is too long or has no CR LF")
        size = _CHUNK_SIZE.fullmatch(line[:-2])
        if not size:
            raise BadRequest(400, "a chunk size that is not a hexadecimal number")
        size = int(size.group(1), 16)
        if size == 0:
            break
        if len(body) + size > limit:
            raise BadRequest(413, "a body larger than any report")
        data = rfile.read(size)
        if len(data) != size or rfile.read(2) != b"\r\n":
            raise BadRequest(400, "chunk data cut short")
        body += data
    for _ in range(MAX_TRAILER_LINES):
        line = rfile.readline(MAX_TRAILER_LINE + 1)
        if line == b"\r\n":
            return bytes(body)
        if not line.endswith(b"\r\n"):
            raise BadRequest(400, "the trailer section is cut short or has a line that is too long")
    raise BadRequest(400, "more than %d trailer lines" % MAX_TRAILER_LINES)
