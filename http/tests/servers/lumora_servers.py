#!/usr/bin/env python3
"""Test servers on 127.0.0.1 for the Windows tests that run under Wine.

The tests are Windows programs and cannot start Linux processes themselves, so
ctest fixtures run this script on the Linux side (see servers.cmake beside it):

  lumora_servers.py ca CA_DIR
      Makes (once) a test certificate authority and server certificates in
      CA_DIR with openssl: ca.pem (trusted inside the test Wine prefix by
      trust_ca.exe), server-chain.pem/server.key (127.0.0.1 and localhost,
      signed by that CA), and untrusted-chain.pem (the same key, signed by a
      second CA that nothing trusts).

  lumora_servers.py start STATE_DIR --ca CA_DIR [--root DIR] [--handlers FILE] [--lifetime S]
      Starts a supervisor process that owns every server and writes
      STATE_DIR/servers.env once all of them accept connections (KEY=VALUE
      lines, see below). Returns when the file is there (at most 45 s). The
      supervisor stops everything by itself after --lifetime seconds (default
      1800), so that an interrupted test run leaves nothing listening for long.

  lumora_servers.py stop STATE_DIR
      Stops the supervisor and its servers (bounded waits, SIGKILL as the
      last resort) and fails when one of the ports still accepts connections.

Keys of servers.env:
  HTTP_PORT             nginx, plain HTTP
  HTTPS_PORT            nginx, TLS with the trusted test CA
  HTTPS_UNTRUSTED_PORT  nginx, TLS with a certificate of an untrusted CA
  SCRIPT_PORT           the scriptable server (below), plain HTTP
  SCRIPT_TLS_PORT       the scriptable server behind TLS (trusted test CA)
  CLOSED_PORT           a port held bound but not listening: connections are refused
  ROOT                  the folder nginx serves under /files/

nginx locations (plain and both TLS ports):
  /...           the files of ROOT at their own paths (a published tree, say)
  /files/...     the files of ROOT again (Content-Length)
  /private/...   the same files behind Basic authentication, user "lumora",
                 password "geslo"
  /moved         302 to /files/big.bin
  /missing       404 with the body "not here\\n"
  ROOT gets big.bin (pattern(100000)) and empty.bin (0 bytes) unless --root
  names a folder of the caller's (a published tree, say), which is served as is.

Scriptable server routes (what nginx cannot do on purpose):
  GET  /nolength/N           N pattern bytes, chunked response, no Content-Length
  GET  /close/N              N pattern bytes, no Content-Length, ended by closing
  GET  /reset/N/M            Content-Length N, M pattern bytes, then a TCP reset
  GET  /stall/N/M            Content-Length N, M pattern bytes, then silence until stopped
  GET  /short/N/M            Content-Length N, M pattern bytes, then the connection is closed
  GET  /trickle/N/MS[/P]     Content-Length N, then P pattern bytes (default 1) every MS milliseconds
  GET  /silent               reads the request and never answers (a stall before the head)
  any  /echo                 reads the request body (chunked or Content-Length) and
                             answers 200 with the exact bytes of the request (head
                             and body) as they came in
  --handlers FILE            a Python file defining ROUTES = {"/prefix": fn}, tried
                             before the routes above; fn gets (handler, method, path,
                             head_bytes) and answers through handler.wfile. The file
                             can `import lumora_servers` for read_request_body(handler,
                             head) -> (body, raw bytes) and send_head(handler, status,
                             [(name, value), ...]); handler.server.root is the
                             folder nginx serves.

pattern(n) is the byte string tests compare bodies with: byte i is
(i * 131 + (i >> 8)) & 0xFF.
"""

import argparse
import os
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "scripts"))
import lumora_nginx  # noqa: E402

LOCAL = "127.0.0.1"
BASIC_USER = "lumora"
BASIC_PASSWORD = "geslo"


def pattern(n):
    return bytes(((i * 131 + (i >> 8)) & 0xFF) for i in range(n))


# --- test certificate authority -------------------------------------------------

def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _make_authority(cwd, name, subject):
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
             "-out", name + ".pem", "-days", "3650", "-subj", subject,
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=cwd)


def _sign_server(cwd, authority, out):
    _openssl("x509", "-req", "-in", "server.csr", "-CA", authority + ".pem",
             "-CAkey", authority + ".key", "-CAcreateserial", "-out", out + ".pem",
             "-days", "3650", "-extfile", "server.ext", cwd=cwd)
    with open(os.path.join(cwd, out + "-chain.pem"), "w") as chain:
        for part in (out + ".pem", authority + ".pem"):
            with open(os.path.join(cwd, part)) as f:
                chain.write(f.read())


