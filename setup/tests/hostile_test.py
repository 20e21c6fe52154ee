#!/usr/bin/env python3
"""LumoraSetup.exe against a hostile update server, one case per run.

usage: hostile_test.py CASE

The update server of the test build is the tests' scriptable server
(http/tests/servers/lumora_servers.py) on 127.0.0.1:E2E_PORT, serving a
signed tree and misbehaving on the paths a case names: trickling, stalling
before the response head, cutting a body short of its Content-Length,
announcing a huge length and stalling, or sending without end. Each case
checks the exit code, the text shown, the time from the Cancel click (or the
start) to the exit, and what is left of the package file. The test build
ends a transfer that moves under 1024 bytes in 5 seconds.

The environment is that of e2e.py (set by setup/tests/gui_tests.cmake).
"""

import os
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "http" / "tests" / "servers"))
import e2e  # noqa: E402
import lumora_servers as servers  # noqa: E402

STALL_WINDOW = 5
# The aim is well under a second; the bound leaves room for a loaded machine.
CANCEL_BOUND_MS = 5000
PACKAGE = f"/Lumora/packages/{e2e.STEM}.msi"


class HostileServer:
    """Serves the tree; a path ending in one of `behaviours`' keys is
    answered by that behaviour(handler, data) instead. Records the bytes of
    body sent per request as (path, bytes)."""

    def __init__(self, root, behaviours):
        self.root = root
        self.behaviours = behaviours
        self.sent = []
        self.stopping = threading.Event()
        self.server = servers.ScriptServer({"/": self.serve}, self.stopping, port=e2e.PORT)
        threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()

    def serve(self, handler, method, path, head):
        file = self.root / path.lstrip("/")
        if not file.is_file():
            body = b"not here\n"
            servers.send_head(handler, "404 Not Found", [("Content-Length", str(len(body)))])
            handler.wfile.write(body)
            return
        data = file.read_bytes()
        handler.head = head
        for suffix, behaviour in self.behaviours.items():
            if path.endswith(suffix):
                record = [path, 0]
                self.sent.append(record)
                handler.close_connection = True
                behaviour(handler, data, record)
                return
        servers.send_head(handler, "200 OK", [("Content-Length", str(len(data)))])
        handler.wfile.write(data)
        self.sent.append([path, len(data)])

    def requested(self, path):
        return [record[1] for record in self.sent if record[0] == path]

    def stop(self):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()


# --- behaviours ------------------------------------------------------------------

def write(handler, record, data):
    handler.wfile.write(data)
    handler.wfile.flush()
    record[1] += len(data)


def trickle(piece, interval):
    def behaviour(handler, data, record):
        servers.send_head(handler, "200 OK", [("Content-Length", str(len(data))), ("Connection", "close")])
        for position in range(0, len(data), piece):
            write(handler, record, data[position:position + piece])
            if handler.server.stopping.wait(interval):
                break
    return behaviour


def silent(handler, data, record):
    handler.server.stopping.wait(600)


def cut(announced, sent):
    """Announces `announced` bytes (None: the file's size), sends `sent`,
    then closes the connection."""
    def behaviour(handler, data, record):
        servers.send_head(handler, "200 OK", [("Content-Length", str(announced or len(data)))])
        write(handler, record, data[:sent])
        handler.connection.shutdown(servers.socket.SHUT_WR)
    return behaviour


def announce_and_stall(announced, sent):
    def behaviour(handler, data, record):
        servers.send_head(handler, "200 OK", [("Content-Length", str(announced))])
        write(handler, record, data[:sent])
        handler.server.stopping.wait(600)
    return behaviour


def request_field(handler, name):
    for line in handler.head.split(b"\r\n")[1:]:
        key, _, value = line.partition(b":")
        if key.strip().lower() == name.lower():
            return value.strip().decode("latin-1")
    return ""


