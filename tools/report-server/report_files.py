"""Report files in the store folder, written so that a reader never sees half
of one: the body goes to a hidden temporary file, is flushed to the disk and
only then renamed to its final, unique name. Several report servers may share
one folder: names carry a random part, so two never pick the same one.

Final names: <UTC time>-<32 hex digits>.bxo, .bxr, or .bin for a body that
is no report. Names starting with "." are temporary and never listed.
"""

import os
import time
import uuid
import zlib

TEMPORARY_PREFIX = ".tmp-"


def kind_of(body):
    """The file extension for a body by the magic of its decompressed start."""
    try:
        start = zlib.decompressobj().decompress(body[:4096], 4)
    except zlib.error:
        return ".bin"
    return {b"BXO1": ".bxo", b"BXR1": ".bxr"}.get(start, ".bin")


def kind_of_name(name):
    """"bxo", "bxr" or None (no report) for a stored file's name."""
    return {".bxo": "bxo", ".bxr": "bxr"}.get(os.path.splitext(name)[1])


def _sync_folder(folder):
    fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def store(folder, body):
    """Writes `body` under a new unique name in `folder` and returns the name."""
    temporary = os.path.join(folder, TEMPORARY_PREFIX + uuid.uuid4().hex)
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    try:
        view = memoryview(body)
        while view:
            view = view[os.write(fd, view):]
        os.fsync(fd)
    except BaseException:
        os.close(fd)
        os.unlink(temporary)
        raise
    os.close(fd)
    name = time.strftime("%Y%m%dT%H%M%SZ", time.gmtime()) + "-" + uuid.uuid4().hex + kind_of(body)
    os.rename(temporary, os.path.join(folder, name))
    _sync_folder(folder)
    return name


def stored_names(folder):
    """The complete report files in `folder`, oldest name first."""
    return sorted(n for n in os.listdir(folder) if not n.startswith(".") and os.path.isfile(os.path.join(folder, n)))


def remove_stale_temporaries(folder, age_seconds=3600):
    """Temporary files of uploads that a server crash cut short. Young ones may
    belong to another server still writing them, so they stay."""
    limit = time.time() - age_seconds
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if name.startswith(TEMPORARY_PREFIX):
            try:
                if os.stat(path).st_mtime < limit:
                    os.unlink(path)
            except FileNotFoundError:
                pass  # another server removed it first


def is_stored_name(name):
    """Whether `name` could be one of ours: a plain name, nothing that leaves the folder."""
    return bool(name) and not name.startswith(".") and "/" not in name and "\0" not in name
