"""The parts of an ONNX graph that weight recovery looks at: its constant
tensors (initializers and Constant nodes), its real inputs and outputs, and for
every value the nodes that consume it (with the input position) and the node
that produces it. Node names are never used: older exporters leave them out."""
import collections

import onnx


class Graph:
    def __init__(self, model):
        g = model.graph
        self.nodes = list(g.node)
        self.constants = {t.name: t for t in g.initializer}
        for node in self.nodes:
            if node.op_type == "Constant" and node.output:
                value = next((a.t for a in node.attribute if a.name == "value"), None)
                if value is not None:
                    self.constants[node.output[0]] = value
        # older exporters also list every initializer as a graph input
        self.inputs = [i for i in g.input if i.name not in self.constants]
        self.outputs = list(g.output)
        self.consumers = collections.defaultdict(list)
        self.producer = {}
        for node in self.nodes:
            for position, name in enumerate(node.input):
                if name:
                    self.consumers[name].append((node, position))
            for name in node.output:
                self.producer[name] = node
        self.metadata = {p.key: p.value for p in model.metadata_props}

    def consumed(self, value, op_types, position=None):
        """The nodes of `op_types` that take `value` (at `position`, when given)."""
        return [n for n, p in self.consumers.get(value, ()) if n.op_type in op_types and position in (None, p)]

    def produced_by(self, value, op_type):
        node = self.producer.get(value)
        return node if node is not None and node.op_type == op_type else None


def attribute(node, name, default=None):
    for a in node.attribute:
        if a.name == name:
            return onnx.helper.get_attribute_value(a)
    return default


def tensor_type(value_info):
    """(element type, rank or None) of a graph input or output."""
    t = value_info.type.tensor_type
    return t.elem_type, (len(t.shape.dim) if t.HasField("shape") else None)
