"""Recording uploads in the index, and reading them in the background.

An upload is stored atomically and gets its row in the index at once, in
one transaction, before the client hears that it was taken; so every stored
report has exactly one row. Reading and symbolizing it (the report reader,
which runs addr2line) takes far longer, so a small pool of worker threads
does that, in batches, and fills in each row's group: one slow or hostile
report holds one worker, never the rest. Each report of a batch is recorded
on its own, so one that cannot be recorded is filed as unreadable and its
neighbours are not held back. Rows still to be read after a restart, or left
by another server that stopped, are picked up by every server's workers
(reading a report twice writes the same values).

Reports whose builds had no symbols are read again once the store has them:
at start-up, and on request (read_again: the page's button, SIGHUP), so
that their groups merge with the named ones.
"""

import os
import queue
import sys
import threading
import time

import report_files
import report_reading
import symbol_builds

BATCH = 16
WORKERS = 3
RESCAN_SECONDS = 30


def received_time(name):
    """When a stored report arrived: from its name, else now."""
    try:
        return time.strftime("%Y-%m-%d %H:%M:%S", time.strptime(name[:16], "%Y%m%dT%H%M%SZ"))
    except ValueError:
        return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime())


def log(text):
    print("report server: " + text, file=sys.stderr, flush=True)


class Indexer:
    def __init__(self, index, folder, reader, symbols, memory=report_reading.READER_MEMORY, workers=WORKERS):
        self.index = index
        self.folder = folder
        self.reader = reader
        self.symbols = symbols
        self.store_of_symbols = symbol_builds.SymbolStore(symbols)
        self.memory = memory
        self.workers = workers
        self.pending = queue.Queue()
        self.queued = set()  # names in the queue or being read, so a rescan adds each once
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.rescan = threading.Event()
        self.threads = []

    def catch_up(self):
        """Brings the index to the newest schema and up to the folder: files
        whose server stopped between storing and recording them get their row;
        reports whose symbols have been filed since are read again."""
        self.index.migrate()
        report_files.remove_stale_temporaries(self.folder)
        known = self.index.files()
        for name in report_files.stored_names(self.folder):
            if name not in known:
                self.index.add(name, received_time(name), report_files.kind_of_name(name))
        self.read_again()

    def read_again(self):
        """Marks for reading again every report that lacked symbols for a build
        the store has now; returns how many."""
        marked = 0
        for module, time_stamp in self.index.missing_builds():
            if self.store_of_symbols.filed(module, time_stamp):
                marked += self.index.read_again(module, time_stamp)
        self.rescan.set()
        return marked

    def store(self, body):
        """Stores and records an upload; the name it was stored under."""
        name = report_files.store(self.folder, body)
        try:
            self.index.add(name, received_time(name), report_files.kind_of_name(name))
        except Exception as e:  # noqa: BLE001 - the file is safe: the next start records it
            log("%s stored but not recorded: %s" % (name, e))
            return name
        self._enqueue([name])
        return name

    def _enqueue(self, names):
        with self.lock:
            for name in names:
                if name not in self.queued:
                    self.queued.add(name)
                    self.pending.put(name)

    def start(self):
        self.stopping.clear()
        self.rescan.set()
        self.threads = [threading.Thread(target=self._run, daemon=True) for _ in range(self.workers)]
        for thread in self.threads:
            thread.start()

    def stop(self):
        """Ends the workers; a report being read stays to be read."""
        self.stopping.set()
        for thread in self.threads:
            thread.join(60)
        self.threads = []

    def wait_until_read(self, seconds):
        """Whether every row of the index was read within `seconds`."""
        deadline = time.monotonic() + seconds
        while self.index.unread(1):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.1)
        return True

    def read(self, names):
        results = report_reading.read_reports(self.reader, self.symbols, [os.path.join(self.folder, n) for n in names],
                                              self.memory, self.stopping)
        for name, parsed in zip(names, results):
            self.record(name, parsed)

    def record(self, name, parsed):
        """Records one report; one that the index refuses is filed as
        unreadable with the reason. A database that fails as a whole leaves
        the report to be read again."""
        try:
            summary = report_reading.summarize(parsed, self.store_of_symbols)
            self.index.set_summary(name, summary, report_reading.group_key(summary["signature"]))
            return
        except Exception as e:  # noqa: BLE001 - whatever the report holds, it must not stop the rest
            if self.index.is_transient(e):
                log("%s not recorded, to be read again: %s" % (name, e))
                return
            summary = report_reading.unreadable("the report could not be indexed: %s" % e)
        try:
            self.index.set_summary(name, summary, report_reading.group_key(summary["signature"]))
        except Exception as e:  # noqa: BLE001 - left to be read again
            log("%s not recorded, to be read again: %s" % (name, e))

    def _batch(self):
        names = []
        try:
            names.append(self.pending.get(timeout=0.5))
            while len(names) < BATCH:
                names.append(self.pending.get_nowait())
        except queue.Empty:
            pass
        return names

    def _run(self):
        last_scan = 0.0
        while not self.stopping.is_set():
            names = self._batch()
            try:
                if names:
                    self.read(sorted(set(names)))
                elif self.rescan.is_set() or time.monotonic() - last_scan > RESCAN_SECONDS:
                    self.rescan.clear()
                    last_scan = time.monotonic()
                    self._enqueue(self.index.unread(1000))
            except report_reading.ReaderStopped:
                return
            except Exception as e:  # noqa: BLE001 - a database hiccup must not end the worker
                log("reading reports failed: %s" % e)
                time.sleep(1)
            finally:
                with self.lock:
                    self.queued.difference_update(names)
