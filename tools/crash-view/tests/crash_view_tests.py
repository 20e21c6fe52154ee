#!/usr/bin/env python3
"""The maker's crash view: reports uploaded to real report servers, read and
symbolized through the symbol store, indexed in SQLite and PostgreSQL,
grouped, and shown on the administration page in headless Chromium.

Reports come from report_writer.py (checked against the report reader
first); symbols from symbol_sample.full.exe, a real i686 PE with DWARF, and
its x86_64 build (PE32+) for the 64-bit program's reports, at offsets taken
from their symbol tables.
"""

import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
import unittest

import view_fixture as fx
from report_writer import MACHINE_X64, Crash, zlib_bomb
from view_case import AV, BACKENDS, DIVIDE, ViewCase

import report_files  # noqa: E402 (tools/report-server, on the path through view_fixture)
import report_index
HOSTILE_MODULE = "<img src=x onerror=\"document.title='pwned'\">.exe"
HOSTILE_TRACE = "<script>document.title='pwned'</script> & \"quotes\""


def known_crashes(stamp, offsets):
    """A known set of reports: three access violations in sample_parse_header
    (one of them with its .bxr report too, four files), two divisions by zero
    in sample_read_block, one crash in a build without symbols, one body that
    is no report."""
    parse, read = offsets["sample_parse_header"], offsets["sample_read_block"]
    install = offsets["sample_install_package"]
    kernel = ("KERNEL32.dll", 0x5F000000, 0x7B000000, [0x20, 0x44])

    def av(detailed=False):
        return Crash(AV, [(fx.SAMPLE_MODULE, stamp, 0x400000, [parse + 3, read + 5, install + 5]), kernel],
                     trace=["install started"], detailed=detailed).body()

    divide = Crash(DIVIDE, [(fx.SAMPLE_MODULE, stamp, 0x400000, [read + 2, install + 5])]).body()
    unknown_build = Crash(AV, [(fx.SAMPLE_MODULE, 0x12345678, 0x400000, [0x15B3])]).body()
    return [av(), av(True), av(), av(), divide, divide, unknown_build, b"not a report at all"]


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).digest()


EXPECTED_GROUPS = [  # (title, crashes), most frequent first
    ("EXCEPTION_ACCESS_VIOLATION in sample_parse_header", 3),
    ("EXCEPTION_INT_DIVIDE_BY_ZERO in sample_read_block", 2),
]
EXPECTED_SINGLES = {"EXCEPTION_ACCESS_VIOLATION in symbol_sample.exe+0x15B3", "Unreadable reports"}


