"""Writes a korva weights archive: raw float32 storage records "data/<key>",
several tensors per record at element offsets, and "manifest.json" listing
each tensor's storage key, offset, shape, stride and element count.

The zip is written by torch's own writer, so libtorch's stream reader opens it.
"""
import json
import os

import torch

RECORD_LIMIT = 1 << 21  # float32 elements; bigger tensors get a record of their own

# The reader's scanner takes these as field names, never as tensor names.
_RESERVED = ("storage_key", "offset", "shape")


class ArchiveError(Exception):
    pass


def _check_name(name):
    if any(word in name for word in _RESERVED):
        raise ArchiveError(f"tensor name {name!r} contains one of {', '.join(_RESERVED)}: "
                           "korva's reader would not list it")
    if any(c in name for c in '"\\{}') or not name.isprintable():
        raise ArchiveError(f"tensor name {name!r} has a character korva's reader cannot take")


def check_target(path):
    """A device, a directory or a missing directory is refused before any work."""
    parent = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(parent):
        raise ArchiveError(f"cannot write {path}: the directory {parent} does not exist")
    if os.path.lexists(path) and not os.path.isfile(path):
        raise ArchiveError(f"cannot write {path}: it exists and is not a regular file")


def _strides(shape):
    stride, acc = [], 1
    for size in reversed(shape):
        stride.insert(0, acc)
        acc *= size
    return stride


def write_archive(tensors, path, records_beside=None):
    """Writes [(name, tensor), ...] to `path`; returns the number of storage records.

    Values are stored as little-endian float32 whatever the input dtype.
    `records_beside` maps further record names to their bytes, written after the
    manifest (its reader ignores them). The file appears only when complete: a
    failure leaves no archive behind.
    """
    check_target(path)
    manifest, records, current, used = {}, [], [], 0
    for name, tensor in tensors:
        _check_name(name)
        if name in manifest:
            raise ArchiveError(f"tensor {name!r} listed twice")
        flat = tensor.detach().to(torch.float32).contiguous().reshape(-1)
        n = flat.numel()
        if current and used + n > RECORD_LIMIT:
            records.append(current)
            current, used = [], 0
        manifest[name] = {"storage_key": str(len(records)), "offset": used, "shape": list(tensor.shape),
                          "stride": _strides(tensor.shape), "numel": n}
        current.append(flat)
        used += n
    if current:
        records.append(current)

    for name in records_beside or {}:
        if "manifest.json" in name or name.startswith("data/") or name == "version":
            raise ArchiveError(f"record name {name!r} would be taken for one of the archive's own records")

    partial = path + ".partial"
    try:
        writer = torch._C.PyTorchFileWriter(partial)
        text = json.dumps(manifest, indent=1).encode()
        writer.write_record("manifest.json", text, len(text))
        for name, data in (records_beside or {}).items():
            writer.write_record(name, data, len(data))
        for key, parts in enumerate(records):
            data = torch.cat(parts).numpy().astype("<f4", copy=False).tobytes()
            writer.write_record(f"data/{key}", data, len(data))
        writer.write_end_of_file()  # adds the "version" record the stream reader requires
        del writer
        os.replace(partial, path)
    except BaseException as error:
        if os.path.exists(partial):
            os.remove(partial)
        if isinstance(error, RuntimeError):  # torch's writer reports its failures so
            raise ArchiveError(f"cannot write {path}: {error}") from error
        raise
    return len(records)
