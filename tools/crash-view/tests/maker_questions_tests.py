#!/usr/bin/env python3
"""The crash view answers a maker's next questions: symbols filed after the
reports came are applied (on request and at start-up) and the groups merge;
counts are crashes, a .bxr report counting with its .bxo report; a group
page shows what makes its signature, its builds by name and count, the
symbols it lacks and every reason of an unreadable group; long lines wrap in
Chromium; SIGTERM stops the server cleanly.
"""

import datetime
import os
import queue
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest
import urllib.error
import urllib.request

import view_fixture as fx
from report_writer import Crash, zlib_bomb
from view_case import AV, BACKENDS, ViewCase

import report_index  # noqa: E402 (tools/report-server, on the path through view_fixture)
import report_indexer

NAMED = "EXCEPTION_ACCESS_VIOLATION in sample_parse_header"
OTHER_STAMP = 0x12345678


def patched_time_stamp(source, target, time_stamp):
    """A copy of the PE file `source` with another time stamp: to the symbol
    store, another build of the same code."""
    with open(source, "rb") as f:
        data = bytearray(f.read())
    struct.pack_into("<I", data, struct.unpack_from("<I", data, 60)[0] + 8, time_stamp)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as f:
        f.write(data)
    return target


def get(admin, path):
    with urllib.request.urlopen("http://127.0.0.1:%d%s" % (admin, path), timeout=30) as reply:
        return fx.Dom(reply.read().decode("utf-8"))


def post(admin, path, origin=None):
    """(status, page) of a POST with no body, as the page's form sends it."""
    headers = {"Origin": origin or "http://127.0.0.1:%d" % admin}
    request = urllib.request.Request("http://127.0.0.1:%d%s" % (admin, path), data=b"", method="POST",
                                     headers=headers)
    try:
        with urllib.request.urlopen(request, timeout=30) as reply:
            return reply.status, fx.Dom(reply.read().decode("utf-8"))
    except urllib.error.HTTPError as e:
        return e.code, None


