#!/usr/bin/env python3
"""Stored reports against real servers: what a start keeps, for how long, and
that it never holds up the dialog or the exit for them.

A pair n.bxo/n.bxr is stored by a real crash of crash_host.exe whose upload
found no server (or copied from one). Each later start of the host offers it
to the report server (tools/report-server) or to the scriptable server of
http/tests/servers, which can keep silent or answer some requests and not
others. The host runs the program's own course in the "dialog" case: at most
two seconds of waiting before its box, at most two more before it exits; the
"wait" case waits for the whole pass, so that its outcome can be read.

Environment: as crash_tests.py, plus STORED_SCRIPT_SERVER_DIR (the folder of
lumora_servers.py).
"""

import os
import shutil
import struct
import subprocess
import sys
import threading
import time
import unittest

import crash_tests
from crash_tests import EXIT_CRASHED, TEXT_TAKEN, Reply, free_port, inflate_strictly

sys.path.insert(0, os.environ["STORED_SCRIPT_SERVER_DIR"])
import lumora_servers  # noqa: E402

# Exit codes of the host's "wait" and "dialog" cases.
NONE_LEFT = 0
REPORT_LEFT = 3

# The bounds the start-up sender keeps.
MAX_OFFERS = 5
MAX_PAIRS = 20
DAY = 24 * 60 * 60

# The program waits at most 2 s before its dialog and 2 s before it exits.
# The host measures both waits itself; the margin allows for a loaded
# machine.
WAIT_BOUND_MS = 2000
WAIT_MARGIN_MS = 2000
# A whole run of the host with a silent server, Wine's start-up included:
# far below the minute a silent server holds an upload (the stall bound),
# which the old start waited for.
SILENT_RUN_SECONDS = 45


def record_of(path):
    """The attempt record n.bxp: (offers, .bxr asked for, .bxo size, .bxo time)."""
    with open(path, "rb") as f:
        data = f.read()
    magic, offers, flags, size, written = struct.unpack("<4sIIQQ", data[:28])
    assert magic == b"BXP1", data
    return offers, bool(flags & 1), size, written


class ScriptedReportServer:
    """The scriptable server over TLS, taking uploads at the report path.
    `answers` says, per request in arrival order, "silent" (never answer),
    "held" (answer 200 once release() is called) or a status to answer with a
    plain-text body; the last one holds for the rest. The bodies arrive in
    `bodies`."""

    def __init__(self, answers):
        self.answers = list(answers)
        self.bodies = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.released = threading.Event()
        context = lumora_servers.tls_context(crash_tests.CA_DIR)
        self.server = lumora_servers.ScriptServer({"/BrindlexSprejem/": self.handle}, self.stopping, context)
        self.thread = threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        self.thread.start()
        self.port = self.server.port

    def handle(self, handler, method, path, head):
        body, _ = lumora_servers.read_request_body(handler, head)
        with self.lock:
            index = len(self.bodies)
            self.bodies.append(body)
            answer = self.answers[min(index, len(self.answers) - 1)]
        if answer == "silent":
            self.stopping.wait(300)
            handler.close_connection = True
            return
        if answer == "held":
            self.released.wait(120)
            answer = 200
        text = b"Hvala"
        lumora_servers.send_head(handler, "%d Answer" % answer, [("Content-Type", "text/plain; charset=utf-8"),
                                                                ("Content-Length", str(len(text))),
                                                                ("Connection", "close")])
        handler.wfile.write(text)
        handler.close_connection = True

    def release(self):
        self.released.set()

    def stop(self):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(10)


