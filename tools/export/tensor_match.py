"""Matches a converted state dict against the tensor set an archive must hold.

Each convolution weight of the set is a slot that a source may fill plainly
(<base>.weight) or weight-normalised (<base>.weight_g + <base>.weight_v, g being
[rows, 1, 1]): families store the same layer either way. The archive keeps the
form the source has, and korva's binder folds pairs when it loads.
"""
import torch


class CheckpointError(Exception):
    pass


def _slots(expected, either_form):
    """[[form, ...]] per slot, a form being [(name, shape)]; the first form is the set's own."""
    slots, i = [], 0
    while i < len(expected):
        t = expected[i]
        base, _, leaf = t.name.rpartition(".")
        if leaf == "weight_g" and i + 1 < len(expected) and expected[i + 1].name == base + ".weight_v":
            v = expected[i + 1].shape
            forms = [[(t.name, t.shape), (base + ".weight_v", v)], [(base + ".weight", v)]]
            i += 2
        else:
            forms = [[(t.name, t.shape)]]
            if leaf == "weight" and len(t.shape) == 3:
                forms.append([(base + ".weight_g", (t.shape[0], 1, 1)), (base + ".weight_v", t.shape)])
            i += 1
        slots.append(forms if either_form else forms[:1])
    return slots


def select(items, expected, either_form=False):
    """[(name, float32 tensor)] in the order of `expected` ([architecture.Tensor]),
    and every problem found (names outside the set, missing tensors, wrong shapes
    or types); the tensors are None when there is any.

    `items` are (source key, korva name, value) triples.
    """
    slots = _slots(expected, either_form)
    shapes = {name: shape for forms in slots for form in forms for name, shape in form}
    present, seen, problems = {}, set(), []
    for key, name, value in items:
        seen.add(name)
        if not isinstance(value, torch.Tensor):
            problems.append(f"{key}: not a tensor ({type(value).__name__})")
        elif name not in shapes:
            problems.append(f"{key}: no such tensor in korva's architecture (as {name})")
        elif tuple(value.shape) != shapes[name]:
            problems.append(f"{key}: shape {list(value.shape)}, korva's {name} needs {list(shapes[name])}")
        elif not value.is_floating_point():
            problems.append(f"{key}: {value.dtype} values, expected floating point")
        else:
            present[name] = value
    chosen = []
    for forms in slots:
        given = [form for form in forms if any(name in seen for name, _ in form)]
        form = given[0] if given else forms[0]
        if len(given) > 1:
            problems.append(f"{form[0][0]}: given both plainly and as a weight_g/weight_v pair")
        problems += [f"missing tensor {name}" for name, _ in form if name not in seen]
        chosen += [name for name, _ in form]
    if problems:
        return None, problems
    return [(name, present[name].detach().to(torch.float32)) for name in chosen], []


def problem_list(problems, what="the checkpoint"):
    return "\n  ".join([f"{len(problems)} problem(s) with {what}:"] + problems)


def match(items, expected):
    """select() in the set's own forms, raising CheckpointError on any problem, so
    that nothing half-converted is written."""
    tensors, problems = select(items, expected)
    if problems:
        raise CheckpointError(problem_list(problems))
    return tensors
