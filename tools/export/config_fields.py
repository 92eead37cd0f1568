"""Reads the fields of a training configuration, collecting every problem
instead of stopping at the first, so that one run lists all that is wrong."""
import json

_REQUIRED = object()


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _is_int_list(value):
    return isinstance(value, list) and bool(value) and all(_is_int(v) for v in value)


# kind -> (test, description for messages)
KINDS = {
    "int": (_is_int, "an integer"),
    "number": (_is_number, "a number"),
    "bool": (lambda v: isinstance(v, bool), "true or false"),
    "str": (lambda v: isinstance(v, str), "a string"),
    "dict": (lambda v: isinstance(v, dict), "an object"),
    "ints": (_is_int_list, "a list of integers"),
    "int_lists": (lambda v: isinstance(v, list) and bool(v) and all(_is_int_list(x) for x in v),
                  "a list of lists of integers"),
}


def load_json(path, problems):
    """The object in the JSON file at `path`, or None with the reason added to `problems`."""
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except FileNotFoundError:
        problems.append(f"no such file: {path}")
        return None
    except (OSError, UnicodeDecodeError, json.JSONDecodeError) as error:
        problems.append(f"cannot read {path} as JSON: {error}")
        return None
    if not isinstance(data, dict):
        problems.append(f"{path}: expected a JSON object, found {type(data).__name__}")
        return None
    return data


class Fields:
    """Typed access to a nested dict by dotted paths; problems go to `problems`."""

    def __init__(self, source, data, problems):
        self.source, self.data, self.problems = source, data, problems

    def get(self, path, kind, default=_REQUIRED):
        """The value at `path`, or `default` when absent; a missing required or
        mistyped field is recorded and None returned."""
        node = self.data
        for part in path.split("."):
            if not isinstance(node, dict) or part not in node or node[part] is None:
                if default is _REQUIRED:
                    self.problems.append(f"{self.source}: missing field {path}")
                    return None
                return default
            node = node[part]
        test, description = KINDS[kind]
        if not test(node):
            self.problems.append(f"{self.source}: field {path} is {json.dumps(node)[:40]}, expected {description}")
            return None
        return node