def make_ca(ca_dir):
    """Creates the test CA and the server certificates once; idempotent."""
    os.makedirs(ca_dir, exist_ok=True)
    if os.path.exists(os.path.join(ca_dir, "ready")):
        return
    _make_authority(ca_dir, "ca", "/CN=Lumora Test CA")
    _make_authority(ca_dir, "untrusted-ca", "/CN=Lumora Untrusted Test CA")
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
             "-out", "server.csr", "-subj", "/CN=127.0.0.1", cwd=ca_dir)
    # Wine's name check looks only at DNS entries of the subject alternative
    # name, so the address literal is also listed as a DNS name.
    with open(os.path.join(ca_dir, "server.ext"), "w") as ext:
        ext.write("subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\n"
                  "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                  "keyUsage=critical,digitalSignature,keyEncipherment\n")
    _sign_server(ca_dir, "ca", "server")
    _sign_server(ca_dir, "untrusted-ca", "untrusted")
    open(os.path.join(ca_dir, "ready"), "w").close()


def tls_context(ca_dir, chain="server-chain.pem"):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(ca_dir, chain), os.path.join(ca_dir, "server.key"))
    return context


# --- scriptable server ----------------------------------------------------------

def read_head(handler):
    """Reads the request head up to and including the empty line; b"" on EOF."""
    head = b""
    while not head.endswith(b"\r\n\r\n"):
        line = handler.rfile.readline(65536)
        if not line:
            return b""
        head += line
    return head


def read_request_body(handler, head):
    """Reads the body that the head announces. Returns (body, raw bytes)."""
    lower = head.lower()
    if b"transfer-encoding: chunked" in lower:
        body, raw = b"", b""
        while True:
            size_line = handler.rfile.readline(1024)
            raw += size_line
            if not size_line:
                break
            size = int(size_line.split(b";")[0].strip() or b"0", 16)
            if size == 0:
                while True:  # trailer fields, then the empty line
                    trailer = handler.rfile.readline(65536)
                    raw += trailer
                    if trailer in (b"\r\n", b""):
                        break
                break
            data = handler.rfile.read(size + 2)
            raw += data
            body += data[:size]
        return body, raw
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            data = handler.rfile.read(int(line.split(b":", 1)[1]))
            return data, data
    return b"", b""


def send_head(handler, status, fields):
    text = "HTTP/1.1 %s\r\n" % status + "".join("%s: %s\r\n" % f for f in fields) + "\r\n"
    handler.wfile.write(text.encode("ascii"))


def _route_nolength(handler, args):
    body = pattern(int(args[0]))
    send_head(handler, "200 OK", [("Transfer-Encoding", "chunked"),
                                   ("Content-Type", "application/octet-stream")])
    # Uneven chunk sizes, so that the reader's blocks do not line up with them.
    position, size = 0, 1000
    while position < len(body):
        piece = body[position:position + size]
        handler.wfile.write(b"%X\r\n%s\r\n" % (len(piece), piece))
        position += len(piece)
        size = size * 3 % 9001 + 1
    handler.wfile.write(b"0\r\n\r\n")


def _route_close(handler, args):
    handler.wfile.write(b"HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n" + pattern(int(args[0])))
    handler.close_connection = True


def _route_reset(handler, args):
    total, sent = int(args[0]), int(args[1])
    send_head(handler, "200 OK", [("Content-Length", str(total))])
    handler.wfile.write(pattern(total)[:sent])
    handler.wfile.flush()
    time.sleep(0.2)  # let the client take the bytes before the reset
    # Closing with a zero linger time sends RST instead of FIN.
    handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    handler.connection.close()
    handler.close_connection = True


def _route_stall(handler, args):
    total, sent = int(args[0]), int(args[1])
    send_head(handler, "200 OK", [("Content-Length", str(total))])
    handler.wfile.write(pattern(total)[:sent])
    handler.wfile.flush()
    handler.server.stopping.wait(600)
    handler.close_connection = True


def trickle(handler, body, interval, piece=1):
    """Writes body `piece` bytes at a time, one piece every `interval`
    seconds, until it is sent, the client goes or the servers stop."""
    for position in range(0, len(body), piece):
        handler.wfile.write(body[position:position + piece])
        handler.wfile.flush()
        if handler.server.stopping.wait(interval):
            break


def _route_trickle(handler, args):
    total, interval = int(args[0]), int(args[1]) / 1000
    piece = int(args[2]) if len(args) > 2 else 1
    # The connection ends with the response: a client must not pool it.
    send_head(handler, "200 OK", [("Content-Length", str(total)), ("Connection", "close")])
    handler.wfile.flush()
    trickle(handler, pattern(total), interval, piece)
    handler.close_connection = True


