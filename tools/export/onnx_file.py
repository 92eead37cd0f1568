"""Reads an ONNX model file defensively: the file's size is bounded before it is
read, the protobuf's framing (every length inside its message, nesting depth) is
walked before the library parses it, and a tensor's values are taken only when
its shape and its bytes agree. Values kept in external files are refused by
name; their paths are never opened."""
import os
import warnings

import numpy
import onnx
from google.protobuf import descriptor as protobuf_descriptor
from google.protobuf.message import DecodeError

MAX_BYTES = (1 << 31) - 1  # protobuf's own limit for one message
MAX_DEPTH = 32  # a generator's graph nests 7 deep; subgraphs inside nodes add more
MAX_VALUES = 1 << 29  # float32 values in one tensor (2 GiB)

_VARINT, _FIXED64, _BYTES, _FIXED32 = 0, 1, 2, 5


class OnnxError(Exception):
    pass


def _varint(data, pos, end):
    value, shift = 0, 0
    while pos < end and shift < 64:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        if byte < 0x80:
            return value, pos
        shift += 7
    raise OnnxError(f"truncated or damaged: a number runs past byte {end}")


def _walk(data, message, start, end, depth):
    """Checks that every field of `message` at data[start:end] lies inside it."""
    if depth > MAX_DEPTH:
        raise OnnxError(f"hostile: messages nested more than {MAX_DEPTH} levels deep "
                        f"({message.full_name} at byte {start})")
    pos = start
    while pos < end:
        key, pos = _varint(data, pos, end)
        number, wire = key >> 3, key & 7
        if wire == _VARINT:
            _, pos = _varint(data, pos, end)
        elif wire in (_FIXED64, _FIXED32):
            pos += 8 if wire == _FIXED64 else 4
        elif wire == _BYTES:
            length, pos = _varint(data, pos, end)
            if pos + length > end:
                raise OnnxError(f"truncated: a field of {message.full_name} at byte {pos} claims {length} bytes, "
                                f"{end - pos} remain")
            field = message.fields_by_number.get(number)
            if field is not None and field.type == protobuf_descriptor.FieldDescriptor.TYPE_MESSAGE:
                _walk(data, field.message_type, pos, pos + length, depth + 1)
            pos += length
        else:
            raise OnnxError(f"not an ONNX model: field wire type {wire} at byte {pos} of {message.full_name}")
        if pos > end:
            raise OnnxError(f"truncated: {message.full_name} ends inside a field at byte {end}")


def read_model(path):
    """The onnx.ModelProto in the file at `path`; OnnxError says what is wrong."""
    try:
        size = os.stat(path).st_size
        if not os.path.isfile(path):
            raise OnnxError(f"{path} is not a file")
        if size > MAX_BYTES:
            raise OnnxError(f"{size} bytes: larger than any ONNX model can be ({MAX_BYTES})")
        with open(path, "rb") as f:
            data = f.read(MAX_BYTES + 1)
    except FileNotFoundError:
        raise OnnxError(f"no such file: {path}") from None
    except OSError as error:
        raise OnnxError(f"cannot read {path}: {error}") from None
    if not data:
        raise OnnxError("an empty file, not an ONNX model")
    _walk(data, onnx.ModelProto.DESCRIPTOR, 0, len(data), 0)
    model = onnx.ModelProto()
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # the parser warns where it gives up part way
        try:
            model.ParseFromString(data)
        except (DecodeError, RuntimeWarning, SystemError) as error:
            raise OnnxError(f"not an ONNX model: the protobuf library cannot parse it ({error})") from None
    if model.ir_version <= 0 or not model.HasField("graph") or not model.graph.node:
        raise OnnxError("not an ONNX model: no IR version or no graph")
    return model


def float_values(tensor, what):
    """The values of a float32 TensorProto as a numpy array of its shape (read-only
    where it views the tensor's bytes)."""
    if tensor.data_location == onnx.TensorProto.EXTERNAL or tensor.external_data:
        location = next((e.value for e in tensor.external_data if e.key == "location"), "?")
        raise OnnxError(f"{what} keeps its values in an external file ({location!r}): korva reads self-contained "
                        "models only and opens no other file")
    if tensor.data_type != onnx.TensorProto.FLOAT:
        kind = onnx.TensorProto.DataType.Name(tensor.data_type) if tensor.data_type in \
            onnx.TensorProto.DataType.values() else str(tensor.data_type)
        raise OnnxError(f"{what} holds {kind} values; korva imports float32 weights")
    dims = list(tensor.dims)
    count = 1
    for d in dims:
        if d < 0:
            raise OnnxError(f"{what} has a negative size in its shape {dims}")
        count *= d
    if count > MAX_VALUES:
        raise OnnxError(f"hostile: {what} claims a shape of {count} values {dims}")
    if tensor.HasField("raw_data"):
        raw = tensor.raw_data
        if len(raw) != 4 * count:
            raise OnnxError(f"{what} holds {len(raw)} bytes, its shape {dims} needs {4 * count}")
        values = numpy.frombuffer(raw, dtype="<f4")
    else:
        if len(tensor.float_data) != count:
            raise OnnxError(f"{what} holds {len(tensor.float_data)} values, its shape {dims} needs {count}")
        values = numpy.array(tensor.float_data, dtype="<f4")
    return values.reshape(dims).astype(numpy.float32, copy=False)
