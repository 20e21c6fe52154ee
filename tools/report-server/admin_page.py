"""The maker's web page over the index: crash groups, most frequent first,
each with a per-day chart, and a page per group with the symbolized stack,
the exception record, the trace lines and the raw reports to download.

Plain HTTP, meant for the loopback address (or behind an authenticating
proxy): it shows what users' programs sent. Every text that comes from a
report is escaped and was capped in length when it was indexed; lists are
capped here.
"""

import datetime
import html
import http.server
import json
import os
import re
import threading

CHART_DAYS = 30
MAX_GROUPS = 500
MAX_REPORTS = 100

STYLE = """
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em 2em; color: #1d232b; }
h1 { font-size: 1.5em; margin-bottom: .2em; } h2 { font-size: 1.1em; margin-top: 1.6em; }
table { border-collapse: collapse; } td, th { padding: .35em .8em; border-bottom: 1px solid #dde2e8; text-align: left; vertical-align: middle; }
th { font-weight: 600; color: #556; } td.count { font-weight: 700; text-align: right; }
a { color: #0b57b5; text-decoration: none; } a:hover { text-decoration: underline; }
code, .mono { font-family: ui-monospace, monospace; font-size: 13px; }
.muted { color: #6b7480; } .unreadable { color: #a03020; }
ol.stack li { font-family: ui-monospace, monospace; font-size: 13px; margin: .15em 0; }
.place { color: #6b7480; } ul.trace { font-family: ui-monospace, monospace; font-size: 13px; }
svg rect { fill: #3a7bd5; }
"""

e = html.escape


def hex32(value):
    return "0x%08X" % value if isinstance(value, int) else "?"


def chart(days, counts):
    """A bar per day; hovering names the day and its count."""
    width, height, bar = 6 * len(days), 28, 5
    top = max([counts.get(d, 0) for d in days] + [1])
    bars = []
    for i, day in enumerate(days):
        n = counts.get(day, 0)
        h = 0 if n == 0 else max(2, round(n * height / top))
        bars.append('<rect x="%d" y="%d" width="%d" height="%d"><title>%s: %d</title></rect>'
                    % (i * 6, height - h, bar, h, day, n))
    return ('<svg class="chart" xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" role="img"'
            ' aria-label="reports per day">%s<line x1="0" y1="%d" x2="%d" y2="%d" stroke="#bbb"/></svg>'
            % (width, height + 1, "".join(bars), height, width, height))


def page(title, body):
    return ("<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>%s</title><style>%s</style>"
            "</head><body>%s</body></html>" % (e(title), STYLE, body)).encode("utf-8")


def groups_page(index, today=None):
    today = today or datetime.datetime.now(datetime.timezone.utc).date()
    days = [(today - datetime.timedelta(days=CHART_DAYS - 1 - i)).isoformat() for i in range(CHART_DAYS)]
    groups = index.groups(MAX_GROUPS)
    daily = index.daily_counts(days[0])
    rows = []
    for key, title, count, first, last, readable in groups:
        stamps = index.time_stamps(key)
        builds = ", ".join(hex32(s) for s in stamps[:5]) + (" …" if len(stamps) > 5 else "")
        rows.append('<tr class="group"><td class="count">%d</td><td class="title%s"><a href="/group/%s">%s</a></td>'
                    '<td>%s</td><td class="mono">%s</td><td class="mono">%s</td><td class="mono builds">%s</td></tr>'
                    % (count, "" if readable else " unreadable", e(key), e(title or ""), chart(days, daily.get(key, {})),
                       e(first), e(last), e(builds)))
    total, unread = index.count(), index.count(unread_only=True)
    body = ("<h1>Crashes</h1><p class=\"muted\"><span id=\"total\">%d</span> reports in %d groups"
            " (<span id=\"unread\">%d</span> not read yet); last %d days per group.</p>"
            "<table id=\"groups\"><thead><tr><th>Reports</th><th>Crash</th><th>Per day</th><th>First seen (UTC)</th>"
            "<th>Last seen (UTC)</th><th>Builds (time stamps)</th></tr></thead><tbody>%s</tbody></table>"
            % (total, len(groups), unread, CHART_DAYS, "".join(rows) or '<tr><td colspan="6">No reports yet.</td></tr>'))
    return page("Crashes", body)


def frame_item(frame):
    where = "%s+0x%X" % (frame["module"], frame["offset"])
    if frame.get("function"):
        return '<li><span class="function">%s</span> <span class="place">%s%s</span></li>' % (
            e(frame["function"]), e(where), e(" at " + frame["place"]) if frame.get("place") else "")
    return '<li><span class="where">%s</span></li>' % e(where)


