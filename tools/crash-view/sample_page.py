#!/usr/bin/env python3
"""Makes the README's picture of the crash page: a week of crashes of the
test host as the demo makes them (every crash kind, .bxo and .bxr, trace
lines), written with the tests' report writer at offsets of the real
unstripped host, indexed by a report server and taken with headless Chromium.

  sample_page.py WIN_BUILD OUT.png
"""

import datetime
import os
import random
import re
import shutil
import subprocess
import sys
import uuid

here = os.path.dirname(os.path.abspath(__file__))
build, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
work = os.path.join(build, "crash-view-sample")
full, shipped = (os.path.join(build, "crashreport", n) for n in ("crash_host.full.exe", "crash_host.exe"))
reader = os.path.join(build, "tools/report-reader/native/report-reader")
os.environ.update(CRASH_VIEW_READER=reader, CRASH_VIEW_SAMPLE=full, CRASH_VIEW_WORK=work, POSTGRES_BIN="",
                  CRASH_VIEW_SERVER_DIR=os.path.join(here, "../report-server"))
sys.path.insert(0, os.path.join(here, "tests"))

import view_fixture as fx  # noqa: E402
from report_writer import Crash  # noqa: E402
import report_index  # noqa: E402
from report_server import ReportServer  # noqa: E402

shutil.rmtree(work, ignore_errors=True)
store = fx.fresh_folder("store")
fx.file_symbols(os.path.join(store, "symbols"), full, "--shipped", shipped)
stamp = fx.pe_time_stamp(shipped)
symbols = {}
for line in fx.run(["i686-w64-mingw32-nm", "-C", full]).stdout.splitlines():
    found = re.match(r"([0-9a-f]{8}) [Tt] (?:\(anonymous namespace\)::)?_?(\w+)", line)
    if found:
        symbols.setdefault(found.group(2), int(found.group(1), 16) - 0x400000)


def at(name, delta=5):
    return symbols[name] + delta


system = [("ntdll.dll", 0x5E3A1C22, 0x7BC00000, [0x4F2A1, 0x4F1C3]), ("KERNEL32.dll", 0x5E3A1C20, 0x7B600000, [0x1E3B0])]
callers = [at("crash_caller_two"), at("crash_caller_one"), at("wWinMain", 40)]
kinds = [  # (code, frames in the host, weight)
    (0xC0000005, [at("fault_access_violation", 7)] + callers, 9),
    (0x20474343, [at("fault_throw_object", 20), at("crash_caller_two"), at("crash_caller_one")], 5),
    (0xC0000094, [at("fault_divide_by_zero", 9)] + callers, 3),
    (0xC00000FD, [at("fault_stack_overflow", 12)] * 3 + [at("fault_stack_overflow_start")] + callers, 2),
]
trace = ["vrstica 1: zagon", "vrstica 2: nalagam opis paketa", "vrstica 3: preverjam podpis"]
random.seed(15)
folder = os.path.join(store, "reports")
os.makedirs(folder)
today = datetime.datetime.now(datetime.timezone.utc).replace(hour=9, minute=0, second=0, microsecond=0)
for day in range(14):
    for code, frames, weight in kinds:
        for _ in range(random.randint(0, weight)):
            when = today - datetime.timedelta(days=13 - day, minutes=random.randint(0, 600))
            for detailed in (False, True):
                body = Crash(code, [("crash_host.exe", stamp, 0x400000, frames)] + system, trace=trace,
                             detailed=detailed).body()
                name = when.strftime("%Y%m%dT%H%M%SZ") + "-" + uuid.uuid4().hex + (".bxr" if detailed else ".bxo")
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(body)

server = ReportServer(*fx.make_certificate(os.path.join(work, "certificate")), store,
                      index=report_index.Index(os.path.join(store, "index.sqlite3")), reader=reader,
                      symbols=os.path.join(store, "symbols"))
server.start()
try:
    if not server.indexer.wait_until_read(300):
        sys.exit("the reports were not read within 5 minutes")
    admin = server.start_admin()
    fx.chromium("--screenshot=" + out, "--window-size=1180,420", "--hide-scrollbars",
                "http://127.0.0.1:%d/" % admin, seconds=120)
finally:
    server.stop()
print(out)
