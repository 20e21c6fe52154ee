#!/usr/bin/env python3
"""Crash tests in a 64-bit Wine prefix, where crash_host.exe runs under WOW64
as the setup program does on most users' machines: a crash on the worker is
still caught, uploaded and read back with the right first frame, and the
reporter's switch is read in the 64-bit registry view, not in Wow6432Node.

Environment: as crash_tests.py, with WINEPREFIX naming a 64-bit prefix.
"""

import os
import unittest

import crash_tests

# The registry views reg.exe is told to use: the 64-bit one, and the one a
# 32-bit program opens without KEY_WOW64_64KEY (Wow6432Node). Named on every
# call: which reg.exe Wine starts, and so its default view, depends on the
# loader that starts it.
VIEW_64 = ("/reg:64",)
VIEW_32 = ("/reg:32",)


class Wow64CrashTest(crash_tests.CrashTest):
    def setUp(self):
        super().setUp()
        syswow64 = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "syswow64")
        self.assertTrue(os.path.isdir(syswow64), "these tests run in a 64-bit prefix")

    def test_access_violation_on_the_worker_is_reported(self):
        self.check_crash_reported("av-worker", 0xC0000005, "fault_access_violation")

    def test_switch_is_read_in_the_64_bit_view(self):
        self.server()
        # Off in Wow6432Node alone: the reporter stays on.
        self.set_switch("REG_DWORD", "0", view=VIEW_32)
        self.assertEqual(self.run_host("filter").exit_code, 10)
        # Off in the 64-bit view: off.
        self.set_switch("REG_DWORD", "0", view=VIEW_64)
        self.assertEqual(self.run_host("filter").exit_code, 11)


def load_tests(loader, tests, pattern):
    """Only the cases above: the rest of the crash tests run once, in the
    32-bit prefix."""
    names = [name for name in loader.getTestCaseNames(Wow64CrashTest) if name in Wow64CrashTest.__dict__]
    return unittest.TestSuite(Wow64CrashTest(name) for name in names)


if __name__ == "__main__":
    unittest.main(verbosity=2)
