"""The maker's web page over the index: crash groups, the most crashes
first, each with a per-day chart, and a page per group with what makes its
signature, its builds, the symbols it lacks, the newest report's stack,
exception record and trace lines, and the raw reports to download.

Counts are crashes: a .bxr report that details a .bxo report is one crash
with it (see report_index).

Plain HTTP, meant for the loopback address (or behind an authenticating
proxy): it shows what users' programs sent. Every text that comes from a
report is escaped with its invisible characters marked (visible_text) and
was capped in length when it was indexed; lists are capped here; long lines
wrap.
"""

import datetime
import http.server
import json
import os
import re
import threading
import urllib.parse

from visible_text import visible, visible_plain

CHART_DAYS = 30
MAX_GROUPS = 500
MAX_REPORTS = 100
BUILDS_IN_LIST = 3

STYLE = """
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em 2em; color: #1d232b; overflow-wrap: anywhere; }
h1 { font-size: 1.5em; margin-bottom: .2em; } h2 { font-size: 1.1em; margin-top: 1.6em; }
table { border-collapse: collapse; width: 100%; table-layout: fixed; }
col.count { width: 7em; } col.chart { width: 200px; } col.time { width: 8em; } col.builds { width: 22%; }
td, th { padding: .35em .8em; border-bottom: 1px solid #dde2e8; text-align: left; vertical-align: middle; }
th { font-weight: 600; color: #556; } td.count { font-weight: 700; text-align: right; }
a { color: #0b57b5; text-decoration: none; } a:hover { text-decoration: underline; }
code, .mono { font-family: ui-monospace, monospace; font-size: 13px; }
.muted { color: #6b7480; } .unreadable { color: #a03020; }
.top-frames { font-size: 12px; color: #6b7480; }
ol.stack li, ol.signature li { font-family: ui-monospace, monospace; font-size: 13px; margin: .15em 0; }
.place { color: #6b7480; } ul.trace { font-family: ui-monospace, monospace; font-size: 13px; }
ul.trace li { white-space: pre-wrap; }
.hidden-character { font: 11px ui-monospace, monospace; color: #a03020; border: 1px solid #d9a79c;
  border-radius: 3px; padding: 0 2px; margin: 0 1px; }
.missing { background: #fff6e0; border-left: 4px solid #e0a000; padding: .5em 1em; }
svg rect { fill: #3a7bd5; }
"""


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
            ' aria-label="crashes per day">%s<line x1="0" y1="%d" x2="%d" y2="%d" stroke="#bbb"/></svg>'
            % (width, height + 1, "".join(bars), height, width, height))


def page(title, body):
    return ("<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>%s</title><style>%s</style>"
            "</head><body>%s</body></html>" % (visible(visible_plain(title)), STYLE, body)).encode("utf-8")


def plural(n, one, many):
    return "%d %s" % (n, one if n == 1 else many)


def build_text(store, module, time_stamp, count=None):
    """A build as the page names it: the filed binary and its version when the
    store has it, else the module and its time stamp."""
    name = store.build_name(module, time_stamp) if store else None
    text = ('<span class="build-name">%s</span> <span class="muted">(%s)</span>'
            % (visible(name), hex32(time_stamp)) if name
            else '%s <span class="muted">%s</span>' % (visible(module), hex32(time_stamp)))
    return text + (": %s" % plural(count, "crash", "crashes") if count is not None else "")