def _route_short(handler, args):
    total, sent = int(args[0]), int(args[1])
    send_head(handler, "200 OK", [("Content-Length", str(total))])
    handler.wfile.write(pattern(sent))
    handler.wfile.flush()
    handler.connection.shutdown(socket.SHUT_WR)
    handler.close_connection = True


def _route_silent(handler, args):
    handler.server.stopping.wait(600)
    handler.close_connection = True


def _route_echo(handler, args, head):
    _, raw = read_request_body(handler, head)
    reply = head + raw
    send_head(handler, "200 OK", [("Content-Length", str(len(reply))),
                                   ("Content-Type", "application/octet-stream")])
    handler.wfile.write(reply)


class ScriptHandler(socketserver.StreamRequestHandler):
    def setup(self):
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(30)
            self.request.do_handshake()
            self.request.settimeout(None)
        super().setup()

    def handle(self):
        self.close_connection = False
        while not self.close_connection:
            head = read_head(self)
            if not head:
                return
            method, target = head.split(b" ", 2)[:2]
            path = target.decode("latin-1")
            try:
                self.dispatch(method.decode("latin-1"), path, head)
                self.wfile.flush()
            except (ConnectionError, OSError):
                return

    def dispatch(self, method, path, head):
        for prefix, fn in self.server.routes.items():
            if path.startswith(prefix):
                return fn(self, method, path, head)
        parts = path.strip("/").split("/")
        name, args = parts[0], parts[1:]
        if name == "echo":
            return _route_echo(self, args, head)
        builtin = {"nolength": _route_nolength, "close": _route_close,
                   "reset": _route_reset, "stall": _route_stall, "trickle": _route_trickle, "short": _route_short,
                   "silent": _route_silent}.get(name)
        if builtin and method == "GET":
            return builtin(self, args)
        body = b"no such route\n"
        send_head(self, "404 Not Found", [("Content-Length", str(len(body)))])
        self.wfile.write(body)


class ScriptServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, routes, stopping, context=None, port=0):
        super().__init__((LOCAL, port), ScriptHandler)
        self.routes = routes
        self.stopping = stopping
        self.context = context
        self.root = None

    def get_request(self):
        sock, address = super().get_request()
        if self.context:
            # The handshake happens in the connection's own thread (see
            # ScriptHandler.setup), so a slow client cannot hold up accept().
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def handle_error(self, request, client_address):
        pass  # a client that goes away is part of the tests

    @property
    def port(self):
        return self.server_address[1]


def load_routes(path):
    if not path:
        return {}
    namespace = {"__file__": path}
    with open(path) as f:
        exec(compile(f.read(), path, "exec"), namespace)
    return dict(namespace.get("ROUTES", {}))


# --- nginx ----------------------------------------------------------------------

def free_port():
    with socket.socket() as s:
        s.bind((LOCAL, 0))
        return s.getsockname()[1]


accepts = lumora_nginx.accepts
wait_until = lumora_nginx.wait_until


def nginx_sites(prefix, root, ca_dir, ports):
    """The plain, trusted TLS and untrusted TLS sites, each with the
    locations the module's header lists."""
    locations = [
        "location /files/ { alias %s/; }" % root,
        'location /private/ { alias %s/; auth_basic "lumora"; auth_basic_user_file %s/htpasswd; }'
        % (root, prefix),
        "location = /moved { return 302 /files/big.bin; }",
        'location = /missing { default_type text/plain; return 404 "not here\\n"; }',
    ]
    sites = []
    for port, chain in ((ports["HTTP_PORT"], None), (ports["HTTPS_PORT"], "server-chain.pem"),
                        (ports["HTTPS_UNTRUSTED_PORT"], "untrusted-chain.pem")):
        tls = (os.path.join(ca_dir, chain), os.path.join(ca_dir, "server.key")) if chain else None
        sites.append(lumora_nginx.site(port, root, locations, tls))
    return sites


def start_nginx(state_dir, root, ca_dir):
    prefix = os.path.join(state_dir, "nginx")
    os.makedirs(prefix, exist_ok=True)
    with open(os.path.join(prefix, "htpasswd"), "w") as f:
        f.write("%s:{PLAIN}%s\n" % (BASIC_USER, BASIC_PASSWORD))
    # A port picked as free may be taken before nginx binds it: try again.
    for attempt in range(3):
        ports = {key: free_port() for key in ("HTTP_PORT", "HTTPS_PORT", "HTTPS_UNTRUSTED_PORT")}
        try:
            return lumora_nginx.Nginx(prefix, nginx_sites(prefix, root, ca_dir, ports)), ports
        except RuntimeError:
            if attempt == 2:
                raise


# --- supervisor -----------------------------------------------------------------

def populate_root(root):
    os.makedirs(root, exist_ok=True)
    for name, size in (("big.bin", 100000), ("empty.bin", 0)):
        with open(os.path.join(root, name), "wb") as f:
            f.write(pattern(size))


