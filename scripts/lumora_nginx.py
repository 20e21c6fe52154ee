#!/usr/bin/env python3
"""nginx on 127.0.0.1 for the tests, the benchmarks and the demo: the one
place that writes its configuration, starts it, waits for it and stops it.

Everything nginx writes (configuration, pid, logs, temporary files) stays in
the state folder given. Every wait is bounded. The access log
STATE/access.log has one line per request in LOG_FORMAT:

    METHOD REQUEST-URI STATUS BODY-BYTES-SENT

The request URI is as the client sent it (percent-escapes and query
included); requests() decodes it. STATE/ranges.log has the same lines with
the request's Range header after them, in double quotes ("" when there was
none); ranges() reads it.

Special locations, asked for by name (--location NAME, or locations=[...]):
  nolength   /nolength/... answers without Content-Length (SSI processing
             drops it)
  marker     /marker answers 204 (a request that only marks the log)

As a module (tests in Python):
    server = lumora_nginx.Nginx(state, [lumora_nginx.site(port, root, ...)])
    server.requests(); server.clear_log(); server.stop()

As a command (shell scripts; nginx runs on after the command returns):
    lumora_nginx.py start STATE --port N --root DIR [--location NAME]...
                    [--limit-rate REGEX RATE]
    lumora_nginx.py stop STATE
"""

import argparse
import os
import signal
import socket
import subprocess
import sys
import time
import urllib.parse

LOCAL = "127.0.0.1"
LOG_FORMAT = "$request_method $request_uri $status $body_bytes_sent"
RANGES_FORMAT = LOG_FORMAT + ' "$http_range"'
START_SECONDS = 10
STOP_SECONDS = 10

SPECIAL_LOCATIONS = {
    "nolength": "location /nolength/ { ssi on; ssi_types *; }",
    "marker": "location = /marker { return 204; }",
}


def limit_rate(pattern, rate):
    """A location that sends the paths matching `pattern` at `rate` (nginx's
    size syntax, bytes per second: "20k")."""
    return "location ~ %s { limit_rate %s; }" % (pattern, rate)


def site(port, root, locations=(), tls=None):
    """One server block on 127.0.0.1:port serving `root`. `locations` are
    names of SPECIAL_LOCATIONS or location blocks as text; `tls` is a
    (certificate chain, key) pair of files."""
    lines = ["listen %s:%d%s;" % (LOCAL, port, " ssl" if tls else ""), "root %s;" % root]
    if tls:
        lines.append("ssl_certificate %s; ssl_certificate_key %s;" % tls)
    lines += [SPECIAL_LOCATIONS.get(location, location) for location in locations]
    return {"port": port, "text": "    server {\n%s\n    }\n" % "".join("        %s\n" % line for line in lines)}