def groups_page(index, store=None, today=None):
    today = today or datetime.datetime.now(datetime.timezone.utc).date()
    days = [(today - datetime.timedelta(days=CHART_DAYS - 1 - i)).isoformat() for i in range(CHART_DAYS)]
    groups = index.groups(MAX_GROUPS)
    daily = index.daily_counts(days[0])
    builds = index.builds()
    rows = []
    for g in groups:
        mine = builds.get(g.key, [])
        shown = "<br>".join(build_text(store, m, t, n) for m, t, n in mine[:BUILDS_IN_LIST])
        if len(mine) > BUILDS_IN_LIST:
            shown += '<br><span class="muted">and %s more</span>' % plural(len(mine) - BUILDS_IN_LIST, "build",
                                                                          "builds")
        below = " ← ".join(visible(f) for f in g.top_frames[1:])
        rows.append('<tr class="group"><td class="count">%d</td><td class="title%s"><a href="/group/%s">%s</a>%s</td>'
                    '<td class="chart">%s</td><td class="mono time">%s</td><td class="mono time">%s</td>'
                    '<td class="builds">%s</td></tr>'
                    % (g.crashes, "" if g.readable else " unreadable", g.key, visible(g.title),
                       '<div class="top-frames">← %s</div>' % below if below else "",
                       chart(days, daily.get(g.key, {})), visible(g.first), visible(g.last), shown))
    files, crashes, unread = index.count(), index.crashes(), index.count(unread_only=True)
    body = ("<h1>Crashes</h1><p class=\"muted\"><span id=\"crashes\">%d</span> crashes in %d groups, from"
            " <span id=\"total\">%d</span> report files (<span id=\"unread\">%d</span> not read yet; a .bxr report"
            " counts with its .bxo report); last %d days per group.</p>"
            "<table id=\"groups\"><colgroup><col class=\"count\"><col><col class=\"chart\"><col class=\"time\">"
            "<col class=\"time\"><col class=\"builds\"></colgroup><thead><tr><th>Crashes</th><th>Crash</th><th>Per day</th><th>First seen (UTC)</th>"
            "<th>Last seen (UTC)</th><th>Builds</th></tr></thead><tbody>%s</tbody></table>"
            % (crashes, len(groups), files, unread, CHART_DAYS,
               "".join(rows) or '<tr><td colspan="6">No reports yet.</td></tr>'))
    return page("Crashes", body)


def frame_item(frame):
    where = "%s+0x%X" % (frame["module"], frame["offset"])
    if frame.get("function"):
        return '<li><span class="function">%s</span> <span class="place">%s%s</span></li>' % (
            visible(frame["function"]), visible(where), visible(" at " + frame["place"]) if frame.get("place") else "")
    return '<li><span class="where">%s</span></li>' % visible(where)


def signature_part(group, details):
    exceptions = details.get("exceptions") or [{}]
    code = exceptions[0].get("code")
    name = exceptions[0].get("name")
    frames = "top frame" if len(group.top_frames) == 1 else "top %d frames" % len(group.top_frames)
    return ('<h2>Signature</h2><p>Reports fall into this group by their exception code, %s%s, and the %s'
            ' of the program\'s own module:</p><ol class="signature" id="signature">%s</ol>'
            % (hex32(code), " " + visible(name) if name else "", frames,
               "".join("<li>%s</li>" % visible(f) for f in group.top_frames)))


def missing_part(missing):
    own = [m for m in missing if m[2]]
    others = [m for m in missing if not m[2]]
    parts = []
    if own:
        parts.append('<div class="missing" id="missing"><p><b>No symbols</b> in the store for %s, so its frames show'
                     ' as module+offset and its crashes group apart from the named ones. File the unstripped'
                     ' build with <code>report-reader --file-symbols STORE X.full.exe --shipped X.exe</code>,'
                     ' then read these reports again:</p><form method="post" action="/read-again">'
                     '<button type="submit">Read again</button></form></div>'
                     % ", ".join("%s (%s)" % (build_text(None, m, t), plural(n, "report", "reports"))
                                 for m, t, _, n in own))
    if others:
        parts.append('<p class="muted">Other modules without symbols: %s.</p>'
                     % ", ".join(build_text(None, m, t) for m, t, _, _ in others[:20]))
    return "".join(parts)


