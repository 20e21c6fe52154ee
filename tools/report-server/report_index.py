"""The index of stored reports: SQLite in the store folder by default,
PostgreSQL (psycopg2) given by a postgresql:// URL when several report
servers share one database and one report folder.

The schema is versioned: MIGRATIONS[n] brings a database from version n to
n + 1, and every server brings the database to the newest version when it
starts, under a lock so that two servers starting together do it once. Each
stored file has at most one row (the file name is unique), so indexing a file
twice, by the upload and by the start-up scan of another server, adds it
once.
"""

import contextlib
import queue
import sqlite3
import threading

CONNECTIONS = 8          # per server: bounds the database's connections
CONNECTION_WAIT = 60     # seconds a request waits for a free connection

# Version 1: the reports and what they are about. Version 2: their crash
# signature, group and capped details for the web page (rows without a group
# are read again by the server: older rows after the upgrade, and new uploads,
# see report_indexer).
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
]
VERSION = len(MIGRATIONS)

ROW_FIELDS = ("file", "received", "kind", "module", "time_stamp", "code", "frames", "readable", "error",
              "signature", "group_key", "title", "details")


class SchemaTooNew(Exception):
    pass


class Index:
    def __init__(self, location):
        """`location`: a postgresql:// URL, or the path of an SQLite file."""
        self.location = location
        self.postgres = location.startswith(("postgresql://", "postgres://"))
        if self.postgres:
            import psycopg2  # only needed for PostgreSQL
            self.driver = psycopg2
            self.id_column = "BIGSERIAL PRIMARY KEY"
        else:
            self.id_column = "INTEGER PRIMARY KEY AUTOINCREMENT"
        self.idle = queue.LifoQueue()
        self.slots = threading.BoundedSemaphore(CONNECTIONS)

    def _open(self):
        if self.postgres:
            return self.driver.connect(self.location, connect_timeout=10)
        connection = sqlite3.connect(self.location, timeout=30, isolation_level=None, check_same_thread=False)
        connection.execute("PRAGMA journal_mode=WAL")
        return connection

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
        every other exclusive transaction on the database (schema changes)."""
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
        with self.transaction(exclusive=True) as c:
            c.execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")
            row = c.execute("SELECT version FROM schema_version").fetchone()
            found = row[0] if row else 0
            if found > VERSION:
                raise SchemaTooNew("the index has schema version %d; this server knows up to %d" % (found, VERSION))
            for version in range(found, up_to):
                for statement in MIGRATIONS[version]:
                    c.execute(statement.format(id_column=self.id_column))
            if row is None:
                c.execute("INSERT INTO schema_version (version) VALUES (?)", (max(found, up_to),))
            else:
                c.execute("UPDATE schema_version SET version = ?", (max(found, up_to),))
            return found

    def add(self, row):
        """Adds a report row (a dict with ROW_FIELDS); False when its file was indexed already."""
        with self.transaction() as c:
            c.execute("INSERT INTO reports (%s) VALUES (%s) ON CONFLICT (file) DO NOTHING"
                      % (", ".join(ROW_FIELDS), ", ".join("?" * len(ROW_FIELDS))),
                      tuple(row[f] for f in ROW_FIELDS))
            return c.rowcount == 1

    def files(self):
        with self.transaction() as c:
            return {r[0] for r in c.execute("SELECT file FROM reports").fetchall()}

    def unread(self, limit):
        """Files of up to `limit` rows not read yet (no group), oldest first."""
        with self.transaction() as c:
            return [r[0] for r in c.execute("SELECT file FROM reports WHERE group_key IS NULL ORDER BY id LIMIT ?",
                                            (limit,)).fetchall()]

    def set_summary(self, file, summary, key):
        """What reading the report of `file` gave (report_reading.summarize)."""
        with self.transaction() as c:
            c.execute("UPDATE reports SET kind = ?, module = ?, time_stamp = ?, code = ?, frames = ?, readable = ?,"
                      " error = ?, signature = ?, group_key = ?, title = ?, details = ? WHERE file = ?",
                      (summary["kind"], summary["module"], summary["time_stamp"], summary["code"], summary["frames"],
                       1 if summary["readable"] else 0, summary["error"], summary["signature"], key, summary["title"],
                       summary["details"], file))

    def groups(self, limit=500):
        """Groups, most frequent first: (key, title, count, first, last, readable)."""
        with self.transaction() as c:
            return c.execute(
                "SELECT group_key, MIN(title), COUNT(*), MIN(received), MAX(received), MIN(readable) FROM reports"
                " WHERE group_key IS NOT NULL GROUP BY group_key ORDER BY COUNT(*) DESC, MAX(received) DESC"
                " LIMIT ?", (limit,)).fetchall()

    def group(self, key):
        """(key, title, count, first, last, readable) of one group, or None."""
        with self.transaction() as c:
            row = c.execute("SELECT group_key, MIN(title), COUNT(*), MIN(received), MAX(received), MIN(readable)"
                            " FROM reports WHERE group_key = ? GROUP BY group_key", (key,)).fetchone()
            return tuple(row) if row else None

    def daily_counts(self, since_day):
        """{group key: {"YYYY-MM-DD": count}} for reports received on `since_day` or later."""
        with self.transaction() as c:
            rows = c.execute("SELECT group_key, SUBSTR(received, 1, 10), COUNT(*) FROM reports"
                             " WHERE received >= ? AND group_key IS NOT NULL GROUP BY group_key, SUBSTR(received, 1, 10)",
                             (since_day,)).fetchall()
        counts = {}
        for key, day, count in rows:
            counts.setdefault(key, {})[day] = count
        return counts

    def time_stamps(self, key):
        with self.transaction() as c:
            return [r[0] for r in c.execute("SELECT DISTINCT time_stamp FROM reports WHERE group_key = ?"
                                            " AND time_stamp IS NOT NULL ORDER BY time_stamp", (key,)).fetchall()]

    def group_reports(self, key, limit=100):
        """(id, file, received, kind, details) of a group, newest first."""
        with self.transaction() as c:
            return c.execute("SELECT id, file, received, kind, details FROM reports WHERE group_key = ?"
                             " ORDER BY received DESC, id DESC LIMIT ?", (key, limit)).fetchall()

    def report_file(self, report_id):
        with self.transaction() as c:
            row = c.execute("SELECT file FROM reports WHERE id = ?", (report_id,)).fetchone()
            return row[0] if row else None

    def count(self, unread_only=False):
        with self.transaction() as c:
            return c.execute("SELECT COUNT(*) FROM reports" +
                             (" WHERE group_key IS NULL" if unread_only else "")).fetchone()[0]


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