class MakerQuestionsTest(ViewCase):
    def crash(self, time_stamp=None, frames=("sample_parse_header", "sample_read_block", "sample_install_package"),
              trace=("install started",), detailed=False, module=fx.SAMPLE_MODULE):
        offsets = [self.offsets[f] + 3 for f in frames]
        return Crash(AV, [(module, self.stamp if time_stamp is None else time_stamp, 0x400000, offsets),
                          ("KERNEL32.dll", 0x5F000000, 0x7B000000, [0x20])],
                     trace=list(trace), detailed=detailed).body()

    def test_symbols_filed_late_merge_the_groups_on_request_and_at_start_up(self):
        parse = self.offsets["sample_parse_header"]
        unnamed = "EXCEPTION_ACCESS_VIOLATION in symbol_sample.exe+0x%X" % (parse + 3)
        for backend in BACKENDS:
            with self.subTest(backend):
                store = fx.fresh_folder("late-" + backend)
                symbols = os.path.join(store, "symbols")
                database = self.database(backend, store)
                server = self.server(store, database, symbols=symbols)
                admin = server.start_admin()
                self.upload_all(server, [self.crash(trace=["early %d" % i]) for i in range(2)])
                self.assertEqual(self.groups(server), {unnamed: 2})
                page = get(admin, "/group/" + self.group_of(server, unnamed).key)
                self.assertIn("No symbols in the store for symbol_sample.exe 0x%08X (2 reports)" % self.stamp,
                              page.by_id["missing"])
                self.assertEqual([a.get("action") for a in page.tags("form")], ["/read-again"])

                fx.file_symbols(symbols, fx.SAMPLE)
                self.upload_all(server, [self.crash(trace=["after filing"])])
                self.assertEqual(self.groups(server), {unnamed: 2, NAMED: 1}, "read before the request")
                self.assertEqual(post(admin, "/read-again", origin="http://elsewhere.example")[0], 403)
                self.assertEqual(server.index.count(unread_only=True), 0, "a foreign page asks for nothing")
                status, page = post(admin, "/read-again")
                self.assertEqual((status, page.by_id["again"]), (200, "2"))
                self.assert_all_read(server)
                self.assertEqual(self.groups(server), {NAMED: 3})
                self.assertNotIn("missing", get(admin, "/group/" + self.group_of(server, NAMED).key).by_id)

                # Another build of the same code, filed while no server runs.
                self.upload_all(server, [self.crash(OTHER_STAMP, trace=["other build %d" % i]) for i in range(2)])
                self.assertEqual(self.groups(server), {NAMED: 3, unnamed: 2})
                server.stop()
                shipped = patched_time_stamp(fx.SAMPLE, os.path.join(store, "shipped", fx.SAMPLE_MODULE), OTHER_STAMP)
                fx.file_symbols(symbols, fx.SAMPLE, "--shipped", shipped)
                server = self.server(store, database, symbols=symbols)
                self.assert_all_read(server)
                self.assertEqual(self.groups(server), {NAMED: 5})

    def test_a_bxr_report_counts_with_its_bxo_report(self):
        for backend in BACKENDS:
            with self.subTest(backend):
                store = fx.fresh_folder("pairs-" + backend)
                server = self.server(store, self.database(backend, store), ask_detailed=True)

                def send(body, status):
                    self.assertEqual(fx.upload(server.port, self.certificate[0], body), status)

                for i in range(3):  # crashes whose .bxr report follows
                    send(self.crash(trace=["crash %d" % i]), 449)
                    send(self.crash(trace=["crash %d" % i], detailed=True), 200)
                send(self.crash(trace=["only detailed"], detailed=True), 200)
                send(self.crash(trace=["never detailed"]), 449)
                # Two crashes alike in every field, and one .bxr report: it
                # details one of them.
                send(self.crash(trace=["twin"]), 449)
                send(self.crash(trace=["twin"]), 449)
                send(self.crash(trace=["twin"], detailed=True), 200)
                self.assert_all_read(server)
                group = self.group_of(server, NAMED)
                self.assertEqual((group.crashes, group.files), (7, 11))
                self.assertEqual(server.index.crashes(), 7)
                today = datetime.datetime.now(datetime.timezone.utc).date().isoformat()
                self.assertEqual(sum(server.index.daily_counts(today).get(group.key, {}).values()), 7)
                front = get(server.start_admin(), "/")
                self.assertEqual((front.by_id["crashes"], front.by_id["total"]), ("7", "11"))
                self.assertEqual(int(front.rows[0][0]), 7)

                # Stored (as the start-up scan finds files: in name order,
                # random within a second) and read in either order, a .bxr
                # report finds its .bxo report.
                folder = os.path.join(store, "alone")
                os.makedirs(folder)
                index = report_index.Index(self.database(backend, folder))
                index.migrate()
                indexer = report_indexer.Indexer(index, folder, fx.READER, self.symbols)
                orders = [("bxo", "bxr"), ("bxr", "bxo")]
                for stored in orders:
                    for read in orders:
                        trace = ["stored %s first, read %s first" % (stored[0], read[0])]
                        bodies = {"bxo": self.crash(trace=trace), "bxr": self.crash(trace=trace, detailed=True)}
                        names = {kind: indexer.store(bodies[kind]) for kind in stored}
                        for kind in read:
                            indexer.read([names[kind]])
                self.assertEqual((index.crashes(), index.count()), (4, 8))
                index.close()

    def test_group_pages_show_signature_builds_missing_symbols_and_every_reason(self):
        other = fx.fresh_folder("pages-shipped")
        shipped = patched_time_stamp(fx.SAMPLE, os.path.join(other, fx.SAMPLE_MODULE), OTHER_STAMP + 1)
        symbols = fx.fresh_folder("pages-symbols")
        fx.file_symbols(symbols, fx.SAMPLE)
        fx.file_symbols(symbols, fx.SAMPLE, "--shipped", shipped)
        truncated = self.crash()[:-6]
        for backend in BACKENDS:
            with self.subTest(backend):
                store = fx.fresh_folder("pages-" + backend)
                server = self.server(store, self.database(backend, store), symbols=symbols)
                self.upload_all(server, [self.crash(trace=["a %d" % i]) for i in range(3)]
                                + [self.crash(OTHER_STAMP + 1, trace=["b %d" % i]) for i in range(2)]
                                + [self.crash(frames=("sample_parse_header", "sample_install_package"))]
                                + [self.crash(OTHER_STAMP)]
                                + [b"not a report", zlib_bomb(), truncated, b"not a report either"])
                admin = server.start_admin()
                front = get(admin, "/")
                named = [(int(r[0]), r[1]) for r in front.rows if r[1].startswith(NAMED)]
                self.assertEqual(named, [(5, NAMED + "← sample_read_block ← sample_install_package(char const*)"),
                                         (1, NAMED + "← sample_install_package(char const*)")],
                                 "look-alike groups told apart by their frames")

                key = [g.key for g in server.index.groups() if g.title == NAMED and g.crashes == 5][0]
                page = get(admin, "/group/" + key)
                self.assertEqual(page.items["signature"],
                                 ["sample_parse_header", "sample_read_block", "sample_install_package(char const*)"])
                self.assertEqual(page.items["builds"],
                                 ["symbol_sample.full.exe 3.1.4-test.15 (0x%08X): 3 crashes" % self.stamp,
                                  "symbol_sample.full.exe 3.1.4-test.15 (0x%08X): 2 crashes" % (OTHER_STAMP + 1)])
                self.assertNotIn("missing", page.by_id)

                unnamed = [g for g in server.index.groups() if g.title.endswith("+0x%X" % (self.offsets[
                    "sample_parse_header"] + 3))][0]
                page = get(admin, "/group/" + unnamed.key)
                self.assertIn("symbol_sample.exe 0x%08X (1 report)" % OTHER_STAMP, page.by_id["missing"])
                self.assertEqual(page.items["builds"], ["symbol_sample.exe 0x%08X: 1 crash" % OTHER_STAMP])
                self.assertIn("Other modules without symbols: KERNEL32.dll 0x5F000000", page.text())

                page = get(admin, "/group/" + self.group_of(server, "Unreadable reports").key)
                reasons = page.items["reasons"]
                self.assertEqual(len(reasons), 3, reasons)
                self.assertIn("the report inflates to more than 16777216 bytes, more than any crash report holds"
                              " (1 report)", reasons)
                self.assertTrue(any(r.startswith("not a valid zlib stream") and r.endswith("(2 reports)")
                                    for r in reasons), reasons)
                self.assertTrue(any("truncated" in r for r in reasons), reasons)

    def test_long_lines_wrap_in_chromium(self):
        server = self.server(fx.fresh_folder("wrap"))
        module = "m" * 250 + ".exe"
        self.upload_all(server, [Crash(AV, [(module, 1, 0x400000, [0x10])], trace=["x" * 3000, "word " * 600]).body()])
        admin = server.start_admin()
        for path in ("/", "/group/" + server.index.groups()[0].key):
            width, window = fx.chromium_evaluate("http://127.0.0.1:%d%s" % (admin, path),
                                                 ["document.documentElement.scrollWidth",
                                                  "document.documentElement.clientWidth"])
            self.assertLessEqual(width, window, path)

    def test_sigterm_stops_the_server_cleanly(self):
        store = fx.fresh_folder("signals")
        command = [sys.executable, os.path.join(fx.ENV["CRASH_VIEW_SERVER_DIR"], "report_server.py"),
                   "--cert", self.certificate[0], "--key", self.certificate[1], "--store", store, "--index",
                   "--reader", fx.READER, "--symbols", self.symbols]
        # Started as a script starts a job in the background: ignoring SIGINT.
        server = subprocess.Popen(["sh", "-c", 'trap "" INT; exec "$@"', "sh"] + command, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True)
        self.addCleanup(server.stdout.close)
        self.addCleanup(lambda: server.poll() is not None or (server.kill(), server.wait()))
        lines = queue.Queue()
        reader = threading.Thread(target=lambda: [lines.put(line.strip()) for line in server.stdout], daemon=True)
        reader.start()
        self.addCleanup(reader.join, 10)

        def next_line(starting):
            deadline = time.monotonic() + 60
            while True:
                line = lines.get(timeout=max(0.1, deadline - time.monotonic()))
                if line.startswith(starting):
                    return line

        port = int(next_line("port ").split()[1])
        self.assertEqual(fx.upload(port, self.certificate[0], self.crash()), 200)
        server.send_signal(signal.SIGINT)
        self.assertRaises(subprocess.TimeoutExpired, server.wait, 1)
        server.send_signal(signal.SIGHUP)
        self.assertEqual(next_line("reading "), "reading 0 reports again")
        server.send_signal(signal.SIGTERM)
        self.assertEqual(server.wait(60), 0)
        self.assertEqual(next_line("stopped"), "stopped")
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=10).close()
        self.assertEqual(report_index.Index(os.path.join(store, "index.sqlite3")).count(), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
