"""Reads a .safetensors file without the safetensors package: a little-endian
u64 header length, a JSON header naming each tensor's dtype, shape and byte
range, then the raw little-endian data."""
import json
import struct

import torch

_DTYPES = {"F64": torch.float64, "F32": torch.float32, "F16": torch.float16, "BF16": torch.bfloat16,
           "I64": torch.int64, "I32": torch.int32, "I16": torch.int16, "I8": torch.int8, "U8": torch.uint8,
           "BOOL": torch.bool}
_HEADER_LIMIT = 100 << 20


class SafetensorsError(Exception):
    pass


def _tensor(name, entry, data):
    try:
        dtype = _DTYPES[entry["dtype"]]
        shape = [int(n) for n in entry["shape"]]
        begin, end = (int(n) for n in entry["data_offsets"])
    except (KeyError, TypeError, ValueError):
        raise SafetensorsError(f"tensor {name!r}: unreadable header entry {json.dumps(entry)[:80]}")
    count = 1
    for n in shape:
        count *= n
    if not 0 <= begin <= end <= len(data) or end - begin != count * torch.empty((), dtype=dtype).element_size():
        raise SafetensorsError(f"tensor {name!r}: byte range {begin}..{end} does not hold {shape} {entry['dtype']}")
    if count == 0:
        return torch.empty(shape, dtype=dtype)
    return torch.frombuffer(data, dtype=dtype, count=count, offset=begin).reshape(shape)


def read_safetensors(path):
    """{name: tensor} of the file at `path`."""
    with open(path, "rb") as f:
        raw = f.read(8)
        if len(raw) != 8:
            raise SafetensorsError(f"{path}: too short for a safetensors file")
        (length,) = struct.unpack("<Q", raw)
        if length > _HEADER_LIMIT:
            raise SafetensorsError(f"{path}: header of {length} bytes, not a safetensors file")
        try:
            header = json.loads(f.read(length))
        except (UnicodeDecodeError, json.JSONDecodeError) as error:
            raise SafetensorsError(f"{path}: unreadable header: {error}")
        data = bytearray(f.read())
    if not isinstance(header, dict):
        raise SafetensorsError(f"{path}: the header is not a JSON object")
    return {name: _tensor(name, entry, data) for name, entry in header.items() if name != "__metadata__"}
