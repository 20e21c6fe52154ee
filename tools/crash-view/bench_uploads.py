#!/usr/bin/env python3
"""Benchmark of report uploads (not a test: it prints figures and ratios).

  bench_uploads.py BUILD_DIR [UPLOADS]

BUILD_DIR is the Windows build (its native report reader,
tools/report-reader/native/report-reader) or the host build (the reader
without sanitizers that the crash view tests use,
tools/crash-view/reader/report-reader). UPLOADS (default 400) reports are
sent by 32 concurrent clients, as the reporter sends them (HTTPS, chunked),
to:
1. the plain report server, which only stores them (the reference);
2. one indexing server on SQLite;
3. two indexing servers on one PostgreSQL server and one report folder.
Every indexed report is read and symbolized by the report reader.
Then one body of 1 MiB is sent in one-byte chunks, 250 000 and 1 000 000 of
them: the server's time per chunk must not grow with the body.
"""

import concurrent.futures
import os
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "../../build/win"))
uploads = int(sys.argv[2]) if len(sys.argv) > 2 else 400
work = os.path.join(build, "bench-work", "uploads")
os.makedirs(work, exist_ok=True)
with open(os.path.join(build, "CMakeCache.txt")) as cache:
    windows_build = "mingw" in "".join(line for line in cache if line.startswith("CMAKE_TOOLCHAIN_FILE"))
subprocess.run(["cmake", "--build", build, "--target", "report_reader_native" if windows_build else "crash_view_reader"],
               check=True, timeout=1800, stdout=subprocess.DEVNULL)
reader = os.path.join(build, "tools/report-reader/native/report-reader" if windows_build
                      else "tools/crash-view/reader/report-reader")
sample = os.path.join(work, "symbol_sample.full.exe")
sample64 = os.path.join(work, "symbol_sample64.full.exe")
# The fixture reads both symbol samples at import, as the crash view tests do.
for compiler, output in (("i686-w64-mingw32-g++", sample), ("x86_64-w64-mingw32-g++", sample64)):
    subprocess.run([compiler, "-g", "-O0", "-o", output, os.path.join(here, "tests/symbol_sample.cpp")],
                   check=True, timeout=300)
postgres_bin = sorted(d for d in (os.path.join("/usr/lib/postgresql", v, "bin") for v in os.listdir("/usr/lib/postgresql")))[-1]
os.environ.update(CRASH_VIEW_READER=reader, CRASH_VIEW_SAMPLE=sample, CRASH_VIEW_SAMPLE64=sample64, CRASH_VIEW_WORK=work, POSTGRES_BIN=postgres_bin,
                  CRASH_VIEW_SERVER_DIR=os.path.join(here, "../report-server"))
sys.path.insert(0, os.path.join(here, "tests"))

import view_fixture as fx  # noqa: E402
from report_writer import Crash  # noqa: E402
import report_index  # noqa: E402
from report_server import ReportServer  # noqa: E402

CLIENTS = 32
certificate = fx.make_certificate(os.path.join(work, "certificate"))
symbols = fx.fresh_folder("symbols")
fx.file_symbols(symbols, sample)
stamp, offsets = fx.pe_time_stamp(sample), fx.sample_offsets()
bodies = [Crash(0xC0000005, [(fx.SAMPLE_MODULE, stamp, 0x400000, [offsets["sample_parse_header"] + 1,
                                                                  offsets["sample_read_block"] + 5]),
                             ("KERNEL32.dll", 0x5F000000, 0x7B000000, [i])], trace=["line %d" % i]).body()
          for i in range(uploads)]


def run(make_servers):
    """(uploads per second, reports read and grouped per second) of all
    bodies spread over the servers."""
    servers = make_servers()
    try:
        ports = [s.start() for s in servers]

        def send(i):
            status = fx.upload(ports[i % len(ports)], certificate[0], bodies[i], seconds=120)
            if status != 200:
                raise RuntimeError("upload %d: status %d" % (i, status))
        start = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(CLIENTS) as pool:
            list(pool.map(send, range(uploads), timeout=900))
        uploaded = time.monotonic() - start
        if servers[0].indexer and not servers[0].indexer.wait_until_read(900):
            raise RuntimeError("the reports were not read within 15 minutes")
        return uploads / uploaded, uploads / (time.monotonic() - start)
    finally:
        for s in servers:
            s.stop()


def indexed(store, database, count):
    return [ReportServer(*certificate, store, index=report_index.Index(database), reader=reader, symbols=symbols)
            for _ in range(count)]


plain, _ = run(lambda: [ReportServer(*certificate, fx.fresh_folder("plain"))])
sqlite_store = fx.fresh_folder("sqlite")
sqlite = run(lambda: indexed(sqlite_store, os.path.join(sqlite_store, "index.sqlite3"), 1))
with fx.postgres_server(os.path.join(work, "postgres")) as new_database:
    database = new_database("bench")
    postgres = run(lambda: indexed(fx.fresh_folder("postgres-store"), database, 2))

print("report uploads, %d reports from %d concurrent clients (reader: %s)" % (uploads, CLIENTS, reader))
print("plain server (stores only):       %7.1f uploads/s" % plain)
for name, (taken, read) in (("indexed, SQLite, one server:     ", sqlite), ("indexed, PostgreSQL, two servers:", postgres)):
    print("%s %7.1f uploads/s (ratio to plain %.2f); all read and grouped: %.1f reports/s"
          % (name, taken, taken / plain, read))


def one_byte_chunks(count):
    """Seconds for the plain server to take `count` one-byte chunks."""
    server = ReportServer(*certificate, fx.fresh_folder("chunks"))
    port = server.start()
    try:
        body = os.urandom(count)
        start = time.monotonic()
        if fx.upload_in_chunks(port, certificate[0], body, 1, seconds=900) != 200:
            raise RuntimeError("the chunked upload was not taken")
        if server.received[0].body != body:
            raise RuntimeError("the chunked upload was taken wrong")
        return time.monotonic() - start
    finally:
        server.stop()


quarter, whole = one_byte_chunks(250000), one_byte_chunks(1000000)
print("one-byte chunks: 250 000 in %.1f s, 1 000 000 in %.1f s (ratio %.1f; 4 is linear, 16 quadratic)"
      % (quarter, whole, whole / quarter))