def group_page(index, key, store=None):
    group = index.group(key)
    if not group:
        return None
    reports = index.group_reports(key, MAX_REPORTS)
    details = json.loads(reports[0][4] or "{}")  # the newest report's
    builds = index.builds(key).get(key, [])
    parts = ['<h1>%s</h1><p class="muted"><span id="count">%d</span> %s from %s, first %s, last %s (UTC).'
             ' <a href="/">All crashes</a></p>'
             % (visible(group.title), group.crashes, "crash" if group.crashes == 1 else "crashes",
                plural(group.files, "report file", "report files"), visible(group.first), visible(group.last))]
    if group.top_frames:
        parts.append(signature_part(group, details))
    parts.append(missing_part(index.missing(key)))
    if builds:
        parts.append('<h2>Builds</h2><ul id="builds">%s</ul>'
                     % "".join("<li>%s</li>" % build_text(store, m, t, n) for m, t, n in builds))
    errors = index.errors(key)
    if errors:
        parts.append('<h2>Unreadable</h2><ul id="reasons" class="unreadable">%s</ul>' % "".join(
            "<li>%s <span class=\"muted\">(%s)</span></li>" % (visible(e), plural(n, "report", "reports"))
            for e, n in errors))
    if details.get("frames"):
        more = details.get("frame_count", 0) - len(details["frames"])
        parts.append('<h2>Stack of the newest report</h2><ol class="stack" start="0">%s</ol>%s'
                     % ("".join(frame_item(f) for f in details["frames"]),
                        "<p class=\"muted\">%d more frames</p>" % more if more > 0 else ""))
    for i, x in enumerate(details.get("exceptions", [])):
        parts.append('<h2>Exception record %d</h2><p class="mono">code %s %s, flags %s, address %s<br>parameters: %s</p>'
                     % (i, hex32(x["code"]), visible(x.get("name", "")), hex32(x["flags"]), hex32(x["address"]),
                        " ".join(hex32(p) for p in x["parameters"]) or "none"))
    if details.get("registers"):
        parts.append('<h2>Registers</h2><p class="mono">%s</p>'
                     % " &nbsp; ".join("%s=%s" % (visible(n), hex32(v)) for n, v in details["registers"]))
    if details.get("trace"):
        parts.append('<h2>Trace lines</h2><ul class="trace">%s</ul>'
                     % "".join("<li>%s</li>" % visible(line) for line in details["trace"]))
    if details.get("modules"):
        parts.append('<h2>Modules</h2><p class="mono">%s</p>' % "<br>".join(
            "%s, time stamp %s, base %s" % (visible(m["name"]), hex32(m["time_stamp"]), hex32(m["base"]))
            for m in details["modules"]))
    parts.append('<h2>Reports</h2><ul id="reports">%s</ul>' % "".join(
        '<li><a href="/report/%d" download>%s</a> <span class="muted">%s, %s</span></li>'
        % (report_id, visible(file), visible(received),
           (kind or "unreadable") + (", the details of report %d" % crash_of if crash_of else ""))
        for report_id, file, received, kind, _, crash_of in reports))
    return page(group.title, "".join(parts))


def read_again_page(count):
    return page("Read again", '<h1>Read again</h1><p><span id="again">%d</span> %s to be read again with the'
                ' symbols filed since. <a href="/">All crashes</a></p>'
                % (count, "report is" if count == 1 else "reports are"))


class AdminServer:
    """The page on its own address; `index` is a report_index.Index,
    `folder` the folder of the stored reports and `indexer` the
    report_indexer.Indexer that reads them."""

    def __init__(self, index, folder, indexer=None):
        self.index = index
        self.folder = folder
        self.indexer = indexer
        self.store = indexer.store_of_symbols if indexer else None
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
                    self.send(200, "text/html; charset=utf-8", groups_page(admin.index, admin.store))
                elif group:
                    body = group_page(admin.index, group.group(1), admin.store)
                    self.send(200 if body else 404, "text/html; charset=utf-8",
                              body or page("Not found", "<h1>No such group</h1>"))
                elif report:
                    self.send_report(int(report.group(1)))
                else:
                    self.send(404, "text/html; charset=utf-8", page("Not found", "<h1>Not found</h1>"))

            def do_POST(self):
                # A form of this page only: another site's page must not make
                # the maker's browser start work here.
                origin = self.headers.get("Origin")
                if origin and urllib.parse.urlsplit(origin).netloc != self.headers.get("Host"):
                    self.send(403, "text/html; charset=utf-8", page("Refused", "<h1>Not from this page</h1>"))
                elif self.path != "/read-again" or admin.indexer is None:
                    self.send(404, "text/html; charset=utf-8", page("Not found", "<h1>Not found</h1>"))
                else:
                    self.send(200, "text/html; charset=utf-8", read_again_page(admin.indexer.read_again()))
                self.close_connection = True  # any body is left unread

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
                self.send_header("Content-Security-Policy",
                                 "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'")
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
