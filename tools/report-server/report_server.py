#!/usr/bin/env python3
"""Report server for Brindlex crash reports, for tests and for makers.

HTTPS, path "/BrindlexSprejem/sprejem/", request bodies in chunked transfer
coding (a plain Content-Length body is taken too). Each request is answered
with the next reply of the configured list; when the list is used up, with
the default reply.

Two ways to keep reports:
- Plain (tests of the reporter): every report received is stored as NNN.bin
  in the store folder, with NNN.json beside it (method, path, headers,
  whether the body came chunked), and kept in memory (`received`).
- Indexed (--index or --database; the maker's crash view): every report is
  stored atomically under a unique name in STORE/reports, read and
  symbolized by the report reader through the symbol store, and recorded in
  the index (SQLite STORE/index.sqlite3, or PostgreSQL by URL, shared by
  several servers on one folder). The crash groups are served as a web page
  on a separate administration address.

As a program:

  report_server.py --cert CHAIN.pem --key KEY.pem --store DIR [--address A] [--port N]
                   [--reply REPLY]... [--default REPLY] [--ask-detailed]
                   [--index | --database postgresql://...] --reader REPORT_READER
                   [--symbols DIR] [--reader-memory MIB] [--admin-address A] [--admin-port N]

  --symbols is the symbol store (default STORE/symbols; see report-reader
  --file-symbols). --ask-detailed answers every .bxo report with 449, so
  that the .bxr report of the same crash follows. --reader-memory bounds the
  address space of each run of the report reader (default 1024 MiB).

  REPLY is STATUS[;DELAY_SECONDS]:CONTENT_TYPE:BODY, for example
  "200:text/plain; charset=utf-8:Hvala" or "449::" (no Content-Type, empty
  body). The special REPLY "drop" closes the connection without any reply.

It prints "port N" once it listens (and "admin URL" for the page) and runs
until SIGTERM or SIGINT, which stop it cleanly: uploads in progress end
first, and a report being read stays to be read at the next start.
SIGHUP reads again the reports whose builds had no symbols and now have
(as the page's "Read again" button does).

Request bodies are framed as HTTP/1.1 frames them (request_body.py): a
malformed length or chunk size is answered with 400 at once.

As a module (the crash tests use it this way):

  server = ReportServer(cert, key, store, replies=[Reply(449, ...), ...])
  port = server.start()
  ...
  server.received   # list of Received(body, headers, chunked, path, method)
  server.stop()
"""

import argparse
import http.server
import json
import os
import signal
import socket
import ssl
import sys
import threading
import time

import admin_page
import report_files
import report_index
import report_indexer
import report_reading
import request_body

PATH = "/BrindlexSprejem/sprejem/"
LINGER_SECONDS = 2
LINGER_BYTES = 1 << 20
ASK_DETAILED = "Prosimo, pošljite še podrobno poročilo."


class Reply:
    """One answer: status, Content-Type (None: no such header), body bytes,
    seconds to wait before answering; drop=True closes without a reply."""

    def __init__(self, status=200, content_type="text/plain; charset=utf-8", body=b"Hvala", delay=0.0,
                 drop=False):
        self.status = status
        self.content_type = content_type
        self.body = body if isinstance(body, bytes) else body.encode("utf-8")
        self.delay = delay
        self.drop = drop

    @staticmethod
    def parse(text):
        if text == "drop":
            return Reply(drop=True)
        status, content_type, body = text.split(":", 2)
        delay = 0.0
        if ";" in status:
            status, delay = status.split(";", 1)
        return Reply(int(status), content_type or None, body.encode("utf-8"), float(delay))


class Received:
    def __init__(self, method, path, headers, body, chunked):
        self.method = method
        self.path = path
        self.headers = headers
        self.body = body
        self.chunked = chunked


