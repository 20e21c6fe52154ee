"""The test case the crash view tests share: a certificate, a symbol store
with the sample filed, indexed report servers that the test stops, and a
PostgreSQL server of the class's own, started on first use."""

import contextlib
import os
import unittest

import view_fixture as fx

import report_index  # noqa: E402 (tools/report-server, on the path through view_fixture)
from report_server import ReportServer

AV, DIVIDE = 0xC0000005, 0xC0000094
BACKENDS = ("sqlite", "postgresql")


class ViewCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.certificate = fx.make_certificate(os.path.join(fx.WORK, "certificate"))
        cls.symbols = fx.fresh_folder("symbols")
        fx.file_symbols(cls.symbols, fx.SAMPLE)
        cls.stamp = fx.pe_time_stamp(fx.SAMPLE)
        cls.offsets = fx.sample_offsets()
        cls.resources = contextlib.ExitStack()
        cls.postgres = {"new database": None, "made": 0}

    @classmethod
    def tearDownClass(cls):
        cls.resources.close()

    def setUp(self):
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.stop()

    def database(self, backend, store):
        """The index location of `backend` for a server on `store`: a new
        PostgreSQL database, or the SQLite file in the store."""
        if backend == "sqlite":
            return os.path.join(store, "index.sqlite3")
        if self.postgres["new database"] is None:
            self.postgres["new database"] = self.resources.enter_context(
                fx.postgres_server(os.path.join(fx.WORK, "postgres")))
        self.postgres["made"] += 1
        return self.postgres["new database"]("view%d" % self.postgres["made"])

    def server(self, store, database=None, symbols=None, index=None, reader=None, **options):
        """An indexed report server on `store`, started; stopped by tearDown."""
        index = index or report_index.Index(database or os.path.join(store, "index.sqlite3"))
        server = ReportServer(*self.certificate, store, index=index, reader=reader or fx.READER,
                              symbols=self.symbols if symbols is None else symbols, **options)
        server.port = server.start()
        self.servers.append(server)
        return server

    def upload_all(self, server, bodies, status=200):
        for body in bodies:
            self.assertEqual(fx.upload(server.port, self.certificate[0], body), status)
        self.assert_all_read(server)

    def assert_all_read(self, server):
        self.assertTrue(server.indexer.wait_until_read(120), "every report read within 2 minutes")

    def groups(self, server):
        """{title: crashes} of every group."""
        return {g.title: g.crashes for g in server.index.groups()}

    def group_of(self, server, title):
        found = [g for g in server.index.groups() if g.title == title]
        self.assertEqual(len(found), 1, "one group titled %r" % title)
        return found[0]