def supervise(args):
    state_dir = os.path.abspath(args.state_dir)
    ca_dir = os.path.abspath(args.ca)
    root = os.path.abspath(args.root) if args.root else os.path.join(state_dir, "www")
    if not args.root:
        populate_root(root)
    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    signal.signal(signal.SIGINT, lambda *_: stopping.set())
    nginx, ports = start_nginx(state_dir, root, ca_dir)
    servers = []
    try:
        routes = load_routes(args.handlers)
        for key, context in (("SCRIPT_PORT", None), ("SCRIPT_TLS_PORT", tls_context(ca_dir))):
            server = ScriptServer(routes, stopping, context)
            server.root = root
            threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                             daemon=True).start()
            servers.append(server)
            ports[key] = server.port
        closed = socket.socket()
        closed.bind((LOCAL, 0))  # bound, never listening: connections are refused
        ports["CLOSED_PORT"] = closed.getsockname()[1]
        ports["ROOT"] = root
        env = os.path.join(state_dir, "servers.env")
        with open(env + ".tmp", "w") as f:
            f.writelines("%s=%s\n" % item for item in sorted(ports.items()))
        os.replace(env + ".tmp", env)
        # Ends by itself after the lifetime, so that an interrupted test run
        # leaves nothing listening for long.
        stopping.wait(args.lifetime)
    finally:
        stopping.set()
        for server in servers:
            server.shutdown()
            server.server_close()
        nginx.stop()
        try:
            os.remove(os.path.join(state_dir, "servers.env"))
        except FileNotFoundError:
            pass


def read_env(state_dir):
    values = {}
    with open(os.path.join(state_dir, "servers.env")) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            values[key] = value
    return values


def command_start(args):
    state_dir = os.path.abspath(args.state_dir)
    os.makedirs(state_dir, exist_ok=True)
    if os.path.exists(os.path.join(state_dir, "supervisor.pid")):
        command_stop(args)
    for name in ("servers.env", "supervisor.log"):
        try:
            os.remove(os.path.join(state_dir, name))
        except FileNotFoundError:
            pass
    log = open(os.path.join(state_dir, "supervisor.log"), "w")
    # A session of its own, detached from ctest's pipes, so that the fixture
    # test ends while the servers go on.
    supervisor = subprocess.Popen(
        [sys.executable, os.path.abspath(__file__), "supervise", state_dir, "--ca", args.ca,
         "--lifetime", str(args.lifetime)]
        + (["--root", args.root] if args.root else [])
        + (["--handlers", args.handlers] if args.handlers else []),
        stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(state_dir, "supervisor.pid"), "w") as f:
        f.write(str(supervisor.pid))
    env = os.path.join(state_dir, "servers.env")
    if not wait_until(lambda: os.path.exists(env) or supervisor.poll() is not None, 45) \
            or not os.path.exists(env):
        stop_pid(supervisor.pid)
        sys.stderr.write(open(os.path.join(state_dir, "supervisor.log")).read())
        sys.exit("test servers did not start")
    print(open(env).read(), end="")


def stop_pid(pid):
    lumora_nginx.stop_pid(pid, seconds=20)


def command_stop(args):
    state_dir = os.path.abspath(args.state_dir)
    pid_file = os.path.join(state_dir, "supervisor.pid")
    ports = []
    if os.path.exists(os.path.join(state_dir, "servers.env")):
        ports = [int(v) for k, v in read_env(state_dir).items() if k.endswith("_PORT") and k != "CLOSED_PORT"]
    if os.path.exists(pid_file):
        stop_pid(int(open(pid_file).read()))
        os.remove(pid_file)
    # Only when the supervisor had to be killed is nginx still there.
    lumora_nginx.stop_state(os.path.join(state_dir, "nginx"))
    busy = [port for port in ports if accepts(port)]
    if busy:
        sys.exit("still listening on 127.0.0.1 ports %s" % busy)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    ca = sub.add_parser("ca")
    ca.add_argument("ca_dir")
    for name in ("start", "supervise"):
        start = sub.add_parser(name)
        start.add_argument("state_dir")
        start.add_argument("--ca", required=True)
        start.add_argument("--root")
        start.add_argument("--handlers")
        start.add_argument("--lifetime", type=float, default=1800)
    stop = sub.add_parser("stop")
    stop.add_argument("state_dir")
    args = parser.parse_args()
    if args.command == "ca":
        make_ca(args.ca_dir)
    elif args.command == "start":
        make_ca(args.ca)
        command_start(args)
    elif args.command == "supervise":
        supervise(args)
    else:
        command_stop(args)


if __name__ == "__main__":
    main()
