"""Writes crash reports in the program's format, for tests that need many
reports without a program that crashes: the same records, field by field, as
the crash reporter writes them, in one zlib stream at level 9. The 32-bit
program's variant (machine 0x014C) by default, the 64-bit one's (0x8664, its
addresses and registers 64 bits wide) with machine=MACHINE_X64.

  Crash(code, modules=[("host.exe", time_stamp, base, [offset, ...]), ...],
        trace=["line", ...], detailed=False, machine=MACHINE_I386).body()
"""

import struct
import zlib

MACHINE_I386 = 0x14C
MACHINE_X64 = 0x8664

# Per machine: the address format, and the register format and count of the
# integer and control groups (the context a detailed report here carries).
_LAYOUT = {MACHINE_I386: ("I", "I", 6 + 6), MACHINE_X64: ("Q", "Q", 15 + 5)}


def _text(text):
    units = text.encode("utf-16-le")
    return struct.pack("<I", len(units) // 2) + units


class Crash:
    def __init__(self, code, modules, trace=None, detailed=False, address=0x401000, parameters=(0, 0),
                 machine=MACHINE_I386):
        self.code = code
        self.modules = modules
        self.trace = trace or []
        self.detailed = detailed
        self.address = address
        self.parameters = list(parameters)
        self.machine = machine
        self.address_format, self.register_format, self.registers = _LAYOUT[machine]

    def _address(self, value):
        return struct.pack("<" + self.address_format, value)

    def _exception(self):
        return (struct.pack("<II", self.code, 0) + self._address(self.address) + struct.pack("<I", len(self.parameters))
                + b"".join(self._address(p) for p in self.parameters))

    def content(self):
        out = (b"BXR1" if self.detailed else b"BXO1") + struct.pack("<H", self.machine)
        if self.detailed:
            # One record and a context with the integer and control groups only
            # (flags without the architecture bit, which would select every group).
            out += struct.pack("<I", 1) + self._exception() + struct.pack("<I", 0x3) + struct.pack(
                "<%d%s" % (self.registers, self.register_format), *range(self.registers))
        else:
            out += self._exception()
        if self.trace:
            text = "".join(line + "\0" for line in self.trace).encode("utf-16-le")
            out += b"DOOP" + struct.pack("<I", len(text) // 2) + text
        for name, time_stamp, base, offsets in self.modules:
            out += b"MOD1" + _text(name) + struct.pack("<I", time_stamp)
            if self.detailed:
                out += struct.pack("<I", 0x1234)
            out += self._address(base)
            for offset in offsets:
                out += b"FUN1" + struct.pack("<I", offset)
                if self.detailed:
                    out += struct.pack("<I", 8) + self._address(0x0075FD00) + bytes(range(8))  # a stack snapshot
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
