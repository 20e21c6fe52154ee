#!/usr/bin/env python3
"""A relay on 127.0.0.1 in front of the bench's nginx that breaks a package
download once, as a dropped Wi-Fi link or a proxy's reset does.

  reset_relay.py LISTEN_PORT UPSTREAM_PORT ARM_FILE

Every connection is passed through to nginx byte for byte. While ARM_FILE
exists, the first response to a GET of a .msi without a Range header is cut
after half of its announced length with a reset (SO_LINGER 0), and ARM_FILE
is removed: one break per arming, so the bench arms it before each run that
is to be broken. The resumed request (with its Range) passes untouched.

The body is moved with splice(2), kernel to kernel, so that the relay costs
the uninterrupted and the broken runs alike and little of either.
"""

import fcntl
import os
import re
import socket
import struct
import sys
import termios
import threading
import time

listen_port, upstream_port, arm_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
CHUNK = 1 << 20
arm_lock = threading.Lock()


def log(text):
    """When each request came and when the cut was made, for the bench's
    log: the time a resume takes is the gap from the reset to the next."""
    print(f"{time.monotonic():.3f} {text}", flush=True)


def take_arm():
    with arm_lock:
        try:
            os.unlink(arm_file)
            return True
        except FileNotFoundError:
            return False


def read_head(sock):
    """The bytes up to and including the blank line ending a head, and any
    bytes read beyond it."""
    data = b""
    while b"\r\n\r\n" not in data:
        more = sock.recv(65536)
        if not more:
            return data, b""
        data += more
    end = data.index(b"\r\n\r\n") + 4
    return data[:end], data[end:]


def splice_all(source, target, limit=None):
    """Moves bytes from source to target until the source ends or `limit`
    bytes have moved; returns the count."""
    read_end, write_end = os.pipe()
    moved = 0
    try:
        while limit is None or moved < limit:
            want = CHUNK if limit is None else min(CHUNK, limit - moved)
            n = os.splice(source.fileno(), write_end, want)
            if n == 0:
                break
            left = n
            while left:
                left -= os.splice(read_end, target.fileno(), left)
            moved += n
    except OSError:
        pass
    finally:
        os.close(read_end)
        os.close(write_end)
    return moved


def reset(sock):
    # A reset throws away what the kernel still holds to send: let the
    # client read up to the cut first (bounded, should it stop reading).
    for _ in range(500):
        if struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, b"\0\0\0\0"))[0] == 0:
            break
        time.sleep(0.01)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    sock.close()


def one_request_only(head):
    """The head with "Connection: close": the client then sends its next
    request on a new connection, whose head the relay sees (the signature
    and the package would otherwise share one kept connection)."""
    lines = [line for line in head[:-4].split(b"\r\n") if not line.lower().startswith(b"connection:")]
    return b"\r\n".join(lines + [b"Connection: close"]) + b"\r\n\r\n"


def serve(client):
    upstream = socket.create_connection(("127.0.0.1", upstream_port))
    try:
        head, rest = read_head(client)
        if not head:
            return
        request_line = head.split(b"\r\n", 1)[0]
        cut = (request_line.startswith(b"GET ") and b".msi " in request_line
               and not re.search(rb"\r\nrange:", head, re.IGNORECASE) and take_arm())
        upstream.sendall(one_request_only(head) + rest)
        log(request_line.decode(errors="replace") + (" (to be cut)" if cut else ""))
        if not cut:
            # The rest flows both ways until either side ends.
            threading.Thread(target=splice_all, args=(client, upstream), daemon=True).start()
            splice_all(upstream, client)
            return
        response_head, body_start = read_head(upstream)
        length = int(re.search(rb"\r\ncontent-length:\s*(\d+)", response_head, re.IGNORECASE).group(1))
        half = length // 2
        client.sendall(response_head + body_start[:half])
        splice_all(upstream, client, half - min(len(body_start), half))
        log("half sent")
        reset(client)
        log("reset")
        client = None
    finally:
        upstream.close()
        if client is not None:
            client.close()


def main():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", listen_port))
    listener.listen(64)
    print("ready", flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


if __name__ == "__main__":
    main()
