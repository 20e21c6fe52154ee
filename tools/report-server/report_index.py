"""The index of stored reports: SQLite in the store folder by default,
PostgreSQL (psycopg2) given by a postgresql:// URL when several report
servers share one database and one report folder.

The schema is versioned: MIGRATIONS[n] brings a database from version n to
n + 1, and every server brings the database to the newest version when it
starts, under a lock so that two servers starting together do it once. Each
stored file has at most one row (the file name is unique), so indexing a file
twice, by the upload and by the start-up scan of another server, adds it
once.

Texts that come from a report (module names, titles, signatures, reasons)
are stored as bytes (UTF-8, lone surrogates passed through), and the rest of
what a report says as JSON, whose escapes are ASCII: only parameters carry
them, and PostgreSQL, whose text type cannot hold NUL, keeps them whole.
"""

import contextlib
import datetime
import json
import queue
import sqlite3
import threading

CONNECTIONS = 8          # per server: bounds the database's connections
CONNECTION_WAIT = 60     # seconds a request waits for a free connection
# A .bxr report follows its .bxo report within seconds (the reporter sends
# it when the server answers 449, after the .bxo report is stored); an hour
# allows for a slow client.
PAIRING_WINDOW = datetime.timedelta(hours=1)
TIME_FORMAT = "%Y-%m-%d %H:%M:%S"

# Version 1: the reports and what they are about. Version 2: their crash
# signature, group and capped details for the web page. Version 3: texts as
# bytes; groups in a table of their own with the frames of their signature;
# the .bxo report each .bxr report details (crash_of), found by the crash's
# fingerprint; the builds each report lacks symbols for; and `pending`, set
# for every report to be read (again), which keeps a report in its group
# while it is read again. Every report is read again after the upgrade.
MIGRATIONS = [
    [
        "CREATE TABLE reports (id {id_column}, file TEXT NOT NULL UNIQUE, received TEXT NOT NULL,"
        " kind TEXT, module TEXT, time_stamp BIGINT, code BIGINT, frames TEXT NOT NULL,"
        " readable INTEGER NOT NULL, error TEXT)",
        "CREATE INDEX reports_received ON reports (received)",
    ],
    [
        "ALTER TABLE reports ADD COLUMN signature TEXT",
        "ALTER TABLE reports ADD COLUMN group_key TEXT",
        "ALTER TABLE reports ADD COLUMN title TEXT",
        "ALTER TABLE reports ADD COLUMN details TEXT",
        "CREATE INDEX reports_group ON reports (group_key, received)",
    ],
    [
        "CREATE TABLE crash_groups (group_key TEXT PRIMARY KEY, title {bytes} NOT NULL, signature {bytes} NOT NULL,"
        " top_frames TEXT NOT NULL)",
        {"sqlite": "INSERT INTO crash_groups SELECT group_key, CAST(MIN(title) AS BLOB),"
                   " CAST(MIN(signature) AS BLOB), '[]' FROM reports WHERE group_key IS NOT NULL GROUP BY group_key",
         "postgres": "INSERT INTO crash_groups SELECT group_key, convert_to(MIN(title), 'UTF8'),"
                     " convert_to(MIN(signature), 'UTF8'), '[]' FROM reports WHERE group_key IS NOT NULL"
                     " GROUP BY group_key"},
        "ALTER TABLE reports DROP COLUMN title",
        "ALTER TABLE reports DROP COLUMN signature",
        {"sqlite": "UPDATE reports SET module = CAST(module AS BLOB), error = CAST(error AS BLOB)",
         "postgres": "ALTER TABLE reports ALTER COLUMN module TYPE BYTEA USING convert_to(module, 'UTF8'),"
                     " ALTER COLUMN error TYPE BYTEA USING convert_to(error, 'UTF8')"},
        "ALTER TABLE reports ADD COLUMN fingerprint TEXT",
        "ALTER TABLE reports ADD COLUMN crash_of BIGINT",
        "ALTER TABLE reports ADD COLUMN pending INTEGER NOT NULL DEFAULT 1",
        "CREATE INDEX reports_pending ON reports (pending, id)",
        "CREATE INDEX reports_fingerprint ON reports (fingerprint)",
        "CREATE INDEX reports_crash_of ON reports (crash_of)",
        "CREATE TABLE missing_symbols (report_id BIGINT NOT NULL, module {bytes} NOT NULL,"
        " time_stamp BIGINT NOT NULL, own INTEGER NOT NULL)",
        "CREATE INDEX missing_symbols_report ON missing_symbols (report_id)",
        "CREATE INDEX missing_symbols_build ON missing_symbols (module, time_stamp)",
    ],
]
VERSION = len(MIGRATIONS)


class SchemaTooNew(Exception):
    pass


