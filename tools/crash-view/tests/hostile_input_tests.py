#!/usr/bin/env python3
"""The crash view against hostile input: report texts with NUL, controls and
bidirectional overrides (kept whole in SQLite and PostgreSQL, shown marked in
Chromium), a report the index refuses, zlib bombs and reports that need more
memory or time than the reader may take, and request bodies framed wrongly.
"""

import json
import os
import stat
import threading
import time
import unittest

import view_fixture as fx
from report_writer import Crash, frame_flood, zlib_bomb
from view_case import AV, BACKENDS, ViewCase

import report_files  # noqa: E402 (tools/report-server, on the path through view_fixture)
import report_index
import report_reading

HIDDEN_MODULE = "nul\0name\u202egnp.exe"
# NUL separates trace lines in the format, so it comes in module names only.
HIDDEN_TRACE = ["override \u202eevil\u202c done", "isolate \u2067x\u2069", "astral \U0001F600 kept",
                "bell \x07 del \x7f c1 \x85", "separator \u2028 line", "<b>markup</b> & text"]
# The same lines as the page must show them: each hidden character as its code.
SHOWN_TRACE = ["override U+202EevilU+202C done", "isolate U+2067xU+2069", "astral \U0001F600 kept",
               "bell U+0007 del U+007F c1 U+0085", "separator U+2028 line", "<b>markup</b> & text"]
HIDDEN_CHARACTERS = "\0\u202e\u202c\u2067\u2069\x07\x7f\x85\u2028"
NAMED = "EXCEPTION_ACCESS_VIOLATION in sample_parse_header"
BOMB_REASON = "the report inflates to more than 16777216 bytes, more than any crash report holds"


class RefusingIndex(report_index.Index):
    """An index that refuses the report whose trace says "refuse me" the
    first `times` times it is recorded, with `error` of the driver."""

    def __init__(self, location, error, times):
        super().__init__(location)
        self.error = getattr(self.driver, error)
        self.left = times

    def set_summary(self, file, summary, key):
        if self.left and "refuse me" in summary["details"]:
            self.left -= 1
            raise self.error("invalid byte sequence for encoding")
        super().set_summary(file, summary, key)


