"""Recording uploads in the index, and reading them in the background.

An upload is stored atomically and gets its row in the index at once, in
one transaction, before the client hears that it was taken; so every stored
report has exactly one row. Reading and symbolizing it (the report reader,
which runs addr2line) takes far longer, so a worker thread does that, in
batches, and fills in the row's group. Rows still unread after a restart, or
left by another server that stopped, are picked up by every server's worker
(reading a report twice writes the same values).
"""

import os
import queue
import sys
import threading
import time

import report_files
import report_reading

BATCH = 16
RESCAN_SECONDS = 30


def received_time(name):
    """When a stored report arrived: from its name, else now."""
    try:
        return time.strftime("%Y-%m-%d %H:%M:%S", time.strptime(name[:16], "%Y%m%dT%H%M%SZ"))
    except ValueError:
        return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime())


def unread_row(name):
    kind = report_files.kind_of_name(name)
    return {"file": name, "received": received_time(name), "kind": kind, "module": None, "time_stamp": None,
            "code": None, "frames": "[]", "readable": 0, "error": None, "signature": None, "group_key": None,
            "title": None, "details": None}


class Indexer:
    def __init__(self, index, folder, reader, symbols):
        self.index = index
        self.folder = folder
        self.reader = reader
        self.symbols = symbols
        self.pending = queue.Queue()
        self.stopping = threading.Event()
        self.thread = None

    def catch_up(self):
        """Brings the index to the newest schema and up to the folder: files
        whose server stopped between storing and recording them get their row."""
        self.index.migrate()
        report_files.remove_stale_temporaries(self.folder)
        known = self.index.files()
        for name in report_files.stored_names(self.folder):
            if name not in known:
                self.index.add(unread_row(name))

    def store(self, body):
        """Stores and records an upload; the name it was stored under."""
        name = report_files.store(self.folder, body)
        try:
            self.index.add(unread_row(name))
        except Exception as e:  # noqa: BLE001 - the file is safe: the next start records it
            print("report server: %s stored but not recorded: %s" % (name, e), file=sys.stderr, flush=True)
            return name
        self.pending.put(name)
        return name

    def start(self):
        self.stopping.clear()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def stop(self):
        self.stopping.set()
        if self.thread:
            self.thread.join(120)
            self.thread = None

    def wait_until_read(self, seconds):
        """Whether every row of the index was read within `seconds`."""
        deadline = time.monotonic() + seconds
        while self.index.unread(1):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.1)
        return True

    def read(self, names):
        results = report_reading.read_reports(self.reader, self.symbols,
                                              [os.path.join(self.folder, n) for n in names])
        for name, parsed in zip(names, results):
            summary = report_reading.summarize(parsed)
            self.index.set_summary(name, summary, report_reading.group_key(summary["signature"]))

    def _run(self):
        last_scan = 0.0
        while not self.stopping.is_set():
            names = []
            try:
                names.append(self.pending.get(timeout=0.5))
                while len(names) < BATCH:
                    names.append(self.pending.get_nowait())
            except queue.Empty:
                pass
            try:
                if names:
                    self.read(sorted(set(names)))
                elif time.monotonic() - last_scan > RESCAN_SECONDS:
                    last_scan = time.monotonic()
                    for name in self.index.unread(1000):
                        self.pending.put(name)
            except Exception as e:  # noqa: BLE001 - a database hiccup must not end the worker
                print("report server: reading reports failed: %s" % e, file=sys.stderr, flush=True)
                time.sleep(1)
