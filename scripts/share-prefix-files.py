#!/usr/bin/env python3
"""share-prefix-files.py PREFIX BUILD: links the Wine system binaries of a new
test prefix to the same files of the other prefixes under the build folder.

Every prefix holds its own copy of Wine's system binaries: 0.6 GiB for a 32-bit
Windows, 1.3 GiB for a 64-bit one, and the suites make several prefixes, which
ran a CI machine out of disk. wineboot writes these files once, so a file may
be one inode for all prefixes. A test that swaps one of them (the e2e tests'
msiexec.exe) puts a new file in its place and never writes into the shared one.

Only a file at the same path inside the other prefix is taken, and only when
its bytes are the same. Inside one prefix every file keeps an inode of its
own: Wine's loader takes two paths with one file identity for one module.
Registry and .ini files, which Wine rewrites in place, are never linked. One
run at a time, under a lock in the build folder, since the suites make their
prefixes in parallel.
"""
import fcntl
import filecmp
import os
import re
import sys
import time
from pathlib import Path

SYSTEM_BINARY = re.compile(r"\.(dll|exe|drv|sys|nls|acm|cpl|ocx|vxd|tlb|ds)$", re.IGNORECASE)


def ready_prefixes(build, new):
    # A prefix counts once wine-prefix.sh has marked it whole.
    for pattern in ("*/.lumora-ready", "*/*/.lumora-ready", "*/*/*/.lumora-ready"):
        for marker in sorted(build.glob(pattern)):
            if marker.parent != new:
                yield marker.parent


def share(new, build):
    others = [p / "drive_c" / "windows" for p in ready_prefixes(build, new)]
    windows = new / "drive_c" / "windows"
    linked = saved = 0
    for path in windows.rglob("*"):
        if not SYSTEM_BINARY.search(path.name) or path.is_symlink() or not path.is_file():
            continue
        relative = path.relative_to(windows)
        mine = path.stat()
        for other in others:
            twin = other / relative
            try:
                theirs = twin.stat()
                if theirs.st_ino == mine.st_ino or theirs.st_size != mine.st_size:
                    continue
                if not filecmp.cmp(path, twin, shallow=False):
                    continue
                temporary = path.with_name(path.name + ".linking")
                # A run stopped between link and rename left its temporary.
                temporary.unlink(missing_ok=True)
                os.link(twin, temporary)
            except FileNotFoundError:
                # That prefix is being made again; the next one may serve.
                continue
            os.replace(temporary, path)
            linked += 1
            saved += mine.st_size
            break
    return linked, saved


def lock_within(lock, seconds):
    deadline = time.monotonic() + seconds
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return True
        except BlockingIOError:
            if time.monotonic() > deadline:
                return False
            time.sleep(0.2)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: share-prefix-files.py PREFIX BUILD")
    new, build = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    with open(build / ".wine-prefix-files.lock", "w") as lock:
        # Another run links for a few seconds; a prefix left with copies
        # still works, it only takes more room.
        if not lock_within(lock, 120):
            print(f"the system files of {new} stay copies: another run held the lock for 120 s")
            return
        linked, saved = share(new, build)
    print(f"{linked} system files of {new} shared with other prefixes ({saved >> 20} MiB)")


if __name__ == "__main__":
    main()
