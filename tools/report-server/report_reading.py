"""Reading a stored report with the report reader (tools/report-reader, the
same code and symbolizer a maker runs by hand) and reducing it to what the
index keeps: the crash signature that groups reports, and capped details for
the web page.

A report is untrusted input: the reader runs as a separate process with a
time limit and a bound on its output, and every text kept is cut to a size.
"""

import hashlib
import json
import os
import selectors
import subprocess
import time

READER_SECONDS = 30
READER_OUTPUT_LIMIT = 8 << 20
SIGNATURE_FRAMES = 3
MAX_TEXT = 400
MAX_LINES = 200
MAX_FRAMES = 100
MAX_MODULES = 100
MAX_EXCEPTIONS = 8


class ReaderFailed(Exception):
    pass


def run_bounded(command, seconds=READER_SECONDS, limit=READER_OUTPUT_LIMIT):
    """The standard output of `command`; raises ReaderFailed when it runs
    longer than `seconds` or writes more than `limit` bytes."""
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    output = bytearray()
    deadline = time.monotonic() + seconds
    try:
        with selectors.DefaultSelector() as selector:
            selector.register(process.stdout, selectors.EVENT_READ)
            while True:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise ReaderFailed("the report reader took longer than %d s" % seconds)
                if not selector.select(left):
                    continue
                block = os.read(process.stdout.fileno(), 65536)
                if not block:
                    break
                output += block
                if len(output) > limit:
                    raise ReaderFailed("the report reader wrote more than %d bytes" % limit)
        process.wait(max(0.1, deadline - time.monotonic()))
    except (ReaderFailed, subprocess.TimeoutExpired) as e:
        process.kill()
        process.wait()
        raise e if isinstance(e, ReaderFailed) else ReaderFailed("the report reader did not end")
    finally:
        process.stdout.close()
    return bytes(output)


def read_reports(reader, symbols, paths):
    """The reader's JSON for each report of `paths`, symbolized through the
    symbol store `symbols` (None: no symbols), in one run of the reader. An
    unreadable report gives {"error": text}. When the run fails as a whole
    (time, output size, a crash of the reader), each report is read alone, so
    one hostile report cannot take others down with it."""
    command = [reader, "--json"] + (["--store", symbols] if symbols else []) + list(paths)
    try:
        output = run_bounded(command, READER_SECONDS * len(paths), READER_OUTPUT_LIMIT * len(paths))
        lines = output.decode("utf-8", "replace").split("\n")[:len(paths)]
    except (ReaderFailed, OSError) as e:
        if len(paths) > 1:
            return [r for path in paths for r in read_reports(reader, symbols, [path])]
        return [{"error": str(e)}]
    results = []
    for line in lines:
        try:
            parsed = json.loads(line)
        except ValueError:
            parsed = None
        results.append(parsed if isinstance(parsed, dict) else {"error": "the report reader gave no result"})
    if len(results) < len(paths):  # the reader ended early: the rest one by one
        if len(paths) == 1:
            return [{"error": "the report reader gave no result"}]
        results += [r for path in paths[len(results):] for r in read_reports(reader, symbols, [path])]
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


def summarize(parsed):
    """The index row's fields for a parsed report (see read_reports)."""
    if "error" in parsed:
        return {"readable": False, "error": cap(parsed["error"]), "kind": None, "module": None,
                "time_stamp": None, "code": None, "frames": "[]", "signature": "unreadable",
                "title": "Unreadable reports", "details": json.dumps({"error": cap(parsed["error"])})}
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
            "signature": cap(signature, 2000), "title": cap(title, 200), "details": json.dumps(details)}


def group_key(signature):
    """A short stable name of a group for its page address."""
    return hashlib.sha256(signature.encode("utf-8", "replace")).hexdigest()[:20]