def group_page(index, key):
    summary = index.group(key)
    if not summary:
        return None
    _, title, count, first, last, _ = summary
    reports = index.group_reports(key, MAX_REPORTS)
    details = json.loads(reports[0][4] or "{}")  # the newest report's
    stamps = index.time_stamps(key)
    parts = ['<h1>%s</h1><p class="muted"><span id="count">%d</span> reports, first %s, last %s (UTC);'
             ' builds %s. <a href="/">All crashes</a></p>'
             % (e(title), count, e(first), e(last), e(", ".join(hex32(s) for s in stamps[:20]) or "none"))]
    if "error" in details:
        parts.append('<h2>Unreadable</h2><p class="unreadable">%s</p>' % e(details["error"]))
    if details.get("frames"):
        more = details.get("frame_count", 0) - len(details["frames"])
        parts.append('<h2>Stack of the newest report</h2><ol class="stack" start="0">%s</ol>%s'
                     % ("".join(frame_item(f) for f in details["frames"]),
                        "<p class=\"muted\">%d more frames</p>" % more if more > 0 else ""))
    for i, x in enumerate(details.get("exceptions", [])):
        parts.append('<h2>Exception record %d</h2><p class="mono">code %s %s, flags %s, address %s<br>parameters: %s</p>'
                     % (i, hex32(x["code"]), e(x.get("name", "")), hex32(x["flags"]), hex32(x["address"]),
                        e(" ".join(hex32(p) for p in x["parameters"]) or "none")))
    if details.get("registers"):
        parts.append('<h2>Registers</h2><p class="mono">%s</p>'
                     % " &nbsp; ".join("%s=%s" % (e(n), hex32(v)) for n, v in details["registers"]))
    if details.get("trace"):
        parts.append('<h2>Trace lines</h2><ul class="trace">%s</ul>'
                     % "".join("<li>%s</li>" % e(line) for line in details["trace"]))
    if details.get("modules"):
        parts.append('<h2>Modules</h2><p class="mono">%s</p>' % "<br>".join(
            "%s, time stamp %s, base %s" % (e(m["name"]), hex32(m["time_stamp"]), hex32(m["base"]))
            for m in details["modules"]))
    parts.append('<h2>Reports</h2><ul id="reports">%s</ul>' % "".join(
        '<li><a href="/report/%d" download>%s</a> <span class="muted">%s, %s</span></li>'
        % (report_id, e(file), e(received), e(kind or "unreadable")) for report_id, file, received, kind, _ in reports))
    return page(title, "".join(parts))


class AdminServer:
    """The page on its own address; `index` is a report_index.Index and
    `folder` the folder of the stored reports."""

    def __init__(self, index, folder):
        self.index = index
        self.folder = folder
        self.httpd = None
        self.thread = None

    def start(self, address="127.0.0.1", port=0):
        admin = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                path = self.path.split("?", 1)[0]
                group = re.fullmatch(r"/group/([0-9a-f]{1,64})", path)
                report = re.fullmatch(r"/report/([0-9]{1,18})", path)
                if path == "/":
                    self.send(200, "text/html; charset=utf-8", groups_page(admin.index))
                elif group:
                    body = group_page(admin.index, group.group(1))
                    self.send(200 if body else 404, "text/html; charset=utf-8", body or page("Not found", "<h1>No such group</h1>"))
                elif report:
                    self.send_report(int(report.group(1)))
                else:
                    self.send(404, "text/html; charset=utf-8", page("Not found", "<h1>Not found</h1>"))

            def send_report(self, report_id):
                name = admin.index.report_file(report_id)
                path = os.path.join(admin.folder, name) if name and "/" not in name and not name.startswith(".") else None
                try:
                    with open(path, "rb") as f:
                        data = f.read()
                except (OSError, TypeError):
                    self.send(404, "text/html; charset=utf-8", page("Not found", "<h1>No such report</h1>"))
                    return
                self.send(200, "application/octet-stream", data, {"Content-Disposition": 'attachment; filename="%s"' % name})

            def send(self, status, content_type, body, extra=None):
                self.send_response(status)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'")
                self.send_header("X-Content-Type-Options", "nosniff")
                for name, value in (extra or {}).items():
                    self.send_header(name, value)
                self.end_headers()
                self.wfile.write(body)

        class Server(http.server.ThreadingHTTPServer):
            daemon_threads = True

        self.httpd = Server((address, port), Handler)
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        self.thread.start()
        return self.httpd.server_address[1]

    def stop(self):
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.thread.join(10)
            self.httpd = None
