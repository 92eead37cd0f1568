"""torch.load restricted to tensors and plain containers.

A checkpoint is a pickle, and a pickle can run any code. torch 1.13's own
weights_only mode rejects the floats that training checkpoints carry (the
learning rate), and the Debian build ignores a custom pickle_module, so this
drives torch's own zip and legacy loaders with an unpickler that allows exactly
what a state dict and its bookkeeping need and refuses every other global.
Training frameworks also pickle their own bookkeeping classes (hyper-parameter
dicts, paths); with inert_unknown those load as inert stand-ins instead.
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


class Inert(dict):
    """Stands for any other global: calling or building it runs nothing, and the
    items a dict subclass pickles are kept, so hyper-parameters stay readable."""

    def __init__(self, *args, **kwargs):
        super().__init__()
        self.args = args

    def __call__(self, *args, **kwargs):
        return Inert(*args)

    def __setstate__(self, state):
        self.state = state


def _unpickler(inert_unknown):
    class Unpickler(pickle.Unpickler):
        def find_class(self, module, name):
            # storage classes are resolved by torch.load itself before this is asked
            if (module, name) in _ALLOWED or (module == "torch" and name.endswith("Storage")):
                return super().find_class(module, name)
            if inert_unknown:
                return Inert
            raise pickle.UnpicklingError(f"refusing to load {module}.{name}: not part of a weights checkpoint")

    return Unpickler


def _pickle_module(inert_unknown):
    unpickler = _unpickler(inert_unknown)
    return types.SimpleNamespace(Unpickler=unpickler, load=lambda f, **kwargs: unpickler(f, **kwargs).load(),
                                 __name__="safe_load")


def load_checkpoint(path, inert_unknown=False):
    """The object saved at `path`, with every tensor on the CPU."""
    serialization, module = torch.serialization, _pickle_module(inert_unknown)
    with open(path, "rb") as f:
        if serialization._is_zipfile(f):
            with serialization._open_zipfile_reader(f) as archive:
                return serialization._load(archive, "cpu", module, encoding="utf-8")
        return serialization._legacy_load(f, "cpu", module, encoding="utf-8")
