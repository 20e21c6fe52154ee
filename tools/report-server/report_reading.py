"""Reading a stored report with the report reader (tools/report-reader, the
same code and symbolizer a maker runs by hand) and reducing it to what the
index keeps: the crash signature that groups reports, the fingerprint that
pairs a .bxr report with its .bxo report, the builds without symbols, and
capped details for the web page.

A report is untrusted input: the reader runs as a separate process with a
time limit, a memory limit and a bound on its output, and every text kept is
cut to a size. Texts are kept as they are, NUL and any other code point
included: the index stores them as bytes or inside JSON, the page shows them
escaped.
"""

import hashlib
import json
import os
import resource
import selectors
import signal
import subprocess
import time

READER_SECONDS = 30
# Address space of one reader run (and of the addr2line it starts). Reading
# the worst body the reader accepts (16 MiB of frame records) peaks at about
# 480 MiB; real reports need a few tens.
READER_MEMORY = 1 << 30
READER_OUTPUT_LIMIT = 8 << 20
READER_ERRORS_LIMIT = 64 << 10
SIGNATURE_FRAMES = 3
MAX_TEXT = 400
MAX_LINES = 200
MAX_FRAMES = 100
MAX_MODULES = 100
MAX_EXCEPTIONS = 8


class ReaderFailed(Exception):
    pass


class ReaderStopped(Exception):
    """The server is stopping: the report stays unread for the next start."""


def _limits(memory):
    """The child's limits, set between fork and exec. Only setrlimit runs
    there (resource is imported already), so no lock that another thread of
    the server might hold at the fork is needed."""

    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (memory, memory))
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    return apply


def run_bounded(command, seconds=READER_SECONDS, limit=READER_OUTPUT_LIMIT, memory=READER_MEMORY, stop=None):
    """(standard output, standard error, exit status) of `command`, run with
    its address space limited to `memory` bytes. Raises ReaderFailed when it
    runs longer than `seconds` or writes more than `limit` bytes, and
    ReaderStopped as soon as the event `stop` is set."""
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               preexec_fn=_limits(memory))
    output, errors = bytearray(), bytearray()
    deadline = time.monotonic() + seconds
    try:
        with selectors.DefaultSelector() as selector:
            selector.register(process.stdout, selectors.EVENT_READ, output)
            selector.register(process.stderr, selectors.EVENT_READ, errors)
            while selector.get_map():
                left = deadline - time.monotonic()
                if stop is not None and stop.is_set():
                    raise ReaderStopped()
                if left <= 0:
                    raise ReaderFailed("the report reader took longer than %d s" % seconds)
                for key, _ in selector.select(min(left, 0.25)):
                    block = os.read(key.fd, 65536)
                    if not block:
                        selector.unregister(key.fileobj)
                    elif key.data is output:
                        output += block
                        if len(output) > limit:
                            raise ReaderFailed("the report reader wrote more than %d bytes" % limit)
                    elif len(errors) < READER_ERRORS_LIMIT:
                        errors += block
        process.wait(max(0.1, deadline - time.monotonic()))
    except (ReaderFailed, ReaderStopped, subprocess.TimeoutExpired) as e:
        process.kill()
        process.wait()
        raise e if not isinstance(e, subprocess.TimeoutExpired) else ReaderFailed("the report reader did not end")
    finally:
        process.stdout.close()
        process.stderr.close()
    return bytes(output), bytes(errors), process.returncode


def failure_text(errors, status, memory):
    """Why a run of the reader gave no result, for the unreadable list."""
    if b"bad_alloc" in errors or b"out of memory" in errors.lower():
        return "the report reader needed more than its %d MiB of memory" % (memory >> 20)
    if status < 0:
        try:
            name = signal.Signals(-status).name
        except ValueError:
            name = "signal %d" % -status
        return "the report reader ended by %s" % name
    return "the report reader gave no result"


def read_reports(reader, symbols, paths, memory=READER_MEMORY, stop=None):
    """The reader's JSON for each report of `paths`, symbolized through the
    symbol store `symbols` (None: no symbols), in one run of the reader. An
    unreadable report gives {"error": text}. When the run fails as a whole
    (time, memory, output size, a crash of the reader), each report is read
    alone, so one hostile report cannot take others down with it. Raises
    ReaderStopped when `stop` is set meanwhile."""
    command = [reader, "--json"] + (["--store", symbols] if symbols else []) + list(paths)
    try:
        output, errors, status = run_bounded(command, READER_SECONDS, READER_OUTPUT_LIMIT * len(paths), memory, stop)
        lines = output.decode("utf-8", "replace").split("\n")[:len(paths)]
        failure = failure_text(errors, status, memory)
    except (ReaderFailed, OSError) as e:
        if len(paths) > 1:
            return [r for path in paths for r in read_reports(reader, symbols, [path], memory, stop)]
        return [{"error": str(e)}]
    results = []
    for line in lines:
        try:
            parsed = json.loads(line)
        except ValueError:
            break  # a line cut short: the reader died while writing it
        results.append(parsed if isinstance(parsed, dict) else {"error": "the report reader gave no result"})
    if len(results) < len(paths):  # the reader ended early: the rest one by one
        if len(paths) == 1:
            return [{"error": failure}]
        results += [r for path in paths[len(results):] for r in read_reports(reader, symbols, [path], memory, stop)]
    return results