def config(state, sites):
    temp = "".join("    %s_temp_path %s/tmp;\n" % (kind, state)
                   for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    # One process, running as whoever starts it (no workers under another
    # user that might not read the tree).
    return ("daemon off;\nmaster_process off;\npid %s/nginx.pid;\nerror_log %s/error.log;\n"
            "events { worker_connections 64; }\n"
            "http {\n    log_format lumora '%s';\n    access_log %s/access.log lumora;\n"
            "    log_format lumora_ranges '%s';\n    access_log %s/ranges.log lumora_ranges;\n%s"
            "    default_type application/octet-stream;\n%s}\n"
            % (state, state, LOG_FORMAT, state, RANGES_FORMAT, state, temp, "".join(s["text"] for s in sites)))


def accepts(port):
    try:
        with socket.create_connection((LOCAL, port), timeout=1):
            return True
    except OSError:
        return False


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A child of ours that ended but was not reaped yet is gone.
    try:
        return os.waitpid(pid, os.WNOHANG)[0] != pid
    except ChildProcessError:
        return True


def stop_pid(pid, seconds=STOP_SECONDS):
    """TERM, a bounded wait, then KILL and another bounded wait."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        if wait_until(lambda: not pid_alive(pid), seconds):
            return


def read_pid(state):
    try:
        with open(os.path.join(state, "nginx.pid")) as f:
            return int(f.read().strip())
    except (FileNotFoundError, ValueError):
        return None


class Nginx:
    """nginx serving `sites` (from site()), started at once; raises
    RuntimeError with nginx's error log when a port does not accept
    connections within START_SECONDS."""

    def __init__(self, state, sites, detach=False):
        self.state = os.path.abspath(str(state))
        self.log = os.path.join(self.state, "access.log")
        self.ports = [s["port"] for s in sites]
        os.makedirs(os.path.join(self.state, "tmp"), exist_ok=True)
        stop_state(self.state)  # one left from an interrupted run
        for name in ("access.log", "ranges.log", "error.log"):
            open(os.path.join(self.state, name), "w").close()
        conf = os.path.join(self.state, "nginx.conf")
        with open(conf, "w") as f:
            f.write(config(self.state, sites))
        # A session of its own: a command's caller (ctest, a shell script)
        # does not wait for nginx's output, and nginx outlives the command.
        self.process = subprocess.Popen(
            ["nginx", "-p", self.state, "-c", conf, "-e", os.path.join(self.state, "error.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=detach)
        if not (wait_until(lambda: self.process.poll() is not None or all(map(accepts, self.ports)),
                           START_SECONDS) and self.process.poll() is None):
            self.stop()
            with open(os.path.join(self.state, "error.log")) as f:
                raise RuntimeError("nginx did not start on 127.0.0.1 ports %s:\n%s" % (self.ports, f.read()))

    def requests(self):
        """(method, path, status, bytes) of every request so far; the path
        without its query, percent-decoded."""
        out = []
        with open(self.log, encoding="utf-8", errors="replace") as f:
            for line in f:
                method, uri, status, size = line.rstrip("\n").split(" ")
                path = urllib.parse.unquote(uri.partition("?")[0])
                out.append((method, path, int(status), int(size)))
        return out

    def ranges(self):
        """(method, path, status, bytes, Range header) of every request so
        far; the Range header is "" when there was none."""
        out = []
        with open(os.path.join(self.state, "ranges.log"), encoding="utf-8", errors="replace") as f:
            for line in f:
                head, _, quoted = line.rstrip("\n").partition(' "')
                method, uri, status, size = head.split(" ")
                path = urllib.parse.unquote(uri.partition("?")[0])
                range_header = quoted[:-1]
                out.append((method, path, int(status), int(size), "" if range_header == "-" else range_header))
        return out

    def clear_log(self):
        open(self.log, "w").close()
        open(os.path.join(self.state, "ranges.log"), "w").close()
        os.kill(self.process.pid, signal.SIGUSR1)  # reopen the log file

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(STOP_SECONDS)
        try:
            os.remove(os.path.join(self.state, "nginx.pid"))
        except FileNotFoundError:
            pass


def stop_state(state):
    """Stops the nginx whose pid file is in `state`, if it runs."""
    pid = read_pid(state)
    if pid is not None:
        stop_pid(pid)
        try:
            os.remove(os.path.join(state, "nginx.pid"))
        except FileNotFoundError:
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    start = sub.add_parser("start", help="start nginx and return once it accepts connections")
    start.add_argument("state")
    start.add_argument("--port", type=int, required=True)
    start.add_argument("--root", required=True)
    start.add_argument("--location", action="append", default=[], choices=sorted(SPECIAL_LOCATIONS))
    start.add_argument("--limit-rate", nargs=2, metavar=("REGEX", "RATE"))
    stop = sub.add_parser("stop", help="stop the nginx of STATE (bounded waits)")
    stop.add_argument("state")
    args = parser.parse_args()
    state = os.path.abspath(args.state)
    if args.command == "stop":
        stop_state(state)
        return 0
    locations = list(args.location)
    if args.limit_rate:
        locations.append(limit_rate(*args.limit_rate))
    try:
        Nginx(state, [site(args.port, os.path.abspath(args.root), locations)], detach=True)
    except RuntimeError as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
