"""torch.load restricted to tensors and plain containers.

A checkpoint is a pickle, and a pickle can run any code. torch 1.13's own
weights_only mode rejects the floats that training checkpoints carry (the
learning rate), and the Debian build ignores a custom pickle_module, so this
drives torch's own zip and legacy loaders with an unpickler that allows exactly
what a state dict and its bookkeeping need and refuses every other global.
"""
import pickle
import types

import torch

_ALLOWED = {
    ("collections", "OrderedDict"),
    ("torch._utils", "_rebuild_tensor_v2"),
    ("torch._utils", "_rebuild_parameter"),
    ("torch", "Size"),
}


class _Unpickler(pickle.Unpickler):
    def find_class(self, module, name):
        # storage classes are resolved by torch.load itself before this is asked
        if (module, name) in _ALLOWED or (module == "torch" and name.endswith("Storage")):
            return super().find_class(module, name)
        raise pickle.UnpicklingError(f"refusing to load {module}.{name}: not part of a weights checkpoint")


_PICKLE_MODULE = types.SimpleNamespace(
    Unpickler=_Unpickler, load=lambda f, **kwargs: _Unpickler(f, **kwargs).load(), __name__="safe_load")


def load_checkpoint(path):
    """The object saved at `path`, with every tensor on the CPU."""
    serialization = torch.serialization
    with open(path, "rb") as f:
        if serialization._is_zipfile(f):
            with serialization._open_zipfile_reader(f) as archive:
                return serialization._load(archive, "cpu", _PICKLE_MODULE, encoding="utf-8")
        return serialization._legacy_load(f, "cpu", _PICKLE_MODULE, encoding="utf-8")