def cap(text, limit=MAX_TEXT):
    text = str(text)
    return text if len(text) <= limit else text[:limit] + "…"


def own_module(modules):
    """The program's own module: the first executable among the modules, else
    the module of the first frame."""
    for index, module in enumerate(modules):
        if module["name"].lower().endswith(".exe"):
            return index
    return 0


def frame_text(frame, modules):
    module = modules[frame["module"]]["name"] if frame["module"] < len(modules) else "?"
    return frame.get("function") or "%s+0x%X" % (module, frame["offset"])


def fingerprint(parsed):
    """What a .bxo report and the .bxr report of the same crash both hold: the
    crash's exception record, the modules, the frames and the trace lines."""
    exceptions = parsed.get("exceptions", [])
    first = exceptions[0] if exceptions else {}
    identity = [[first.get(k) for k in ("code", "flags", "address", "parameters")],
                [[m["name"], m["time_stamp"], m["base"]] for m in parsed.get("modules", [])],
                [[f["module"], f["offset"]] for f in parsed.get("frames", [])],
                parsed.get("trace", [])]
    return hashlib.sha256(json.dumps(identity).encode("ascii")).hexdigest()


def unreadable(error):
    """The summary of a report that could not be read."""
    return {"readable": False, "error": cap(error), "kind": None, "module": None, "time_stamp": None,
            "code": None, "frames": "[]", "signature": "unreadable", "title": "Unreadable reports",
            "top_frames": [], "details": json.dumps({"error": cap(error)}), "fingerprint": None, "missing": []}


def summarize(parsed, store=None):
    """The index row's fields for a parsed report (see read_reports);
    `store` (a symbol_builds.SymbolStore) tells which builds lack symbols."""
    if "error" in parsed:
        return unreadable(parsed["error"])
    modules = parsed.get("modules", [])
    frames = parsed.get("frames", [])
    exceptions = parsed.get("exceptions", [])
    code = exceptions[0]["code"] if exceptions else 0
    own = own_module(modules)
    own_name = modules[own]["name"].lower() if modules else ""
    chosen = [f for f in frames if f["module"] < len(modules) and modules[f["module"]]["name"].lower() == own_name]
    chosen = (chosen or frames)[:SIGNATURE_FRAMES]
    parts = [frame_text(f, modules) for f in chosen]
    signature = "%08X|%s" % (code, "|".join(parts))
    name = exceptions[0].get("name") if exceptions else ""
    title = (name or "exception 0x%08X" % code) + (" in " + parts[0] if parts else "")
    missing = []
    if store is not None:
        seen = set()
        for index, m in enumerate(modules):
            build = (m["name"], m["time_stamp"])
            if build not in seen and store.usable(m["name"]) and not store.filed(*build):
                seen.add(build)
                missing.append((cap(m["name"]), m["time_stamp"], index == own))
    details = {
        "kind": parsed.get("kind"),
        "exceptions": [{"code": e["code"], "name": cap(e.get("name", "")), "flags": e["flags"],
                        "address": e["address"], "parameters": e["parameters"][:15]}
                       for e in exceptions[:MAX_EXCEPTIONS]],
        "registers": [[cap(n, 40), v] for n, v in parsed.get("registers", [])[:64]],
        "trace": [cap(line) for line in parsed.get("trace", [])[-MAX_LINES:]],
        "modules": [{"name": cap(m["name"]), "time_stamp": m["time_stamp"], "base": m["base"]}
                    for m in modules[:MAX_MODULES]],
        "frames": [{"module": cap(modules[f["module"]]["name"]) if f["module"] < len(modules) else "?",
                    "offset": f["offset"], "function": cap(f.get("function", "")), "place": cap(f.get("place", ""))}
                   for f in frames[:MAX_FRAMES]],
        "frame_count": len(frames),
        "trace_count": len(parsed.get("trace", [])),
    }
    return {"readable": True, "error": None, "kind": parsed.get("kind"),
            "module": cap(modules[own]["name"]) if modules else None,
            "time_stamp": modules[own]["time_stamp"] if modules else None, "code": code,
            "frames": json.dumps([cap(frame_text(f, modules)) for f in frames[:MAX_FRAMES]]),
            "signature": cap(signature, 2000), "title": cap(title, 200), "top_frames": [cap(p) for p in parts],
            "details": json.dumps(details), "fingerprint": fingerprint(parsed), "missing": missing}


def group_key(signature):
    """A short stable name of a group for its page address."""
    return hashlib.sha256(signature.encode("utf-8", "surrogatepass")).hexdigest()[:20]
