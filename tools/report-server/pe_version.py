"""The version a PE file's version resource (VS_VERSIONINFO) gives: its
ProductVersion string, else its FileVersion string, else the file version
numbers of its fixed part. Only the headers, the section table and the
resource tree are read; a file that is no PE file, or that has no version
resource, gives None.
"""

import struct

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD
MAX_DEPTH_ENTRIES = 64


class _Malformed(Exception):
    pass


class _Image:
    def __init__(self, f):
        self.f = f
        f.seek(0, 2)
        self.size = f.tell()

    def read(self, offset, length):
        if offset < 0 or length < 0 or offset + length > self.size:
            raise _Malformed()
        self.f.seek(offset)
        return self.f.read(length)

    def unpack(self, layout, offset):
        return struct.unpack(layout, self.read(offset, struct.calcsize(layout)))


def _resource_directory(image):
    """(file offset of the resource section's start, its RVA, [sections])."""
    (pe,) = image.unpack("<I", 0x3C)
    if image.read(0, 2) != b"MZ" or image.read(pe, 4) != b"PE\0\0":
        raise _Malformed()
    sections, optional_size = image.unpack("<H12xH", pe + 6)
    optional = pe + 24
    (magic,) = image.unpack("<H", optional)
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1)
    if directories < optional:
        raise _Malformed()
    (count,) = image.unpack("<I", directories - 4)
    if count < 3:
        return None
    rva, _ = image.unpack("<II", directories + 2 * 8)
    table = []
    for i in range(min(sections, 96)):
        header = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = image.unpack("<IIII", header + 8)
        table.append((virtual_address, max(virtual_size, raw_size), raw_offset))
    return rva, table


def _file_offset(table, rva):
    for virtual_address, size, raw_offset in table:
        if virtual_address <= rva < virtual_address + size:
            return raw_offset + rva - virtual_address
    raise _Malformed()


def _first_entry(image, directory, want_id=None):
    """The data offset of the first entry of a resource directory (with id
    `want_id` when given), relative to the resource section."""
    named, ids = image.unpack("<12xHH", directory)
    for i in range(min(named + ids, MAX_DEPTH_ENTRIES)):
        name, target = image.unpack("<II", directory + 16 + 8 * i)
        if want_id is None or (not name & 0x80000000 and name == want_id):
            return target
    return None


def _version_data(image):
    found = _resource_directory(image)
    if not found:
        return None
    rva, table = found
    if rva == 0:
        return None
    root = _file_offset(table, rva)
    target = _first_entry(image, root, RT_VERSION)
    for _ in range(2):  # the name level, then the language level
        if target is None or not target & 0x80000000:
            return None
        target = _first_entry(image, root + (target & 0x7FFFFFFF))
    if target is None or target & 0x80000000:
        return None
    data_rva, size = image.unpack("<II", root + target)
    return image.read(_file_offset(table, data_rva), min(size, 1 << 16))


def _blocks(data, start, end):
    """The child blocks of a version block: (key, value bytes, children start, end)."""
    offset = start
    while offset + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, offset)
        if length < 6 or offset + length > end:
            return
        key_end = offset + 6
        while key_end + 1 < offset + length and data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le", "replace")
        value_start = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = data[value_start:min(value_start + value_size, offset + length)]
        children = (value_start + value_size + 3) & ~3
        yield key, value, children, offset + length
        offset = (offset + length + 3) & ~3


def _parse(data):
    for key, value, children, end in _blocks(data, 0, len(data)):
        if key != "VS_VERSION_INFO":
            return None
        strings, fixed = {}, None
        if len(value) >= 52 and struct.unpack_from("<I", value)[0] == FIXED_SIGNATURE:
            ms, ls = struct.unpack_from("<II", value, 8)
            fixed = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        for info, _, tables, info_end in _blocks(data, children, end):
            if info != "StringFileInfo":
                continue
            for _, _, entries, table_end in _blocks(data, tables, info_end):
                for name, text, _, _ in _blocks(data, entries, table_end):
                    strings.setdefault(name, text.decode("utf-16-le", "replace").split("\0", 1)[0].strip())
        return strings.get("ProductVersion") or strings.get("FileVersion") or fixed
    return None


def version_of(path):
    """The version of the PE file at `path`, or None."""
    try:
        with open(path, "rb") as f:
            data = _version_data(_Image(f))
    except (OSError, struct.error, _Malformed):
        return None
    return _parse(data) if data else None
