"""The symbol store as the server sees it. The report reader files builds as
STORE/<module name in lower case>/<PE time stamp, 8 hex digits>/<file> and
finds them by the name and time stamp a report's module record carries; the
server asks the same question to learn which builds of a report lack
symbols (so that its reports are read again once they are filed), and to
name a build on the page by the filed file and its version resource.
"""

import os
import threading

import pe_version

TEMPORARY_PREFIX = ".tmp-"  # a build the reader is still copying in


def lower_ascii(text):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


class SymbolStore:
    def __init__(self, folder):
        self.folder = folder
        self.names = {}  # (module, time stamp) -> name of a filed build; filed builds never change
        self.lock = threading.Lock()

    @staticmethod
    def usable(module):
        """Whether the reader would look `module` up at all: only a plain file
        name may become a folder name of the store."""
        return (0 < len(module.encode("utf-8", "surrogatepass")) <= 255 and module not in (".", "..")
                and not any(c in module for c in "/\\\0"))

    def filed(self, module, time_stamp):
        """The path of the build filed for `module` and `time_stamp`, or None."""
        if not self.folder or not self.usable(module):
            return None
        folder = os.path.join(self.folder, lower_ascii(module), "%08X" % (time_stamp & 0xFFFFFFFF))
        try:
            names = sorted(os.listdir(folder))
        except OSError:
            return None
        for name in names:
            path = os.path.join(folder, name)
            if not name.startswith(TEMPORARY_PREFIX) and os.path.isfile(path):
                return path
        return None

    def build_name(self, module, time_stamp):
        """"crash_host.full.exe 1.2.0.7" (the filed file's name and its
        version), or None when the store has no such build."""
        key = (module, time_stamp)
        with self.lock:
            if key in self.names:
                return self.names[key]
        path = self.filed(module, time_stamp)
        if path is None:
            return None
        version = pe_version.version_of(path)
        name = os.path.basename(path) + (" " + version if version else "")
        with self.lock:
            self.names[key] = name
        return name