class ReportServer:
    """`index`: a report_index.Index to record reports in (indexed mode, with
    `reader` the report reader program and `symbols` the symbol store);
    None keeps them plainly."""

    def __init__(self, cert, key, store, replies=None, default=None, index=None, reader=None, symbols=None,
                 ask_detailed=False, reader_memory=report_reading.READER_MEMORY):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)
        self.store = store
        os.makedirs(store, exist_ok=True)
        self.replies = list(replies or [])
        self.default = default or Reply()
        self.received = []
        self.requests_seen = 0
        self.lock = threading.Lock()
        self.httpd = None
        self.thread = None
        self.index = index
        self.ask_detailed = ask_detailed
        self.folder = os.path.join(store, "reports")
        self.indexer = None
        if index is not None:
            if not reader:
                raise ValueError("an indexed report server needs the report reader")
            os.makedirs(self.folder, exist_ok=True)
            self.indexer = report_indexer.Indexer(index, self.folder, reader, symbols, reader_memory)
        self.admin = None

    def start_admin(self, address="127.0.0.1", port=0):
        """The crash groups page; returns its port."""
        self.admin = admin_page.AdminServer(self.index, self.folder, self.indexer)
        return self.admin.start(address, port)

    def next_reply(self):
        with self.lock:
            self.requests_seen += 1
            return self.replies.pop(0) if self.replies else self.default

    def record(self, received):
        with self.lock:
            number = len(self.received)
            self.received.append(received)
        base = os.path.join(self.store, "%03d" % number)
        with open(base + ".bin", "wb") as f:
            f.write(received.body)
        with open(base + ".json", "w") as f:
            json.dump({"method": received.method, "path": received.path, "headers": received.headers,
                       "chunked": received.chunked}, f, indent=1)

    def start(self, port=0, address="127.0.0.1"):
        server = self
        if self.indexer:
            self.indexer.catch_up()
            self.indexer.start()

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_POST(self):
                if self.path != PATH:
                    self.refuse(404, "unknown path")
                    return
                chunked = bool(self.headers.get_all("Transfer-Encoding"))
                try:
                    body = request_body.read_body(self.headers, self.rfile)
                except request_body.BadRequest as e:
                    self.refuse(e.status, str(e))
                    return
                if server.index is not None:
                    kind = report_files.kind_of(body)
                    server.indexer.store(body)
                    if server.ask_detailed and kind == ".bxo":
                        self.answer(Reply(449, "text/plain; charset=utf-8", ASK_DETAILED))
                        return
                else:
                    server.record(Received("POST", self.path, dict(self.headers.items()), body, chunked))
                self.answer(server.next_reply())

            def do_GET(self):
                self.refuse(405, "POST reports here")

            def refuse(self, status, text):
                """Answers without reading the body, then reads what the client
                still sends for a moment: closing with unread data makes TCP
                reset the connection, and the reset can destroy the answer
                before the client has read it."""
                self.answer(Reply(status, "text/plain; charset=utf-8", text))
                try:
                    # On a TLS socket this sends no close_notify: the answer
                    # carries its length, and what follows is thrown away.
                    self.connection.shutdown(socket.SHUT_WR)
                    deadline = time.monotonic() + LINGER_SECONDS
                    drained = 0
                    while drained < LINGER_BYTES and time.monotonic() < deadline:
                        self.connection.settimeout(max(0.01, deadline - time.monotonic()))
                        block = self.connection.recv(65536)
                        if not block:
                            break
                        drained += len(block)
                except OSError:
                    pass  # the client is gone: nothing left to protect

            def answer(self, reply):
                if reply.delay:
                    time.sleep(reply.delay)
                if reply.drop:
                    self.close_connection = True
                    self.connection.shutdown(socket.SHUT_RDWR)
                    return
                self.send_response(reply.status)
                if reply.content_type is not None:
                    self.send_header("Content-Type", reply.content_type)
                self.send_header("Content-Length", str(len(reply.body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(reply.body)
                self.close_connection = True

        class Server(http.server.ThreadingHTTPServer):
            # An indexing server, when it stops, waits for the uploads in
            # progress (each bounded by the socket's time-out), so that none
            # is cut off between its storing and its answer. The plain one
            # of the reporter's tests leaves them, as a server that dies.
            daemon_threads = server.index is None
            block_on_close = server.index is not None

            def get_request(inner):
                sock, address = inner.socket.accept()
                sock.settimeout(30)
                return server.context.wrap_socket(sock, server_side=True), address

            def handle_error(inner, request, client_address):
                pass  # a client that gives up mid-request is no server failure

        self.httpd = Server((address, port), Handler)
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.1},
                                       daemon=True)
        self.thread.start()
        return self.httpd.server_address[1]

    def read_again(self):
        """Reads again the reports whose builds had no symbols and now have;
        how many."""
        return self.indexer.read_again() if self.indexer else 0

    def stop(self):
        if self.admin:
            self.admin.stop()
            self.admin = None
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.thread.join(10)
            self.httpd = None
        if self.indexer:
            self.indexer.stop()
            self.index.close()


def main():
    parser = argparse.ArgumentParser(description="Brindlex report server")
    parser.add_argument("--cert", required=True, help="certificate chain (PEM)")
    parser.add_argument("--key", required=True, help="private key (PEM)")
    parser.add_argument("--store", required=True, help="folder for the reports received")
    parser.add_argument("--address", default="127.0.0.1", help="upload address (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--reply", action="append", default=[], help="next reply, STATUS[;DELAY]:TYPE:BODY")
    parser.add_argument("--default", help="reply once the list is used up")
    parser.add_argument("--ask-detailed", action="store_true", help="answer .bxo reports with 449")
    parser.add_argument("--index", action="store_true", help="index reports in STORE/index.sqlite3")
    parser.add_argument("--database", help="index reports in this PostgreSQL database (postgresql://...)")
    parser.add_argument("--reader", help="the report-reader program (needed to index)")
    parser.add_argument("--symbols", help="symbol store (default STORE/symbols)")
    parser.add_argument("--reader-memory", type=int, default=report_reading.READER_MEMORY >> 20,
                        help="address space of each report reader run, MiB (default %(default)s)")
    parser.add_argument("--admin-address", default="127.0.0.1", help="address of the crash page (default 127.0.0.1)")
    parser.add_argument("--admin-port", type=int, default=0, help="port of the crash page (default: any free one)")
    args = parser.parse_args()
    index = None
    if args.index or args.database:
        if not args.reader:
            parser.error("indexing needs --reader")
        index = report_index.Index(args.database or os.path.join(args.store, "index.sqlite3"))
    server = ReportServer(args.cert, args.key, args.store, [Reply.parse(s) for s in args.reply],
                          Reply.parse(args.default) if args.default else None, index=index, reader=args.reader,
                          symbols=args.symbols or os.path.join(args.store, "symbols"),
                          ask_detailed=args.ask_detailed, reader_memory=args.reader_memory << 20)
    signals = Signals()
    port = server.start(args.port, args.address)
    if index is not None:
        admin_port = server.start_admin(args.admin_address, args.admin_port)
        print("admin http://%s:%d/" % (args.admin_address, admin_port), flush=True)
    print("port", port, flush=True)
    while signals.wait() == signal.SIGHUP:
        print("reading %d reports again" % server.read_again(), flush=True)
    server.stop()
    print("stopped", flush=True)
    return 0


class Signals:
    """SIGTERM and SIGINT stop the server, SIGHUP asks for reading again.
    SIGINT stays ignored when the server was started ignoring it (in the
    background of a script): Ctrl-C in that terminal is not meant for it."""

    def __init__(self):
        self.received = []
        self.wanted = [signal.SIGTERM, signal.SIGHUP]
        if signal.getsignal(signal.SIGINT) is not signal.SIG_IGN:
            self.wanted.append(signal.SIGINT)
        for number in self.wanted:
            signal.signal(number, self._note)

    def _note(self, number, frame):
        self.received.append(number)

    def wait(self):
        """The next signal received. The handler only notes it, whatever the
        main thread was doing; the main thread looks five times a second."""
        while not self.received:
            time.sleep(0.2)
        return self.received.pop(0)


if __name__ == "__main__":
    sys.exit(main())