class CrashViewTest(ViewCase):
    def ordered_groups(self, server):
        """(title, crashes, time stamps) of every group, most frequent first."""
        builds = server.index.builds()
        return [(g.title, g.crashes, sorted({t for _, t, _ in builds.get(g.key, [])}))
                for g in server.index.groups()]

    def assert_known_groups(self, groups):
        self.assertEqual([(t, c) for t, c, _ in groups[:2]], EXPECTED_GROUPS)
        self.assertEqual({t for t, c, _ in groups[2:]}, EXPECTED_SINGLES)
        self.assertEqual([c for _, c, _ in groups[2:]], [1, 1])
        self.assertEqual(groups[0][2], [self.stamp])

    # --- the report writer and the symbol store ---------------------------

    def test_report_writer_matches_the_reader(self):
        folder = fx.fresh_folder("writer")
        variants = [  # machine, its name, two module bases, the detailed context's registers
            (0x14C, "i386", (0x400000, 0x10000000), 12),
            (MACHINE_X64, "x64", (0x140000000, 0x7FFB12340000), 20),
        ]
        for machine, name, (base_a, base_b), registers in variants:
            for detailed in (False, True):
                crash = Crash(DIVIDE, [("a.exe", 0x11, base_a, [1, 2]), ("b.dll", 0x22, base_b, [3])],
                              trace=["ena", "dva č"], detailed=detailed, parameters=(7, 8), address=base_a + 1,
                              machine=machine)
                path = os.path.join(folder, "r.bxr" if detailed else "r.bxo")
                with open(path, "wb") as f:
                    f.write(crash.body())
                parsed = json.loads(fx.run([fx.READER, "--json", path]).stdout)
                self.assertEqual(parsed["kind"], "bxr" if detailed else "bxo")
                self.assertEqual(parsed["machine"], name)
                self.assertEqual([(x["code"], x["address"], x["parameters"]) for x in parsed["exceptions"]],
                                 [(DIVIDE, base_a + 1, [7, 8])])
                self.assertEqual(parsed["trace"], ["ena", "dva č"])
                self.assertEqual([(m["name"], m["time_stamp"], m["base"]) for m in parsed["modules"]],
                                 [("a.exe", 0x11, base_a), ("b.dll", 0x22, base_b)])
                self.assertEqual([(f["module"], f["offset"]) for f in parsed["frames"]], [(0, 1), (0, 2), (1, 3)])
                self.assertEqual(len(parsed["registers"]), registers if detailed else 0)

    def test_symbol_store_files_builds_by_shipped_name_and_time_stamp(self):
        store = fx.fresh_folder("store")
        work = fx.fresh_folder("store-work")
        stripped = os.path.join(work, "shipped.exe")
        fx.run(["i686-w64-mingw32-objcopy", "--strip-all", fx.SAMPLE, stripped])
        other_build = os.path.join(work, "symbol_sample.full.exe")
        shutil.copy(fx.SAMPLE, other_build)
        with open(other_build, "ab") as f:
            f.write(b"another build")
        filed = fx.file_symbols(store, fx.SAMPLE)
        self.assertEqual(os.path.relpath(filed, store), "symbol_sample.exe/%08X/symbol_sample.full.exe" % self.stamp)
        self.assertEqual(fx.file_symbols(store, fx.SAMPLE), filed, "filing the same build again")
        shipped = fx.file_symbols(store, fx.SAMPLE, "--shipped", stripped)
        self.assertEqual(os.path.relpath(shipped, store).split("/")[:2],
                         ["shipped.exe", "%08X" % fx.pe_time_stamp(stripped)])
        refused = subprocess.run([fx.READER, "--file-symbols", store, other_build], capture_output=True, text=True,
                                 timeout=60)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("another build", refused.stderr)

        parse = self.offsets["sample_parse_header"]
        cases = [  # (module name in the report, time stamp, symbolized)
            ("symbol_sample.exe", self.stamp, True),
            ("SYMBOL_SAMPLE.EXE", self.stamp, True),
            ("symbol_sample.exe", self.stamp + 1, False),
            ("../symbol_sample.exe", self.stamp, False),
            ("..", self.stamp, False),
        ]
        for name, stamp, symbolized in cases:
            path = os.path.join(work, "case.bxo")
            with open(path, "wb") as f:
                f.write(Crash(AV, [(name, stamp, 0x400000, [parse + 1])]).body())
            frame = json.loads(fx.run([fx.READER, "--json", "--store", store, path]).stdout)["frames"][0]
            self.assertEqual(frame.get("function"), "sample_parse_header" if symbolized else None, name)

        # A build in the store that cannot be read fails only the reports that need it.
        broken = os.path.join(store, "broken.exe", "00000001")
        os.makedirs(broken)
        with open(os.path.join(broken, "broken.full.exe"), "wb") as f:
            f.write(b"MZ but no PE file")
        paths = []
        for i, module in enumerate([(fx.SAMPLE_MODULE, self.stamp), ("broken.exe", 1), (fx.SAMPLE_MODULE, self.stamp)]):
            paths.append(os.path.join(work, "batch-%d.bxo" % i))
            with open(paths[-1], "wb") as f:
                f.write(Crash(AV, [module + (0x400000, [parse + 1])]).body())
        batch = subprocess.run([fx.READER, "--json", "--store", store] + paths, capture_output=True, text=True,
                               timeout=60)
        self.assertEqual(batch.returncode, 1)
        results = [json.loads(line) for line in batch.stdout.splitlines()]
        self.assertEqual([r.get("frames", [{}])[0].get("function") for r in results],
                         ["sample_parse_header", None, "sample_parse_header"])
        self.assertIn("not a PE file", results[1]["error"])

    def test_x64_reports_name_their_functions_from_the_store(self):
        """Reports of the 64-bit program: frames symbolized from its x86_64
        build in the store, by the reader and in the server's index and
        groups; a 32-bit build filed under the module's name and time stamp
        names nothing in them."""
        offsets = fx.sample_offsets(fx.SAMPLE64)
        stamp = fx.pe_time_stamp(fx.SAMPLE64)
        base = fx.pe_image_base(fx.SAMPLE64)
        self.assertGreater(base, 0xFFFFFFFF, "the x86_64 build's image lies above 4 GiB")
        symbols = fx.fresh_folder("x64-symbols")
        fx.file_symbols(symbols, fx.SAMPLE64)
        parse, read, install = (offsets[f] for f in ("sample_parse_header", "sample_read_block",
                                                     "sample_install_package"))

        def crash(detailed=False, time_stamp=stamp):
            return Crash(AV, [(fx.SAMPLE_MODULE, time_stamp, base, [parse + 3, read + 5, install + 5]),
                              ("KERNEL32.dll", 0x5F000000, 0x7FFB00000000, [0x20])],
                         trace=["install started"], detailed=detailed, address=base + parse + 3,
                         machine=MACHINE_X64).body()

        work = fx.fresh_folder("x64-work")
        path = os.path.join(work, "0.bxr")
        with open(path, "wb") as f:
            f.write(crash(detailed=True))
        parsed = json.loads(fx.run([fx.READER, "--json", "--store", symbols, path]).stdout)
        self.assertEqual(parsed["machine"], "x64")
        self.assertEqual(parsed["exceptions"][0]["address"], base + parse + 3)
        self.assertEqual([f.get("function") for f in parsed["frames"]],
                         ["sample_parse_header", "sample_read_block", "sample_install_package(char const*)", None])
        self.assertRegex(parsed["frames"][0]["place"], r"symbol_sample\.cpp:\d+$")
        text = fx.run([fx.READER, "--store", symbols, path]).stdout
        self.assertIn("#0 %s+0x%X sample_parse_header at " % (fx.SAMPLE_MODULE, parse + 3), text)
        self.assertIn("base 0x%016X" % base, text)

        # The 32-bit build under the name and time stamp an x64 report gives.
        wrong = fx.fresh_folder("x64-wrong-symbols")
        fx.file_symbols(wrong, fx.SAMPLE)
        with open(path, "wb") as f:
            f.write(crash(time_stamp=fx.pe_time_stamp(fx.SAMPLE)))
        parsed = json.loads(fx.run([fx.READER, "--json", "--store", wrong, path]).stdout)
        self.assertEqual([f.get("function") for f in parsed["frames"]], [None] * 4)

        server = self.server(fx.fresh_folder("x64-server"), symbols=symbols)
        self.upload_all(server, [crash(), crash(detailed=True), crash()])
        # Three files, two crashes: the .bxr details the .bxo before it.
        self.assertEqual(self.ordered_groups(server),
                         [("EXCEPTION_ACCESS_VIOLATION in sample_parse_header", 2, [stamp])])
        key = server.index.groups()[0].key
        details = json.loads(server.index.group_reports(key)[0][4])
        self.assertEqual(details["modules"][0]["base"], base)
        self.assertEqual([f["function"] for f in details["frames"][:3]],
                         ["sample_parse_header", "sample_read_block", "sample_install_package(char const*)"])

    # --- the index ----------------------------------------------------------

    def test_sqlite_and_postgresql_give_the_same_groups(self):
        bodies = known_crashes(self.stamp, self.offsets)
        results = {}
        with fx.postgres_server(os.path.join(fx.WORK, "postgres-same")) as new_database:
            for backend, database in (("sqlite", None), ("postgresql", new_database("same"))):
                server = self.server(fx.fresh_folder("same-" + backend), database)
                self.upload_all(server, bodies)
                results[backend] = self.ordered_groups(server)
                self.assertEqual(server.index.count(), len(bodies))
                server.stop()
        self.assert_known_groups(results["sqlite"])
        self.assertEqual(sorted(results["sqlite"]), sorted(results["postgresql"]))

    def test_index_survives_a_restart_and_catches_up_with_the_folder(self):
        store = fx.fresh_folder("restart")
        bodies = known_crashes(self.stamp, self.offsets)
        server = self.server(store)
        self.upload_all(server, bodies[:4])
        before = self.ordered_groups(server)
        server.stop()
        # Stored while no server recorded it (a crash between rename and
        # insert), and the hidden leftover of an upload cut short.
        report_files.store(os.path.join(store, "reports"), bodies[4])
        with open(os.path.join(store, "reports", report_files.TEMPORARY_PREFIX + "leftover"), "wb") as f:
            f.write(bodies[0][:10])
        server = self.server(store)
        self.assertEqual(server.index.count(), 5)
        self.assert_all_read(server)
        after = dict((t, c) for t, c, _ in self.ordered_groups(server))
        expected = dict((t, c) for t, c, _ in before)
        expected[EXPECTED_GROUPS[1][0]] = 1  # the division by zero stored while no server ran
        self.assertEqual(after, expected)
        self.upload_all(server, bodies[5:])
        server.stop()
        server = self.server(store)
        self.assert_all_read(server)
        self.assert_known_groups(self.ordered_groups(server))
        self.assertEqual(len(report_files.stored_names(os.path.join(store, "reports"))), len(bodies))

    def test_schema_upgrade_groups_the_reports_of_earlier_versions(self):
        bodies = known_crashes(self.stamp, self.offsets)[:2]  # a .bxo report and its .bxr report
        for backend in BACKENDS:
            for version in (1, 2):
                with self.subTest(backend=backend, version=version):
                    store = fx.fresh_folder("upgrade-%s-%d" % (backend, version))
                    folder = os.path.join(store, "reports")
                    os.makedirs(folder)
                    location = self.database(backend, store)
                    old = report_index.Index(location)
                    self.assertEqual(old.migrate(up_to=version), 0)
                    with old.transaction() as c:
                        for body in bodies:
                            name = report_files.store(folder, body)
                            if version == 1:
                                c.execute("INSERT INTO reports (file, received, kind, frames, readable)"
                                          " VALUES (?, ?, ?, ?, ?)", (name, "2026-01-02 03:04:05", "bxo", "[]", 1))
                            else:
                                c.execute("INSERT INTO reports (file, received, kind, module, time_stamp, code, frames,"
                                          " readable, signature, group_key, title, details)"
                                          " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                                          (name, "2026-01-02 03:04:05", "bxo", "symbol_sample.exe", self.stamp, AV,
                                           "[]", 1, "C0000005|old č", "0123456789abcdef0123", "old title č", "{}"))
                    old.close()
                    if version == 2:
                        # The groups stay in view while their reports are read again.
                        upgraded = report_index.Index(location)
                        upgraded.migrate()
                        self.assertEqual([(g.title, g.crashes) for g in upgraded.groups()], [("old title č", 2)])
                        self.assertEqual(upgraded.builds(),
                                         {"0123456789abcdef0123": [("symbol_sample.exe", self.stamp, 2)]})
                        self.assertEqual(upgraded.count(unread_only=True), 2)
                        upgraded.close()
                    server = self.server(store, location)
                    self.assertEqual(server.index.version(), report_index.VERSION)
                    self.assert_all_read(server)
                    # The second report is the .bxr report of the first: one crash.
                    self.assertEqual([(t, c) for t, c, _ in self.ordered_groups(server)],
                                     [("EXCEPTION_ACCESS_VIOLATION in sample_parse_header", 1)])
                    self.assertEqual(server.index.count(), 2, "the upgrade adds no rows")
                    server.stop()

    def test_an_upload_cut_off_leaves_nothing_listed(self):
        store = fx.fresh_folder("cut-off")
        server = self.server(store)
        body = known_crashes(self.stamp, self.offsets)[0]
        fx.upload_cut_off(server.port, self.certificate[0], body)
        self.upload_all(server, [body])  # the server still serves, and the request after it counts
        self.assertEqual(server.index.count(), 1)
        self.assertEqual(len(report_files.stored_names(os.path.join(store, "reports"))), 1)

    # --- the page -----------------------------------------------------------

    def test_page_in_chromium_shows_groups_symbols_and_escaped_text(self):
        store = fx.fresh_folder("page")
        server = self.server(store)
        hostile = Crash(AV, [(HOSTILE_MODULE, 1, 0x400000, [0x10])], trace=[HOSTILE_TRACE] * 3).body()
        self.upload_all(server, known_crashes(self.stamp, self.offsets) + [hostile])
        admin = server.start_admin()
        self.assertNotEqual(admin, server.port)

        front = fx.Dom(fx.chromium("--dump-dom", "http://127.0.0.1:%d/" % admin))
        rows = [(int(r[0]), r[1].split("←")[0].strip()) for r in front.rows]
        self.assertEqual(rows[:2], [(c, t) for t, c in EXPECTED_GROUPS])
        self.assertEqual(sorted(c for c, _ in rows[2:]), [1, 1, 1])
        self.assertEqual(len(front.tags("svg")), len(rows), "a chart per group")
        self.assertIn("EXCEPTION_ACCESS_VIOLATION in " + HOSTILE_MODULE + "+0x10", front.text())

        links = {t: a["href"] for (c, t), a in zip(rows, [a for a in front.tags("a") if "/group/" in a["href"]])}
        group = fx.Dom(fx.chromium("--dump-dom", "http://127.0.0.1:%d%s" % (admin, links[EXPECTED_GROUPS[0][0]])))
        stack = group.text()
        self.assertIn("sample_parse_header symbol_sample.exe+0x%X at " % (self.offsets["sample_parse_header"] + 3),
                      stack)
        self.assertIn("sample_install_package(char const*) symbol_sample.exe+0x%X at "
                      % (self.offsets["sample_install_package"] + 5), stack, "C++ names demangled")
        self.assertIn("install started", stack)
        self.assertEqual(len([a for a in group.tags("a") if a.get("href", "").startswith("/report/")]), 4)

        hostile_link = links["EXCEPTION_ACCESS_VIOLATION in " + HOSTILE_MODULE + "+0x10"]
        page = fx.chromium("--dump-dom", "http://127.0.0.1:%d%s" % (admin, hostile_link))
        dom = fx.Dom(page)
        self.assertEqual(dom.tags("script"), [])
        self.assertEqual(dom.tags("img"), [])
        self.assertEqual(dom.text().count(HOSTILE_TRACE), 3)
        self.assertIn(HOSTILE_MODULE, dom.text())
        self.assertNotIn("pwned</title>", page)

        raw = [a["href"] for a in group.tags("a") if a.get("href", "").startswith("/report/")][0]
        import urllib.request
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (admin, raw), timeout=30) as reply:
            self.assertIn(reply.read(), known_crashes(self.stamp, self.offsets)[:4])

    # --- load ---------------------------------------------------------------

    def test_two_servers_on_one_postgresql_store_every_report_once(self):
        store = fx.fresh_folder("load")
        uploads, cut_offs = 300, 6
        bodies = [Crash(AV, [(fx.SAMPLE_MODULE, self.stamp, 0x400000, [self.offsets["sample_parse_header"] + 1]),
                             ("KERNEL32.dll", 0x5F000000, 0x7B000000, [i])]).body() for i in range(uploads)]
        # Among them, a few hostile ones: taken and stored like the rest...
        nul = "nul\0.exe"
        hostile = [Crash(AV, [(nul, 1, 0x400000, [0x10])], trace=["override \u202e line"]).body(),
                   zlib_bomb(), b"garbage, no report"]
        bodies[40:40] = hostile[:1]
        bodies[150:150] = hostile[1:2]
        bodies[260:260] = hostile[2:]
        # ...and requests refused for their framing, which store nothing.
        refused = b"POST %s HTTP/1.1\r\nHost: x\r\nContent-Length: abc\r\n\r\nabc" % fx.PATH.encode()
        with fx.postgres_server(os.path.join(fx.WORK, "postgres-load")) as new_database:
            database = new_database("load")
            servers = [self.server(store, database) for _ in range(2)]
            failures = []

            def send(i):
                server = servers[i % 2]
                if i % (len(bodies) // cut_offs) == 7:
                    fx.upload_cut_off(server.port, self.certificate[0], bodies[i])
                try:
                    if i % 100 == 50:
                        self.assertEqual(fx.raw_request(server.port, self.certificate[0], refused, 60), 400)
                    self.assertEqual(fx.upload(server.port, self.certificate[0], bodies[i], seconds=120), 200)
                except Exception as e:  # noqa: BLE001 - collected and reported below
                    failures.append((i, e))

            with concurrent.futures.ThreadPoolExecutor(24) as pool:
                list(pool.map(send, range(len(bodies)), timeout=600))
            self.assertEqual(failures, [])
            self.assert_all_read(servers[0])
            folder = os.path.join(store, "reports")
            names = report_files.stored_names(folder)
            self.assertEqual(len(names), len(bodies))
            self.assertEqual(servers[0].index.files(), set(names), "every stored file indexed, nothing else")
            self.assertEqual(servers[1].index.count(), len(bodies), "one row per report")
            stored = sorted(sha256_of(os.path.join(folder, n)) for n in names)
            self.assertEqual(stored, sorted(hashlib.sha256(b).digest() for b in bodies))
            self.assertEqual([(t, c) for t, c, _ in self.ordered_groups(servers[0])],
                             [("EXCEPTION_ACCESS_VIOLATION in sample_parse_header", uploads), ("Unreadable reports", 2),
                              ("EXCEPTION_ACCESS_VIOLATION in %s+0x10" % nul, 1)])

if __name__ == "__main__":
    unittest.main(verbosity=2)
