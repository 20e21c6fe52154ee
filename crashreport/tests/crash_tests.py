#!/usr/bin/env python3
"""Crash tests: real crashes of crash_host.exe under Wine, seen from outside.

Each test starts the report server (tools/report-server) on 127.0.0.1 with a
certificate of the test CA that only the test Wine prefix trusts, runs the
host through crash_driver.exe (a Windows parent that reads and answers the
host's message boxes and reports its exit code) with a temporary folder of
its own, and reads what arrived or was stored with the report reader and,
independently, with Python's zlib.

Environment (set by ctest): WINEPREFIX, LUMORA_XVFB_DIR, CRASH_WINE_RUN,
CRASH_HOST (stripped, as shipped), CRASH_HOST_FULL (unstripped), CRASH_HOST_BARE
(without the reporter's texts), CRASH_DRIVER,
CRASH_READER, CRASH_CA_DIR, CRASH_WORK, CRASH_SERVER_DIR.
"""

import glob
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest
import zlib

ENV = os.environ
sys.path.insert(0, ENV["CRASH_SERVER_DIR"])
from report_server import Reply, ReportServer  # noqa: E402

HOST = ENV["CRASH_HOST"]
HOST_FULL = ENV["CRASH_HOST_FULL"]
HOST_BARE = ENV["CRASH_HOST_BARE"]
DRIVER = ENV["CRASH_DRIVER"]
READER = ENV["CRASH_READER"]
WINE_RUN = ENV["CRASH_WINE_RUN"]
CA_DIR = ENV["CRASH_CA_DIR"]
WORK = ENV["CRASH_WORK"]
EXIT_CRASHED = 0xFFFFFFFF
REG_KEY = r"HKLM\Software\Varnex\Lumora\Brindlex"

# The reporter's texts (crash_strings.rc) by the words the tests look for.
TEXT_TAKEN = "uspešno poslano"          # 28661
TEXT_NOT_TAKEN = "ni sprejel"           # 28662
TEXT_UPLOAD_FAILED = "ni bilo mogoče poslati"  # 28663
TEXT_SAVED = "ob naslednjem zagonu"     # 28664
TEXT_CLOSING = "Opravičujemo se"        # 28666
CAPTION = "Napaka v programu"           # 28657


class PeHeader:
    """What the tests compare reports with: the host's machine, preferred
    image base and image size, from its PE headers."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read(4096)
        pe = struct.unpack_from("<I", data, 60)[0]
        self.machine = struct.unpack_from("<H", data, pe + 4)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic == 0x20B:  # PE32+
            self.image_base = struct.unpack_from("<Q", data, optional + 24)[0]
        else:
            self.image_base = struct.unpack_from("<I", data, optional + 28)[0]
        self.image_size = struct.unpack_from("<I", data, optional + 56)[0]


# The build under test decides what its reports must hold: the i386 variant
# from the 32-bit program, the x64 one (machine 0x8664) from the 64-bit one.
HOST_PE = PeHeader(HOST)
MACHINE_NAMES = {0x014C: "i386", 0x8664: "x64"}
MACHINE_NAME = MACHINE_NAMES[HOST_PE.machine]
PC_REGISTER = {0x014C: "eip", 0x8664: "rip"}[HOST_PE.machine]


def free_port():
    """A port with nothing listening on it: connections are refused."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def inflate_strictly(data):
    """Python's zlib as a second, independent reader of a report."""
    d = zlib.decompressobj()
    content = d.decompress(data) + d.flush()
    assert d.eof, "the zlib stream is incomplete"
    assert not d.unused_data, "bytes follow the zlib stream"
    return content


class Run:
    def __init__(self, boxes, exit_code, timed_out):
        self.boxes = boxes
        self.exit_code = exit_code
        self.timed_out = timed_out


class CrashTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(WORK, self.id().split(".")[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        self.temp = os.path.join(self.dir, "temp")
        os.makedirs(self.temp)
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.stop()

    # --- helpers -------------------------------------------------------------

    def server(self, replies=None, default=None):
        server = ReportServer(os.path.join(CA_DIR, "server-chain.pem"), os.path.join(CA_DIR, "server.key"),
                              os.path.join(self.dir, "received-%d" % len(self.servers)), replies, default)
        self.port = server.start()
        self.servers.append(server)
        return server

    def run_host(self, *arguments, port=None, answer="yes", screen_reader=False, hold_mutex=False,
                 background=False, host=HOST):
        options = ["--temp", "Z:" + self.temp, "--answer", answer, "--timeout", "90"]
        if screen_reader:
            options.append("--screen-reader")
        if hold_mutex:
            options.append("--hold-sender-mutex")
        env = dict(ENV, LUMORA_REPORT_SERVER="127.0.0.1:%d" % (port or self.port))
        command = [WINE_RUN, DRIVER, *options, "--", "Z:" + host, *arguments]
        def start():
            return subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if background:
            return start()
        return self.run_to_end(start)

    def run_to_end(self, start):
        """Runs the driver, which start() launches, and reads what it printed.
        A driver process that ends without a word, not even on stderr, never
        ran to its end under Wine (a CI machine saw it once, with the stored
        reports the host was to send left untouched). Such a run is said on
        stderr and made once more; every other outcome is judged."""
        process = start()
        out, err = process.communicate(timeout=150)
        if not out.strip() and not err.strip():
            print("crash_driver.exe ended with status %s and no output; running it once more" % process.returncode,
                  file=sys.stderr)
            process = start()
            out, err = process.communicate(timeout=150)
        return self.read_run(process, out, err)

    def finish(self, process):
        """What a driver started in the background printed, once it ended."""
        out, err = process.communicate(timeout=150)
        return self.read_run(process, out, err)

    def read_run(self, process, out, err):
        boxes, exit_code, timed_out = [], None, False
        for line in out.splitlines():
            if not line.startswith("{"):
                continue
            record = json.loads(line)
            if "caption" in record:
                boxes.append(record)
            elif "exit_code" in record:
                exit_code = record["exit_code"]
            elif "timeout" in record:
                timed_out = True
        self.assertIsNotNone(exit_code, "the driver gave no exit code (its process ended with %s)\nstdout: %s\nstderr: %s"
                             % (process.returncode, out[-2000:], err[-2000:]))
        self.assertFalse(timed_out, "the host did not end by itself")
        return Run(boxes, exit_code, timed_out)

    def read_report(self, data=None, path=None, json_output=False):
        """The report reader's text (or its JSON, parsed) for a report, after
        checking it with zlib: one stream, of this build's machine."""
        if data is None:
            with open(path, "rb") as f:
                data = f.read()
        content = inflate_strictly(data)
        self.assertIn(content[:4], (b"BXO1", b"BXR1"))
        self.assertEqual(struct.unpack_from("<H", content, 4)[0], HOST_PE.machine, "the header's machine field")
        source = path
        if source is None:
            source = os.path.join(self.dir, "report-%d.bin" % time.monotonic_ns())
            with open(source, "wb") as f:
                f.write(data)
        result = subprocess.run([READER, "--symbols", HOST_FULL, "--module", os.path.basename(HOST), source]
                                + (["--json"] if json_output else []), capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout) if json_output else result.stdout

    def check_addresses(self, data=None, path=None):
        """The report's addresses are where the crash was, in full width: the
        exception address is the first frame's, inside crash_host.exe's image
        as the module record places it."""
        parsed = self.read_report(data, path, json_output=True)
        self.assertEqual(parsed["machine"], MACHINE_NAME)
        first = parsed["frames"][0]
        module = parsed["modules"][first["module"]]
        self.assertEqual(module["name"], os.path.basename(HOST))
        address = parsed["exceptions"][0]["address"]
        self.assertEqual(address, module["base"] + first["offset"])
        self.assertTrue(module["base"] <= address < module["base"] + HOST_PE.image_size,
                        "0x%X outside the image at 0x%X" % (address, module["base"]))
        # Wine loads the program at its preferred base; the x64 build's lies
        # above 4 GiB, where a 32-bit field would have lost its high half.
        self.assertEqual(module["base"], HOST_PE.image_base)

    def frames(self, text):
        return re.findall(r"^  #\d+ (\S+)(?: (\S+) at (\S+))?$", text, re.M)

    def stored(self):
        return sorted(os.path.basename(p) for p in glob.glob(os.path.join(self.temp, "*")))

    def make_stored_pair(self, number=0):
        """A pair n.bxo/n.bxr left by a crash whose upload failed."""
        run = self.run_host("av-main", port=free_port())
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        if number:
            os.rename(os.path.join(self.temp, "0.bxo"), os.path.join(self.temp, "%d.bxo" % number))
            os.rename(os.path.join(self.temp, "0.bxr"), os.path.join(self.temp, "%d.bxr" % number))

    def final_box(self, run):
        self.assertTrue(run.boxes, "no box was shown")
        box = run.boxes[-1]
        self.assertEqual(box["caption"], CAPTION)
        self.assertEqual(box["buttons"], ["ok"])
        self.assertIn(TEXT_CLOSING, box["text"])
        return box["text"]

    # --- crash kinds -----------------------------------------------------------

    def test_crash_kinds(self):
        kinds = [
            ("av-worker", 0xC0000005, "fault_access_violation"),
            ("av-main", 0xC0000005, "fault_access_violation"),
            ("stack-overflow", 0xC00000FD, "fault_stack_overflow"),
            ("throw-object", 0x20474343, "fault_throw_object"),
            ("throw-object-std-thread", 0x20474343, "fault_throw_object"),
            ("divide-by-zero", 0xC0000094, "fault_divide_by_zero"),
        ]
        for kind, code, function in kinds:
            with self.subTest(kind=kind):
                self.check_crash_reported(kind, code, function)

    def check_crash_reported(self, kind, code, function):
        """One crash of the kind, uploaded and read back: the exception code and
        the faulting function as the first frame, under its callers."""
        server = self.server(default=Reply(200, "text/plain; charset=utf-8", "Hvala, sprejeto."))
        run = self.run_host(kind)
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertEqual(len(server.received), 1)
        report = server.received[0]
        self.assertTrue(report.chunked)
        self.assertEqual(report.headers.get("Content-Type"), "application/x-brindlexz")
        self.assertEqual(report.headers.get("User-Agent"), "Brindlex/13.0")
        self.assertEqual(report.headers.get("Accept-Language"), "sl-SI, sl;q=0.9, en;q=0.5")
        text = self.read_report(report.body)
        self.assertIn("code 0x%08X" % code, text)
        self.assertIn("machine %s\n" % MACHINE_NAME, text)
        self.check_addresses(report.body)
        frames = self.frames(text)
        self.assertTrue(frames[0][0].startswith("crash_host.exe+"), text)
        self.assertEqual(frames[0][1], function, text)
        print("%s first frame: %s" % (kind, re.search(r"^  #0 .*$", text, re.M).group(0).strip()))
        if kind != "stack-overflow":
            self.assertEqual([f[1] for f in frames[:3]],
                             [function, "crash_caller_two", "crash_caller_one"], text)
        self.assertIn("Hvala, sprejeto.", self.final_box(run))
        self.assertEqual(self.stored(), [])

    # --- the upload protocol ------------------------------------------------

    def test_449_then_200_sends_both_reports(self):
        # A crash on the worker: the case the smoke of the shipped program
        # runs in the emulated machine (ctest crash_smoke).
        server = self.server([Reply(449, "text/plain; charset=utf-8", "Pošljite več."),
                              Reply(200, "text/plain; charset=utf-8", "Hvala za oba.")])
        run = self.run_host("av-worker")
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertEqual(len(server.received), 2)
        self.assertEqual(inflate_strictly(server.received[0].body)[:4], b"BXO1")
        self.assertEqual(inflate_strictly(server.received[1].body)[:4], b"BXR1")
        for report in server.received:
            self.check_addresses(report.body)
            frames = self.frames(self.read_report(report.body))
            self.assertEqual([f[1] for f in frames[:3]],
                             ["fault_access_violation", "crash_caller_two", "crash_caller_one"])
        detailed = self.read_report(server.received[1].body)
        self.assertIn("context: flags", detailed)
        pc = re.search(r"^  %s = 0x([0-9A-F]+)$" % PC_REGISTER, detailed, re.M)
        self.assertTrue(pc, detailed)
        parsed = self.read_report(server.received[1].body, json_output=True)
        self.assertEqual(int(pc.group(1), 16), parsed["exceptions"][0]["address"], "the context's program counter")
        self.assertRegex(detailed, r"stack snapshot: [1-9]\d* bytes at 0x")
        text = self.final_box(run)
        self.assertIn(TEXT_TAKEN, text)
        self.assertIn("Hvala za oba.", text)
        self.assertEqual(self.stored(), [])

    def test_449_then_failed_upload_is_not_taken_and_saves_nothing(self):
        server = self.server([Reply(449, "text/plain; charset=utf-8", "Pošljite več."), Reply(drop=True)])
        run = self.run_host("av-main")
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertEqual(len(server.received), 2)
        text = self.final_box(run)
        self.assertIn(TEXT_NOT_TAKEN, text)
        self.assertIn("Pošljite več.", text)
        self.assertEqual(self.stored(), [])

    def test_replies_by_content_type(self):
        cases = [
            (Reply(200, "text/plain", "Hvala \x9a".encode("latin-1")), TEXT_TAKEN, "Hvala š"),
            (Reply(200, "TEXT/PLAIN;charset = utf-16", "Odgovor ž".encode("utf-16-le")), TEXT_TAKEN, "Odgovor ž"),
            (Reply(500, "text/plain; charset=utf-8", "Napaka strežnika"), TEXT_NOT_TAKEN, "Napaka strežnika"),
            (Reply(200, "text/plain; charset=utf-32", "x"), TEXT_TAKEN, None),
        ]
        for reply, result, reply_text in cases:
            with self.subTest(content_type=reply.content_type, status=reply.status):
                self.server([reply])
                run = self.run_host("av-main")
                self.assertEqual(run.exit_code, EXIT_CRASHED)
                text = self.final_box(run)
                self.assertIn(result, text)
                if reply_text:
                    self.assertIn(reply_text, text)

    def test_unexpected_replies_keep_the_reports(self):
        # A reply that is not plain text is a failed upload: the reports stay
        # for the next start and the page is saved as Odgovor.html. A reply
        # over a mebibyte (by its Content-Length) is refused unread, whatever
        # its type, and no page is written.
        big = b"x" * (1024 * 1024 + 1)
        cases = [
            (Reply(500, "text/html", "<html><body>Napaka 500</body></html>"), True),
            (Reply(200, None, "brez vrste"), True),
            (Reply(200, "text/plain ;charset=utf-8", "presledek"), True),
            (Reply(200, "text/plain; charset=utf-8", big), False),
            (Reply(500, "text/html", big), False),
        ]
        for reply, page_saved in cases:
            with self.subTest(content_type=reply.content_type, size=len(reply.body)):
                for name in self.stored():
                    os.remove(os.path.join(self.temp, name))
                self.server([reply])
                run = self.run_host("av-main")
                self.assertEqual(run.exit_code, EXIT_CRASHED)
                text = self.final_box(run)
                self.assertIn(TEXT_UPLOAD_FAILED, text)
                self.assertIn(TEXT_SAVED, text)
                self.assertNotIn(TEXT_TAKEN, text)
                self.assertEqual(self.stored(), ["0.bxo", "0.bxr"] + (["Odgovor.html"] if page_saved else []))
                if page_saved:
                    with open(os.path.join(self.temp, "Odgovor.html"), "rb") as f:
                        self.assertEqual(f.read(), reply.body)

    # --- stored reports -------------------------------------------------------

    def test_unreachable_server_saves_the_next_free_pair(self):
        for name in ("0.bxo", "1.bxo"):
            with open(os.path.join(self.temp, name), "wb") as f:
                f.write(b"older report")
        # Another process is sending stored reports, so this start leaves them.
        run = self.run_host("av-main", port=free_port(), hold_mutex=True)
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertEqual(self.stored(), ["0.bxo", "1.bxo", "2.bxo", "2.bxr"])
        text = self.final_box(run)
        self.assertIn(TEXT_UPLOAD_FAILED, text)
        self.assertIn(TEXT_SAVED, text)
        observation = self.read_report(path=os.path.join(self.temp, "2.bxo"))
        self.assertIn("EXCEPTION_ACCESS_VIOLATION", observation)
        self.assertNotIn("stack snapshot", observation)
        detailed = self.read_report(path=os.path.join(self.temp, "2.bxr"))
        self.assertIn("checksum", detailed)
        self.assertIn("stack snapshot", detailed)

    def test_faulting_thread_saves_the_files_when_the_worker_cannot_start(self):
        # The worker cannot be created (no address range is left for its
        # stack: only a 32-bit process can be filled so), or it is created
        # but never runs its code (the faulting thread holds the loader lock,
        # which a new thread takes before it runs), and the faulting thread
        # gives up on it after 10 s.
        ways = ["--hold-loader-lock"] + (["--starve-threads"] if HOST_PE.machine == 0x014C else [])
        for way in ways:
            with self.subTest(way=way):
                for name in self.stored():
                    os.remove(os.path.join(self.temp, name))
                server = self.server()
                run = self.run_host(way, "--trace=10", "av-main")
                self.assertEqual(run.exit_code, EXIT_CRASHED)
                self.assertEqual(run.boxes, [])
                self.assertEqual(server.received, [], "the fallback uploads nothing")
                self.assertEqual(self.stored(), ["0.bxo", "0.bxr"])
                for name in self.stored():
                    text = self.read_report(path=os.path.join(self.temp, name))
                    self.assertNotIn("trace:", text)
                    # Walked without the symbol handler, which only the crash worker initialises.
                    self.assertEqual([f[1] for f in self.frames(text)[:3]],
                                     ["fault_access_violation", "crash_caller_two", "crash_caller_one"], text)
                    self.check_addresses(path=os.path.join(self.temp, name))

    def test_next_start_sends_stored_reports_first(self):
        cases = [
            ("449 then 200", [Reply(449, "text/plain", ""), Reply(200, "text/plain", "")], [b"BXO1", b"BXR1"], []),
            ("200", [Reply(200, "text/plain", "")], [b"BXO1"], []),
            # Unanswered: the pair stays for the next start, with its attempt
            # record (stored_report_tests.py has the rest).
            ("unreachable", None, [], ["0.bxo", "0.bxp", "0.bxr"]),
        ]
        for name, replies, expected, left in cases:
            with self.subTest(case=name):
                # A case that failed leaves its files; the next starts afresh.
                for stale in self.stored():
                    os.remove(os.path.join(self.temp, stale))
                self.make_stored_pair()
                self.assertEqual(self.stored(), ["0.bxo", "0.bxr"])
                server = self.server(replies) if replies is not None else None
                port = self.port if server else free_port()
                run = self.run_host("wait", port=port)
                # 0: the start-up sender ended with no .bxo report left; 3: one is left.
                self.assertEqual(run.exit_code, 3 if "0.bxo" in left else 0)
                self.assertEqual(run.boxes, [])
                if server:
                    self.assertEqual([inflate_strictly(r.body)[:4] for r in server.received], expected)
                self.assertEqual(self.stored(), left)

    def test_second_process_gives_up_stored_reports_after_one_second(self):
        self.make_stored_pair()
        # The first start holds the senders' mutex while its upload waits for the reply.
        server = self.server(default=Reply(200, "text/plain", "", delay=20))
        first = self.run_host("wait", background=True)
        deadline = time.monotonic() + 60
        while not server.received and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue(server.received, "the first process sent nothing")
        second = self.run_host("wait")
        # 3: the second start found the stored report still there.
        self.assertEqual(second.exit_code, 3)
        self.assertEqual(self.finish(first).exit_code, 0)
        self.assertEqual(len(server.received), 1)
        self.assertEqual(self.stored(), [])

    # --- the boxes ------------------------------------------------------------

    def test_question_box_shows_trace_lines(self):
        for answer in ("no", "yes"):
            with self.subTest(answer=answer):
                server = self.server()
                run = self.run_host("--trace=100", "--trace=101", "av-main", answer=answer)
                self.assertEqual(run.exit_code, EXIT_CRASHED)
                self.assertEqual(len(run.boxes), 2)
                question = run.boxes[0]
                self.assertEqual(question["caption"], CAPTION)
                self.assertEqual(question["buttons"], ["yes", "no"])
                line100 = trace_line(100)
                line101 = trace_line(101)
                self.assertIn("\n" + line100 + "\n", question["text"])
                self.assertIn("\n" + line101[:100] + "...", question["text"])
                self.assertNotIn(line101, question["text"])
                self.assertIn("crash_host.exe", question["text"])
                final = self.final_box(run)
                self.assertIn("Hvala", final)
                self.assertNotIn("crash_host.exe", final, "the introduction stood in the question")
                text = self.read_report(server.received[0].body)
                if answer == "yes":
                    self.assertIn("trace:\n  %s\n  %s\n" % (line100, line101), text)
                else:
                    self.assertNotIn("trace:", text)

    def test_no_answer_saves_reports_without_trace(self):
        run = self.run_host("--trace=20", "av-main", answer="no", port=free_port(), hold_mutex=True)
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertEqual(self.stored(), ["0.bxo", "0.bxr"])
        for name in self.stored():
            self.assertNotIn("trace:", self.read_report(path=os.path.join(self.temp, name)))

    def test_screen_reader_shows_no_box_and_sends_the_trace(self):
        server = self.server()
        run = self.run_host("--trace=30", "av-main", screen_reader=True)
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertEqual(run.boxes, [])
        self.assertIn("trace:\n  %s\n" % trace_line(30), self.read_report(server.received[0].body))

    def test_first_box_without_trace_is_the_final_one(self):
        self.server()
        run = self.run_host("av-main")
        self.assertEqual(len(run.boxes), 1)
        text = self.final_box(run)
        self.assertTrue(text.startswith("Program crash_host.exe "), text)

    def test_missing_texts(self):
        server = self.server()
        # The introduction is missing: the worker ends at once, nothing is
        # sent or saved, and the process still ends as a handled crash.
        run = self.run_host("av-main", host=HOST_BARE)
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertEqual(run.boxes, [])
        self.assertEqual(server.received, [])
        self.assertEqual(self.stored(), [])
        # Without boxes no text is needed; without string 28656 there is no
        # Accept-Language header.
        run = self.run_host("av-main", host=HOST_BARE, screen_reader=True)
        self.assertEqual(run.exit_code, EXIT_CRASHED)
        self.assertEqual(len(server.received), 1)
        self.assertNotIn("Accept-Language", server.received[0].headers)

    # --- the switch -------------------------------------------------------------

    def set_switch(self, kind, data, key=REG_KEY, view=()):
        """`view` adds reg.exe's /reg:64 or /reg:32 in a 64-bit prefix."""
        wine = subprocess.run([WINE_RUN, "reg", "add", key, "/v", "PrestrezajNapake", "/t", kind, "/d", data,
                               "/f", *view], capture_output=True, timeout=60)
        self.assertEqual(wine.returncode, 0, wine.stderr)
        self.addCleanup(subprocess.run, [WINE_RUN, "reg", "delete", key, "/v", "PrestrezajNapake", "/f", *view],
                        capture_output=True, timeout=60)

    def test_switch_off_only_as_dword_zero(self):
        server = self.server()
        # Only the machine-wide hive counts.
        self.set_switch("REG_DWORD", "0", key=REG_KEY.replace("HKLM", "HKCU"))
        self.assertEqual(self.run_host("filter").exit_code, 10)
        for kind, data, on in (("REG_SZ", "0", True), ("REG_QWORD", "0", True), ("REG_DWORD", "1", True),
                               ("REG_DWORD", "0", False)):
            with self.subTest(kind=kind, data=data):
                self.set_switch(kind, data)
                self.assertEqual(self.run_host("filter").exit_code, 10 if on else 11)
        # Off: stored reports stay (no start-up sender) and a crash takes the
        # system's path.
        self.make_stored_pair_without_reporter()
        run = self.run_host("wait")
        self.assertEqual(run.exit_code, 3)
        run = self.run_host("av-main")
        self.assertEqual(run.exit_code, 0xC0000005)
        self.assertEqual(server.received, [])

    def make_stored_pair_without_reporter(self):
        for name in ("0.bxo", "0.bxr"):
            with open(os.path.join(self.temp, name), "wb") as f:
                f.write(zlib.compress(b"BXO1"))


def trace_line(length):
    """The text crash_host.exe adds for --trace=N."""
    line = "vrstica %d:" % length
    while len(line) < length:
        line += chr(ord("a") + len(line) % 26)
    return line[:length]


if __name__ == "__main__":
    unittest.main(verbosity=2)