def reset_once_then_ranges():
    """The first request: the whole file announced with an ETag, half of it
    sent, then a TCP reset. Later ones honour "Range: bytes=N-" when If-Range
    names the ETag. Each request's Range header ends its record."""
    etag = '"lumora-hostile-1"'
    calls = []

    def behaviour(handler, data, record):
        range_header, if_range = request_field(handler, b"Range"), request_field(handler, b"If-Range")
        record.append(range_header)
        calls.append(range_header)
        if range_header.startswith("bytes=") and if_range == etag:
            first = int(range_header[6:].rstrip("-"))
            servers.send_head(handler, "206 Partial Content", [
                ("Content-Length", str(len(data) - first)), ("ETag", etag),
                ("Content-Range", "bytes %d-%d/%d" % (first, len(data) - 1, len(data)))])
            write(handler, record, data[first:])
            return
        servers.send_head(handler, "200 OK", [("Content-Length", str(len(data))), ("ETag", etag)])
        if len(calls) > 1:
            write(handler, record, data)
            return
        write(handler, record, data[:len(data) // 2])
        time.sleep(0.2)  # let the client take the bytes before the reset
        # Closing with a zero linger time sends RST instead of FIN.
        handler.connection.setsockopt(servers.socket.SOL_SOCKET, servers.socket.SO_LINGER, b"\x01" + bytes(7))
        handler.connection.close()
    return behaviour


def endless(handler, data, record):
    """No length, the connection never ends: the file, then zeros for ever."""
    handler.wfile.write(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
    write(handler, record, data)
    block = bytes(65536)
    while not handler.server.stopping.is_set():
        write(handler, record, block)


# --- checks ----------------------------------------------------------------------

def package_files():
    """Package files left in either package folder of the prefix."""
    drive_c = e2e.prefix / "drive_c"
    found = []
    for pattern in ("users/*/AppData/Local/Temp/", "users/*/Temp/", "Program Files*/Common Files/Varnex/Kestrup/"):
        found += [Path(p) for p in drive_c.glob(pattern + e2e.STEM + ".msi")]
    return found


def check_nothing_left(what):
    left = {str(p): p.stat().st_size for p in package_files()}
    e2e.check_equal(left, {}, f"{what}: package files left")


def check_exit_after_click(report, what):
    taken = e2e.first(report, "exit-after-click-ms")
    print(f"{what}: exit {taken} ms after the click")
    e2e.check(taken is not None and int(taken) < CANCEL_BOUND_MS,
              f"{what}: exit within {CANCEL_BOUND_MS} ms of the click, took {taken}")


def run_case(name, behaviours, commands, tree=None, program="E2E_PROGRAM"):
    e2e.remove_stored_packages()
    tree = tree or e2e.standard_tree(e2e.package_bytes(300_000))
    server = HostileServer(tree.root, behaviours)
    try:
        app = e2e.app_folder(os.environ[program])
        started = time.time()
        report = e2e.run_driver(name, app, commands)
        print(f"{name}: driver done after {time.time() - started:.1f} s; requests {server.sent}")
        return report, server
    finally:
        server.stop()


# --- cases -----------------------------------------------------------------------

# Cancel while a transfer hangs on the server: (name, path suffix, behaviour,
# wait before the click). The package cases click once the package's
# signature has arrived (bar at 100), so the package transfer is in flight.
CANCEL_CASES = {
    "cancel_package_byte_every_4s": (".msi", trickle(1, 4), ["wait-progress", "100", "60"]),
    "cancel_package_512_bytes_per_second": (".msi", trickle(512, 1), ["wait-progress", "100", "60", "sleep", "500"]),
    "cancel_package_endless_body": (".msi", endless, ["wait-progress", "100", "60", "sleep", "1500"]),
    "cancel_descriptor_byte_every_4s": (".txt", trickle(1, 4), ["sleep", "1000"]),
    "cancel_descriptor_signature_before_head": (".txt.minisig", silent, ["sleep", "1000"]),
}


def cancel_case(name):
    suffix, behaviour, wait = CANCEL_CASES[name]
    report, server = run_case(name, {suffix: behaviour},
                              ["wait-progress-page", "60", *wait, "click", "2", "wait-exit", "30"])
    e2e.check_equal(e2e.first(report, "exit"), "1223", "exit code")
    e2e.check_equal(e2e.first(report, "error-box-seen"), "no", "no error box")
    check_exit_after_click(report, name)
    e2e.check(not e2e.RECORD.exists(), "no installer started")
    check_nothing_left(name)
    if suffix != ".msi":
        e2e.check_equal(server.requested(PACKAGE), [], "no package request")


# Failures without a click: (name, behaviours, text shown). The time is
# that of the whole run; the stall window is 5 s.
FAILURE_CASES = {
    "stall_before_head": ({".txt.minisig": silent},
                          f"Failed to load Minisign signature: less than 1024 bytes transferred in {STALL_WINDOW} seconds"),
    "package_cut_short": ({".msi": cut(None, 128_000)},
                          "Failed to load content: connection closed after 128000 of 300000 bytes"),
    "package_huge_length_then_stall": ({".msi": announce_and_stall(4_000_000_000, 1000)},
                                       f"Failed to load content: less than 1024 bytes transferred in {STALL_WINDOW} seconds"),
    "descriptor_huge_length_cut_short": ({".txt": cut(10_000_000_000, 1000)}, None),
    "signature_cut_short": ({".msi.minisig": cut(300, 100)},
                            "Failed to load Minisign signature: connection closed after 100 of 300 bytes"),
}


def failure_case(name):
    behaviours, text = FAILURE_CASES[name]
    tree = e2e.standard_tree(e2e.package_bytes(300_000))
    if text is None:  # the descriptor's size is only known once the tree is made
        size = len(tree.descriptors()[0].read_bytes())
        text = f"Failed to load content: connection closed after {min(size, 1000)} of 10000000000 bytes"
    started = time.time()
    report, _ = run_case(name, behaviours, ["wait-progress-page", "60", "wait-error-box", "60",
                                            "dismiss-error-box", "wait-exit", "30"], tree)
    print(f"{name}: ended after {time.time() - started:.1f} s")
    e2e.check_equal(e2e.first(report, "error-box-text"), text, "error box text")
    e2e.check_equal(e2e.first(report, "exit"), "1603", "exit code")
    e2e.check(not e2e.RECORD.exists(), "no installer started")
    check_nothing_left(name)


# A reset at half the package, once: the resuming program asks for the
# rest and installs; the default one fails, as it always did.
def resume_package_reset_once():
    report, server = run_case("resume_package_reset_once", {".msi": reset_once_then_ranges()}, ["wait-exit", "90"],
                              program="E2E_PROGRAM_RESUME")
    e2e.check_equal(e2e.first(report, "exit"), "0", "exit code")
    e2e.check_equal(e2e.first(report, "error-box-seen"), "no", "no error box")
    requests = [(record[1], record[2]) for record in server.sent if record[0] == PACKAGE]
    print("package requests (bytes sent, Range):", requests)
    e2e.check_equal(len(requests), 2, "the package was asked for twice")
    if len(requests) == 2:
        e2e.check_equal(requests[0], (150_000, ""), "the first request got half before the reset")
        kept = int(requests[1][1][6:-1]) if requests[1][1].startswith("bytes=") else None
        e2e.check(kept is not None and 0 < kept <= 150_000, f"the second asked for the rest: {requests[1][1]!r}")
        if kept:
            e2e.check_equal(requests[1][0], 300_000 - kept, "and got only the rest")
    stored = e2e.check_installer_parameters(e2e.recorded_parameters(), e2e.STEM, report, elevated=True)
    if stored:
        e2e.check(stored.read_bytes() == e2e.package_bytes(300_000), "the stored package is the served one")
    e2e.check_equal(e2e.partial_files(), [], "no partial file or record is left")


def restart_package_reset_once():
    report, server = run_case("restart_package_reset_once", {".msi": reset_once_then_ranges()},
                              ["wait-progress-page", "60", "wait-error-box", "60", "dismiss-error-box",
                               "wait-exit", "30"])
    text = e2e.first(report, "error-box-text") or ""
    e2e.check(text.startswith("Failed to load content: "), f"the reset's error is shown: {text!r}")
    e2e.check_equal(e2e.first(report, "exit"), "1603", "exit code")
    e2e.check_equal(len(server.requested(PACKAGE)), 1, "the package was asked for once")
    check_nothing_left("restart_package_reset_once")


CASES = {**{n: (lambda n=n: cancel_case(n)) for n in CANCEL_CASES},
         **{n: (lambda n=n: failure_case(n)) for n in FAILURE_CASES},
         "resume_package_reset_once": resume_package_reset_once,
         "restart_package_reset_once": restart_package_reset_once}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        sys.exit("usage: hostile_test.py CASE\ncases: " + " ".join(CASES))
    if e2e.work.exists():
        e2e.shutil.rmtree(e2e.work)
    e2e.work.mkdir(parents=True)
    CASES[sys.argv[1]]()
    if e2e.failures:
        print(f"{len(e2e.failures)} check(s) failed")
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
