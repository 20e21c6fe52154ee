"""What the crash view tests share: a certificate for the report server, real
uploads (complete and cut off), the test program's symbols, a PostgreSQL
server of their own under the build folder, and headless Chromium.

Environment (set by ctest): CRASH_VIEW_READER (report-reader),
CRASH_VIEW_SAMPLE (symbol_sample.full.exe, an i686 PE with DWARF),
CRASH_VIEW_SAMPLE64 (the same program as an x86_64 PE32+ with DWARF),
CRASH_VIEW_SERVER_DIR (tools/report-server), CRASH_VIEW_WORK (a folder in the
build tree), POSTGRES_BIN (Debian's /usr/lib/postgresql/<v>/bin),
CHROMIUM (/usr/bin/chromium).
"""

import contextlib
import html.parser
import json
import os
import select
import shlex
import shutil
import socket
import ssl
import subprocess
import sys
import time

ENV = os.environ
READER = ENV["CRASH_VIEW_READER"]
SAMPLE = ENV["CRASH_VIEW_SAMPLE"]
SAMPLE64 = ENV["CRASH_VIEW_SAMPLE64"]
WORK = ENV["CRASH_VIEW_WORK"]
sys.path.insert(0, ENV["CRASH_VIEW_SERVER_DIR"])
PATH = "/BrindlexSprejem/sprejem/"
SAMPLE_MODULE = "symbol_sample.exe"


def run(command, seconds=60, **kwargs):
    return subprocess.run(command, check=True, timeout=seconds, capture_output=True, text=True, **kwargs)


def make_certificate(folder):
    """A self-signed certificate for 127.0.0.1: (chain, key)."""
    os.makedirs(folder, exist_ok=True)
    chain, key = os.path.join(folder, "server.pem"), os.path.join(folder, "server.key")
    if not os.path.exists(key):
        run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
             "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
             "-keyout", key, "-out", chain])
    return chain, key


def client_context(chain):
    context = ssl.create_default_context(cafile=chain)
    return context


def _request_head(port):
    return ("POST %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUser-Agent: Brindlex/13.0\r\nAccept: */*\r\n"
            "Content-Type: application/x-brindlexz\r\nTransfer-Encoding: chunked\r\n\r\n" % (PATH, port)).encode()


def upload(port, chain, body, seconds=60):
    """Posts `body` in chunks of at most 8180 bytes, as the reporter does; the status."""
    with socket.create_connection(("127.0.0.1", port), timeout=seconds) as raw:
        with client_context(chain).wrap_socket(raw, server_hostname="127.0.0.1") as s:
            data = _request_head(port)
            for i in range(0, len(body), 8180):
                part = body[i:i + 8180]
                data += b"%X\r\n" % len(part) + part + b"\r\n"
            s.sendall(data + b"0\r\n\r\n")
            reply = b""
            while b"\r\n" not in reply:
                block = s.recv(4096)
                if not block:
                    break
                reply += block
            return int(reply.split(b" ", 2)[1])


def raw_request(port, chain, data, seconds=10):
    """Sends `data` as it is and returns the reply's status, or None when the
    connection closes without one. `seconds` bounds the wait, and is far
    below the server's own 30 s socket time-out: a server that waits for
    bytes that never come fails here."""
    with socket.create_connection(("127.0.0.1", port), timeout=seconds) as raw:
        with client_context(chain).wrap_socket(raw, server_hostname="127.0.0.1") as s:
            try:
                s.sendall(data)
            except OSError:
                pass  # the server may answer and close before taking it all
            reply = b""
            try:
                while b"\r\n" not in reply:
                    block = s.recv(4096)
                    if not block:
                        break
                    reply += block
            except (ConnectionResetError, ssl.SSLError):
                pass
            return int(reply.split(b" ", 2)[1]) if b"\r\n" in reply else None


def upload_in_chunks(port, chain, body, chunk, seconds=120):
    """Posts `body` in chunks of `chunk` bytes (a hostile client's framing); the status."""
    head = _request_head(port)
    parts = [head] + [b"%X\r\n%s\r\n" % (len(body[i:i + chunk]), body[i:i + chunk])
                      for i in range(0, len(body), chunk)] + [b"0\r\n\r\n"]
    return raw_request(port, chain, b"".join(parts), seconds)