def as_bytes(text):
    return None if text is None else text.encode("utf-8", "surrogatepass")


def as_text(value):
    """A stored text back as str (PostgreSQL gives bytes as a memoryview)."""
    if value is None or isinstance(value, str):
        return value
    return bytes(value).decode("utf-8", "surrogatepass")


class Index:
    def __init__(self, location):
        """`location`: a postgresql:// URL, or the path of an SQLite file."""
        self.location = location
        self.postgres = location.startswith(("postgresql://", "postgres://"))
        if self.postgres:
            import psycopg2  # only needed for PostgreSQL
            self.driver = psycopg2
            self.id_column = "BIGSERIAL PRIMARY KEY"
            self.bytes_column = "BYTEA"
        else:
            self.driver = sqlite3
            self.id_column = "INTEGER PRIMARY KEY AUTOINCREMENT"
            self.bytes_column = "BLOB"
        self.idle = queue.LifoQueue()
        self.slots = threading.BoundedSemaphore(CONNECTIONS)

    def _open(self):
        if self.postgres:
            return self.driver.connect(self.location, connect_timeout=10)
        connection = sqlite3.connect(self.location, timeout=30, isolation_level=None, check_same_thread=False)
        connection.execute("PRAGMA journal_mode=WAL")
        return connection

    def is_transient(self, error):
        """Whether `error` is the database's state (a lost connection, a lock
        held too long) rather than anything about the data written."""
        transient = (self.driver.OperationalError, TimeoutError)
        if self.postgres:  # psycopg2's word for a connection that is gone
            transient += (self.driver.InterfaceError,)
        return isinstance(error, transient)

    @contextlib.contextmanager
    def _connection(self):
        """One of at most CONNECTIONS connections; one that failed is closed, not reused."""
        if not self.slots.acquire(timeout=CONNECTION_WAIT):
            raise TimeoutError("no free database connection within %d s" % CONNECTION_WAIT)
        try:
            try:
                connection = self.idle.get_nowait()
            except queue.Empty:
                connection = self._open()
            try:
                yield connection
            except BaseException:
                connection.close()
                raise
            self.idle.put(connection)
        finally:
            self.slots.release()

    def _sql(self, text):
        return text.replace("?", "%s") if self.postgres else text

    @contextlib.contextmanager
    def transaction(self, exclusive=False):
        """A cursor inside one transaction, committed when the block ends
        normally and rolled back otherwise. `exclusive` serializes it against
        every other exclusive transaction on the database (schema changes,
        pairing reports)."""
        with self._connection() as connection:
            cursor = connection.cursor()
            try:
                if self.postgres:
                    if exclusive:
                        cursor.execute("SELECT pg_advisory_xact_lock(7315001)")
                else:
                    cursor.execute("BEGIN IMMEDIATE" if exclusive else "BEGIN")
                yield _Cursor(cursor, self._sql)
            except BaseException:
                connection.rollback()
                raise
            else:
                connection.commit()
            finally:
                cursor.close()

    def close(self):
        while True:
            try:
                self.idle.get_nowait().close()
            except queue.Empty:
                return

    def version(self):
        with self.transaction(exclusive=True) as c:
            c.execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")
            row = c.execute("SELECT version FROM schema_version").fetchone()
            return row[0] if row else 0

    def migrate(self, up_to=VERSION):
        """Brings the schema to version `up_to`; returns the version found."""
        backend = "postgres" if self.postgres else "sqlite"
        with self.transaction(exclusive=True) as c:
            c.execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")
            row = c.execute("SELECT version FROM schema_version").fetchone()
            found = row[0] if row else 0
            if found > VERSION:
                raise SchemaTooNew("the index has schema version %d; this server knows up to %d" % (found, VERSION))
            for version in range(found, up_to):
                for statement in MIGRATIONS[version]:
                    statement = statement[backend] if isinstance(statement, dict) else statement
                    c.execute(statement.format(id_column=self.id_column, bytes=self.bytes_column))
            if row is None:
                c.execute("INSERT INTO schema_version (version) VALUES (?)", (max(found, up_to),))
            else:
                c.execute("UPDATE schema_version SET version = ?", (max(found, up_to),))
            return found

    # --- recording ----------------------------------------------------------

    def add(self, file, received, kind):
        """Adds the row of a stored file, to be read; False when its file was indexed already."""
        with self.transaction() as c:
            c.execute("INSERT INTO reports (file, received, kind, frames, readable) VALUES (?, ?, ?, '[]', 0)"
                      " ON CONFLICT (file) DO NOTHING", (file, received, kind))
            return c.rowcount == 1

    def files(self):
        with self.transaction() as c:
            return {r[0] for r in c.execute("SELECT file FROM reports").fetchall()}

    def unread(self, limit):
        """Files of up to `limit` reports to be read (again), oldest first."""
        with self.transaction() as c:
            return [r[0] for r in c.execute("SELECT file FROM reports WHERE pending = 1 ORDER BY id LIMIT ?",
                                            (limit,)).fetchall()]

    def set_summary(self, file, summary, key):
        """What reading the report of `file` gave (report_reading.summarize),
        in group `key`; pairs a .bxr report with its .bxo report."""
        with self.transaction(exclusive=True) as c:
            row = c.execute("SELECT id, received FROM reports WHERE file = ?", (file,)).fetchone()
            if row is None:
                return
            report_id, received = row
            c.execute("UPDATE reports SET kind = ?, module = ?, time_stamp = ?, code = ?, frames = ?, readable = ?,"
                      " error = ?, group_key = ?, details = ?, fingerprint = ?, pending = 0 WHERE id = ?",
                      (summary["kind"], as_bytes(summary["module"]), summary["time_stamp"], summary["code"],
                       summary["frames"], 1 if summary["readable"] else 0, as_bytes(summary["error"]), key,
                       summary["details"], summary["fingerprint"], report_id))
            c.execute("INSERT INTO crash_groups (group_key, title, signature, top_frames) VALUES (?, ?, ?, ?)"
                      " ON CONFLICT (group_key) DO UPDATE SET top_frames = excluded.top_frames",
                      (key, as_bytes(summary["title"]), as_bytes(summary["signature"]),
                       json.dumps(summary["top_frames"])))
            c.execute("DELETE FROM missing_symbols WHERE report_id = ?", (report_id,))
            for module, time_stamp, own in summary["missing"]:
                c.execute("INSERT INTO missing_symbols (report_id, module, time_stamp, own) VALUES (?, ?, ?, ?)",
                          (report_id, as_bytes(module), time_stamp, 1 if own else 0))
            if summary["fingerprint"] and summary["kind"] in ("bxo", "bxr"):
                self._pair(c, report_id, summary["kind"], summary["fingerprint"], received)

    @staticmethod
    def _pair(c, report_id, kind, fingerprint, received):
        """Links a .bxr report to the .bxo report of the same crash: one with
        the same fingerprint that came at most PAIRING_WINDOW before it (the
        latest of them). Either may be read first, so both look. Only the
        times decide: reports found in the folder at start-up get their rows
        in name order, which within a second is random."""
        now = datetime.datetime.strptime(received, TIME_FORMAT)
        if kind == "bxr":
            earliest = (now - PAIRING_WINDOW).strftime(TIME_FORMAT)
            found = c.execute("SELECT id FROM reports WHERE kind = 'bxo' AND fingerprint = ? AND received >= ?"
                              " AND received <= ? ORDER BY received DESC, id DESC LIMIT 1",
                              (fingerprint, earliest, received)).fetchone()
            if found:
                c.execute("UPDATE reports SET crash_of = ? WHERE id = ?", (found[0], report_id))
        else:
            latest = (now + PAIRING_WINDOW).strftime(TIME_FORMAT)
            c.execute("UPDATE reports SET crash_of = ? WHERE kind = 'bxr' AND fingerprint = ? AND crash_of IS NULL"
                      " AND received >= ? AND received <= ?", (report_id, fingerprint, received, latest))

    def missing_builds(self):
        """Every (module, time stamp) some report lacks symbols for."""
        with self.transaction() as c:
            return [(as_text(m), t) for m, t in
                    c.execute("SELECT DISTINCT module, time_stamp FROM missing_symbols").fetchall()]

    def read_again(self, module, time_stamp):
        """Marks the reports that lack symbols for a build to be read again;
        returns how many."""
        with self.transaction() as c:
            c.execute("UPDATE reports SET pending = 1 WHERE pending = 0 AND id IN"
                      " (SELECT report_id FROM missing_symbols WHERE module = ? AND time_stamp = ?)",
                      (as_bytes(module), time_stamp))
            return c.rowcount

    # --- the page -----------------------------------------------------------

    _GROUPS = ("SELECT g.group_key, g.title, g.top_frames, n.crashes, n.files, n.first, n.last, n.readable"
               " FROM (SELECT group_key, COUNT(*) - COUNT(crash_of) AS crashes, COUNT(*) AS files,"
               " MIN(received) AS first, MAX(received) AS last, MIN(readable) AS readable FROM reports"
               " WHERE group_key IS NOT NULL{where} GROUP BY group_key) n"
               " JOIN crash_groups g ON g.group_key = n.group_key")

    @staticmethod
    def _group(row):
        key, title, top_frames, crashes, files, first, last, readable = row
        return Group(key, as_text(title), json.loads(top_frames), crashes, files, first, last, bool(readable))

    def groups(self, limit=500):
        """Groups (Group), the most crashes first."""
        with self.transaction() as c:
            rows = c.execute(self._GROUPS.format(where="") + " ORDER BY n.crashes DESC, n.last DESC LIMIT ?",
                             (limit,)).fetchall()
        return [self._group(r) for r in rows]

    def group(self, key):
        """One group (Group), or None."""
        with self.transaction() as c:
            row = c.execute(self._GROUPS.format(where=" AND group_key = ?"), (key,)).fetchone()
        return self._group(row) if row else None

    def daily_counts(self, since_day):
        """{group key: {"YYYY-MM-DD": crashes}} for reports received on `since_day` or later."""
        with self.transaction() as c:
            rows = c.execute("SELECT group_key, SUBSTR(received, 1, 10), COUNT(*) FROM reports"
                             " WHERE received >= ? AND group_key IS NOT NULL AND crash_of IS NULL"
                             " GROUP BY group_key, SUBSTR(received, 1, 10)", (since_day,)).fetchall()
        counts = {}
        for key, day, count in rows:
            counts.setdefault(key, {})[day] = count
        return counts

    def builds(self, key=None):
        """{group key: [(module, time stamp, crashes)]}, the most crashes first."""
        with self.transaction() as c:
            rows = c.execute("SELECT group_key, module, time_stamp, COUNT(*) FROM reports"
                             " WHERE group_key IS NOT NULL AND crash_of IS NULL AND time_stamp IS NOT NULL" +
                             (" AND group_key = ?" if key else "") +
                             " GROUP BY group_key, module, time_stamp ORDER BY COUNT(*) DESC, time_stamp",
                             (key,) if key else ()).fetchall()
        builds = {}
        for group_key, module, time_stamp, count in rows:
            builds.setdefault(group_key, []).append((as_text(module), time_stamp, count))
        return builds

    def missing(self, key):
        """[(module, time stamp, the program's own module, reports)] without
        symbols in a group; the program's own first."""
        with self.transaction() as c:
            rows = c.execute("SELECT m.module, m.time_stamp, MAX(m.own), COUNT(DISTINCT r.id) FROM missing_symbols m"
                             " JOIN reports r ON r.id = m.report_id WHERE r.group_key = ?"
                             " GROUP BY m.module, m.time_stamp ORDER BY MAX(m.own) DESC, COUNT(DISTINCT r.id) DESC",
                             (key,)).fetchall()
        return [(as_text(m), t, bool(own), n) for m, t, own, n in rows]

    def errors(self, key, limit=100):
        """[(reason, reports)] of the unreadable reports of a group, the most frequent first."""
        with self.transaction() as c:
            rows = c.execute("SELECT error, COUNT(*) FROM reports WHERE group_key = ? AND error IS NOT NULL"
                             " GROUP BY error ORDER BY COUNT(*) DESC LIMIT ?", (key, limit)).fetchall()
        return [(as_text(e), n) for e, n in rows]

    def group_reports(self, key, limit=100):
        """(id, file, received, kind, details, crash_of) of a group, newest first."""
        with self.transaction() as c:
            return c.execute("SELECT id, file, received, kind, details, crash_of FROM reports WHERE group_key = ?"
                             " ORDER BY received DESC, id DESC LIMIT ?", (key, limit)).fetchall()

    def report_file(self, report_id):
        with self.transaction() as c:
            row = c.execute("SELECT file FROM reports WHERE id = ?", (report_id,)).fetchone()
            return row[0] if row else None

    def count(self, unread_only=False):
        """Stored report files (those still to be read)."""
        with self.transaction() as c:
            return c.execute("SELECT COUNT(*) FROM reports" +
                             (" WHERE pending = 1" if unread_only else "")).fetchone()[0]

    def crashes(self):
        """Crashes: report files but the .bxr reports that detail a .bxo report."""
        with self.transaction() as c:
            return c.execute("SELECT COUNT(*) FROM reports WHERE crash_of IS NULL").fetchone()[0]


class Group:
    def __init__(self, key, title, top_frames, crashes, files, first, last, readable):
        self.key = key
        self.title = title
        self.top_frames = top_frames
        self.crashes = crashes
        self.files = files
        self.first = first
        self.last = last
        self.readable = readable


class _Cursor:
    """The one cursor interface of both drivers, with "?" parameters."""

    def __init__(self, cursor, sql):
        self.cursor = cursor
        self.sql = sql

    def execute(self, text, parameters=()):
        self.cursor.execute(self.sql(text), parameters)
        return self

    def fetchone(self):
        return self.cursor.fetchone()

    def fetchall(self):
        return self.cursor.fetchall()

    @property
    def rowcount(self):
        return self.cursor.rowcount