class StoredReportTest(crash_tests.CrashTest):
    # --- helpers -------------------------------------------------------------

    def start_host(self, kind, address, **environment):
        """The host with the report server at `address` ("host:port"), in the
        background."""
        options = ["--temp", "Z:" + self.temp, "--answer", "yes", "--timeout", "90"]
        env = dict(os.environ, LUMORA_REPORT_SERVER=address, **environment)
        command = [crash_tests.WINE_RUN, crash_tests.DRIVER, *options, "--", "Z:" + crash_tests.HOST, kind]
        return subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def start(self, kind="wait", port=None, address=None):
        address = address or "127.0.0.1:%d" % (port or self.port)
        return self.run_to_end(lambda: self.start_host(kind, address))

    def scripted(self, answers):
        server = ScriptedReportServer(answers)
        self.addCleanup(server.stop)
        return server

    def path(self, name):
        return os.path.join(self.temp, name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def stored_pair(self):
        """A pair 0.bxo/0.bxr stored by a crash whose upload found no server;
        returns the bytes of both reports."""
        self.make_stored_pair()
        self.assertEqual(self.stored(), ["0.bxo", "0.bxr"])
        return self.read("0.bxo"), self.read("0.bxr")

    def copy_pairs(self, count, age_of):
        """Pairs 0 .. count-1, copies of one stored by a crash; pair n is
        age_of(n) seconds old."""
        self.stored_pair()
        now = time.time()
        for n in range(count):
            for extension in (".bxo", ".bxr"):
                name = self.path("%d%s" % (n, extension))
                if n:
                    shutil.copyfile(self.path("0" + extension), name)
                os.utime(name, (now - age_of(n),) * 2)

    def pair_names(self, *numbers):
        return sorted("%d%s" % (n, e) for n in numbers for e in (".bxo", ".bxp", ".bxr"))

    def check_record(self, number, offers, bxr_asked=False):
        offered, asked, size, written = record_of(self.path("%d.bxp" % number))
        self.assertEqual((offered, asked), (offers, bxr_asked))
        # The record names the .bxo report it counts for.
        self.assertEqual(size, os.path.getsize(self.path("%d.bxo" % number)))
        file_time = int(os.stat(self.path("%d.bxo" % number)).st_mtime * 10_000_000) + 116444736000000000
        self.assertLess(abs(written - file_time), 10_000_000)

    def run_dialog(self, port, on_exit_wait=None):
        """The host's "dialog" case: returns the run, the milliseconds the
        host waited before its dialog and before it exited, and the seconds
        the run took. `on_exit_wait` is called once the wait before exit has
        begun."""
        exiting = os.path.join(self.dir, "exiting")
        began = time.monotonic()
        process = self.start_host("dialog", "127.0.0.1:%d" % port, CRASH_HOST_EXITING="Z:" + exiting)
        if on_exit_wait:
            deadline = time.monotonic() + 120
            while not os.path.exists(exiting) and process.poll() is None and time.monotonic() < deadline:
                time.sleep(0.02)
            on_exit_wait()
        run = self.finish(process)
        took = time.monotonic() - began
        self.assertEqual([box["caption"] for box in run.boxes], ["dialog", "exit"])
        return run, int(run.boxes[0]["text"]), int(run.boxes[1]["text"]), took

    # --- kept until answered ----------------------------------------------------

    def test_offline_start_keeps_the_pair_for_the_first_online_one(self):
        bxo, _ = self.stored_pair()
        run = self.start(port=free_port())
        self.assertEqual(run.exit_code, REPORT_LEFT)
        self.assertEqual(self.stored(), self.pair_names(0))
        self.check_record(0, offers=1)
        server = self.server(default=Reply(200, "text/plain; charset=utf-8", "Hvala"))
        run = self.start()
        self.assertEqual(run.exit_code, NONE_LEFT)
        self.assertEqual([r.body for r in server.received], [bxo])
        self.assertEqual(self.stored(), [])

    def test_transport_failures_keep_the_pair(self):
        # Each a start at which the report reached no server that answered.
        untrusted = "untrusted-chain.pem"
        cases = [
            ("connection refused", lambda: "127.0.0.1:%d" % free_port()),
            ("name not resolved", lambda: "porocila.invalid:443"),
            ("untrusted certificate", lambda: self.served(chain=untrusted)),
            ("connection closed unanswered", lambda: self.served([Reply(drop=True)])),
        ]
        for name, address in cases:
            with self.subTest(failure=name):
                for stale in self.stored():
                    os.remove(self.path(stale))
                self.stored_pair()
                run = self.start(address=address())
                self.assertEqual(run.exit_code, REPORT_LEFT)
                self.assertEqual(self.stored(), self.pair_names(0))
                self.check_record(0, offers=1)

    def served(self, replies=None, chain="server-chain.pem"):
        """The address of a report server started with `replies` and the
        certificate chain `chain` of the test CA folder."""
        server = crash_tests.ReportServer(os.path.join(crash_tests.CA_DIR, chain),
                                          os.path.join(crash_tests.CA_DIR, "server.key"),
                                          os.path.join(self.dir, "received-%d" % len(self.servers)), replies)
        self.servers.append(server)
        return "127.0.0.1:%d" % server.start()

    def test_any_answer_removes_the_pair(self):
        big = b"x" * (1024 * 1024 + 1)
        cases = [
            Reply(500, "text/plain; charset=utf-8", "Napaka strežnika"),
            Reply(404, "text/plain", "ni tukaj"),
            # Not plain text: the upload fails, but the server did answer.
            Reply(500, "text/html", "<html><body>Napaka 500</body></html>"),
            Reply(200, "text/plain; charset=utf-32", "x"),
            # Refused unread, but the head was the server's answer.
            Reply(200, "text/plain; charset=utf-8", big),
        ]
        for reply in cases:
            with self.subTest(status=reply.status, content_type=reply.content_type, size=len(reply.body)):
                for stale in self.stored():
                    os.remove(self.path(stale))
                bxo, _ = self.stored_pair()
                server = self.server([reply])
                run = self.start()
                self.assertEqual(run.exit_code, NONE_LEFT)
                self.assertEqual([r.body for r in server.received], [bxo])
                self.assertEqual([n for n in self.stored() if n != "Odgovor.html"], [])

    def test_449_brings_the_bxr_also_at_a_later_start(self):
        bxo, bxr = self.stored_pair()
        # The .bxo report is answered with 449; the .bxr report finds the
        # connection closed unanswered.
        server = self.server([Reply(449, "text/plain", ""), Reply(drop=True)])
        run = self.start()
        self.assertEqual(run.exit_code, REPORT_LEFT)
        self.assertEqual([r.body for r in server.received], [bxo, bxr])
        self.assertEqual(self.stored(), self.pair_names(0))
        self.check_record(0, offers=1, bxr_asked=True)
        # The next start sends the .bxr report alone.
        server = self.server([Reply(200, "text/plain", "")])
        run = self.start()
        self.assertEqual(run.exit_code, NONE_LEFT)
        self.assertEqual([r.body for r in server.received], [bxr])
        self.assertEqual(self.stored(), [])

    def test_unreadable_reports_are_removed(self):
        bxo, bxr = self.stored_pair()
        cases = [
            ("cut short", bxo[:len(bxo) // 2], bxr, []),
            ("empty", b"", bxr, []),
            # The .bxo report goes; the .bxr report asked for cannot.
            ("unreadable .bxr", bxo, bxr[:-3], [b"BXO1"]),
        ]
        for name, bxo_data, bxr_data, sent in cases:
            with self.subTest(case=name):
                for stale in self.stored():
                    os.remove(self.path(stale))
                for file_name, data in (("0.bxo", bxo_data), ("0.bxr", bxr_data)):
                    with open(self.path(file_name), "wb") as f:
                        f.write(data)
                server = self.server([Reply(449, "text/plain", "")])
                run = self.start()
                self.assertEqual(run.exit_code, NONE_LEFT)
                self.assertEqual([inflate_strictly(r.body)[:4] for r in server.received], sent)
                self.assertEqual(self.stored(), [])

    def test_leftovers_of_earlier_pairs(self):
        self.stored_pair()
        # A record left by an earlier pair 0 (another size and time), one
        # more start from being dropped: it counts for nothing here.
        with open(self.path("0.bxp"), "wb") as f:
            f.write(struct.pack("<4sIIQQ", b"BXP1", MAX_OFFERS - 1, 0, 5, 1))
        # A record and a .bxr report whose .bxo report is gone.
        for name in ("7.bxp", "8.bxr"):
            with open(self.path(name), "wb") as f:
                f.write(b"left over")
        run = self.start(port=free_port())
        self.assertEqual(run.exit_code, REPORT_LEFT)
        self.assertEqual(self.stored(), self.pair_names(0))
        self.check_record(0, offers=1)

    # --- the bounds -------------------------------------------------------------

    def test_five_starts_without_an_answer(self):
        self.stored_pair()
        for start in range(1, MAX_OFFERS):
            run = self.start(port=free_port())
            self.assertEqual(run.exit_code, REPORT_LEFT)
            self.check_record(0, offers=start)
        run = self.start(port=free_port())
        self.assertEqual(run.exit_code, NONE_LEFT, "dropped after the fifth unanswered start")
        self.assertEqual(self.stored(), [])

    def test_pairs_older_than_thirty_days_are_dropped(self):
        self.copy_pairs(2, lambda n: (31 if n == 0 else 29) * DAY)
        # Offline: the old pair goes without an offer, the other stays.
        run = self.start(port=free_port())
        self.assertEqual(run.exit_code, REPORT_LEFT)
        self.assertEqual(self.stored(), self.pair_names(1))
        server = self.server(default=Reply(200, "text/plain", ""))
        run = self.start()
        self.assertEqual(run.exit_code, NONE_LEFT)
        self.assertEqual(len(server.received), 1)

    def test_folder_keeps_twenty_pairs_the_oldest_go(self):
        count = MAX_PAIRS + 2
        # Pair 0 is the oldest, pair count-1 the newest, a minute apart.
        self.copy_pairs(count, lambda n: (count - n) * 60)
        run = self.start(port=free_port())
        self.assertEqual(run.exit_code, REPORT_LEFT)
        self.assertEqual(self.stored(), self.pair_names(*range(2, count)))

    # --- the start and the exit never wait long ---------------------------------

    def test_silent_server_holds_neither_the_dialog_nor_the_exit(self):
        bxo, _ = self.stored_pair()
        server = self.scripted(["silent"])
        run, start_wait, exit_wait, took = self.run_dialog(server.port)
        print("silent server: %d ms before the dialog, %d ms before the exit, %.1f s for the run"
              % (start_wait, exit_wait, took))
        self.assertLess(start_wait, WAIT_BOUND_MS + WAIT_MARGIN_MS)
        self.assertLess(exit_wait, WAIT_BOUND_MS + WAIT_MARGIN_MS)
        self.assertLess(took, SILENT_RUN_SECONDS)
        self.assertEqual(server.bodies, [bxo], "the upload was under way")
        self.assertEqual(run.exit_code, REPORT_LEFT)
        self.assertEqual(self.stored(), self.pair_names(0))
        self.check_record(0, offers=1)

    def test_sender_goes_on_behind_the_dialog(self):
        self.stored_pair()
        # The answer comes once the dialog has been up, while the host waits
        # to exit.
        server = self.scripted(["held"])
        run, start_wait, exit_wait, _ = self.run_dialog(server.port, server.release)
        self.assertGreaterEqual(start_wait, WAIT_BOUND_MS - 100, "the upload was still under way")
        self.assertEqual(len(server.bodies), 1)
        self.assertEqual(run.exit_code, NONE_LEFT)
        self.assertEqual(self.stored(), [])
        self.assertLess(exit_wait, WAIT_BOUND_MS + WAIT_MARGIN_MS)

    # --- crashes and other processes ---------------------------------------------

    def test_crash_during_the_start_up_pass_is_reported(self):
        bxo, _ = self.stored_pair()
        # The stored report's upload hangs; the crash's own is answered.
        server = self.scripted(["silent", 200])
        run = self.start("av-main", port=server.port)
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertIn(TEXT_TAKEN, self.final_box(run))
        self.assertEqual(len(server.bodies), 2)
        self.assertEqual(server.bodies[0], bxo)
        self.assertIn("EXCEPTION_ACCESS_VIOLATION", self.read_report(server.bodies[1]))
        # The offer cut off by the crash was counted before it was made.
        self.assertEqual(self.stored(), self.pair_names(0))
        self.check_record(0, offers=1)
        report_server = self.server(default=Reply(200, "text/plain", ""))
        self.assertEqual(self.start().exit_code, NONE_LEFT)
        self.assertEqual([r.body for r in report_server.received], [bxo])

    def test_two_processes_at_once_send_each_report_once(self):
        self.stored_pair()
        # Long enough an answer that the second start meets the first's pass.
        server = self.server(default=Reply(200, "text/plain", "", delay=8))
        address = "127.0.0.1:%d" % self.port
        first, second = self.start_host("wait", address), self.start_host("wait", address)
        codes = sorted([self.finish(first).exit_code, self.finish(second).exit_code])
        self.assertEqual(len(server.received), 1)
        # One sent it; the other gave up after a second with the report still there.
        self.assertEqual(codes, [NONE_LEFT, REPORT_LEFT])
        self.assertEqual(self.stored(), [])


def load_tests(loader, tests, pattern):
    """Only the cases above, not those of crash_tests.CrashTest again."""
    names = [name for name in loader.getTestCaseNames(StoredReportTest) if name in StoredReportTest.__dict__]
    return unittest.TestSuite(StoredReportTest(name) for name in names)


if __name__ == "__main__":
    unittest.main(verbosity=2)