def upload_cut_off(port, chain, body, seconds=30):
    """A client that dies mid-body: the head and half of the first chunk, then the connection closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=seconds) as raw:
        with client_context(chain).wrap_socket(raw, server_hostname="127.0.0.1") as s:
            s.sendall(_request_head(port) + b"%X\r\n" % len(body) + body[:len(body) // 2])
    # Closing without TLS close_notify or the rest, as a killed process does.


def sample_offsets(sample=SAMPLE):
    """Function name (without parameters) -> offset from the image base in a test program."""
    nm = "x86_64-w64-mingw32-nm" if sample == SAMPLE64 else "i686-w64-mingw32-nm"
    base = pe_image_base(sample)
    offsets = {}
    for line in run([nm, "-C", sample]).stdout.splitlines():
        fields = line.split(" ", 2)
        if len(fields) == 3 and fields[1] in "Tt" and "sample_" in fields[2]:
            offsets[fields[2].lstrip("_").split("(")[0]] = int(fields[0], 16) - base
    return offsets


def _pe_headers(path):
    import struct
    with open(path, "rb") as f:
        data = f.read(4096)
    return data, struct.unpack_from("<I", data, 60)[0]


def pe_time_stamp(path):
    import struct
    data, pe = _pe_headers(path)
    return struct.unpack_from("<I", data, pe + 8)[0]


def pe_image_base(path):
    """The preferred load address: 32 bits in a PE32 file, 64 in a PE32+ one."""
    import struct
    data, pe = _pe_headers(path)
    if struct.unpack_from("<H", data, pe + 24)[0] == 0x20B:
        return struct.unpack_from("<Q", data, pe + 24 + 24)[0]
    return struct.unpack_from("<I", data, pe + 24 + 28)[0]


def file_symbols(store, program, *extra):
    return run([READER, "--file-symbols", store, program, *extra]).stdout.strip()


def fresh_folder(name):
    path = os.path.join(WORK, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextlib.contextmanager
def postgres_server(folder):
    """A PostgreSQL server of its own under `folder`, on 127.0.0.1 and a free
    port; yields a function giving the URL of a new database. PostgreSQL
    refuses to run as root: then it runs as the postgres system user."""
    bin_dir = ENV["POSTGRES_BIN"]
    as_user = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []
    shutil.rmtree(folder, ignore_errors=True)
    data, sockets = os.path.join(folder, "data"), os.path.join(folder, "sockets")
    os.makedirs(data)
    os.makedirs(sockets)
    if as_user:
        shutil.chown(folder, "postgres")
        shutil.chown(data, "postgres")
        shutil.chown(sockets, "postgres")
    run(as_user + [os.path.join(bin_dir, "initdb"), "-D", data, "-U", "postgres", "--auth=trust", "-E", "UTF8",
                   "--no-sync"], seconds=120)
    port = free_port()
    log = open(os.path.join(folder, "postgres.log"), "w")
    server = subprocess.Popen(as_user + [os.path.join(bin_dir, "postgres"), "-D", data, "-h", "127.0.0.1",
                                         "-p", str(port), "-k", sockets, "-c", "fsync=off",
                                         "-c", "max_connections=60"], stdout=log, stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 60
        while subprocess.run([os.path.join(bin_dir, "pg_isready"), "-h", "127.0.0.1", "-p", str(port)],
                             capture_output=True, timeout=10).returncode != 0:
            if time.monotonic() > deadline or server.poll() is not None:
                raise RuntimeError("PostgreSQL did not start; see " + log.name)
            time.sleep(0.2)
        created = []

        def new_database(name):
            import psycopg2
            connection = psycopg2.connect("postgresql://postgres@127.0.0.1:%d/postgres" % port, connect_timeout=10)
            connection.autocommit = True
            with connection.cursor() as c:
                c.execute("CREATE DATABASE %s" % name)
            connection.close()
            created.append(name)
            return "postgresql://postgres@127.0.0.1:%d/%s" % (port, name)

        yield new_database
    finally:
        server.terminate()
        try:
            server.wait(30)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait(10)
        log.close()


def chromium(*arguments, seconds=60):
    """Headless Chromium with a new profile; its standard output."""
    profile = fresh_folder("chromium-profile-%d" % time.monotonic_ns())
    command = [ENV.get("CHROMIUM", "/usr/bin/chromium"), "--headless", "--no-sandbox", "--disable-gpu",
               "--disable-quic", "--no-first-run", "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--user-data-dir=" + profile, *arguments]
    try:
        return subprocess.run(command, check=True, timeout=seconds, capture_output=True, text=True).stdout
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def chromium_evaluate(url, expressions, width=1000, height=700, seconds=60):
    """The values of JavaScript `expressions` in `url` once headless Chromium
    has loaded and laid it out in a window `width` pixels wide. They are
    evaluated through the DevTools protocol on a pipe (no port), so the
    page's own policy, which allows no script, stays as it is."""
    profile = fresh_folder("chromium-profile-%d" % time.monotonic_ns())
    to_browser, from_browser = os.pipe(), os.pipe()
    command = [ENV.get("CHROMIUM", "/usr/bin/chromium"), "--headless", "--no-sandbox", "--disable-gpu",
               "--disable-quic", "--no-first-run", "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + profile, "--remote-debugging-pipe",
               "--window-size=%d,%d" % (width, height), "about:blank"]
    # The browser reads the protocol on descriptor 3 and writes on 4; bash,
    # unlike dash, moves descriptors above 9 there.
    shell = "exec %s 3<&%d 4>&%d" % (shlex.join(command), to_browser[0], from_browser[1])
    browser = subprocess.Popen(["bash", "-c", shell], pass_fds=(to_browser[0], from_browser[1]),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(to_browser[0])
    os.close(from_browser[1])
    deadline = time.monotonic() + seconds
    received = bytearray()
    counter = [0]

    def call(method, params=None, session=None):
        counter[0] += 1
        message = {"id": counter[0], "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(to_browser[1], json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in received:
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([from_browser[0]], [], [], left)[0]:
                    raise TimeoutError("Chromium did not answer %s in time" % method)
                block = os.read(from_browser[0], 65536)
                if not block:
                    raise RuntimeError("Chromium ended")
                received.extend(block)
            end = received.index(b"\0")
            reply = json.loads(received[:end])
            del received[:end + 1]
            if reply.get("id") == counter[0]:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply["result"]

    def evaluate(expression, session):
        result = call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    try:
        target = call("Target.createTarget", {"url": url})["targetId"]
        session = call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        # The new target shows about:blank first: wait for the page itself.
        while evaluate("location.href + ' ' + document.readyState", session) != url + " complete":
            if time.monotonic() > deadline:
                raise TimeoutError("%s did not load in time" % url)
            time.sleep(0.1)
        return [evaluate(e, session) for e in expressions]
    finally:
        with contextlib.suppress(OSError):
            os.write(to_browser[1], json.dumps({"id": 0, "method": "Browser.close"}).encode() + b"\0")
        os.close(to_browser[1])
        os.close(from_browser[0])
        try:
            browser.wait(20)
        except subprocess.TimeoutExpired:
            browser.kill()
            browser.wait(10)
        shutil.rmtree(profile, ignore_errors=True)


class Dom(html.parser.HTMLParser):
    """The elements and text of a page as Chromium rendered it."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.elements = []   # (tag, attributes)
        self.rows = []       # text of each table row's cells, for tr.group rows
        self.texts = []
        self.by_id = {}      # id -> text of the element
        self.items = {}      # id of a list -> text of each of its items
        self._row = None
        self._cell = None
        self._open = []      # [tag, id, text] of the elements open now
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.elements.append((tag, attrs))
        if tag == "tr" and attrs.get("class") == "group":
            self._row = []
        elif tag == "td" and self._row is not None:
            self._cell = ""
        if tag not in ("br", "hr", "img", "input", "link", "meta", "wbr"):  # elements without an end
            self._open.append([tag, attrs.get("id"), ""])

    def handle_endtag(self, tag):
        if tag == "td" and self._row is not None and self._cell is not None:
            self._row.append(self._cell.strip())
            self._cell = None
        elif tag == "tr" and self._row is not None:
            self.rows.append(self._row)
            self._row = None
        while any(name == tag for name, _, _ in self._open):
            name, element_id, text = self._open.pop()
            if element_id:
                self.by_id[element_id] = text.strip()
            if name == "li" and self._open and self._open[-1][1]:
                self.items.setdefault(self._open[-1][1], []).append(text.strip())
            if name == tag:
                break

    def handle_data(self, data):
        self.texts.append(data)
        if self._cell is not None:
            self._cell += data
        for element in self._open:
            element[2] += data

    def text(self):
        return "".join(self.texts)

    def tags(self, name):
        return [attrs for tag, attrs in self.elements if tag == name]
