"""Writes crash reports in the program's format, for tests that need many
reports without a program that crashes: the same records, field by field, as
the crash reporter writes them, in one zlib stream at level 9.

  Crash(code, modules=[("host.exe", time_stamp, base, [offset, ...]), ...],
        trace=["line", ...], detailed=False).body()
"""

import struct
import zlib

MACHINE_I386 = 0x14C


def _text(text):
    units = text.encode("utf-16-le")
    return struct.pack("<I", len(units) // 2) + units


class Crash:
    def __init__(self, code, modules, trace=None, detailed=False, address=0x401000, parameters=(0, 0)):
        self.code = code
        self.modules = modules
        self.trace = trace or []
        self.detailed = detailed
        self.address = address
        self.parameters = list(parameters)

    def _exception(self):
        return struct.pack("<IIII", self.code, 0, self.address, len(self.parameters)) + b"".join(
            struct.pack("<I", p) for p in self.parameters)

    def content(self):
        out = (b"BXR1" if self.detailed else b"BXO1") + struct.pack("<H", MACHINE_I386)
        if self.detailed:
            # One record and a context with the integer and control groups only
            # (flags without the architecture bit, which would select every group).
            out += struct.pack("<I", 1) + self._exception() + struct.pack("<I", 0x3) + struct.pack("<12I", *range(12))
        else:
            out += self._exception()
        if self.trace:
            text = "".join(line + "\0" for line in self.trace).encode("utf-16-le")
            out += b"DOOP" + struct.pack("<I", len(text) // 2) + text
        for name, time_stamp, base, offsets in self.modules:
            out += b"MOD1" + _text(name) + struct.pack("<I", time_stamp)
            if self.detailed:
                out += struct.pack("<I", 0x1234)
            out += struct.pack("<I", base)
            for offset in offsets:
                out += b"FUN1" + struct.pack("<I", offset)
                if self.detailed:
                    out += struct.pack("<II", 8, 0x0075FD00) + bytes(range(8))  # a stack snapshot
        return out

    def body(self):
        return zlib.compress(self.content(), 9)


def _compressed(head, zeros):
    """`head` and `zeros` zero bytes in one zlib stream at level 9,
    compressed a block at a time."""
    z = zlib.compressobj(9)
    out = [z.compress(head)]
    block = bytes(1 << 20)
    while zeros:
        out.append(z.compress(block[:min(zeros, len(block))]))
        zeros -= min(zeros, len(block))
    out.append(z.flush())
    return b"".join(out)


def zlib_bomb(inflated=200 << 20):
    """A .bxo report whose trace section claims `inflated` bytes of zeros: a
    body of about 200 kB per 200 MiB."""
    head = b"BXO1" + struct.pack("<HIIII", MACHINE_I386, 0xC0000005, 0, 0x401000, 0)
    return _compressed(head + b"DOOP" + struct.pack("<I", inflated // 2), inflated)


def frame_flood(inflated=(16 << 20) - 64):
    """A .bxo report of one module and as many frame records as fit in
    `inflated` bytes: just below the reader's limit, two million frames,
    which the reader must hold in memory to read."""
    head = (b"BXO1" + struct.pack("<HIIII", MACHINE_I386, 0xC0000005, 0, 0x401000, 0) + b"MOD1" + _text("a.exe")
            + struct.pack("<II", 1, 0x400000))
    return zlib.compress(head + b"FUN1\x10\0\0\0" * ((inflated - len(head)) // 8), 9)
