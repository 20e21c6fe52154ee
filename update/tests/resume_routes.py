"""Routes of the scriptable server (http/tests/servers/lumora_servers.py) for
the resumed download tests: files of the served tree whose transfers break,
or whose ranges are refused or altered, as a case asks.

  GET /resume/TOKEN/BEHAVIOUR/PATH    the file ROOT/PATH; a .minisig is always
                                      sent whole. TOKEN keeps the state of one
                                      case: how many requests for the file came,
                                      the ETag, the log.
  GET /resume-log/TOKEN               one line per request for the file:
                                      RANGE|IF-RANGE|STATUS|BODY BYTES SENT
  GET /resume-etag/TOKEN/VALUE        the file's ETag is "VALUE" from now on
                                      (the file changed, as far as the client
                                      can tell)

An honest answer honours "Range: bytes=N-" with 206 and Content-Range, unless
If-Range differs from the ETag (then 200 and the whole file); N at or beyond
the end gets 416. The first request for the file (index 0) and the later ones
are answered by BEHAVIOUR:

  honest          every request honestly
  reset-once      0: 200, half of the file, then a TCP reset; later honestly
  cut-once        0: 200, half of the file, then the connection is closed
  stall-once      0: 200, half of the file, then silence; later honestly
  ignore-range    0: as reset-once; later 200 and the whole file, Range or not
  wrong-range     0: as reset-once; later a range gets 206 for 1000 bytes
                  further on; a request without Range gets the whole file
  other-total     0: as reset-once; later a range gets 206 naming a total one
                  byte larger
  tampered-tail   0: as reset-once; later ranges honestly, one byte altered
  reset-always    0: as reset-once; later the head, then a reset
  no-validator    as reset-once, without ETag or Last-Modified
"""

import os
import socket
import threading
import time

import lumora_servers as servers

LOCK = threading.RLock()
STATE = {}  # token -> {"count": int, "etag": str, "log": [str]}


def state(token):
    with LOCK:
        return STATE.setdefault(token, {"count": 0, "etag": '"%s-1"' % token, "log": []})


def header(head, name):
    for line in head.split(b"\r\n")[1:]:
        key, _, value = line.partition(b":")
        if key.strip().lower() == name.lower():
            return value.strip().decode("latin-1")
    return ""


def reset(handler):
    handler.wfile.flush()
    time.sleep(0.2)  # let the client take the bytes before the reset
    # Closing with a zero linger time sends RST instead of FIN.
    handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    handler.connection.close()


def honest_answer(data, etag, range_text, if_range):
    """(status, fields, body) of an honest server."""
    total = len(data)
    if range_text.startswith("bytes=") and range_text.endswith("-") and (not if_range or if_range == etag):
        first = int(range_text[6:-1])
        if first >= total:
            return "416 Range Not Satisfiable", [("Content-Range", "bytes */%d" % total)], b""
        return ("206 Partial Content", [("Content-Range", "bytes %d-%d/%d" % (first, total - 1, total))],
                data[first:])
    return "200 OK", [], data


def serve(handler, method, path, head):
    _, _, token, behaviour, rest = path.split("/", 4)
    file = os.path.join(handler.server.root, rest)
    with open(file, "rb") as f:
        data = f.read()
    if rest.endswith(".minisig"):
        servers.send_head(handler, "200 OK", [("Content-Length", str(len(data)))])
        handler.wfile.write(data)
        return
    case = state(token)
    with LOCK:
        index = case["count"]
        case["count"] += 1
        etag = case["etag"]
    range_text, if_range = header(head, b"Range"), header(head, b"If-Range")
    validators = [] if behaviour == "no-validator" else [("ETag", etag)]
    status, fields, body = honest_answer(data, etag, range_text, if_range)
    breaks = index == 0 and behaviour != "honest"
    if behaviour in ("ignore-range", "no-validator") and not breaks:
        status, fields, body = "200 OK", [], data
    elif behaviour == "wrong-range" and not breaks and status.startswith("206"):
        first = len(data) - len(body) + 1000
        fields, body = [("Content-Range", "bytes %d-%d/%d" % (first, len(data) - 1, len(data)))], data[first:]
    elif behaviour == "other-total" and not breaks and status.startswith("206"):
        first = len(data) - len(body)
        fields = [("Content-Range", "bytes %d-%d/%d" % (first, len(data) - 1, len(data) + 1))]
    elif behaviour == "tampered-tail" and not breaks and status.startswith("206"):
        body = bytearray(body)
        body[len(body) // 2] ^= 0x01
        body = bytes(body)
    sent = len(body)
    if breaks:
        sent = len(data) // 2
    elif behaviour == "reset-always":
        sent = 0
    with LOCK:
        case["log"].append("%s|%s|%s|%d" % (range_text, if_range, status.split(" ")[0], sent))
    servers.send_head(handler, status, [("Content-Length", str(len(body)))] + validators + fields)
    handler.wfile.write(body[:sent])
    if sent == len(body):
        return
    handler.close_connection = True
    if breaks and behaviour == "cut-once":
        handler.wfile.flush()
        handler.connection.shutdown(socket.SHUT_WR)
    elif breaks and behaviour == "stall-once":
        handler.wfile.flush()
        handler.server.stopping.wait(60)
    else:
        reset(handler)


def log(handler, method, path, head):
    token = path.split("/")[2]
    body = "".join(line + "\n" for line in state(token)["log"]).encode("latin-1")
    servers.send_head(handler, "200 OK", [("Content-Length", str(len(body)))])
    handler.wfile.write(body)


def set_etag(handler, method, path, head):
    _, _, token, value = path.split("/", 3)
    with LOCK:
        state(token)["etag"] = '"%s"' % value
    servers.send_head(handler, "204 No Content", [])


ROUTES = {"/resume/": serve, "/resume-log/": log, "/resume-etag/": set_etag}