class HostileInputTest(ViewCase):
    def normal(self, count, marker="normal"):
        parse = self.offsets["sample_parse_header"]
        return [Crash(AV, [(fx.SAMPLE_MODULE, self.stamp, 0x400000, [parse + 1 + i % 4])],
                      trace=["%s %d" % (marker, i)]).body() for i in range(count)]

    def reasons(self, server):
        return dict(server.index.errors(self.group_of(server, "Unreadable reports").key))

    # --- texts ------------------------------------------------------------------

    def test_report_texts_survive_whole_and_show_marked(self):
        hostile = Crash(AV, [(HIDDEN_MODULE, 7, 0x400000, [0x10]), ("KERNEL\0.dll", 9, 0x7B000000, [0x20])],
                        trace=HIDDEN_TRACE).body()
        title = "EXCEPTION_ACCESS_VIOLATION in " + HIDDEN_MODULE + "+0x10"
        for backend in BACKENDS:
            with self.subTest(backend):
                store = fx.fresh_folder("texts-" + backend)
                # Stored before the server starts, so that its workers find
                # them together: the hostile report among the others.
                folder = os.path.join(store, "reports")
                os.makedirs(folder)
                for body in self.normal(3)[:2] + [hostile] + self.normal(3)[2:]:
                    report_files.store(folder, body)
                server = self.server(store, self.database(backend, store))
                self.assert_all_read(server)
                self.assertEqual(self.groups(server), {title: 1, NAMED: 3})
                group = self.group_of(server, title)
                self.assertEqual(server.index.builds(group.key), {group.key: [(HIDDEN_MODULE, 7, 1)]})
                details = json.loads(server.index.group_reports(group.key)[0][4])
                self.assertEqual(details["trace"], HIDDEN_TRACE)
                self.assertEqual([m["name"] for m in details["modules"]], [HIDDEN_MODULE, "KERNEL\0.dll"])

                admin = server.start_admin()
                for path in ("/", "/group/" + group.key):
                    page = fx.chromium("--dump-dom", "http://127.0.0.1:%d%s" % (admin, path))
                    for character in HIDDEN_CHARACTERS:
                        self.assertNotIn(character, page, "U+%04X on %s" % (ord(character), path))
                    text = fx.Dom(page).text()
                    self.assertIn("nulU+0000nameU+202Egnp.exe+0x10", text)
                marks = [a for a in fx.Dom(page).tags("span") if a.get("class") == "hidden-character"]
                self.assertGreaterEqual(len(marks), 11)
                for line in SHOWN_TRACE:
                    self.assertIn(line, text)
                self.assertIn("nul[U+0000]name[U+202E]gnp.exe", page.split("<title>")[1].split("</title>")[0])

    def test_a_report_the_index_refuses_is_unreadable_and_its_neighbours_are_indexed(self):
        refused = self.normal(1, "refuse me")[0]
        for backend in BACKENDS:
            with self.subTest(backend):
                store = fx.fresh_folder("refused-" + backend)
                folder = os.path.join(store, "reports")
                os.makedirs(folder)
                for body in self.normal(2) + [refused] + self.normal(2, "after"):
                    report_files.store(folder, body)
                index = RefusingIndex(self.database(backend, store), "DataError", 1)
                server = self.server(store, index=index)
                self.assert_all_read(server)
                self.assertEqual(self.groups(server), {NAMED: 4,
                                                       "Unreadable reports": 1})
                self.assertEqual(self.reasons(server),
                                 {"the report could not be indexed: invalid byte sequence for encoding": 1})

    def test_a_database_that_fails_leaves_the_report_to_be_read_again(self):
        store = fx.fresh_folder("transient")
        index = RefusingIndex(os.path.join(store, "index.sqlite3"), "OperationalError", 1)
        server = self.server(store, index=index)
        for body in self.normal(1, "refuse me") + self.normal(2):
            self.assertEqual(fx.upload(server.port, self.certificate[0], body), 200)
        deadline = time.monotonic() + 60
        while index.left or server.index.count(unread_only=True) > 1:
            self.assertLess(time.monotonic(), deadline, "the other reports read within a minute")
            time.sleep(0.1)
        self.assertEqual(server.index.count(unread_only=True), 1, "the refused report is still to be read")
        server.read_again()  # looks for reports to read now instead of in 30 s
        self.assert_all_read(server)
        self.assertEqual(self.groups(server), {NAMED: 3})

    # --- memory and time ----------------------------------------------------------

    def test_a_zlib_bomb_is_unreadable_with_its_reason(self):
        server = self.server(fx.fresh_folder("bomb"))
        self.upload_all(server, self.normal(1) + [zlib_bomb()] + self.normal(2))
        self.assertEqual(self.groups(server), {NAMED: 3,
                                               "Unreadable reports": 1})
        self.assertEqual(self.reasons(server), {BOMB_REASON: 1})

    def test_the_reader_runs_within_its_memory_limit(self):
        server = self.server(fx.fresh_folder("memory"), reader_memory=128 << 20)
        self.upload_all(server, self.normal(2) + [frame_flood()] + self.normal(1))
        self.assertEqual(self.groups(server), {NAMED: 3,
                                               "Unreadable reports": 1})
        self.assertEqual(self.reasons(server), {"the report reader needed more than its 128 MiB of memory": 1})

    def test_the_reader_runs_within_its_time_and_stops_with_the_server(self):
        started = time.monotonic()
        with self.assertRaisesRegex(report_reading.ReaderFailed, "took longer than 1 s"):
            report_reading.run_bounded(["sleep", "60"], seconds=1)
        stop = threading.Event()
        threading.Timer(0.5, stop.set).start()
        with self.assertRaises(report_reading.ReaderStopped):
            report_reading.run_bounded(["sleep", "60"], seconds=60, stop=stop)
        self.assertLess(time.monotonic() - started, 30, "neither run waited for sleep to end")

    def test_a_slow_report_holds_one_worker_not_the_rest(self):
        work = fx.fresh_folder("slow")
        started = os.path.join(work, "slow-started")
        # A reader that hangs on a body starting with SLOW and is the real
        # reader otherwise.
        reader = os.path.join(work, "reader")
        with open(reader, "w") as f:
            f.write("#!/usr/bin/python3\nimport os, sys, time\n"
                    "for path in sys.argv[1:]:\n"
                    "    if os.path.isfile(path) and open(path, 'rb').read(4) == b'SLOW':\n"
                    "        open(%r, 'w').close()\n"
                    "        time.sleep(600)\n"
                    "os.execv(%r, [%r] + sys.argv[1:])\n" % (started, fx.READER, fx.READER))
        os.chmod(reader, stat.S_IRWXU)
        self.addCleanup(setattr, report_reading, "READER_SECONDS", report_reading.READER_SECONDS)
        report_reading.READER_SECONDS = 600
        server = self.server(os.path.join(work, "store"), reader=reader)
        self.assertEqual(fx.upload(server.port, self.certificate[0], b"SLOW and never read"), 200)
        deadline = time.monotonic() + 60
        while not os.path.exists(started):
            self.assertLess(time.monotonic(), deadline, "the slow report taken by a worker within a minute")
            time.sleep(0.1)
        for body in self.normal(5):
            self.assertEqual(fx.upload(server.port, self.certificate[0], body), 200)
        while server.index.count(unread_only=True) > 1:
            self.assertLess(time.monotonic(), deadline + 60, "the other reports read while the slow one hangs")
            time.sleep(0.1)
        self.assertEqual(self.groups(server), {NAMED: 5})
        started = time.monotonic()
        server.stop()
        self.assertLess(time.monotonic() - started, 30, "stopping ends the hanging reader")
        self.assertEqual(server.index.count(unread_only=True), 1, "the slow report stays to be read")

    # --- request framing --------------------------------------------------------

    def test_malformed_lengths_get_their_status_at_once(self):
        def head(fields):
            return ("POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-brindlexz\r\n%s\r\n"
                    % (fx.PATH, fields)).encode()

        def chunked(data):
            return head("Transfer-Encoding: chunked\r\n") + data

        cases = [  # (name, request, status)
            ("Content-Length: abc", head("Content-Length: abc\r\n") + b"abc", 400),
            ("Content-Length: -1", head("Content-Length: -1\r\n") + b"x", 400),
            ("Content-Length: +5", head("Content-Length: +5\r\n") + b"12345", 400),
            ("Content-Length: 0x10", head("Content-Length: 0x10\r\n") + b"x" * 16, 400),
            ("Content-Length: 1e3", head("Content-Length: 1e3\r\n"), 400),
            ("two lengths that differ", head("Content-Length: 5\r\nContent-Length: 6\r\n") + b"123456", 400),
            ("an unknown transfer coding", head("Transfer-Encoding: gzip, chunked\r\n") + b"0\r\n\r\n", 501),
            ("no length at all", head(""), 411),
            ("a length beyond any report", head("Content-Length: 99999999999\r\n"), 413),
            ("chunk size -5", chunked(b"-5\r\nabcde\r\n0\r\n\r\n"), 400),
            ("chunk size garbage", chunked(b"zz\r\nabc\r\n"), 400),
            ("chunk size 0x10", chunked(b"0x10\r\n" + b"x" * 16 + b"\r\n0\r\n\r\n"), 400),
            ("chunk size +10", chunked(b"+10\r\n" + b"x" * 16 + b"\r\n0\r\n\r\n"), 400),
            ("chunk size 1_0", chunked(b"1_0\r\n" + b"x" * 16 + b"\r\n0\r\n\r\n"), 400),
            ("chunk size line without an end", chunked(b"A" * 5000), 400),
            ("chunk longer than its size", chunked(b"3\r\nabcdef\r\n0\r\n\r\n"), 400),
            ("chunks beyond any report", chunked(b"FFFFFFFF\r\nabc"), 413),
            ("too many trailer lines", chunked(b"1\r\nA\r\n0\r\n" + b"X: y\r\n" * 40 + b"\r\n"), 400),
        ]
        store = fx.fresh_folder("framing")
        server = self.server(store)
        for name, request, status in cases:
            with self.subTest(name):
                self.assertEqual(fx.raw_request(server.port, self.certificate[0], request), status)
        self.assertEqual(report_files.stored_names(os.path.join(store, "reports")), [], "nothing stored")
        self.assertEqual(server.index.count(), 0, "nothing indexed")

        # What HTTP allows is taken: extensions, trailer fields, equal
        # lengths, and a Content-Length beside chunked coding, which the
        # coding overrides (Wine's WinHTTP sends one with every chunked POST).
        legal = [chunked(b"2;name=value\r\nOK\r\n0\r\nTrailer-Field: x\r\n\r\n"),
                 head("Content-Length: 2\r\nContent-Length: 2\r\n") + b"OK",
                 head("Content-Length: 1\r\nTransfer-Encoding: chunked\r\n") + b"2\r\nOK\r\n0\r\n\r\n"]
        for request in legal:
            self.assertEqual(fx.raw_request(server.port, self.certificate[0], request), 200)
        names = report_files.stored_names(os.path.join(store, "reports"))
        self.assertEqual(len(names), len(legal))
        for name in names:
            with open(os.path.join(store, "reports", name), "rb") as f:
                self.assertEqual(f.read(), b"OK")

    def test_a_million_one_byte_chunks_are_taken_whole(self):
        store = fx.fresh_folder("small-chunks")
        server = self.server(store)
        body = os.urandom(1 << 20)
        self.assertEqual(fx.upload_in_chunks(server.port, self.certificate[0], body, 1, seconds=300), 200)
        [name] = report_files.stored_names(os.path.join(store, "reports"))
        with open(os.path.join(store, "reports", name), "rb") as f:
            self.assertEqual(f.read(), body)


if __name__ == "__main__":
    unittest.main(verbosity=2)
