"""What orv_engine exposes: names, members of each class, keyword arguments and refused argument types."""
import orv_engine as oe
import pytest

KINDS = ["plus_magician", "minus_magician", "multiply_magician", "divide_magician", "power_sorcerer",
         "root_magician", "abs_magician", "factorial_magician", "modulo_magician", "log_magician", "chronomancer"]
BOUND = {"__doc__", "__module__", "__init__", "_pybind11_conduit_v1_"}  # on every bound class
ENUM_METHODS = {"__eq__", "__ne__", "__hash__", "__int__", "__index__", "__repr__", "__str__", "__getstate__",
                "__setstate__"}


def test_module_namespace_and_doc():
    assert {n for n in vars(oe) if not n.startswith("__")} == {
        "ChargePolarity", "POSITIVE", "NEGATIVE", "NEUTRAL", "Charge", "Environment", "NarrativeSequencer"}
    assert oe.__doc__ == "Quellmoor Engine Python Bindings"


@pytest.mark.parametrize("cls, methods, properties, data", [
    (oe.ChargePolarity, ENUM_METHODS, {"name", "value"}, {"__entries", "__members__", "POSITIVE", "NEGATIVE", "NEUTRAL"}),
    (oe.Charge, {"to_json", "__repr__"}, {"magnitude", "polarity", "visual_id"}, set()),
    (oe.Environment, {"to_json", "__repr__", "add_charge", "add_sub_environment", "add_equals_gate", "add_inequality_gate"}
     | {f"add_{k}" for k in KINDS}, {"id", "charges", "is_time_frozen"}, set()),
    (oe.NarrativeSequencer, {"next_frame"}, {"is_finished", "current_frame"}, set()),
], ids=lambda v: getattr(v, "__name__", ""))
def test_class_members(cls, methods, properties, data):
    assert set(vars(cls)) - BOUND == methods | properties | data
    assert all(isinstance(vars(cls)[n], property) for n in properties)
    assert all(callable(vars(cls)[n]) and not isinstance(vars(cls)[n], property) for n in methods)


# (receiver factory, method name or None to call the receiver itself, keyword arguments)
CALLS = [(lambda: oe.Charge, None, dict(magnitude=2, polarity=oe.NEGATIVE, visual_id="a")),
         (lambda: oe.Environment, None, dict(id="r")),
         (lambda: oe.NarrativeSequencer, None, dict(env=oe.Environment("r"))),
         (oe.Environment, "add_charge", dict(magnitude=1.5, polarity=oe.NEUTRAL, visual_id="c")),
         (oe.Environment, "add_sub_environment", dict(sub_env=oe.Environment("s"))),
         (oe.Environment, "add_equals_gate", dict(visual_id="g", target=5)),
         (oe.Environment, "add_inequality_gate", dict(visual_id="g", target=5, comparison_type=">"))
         ] + [(oe.Environment, f"add_{k}", dict(visual_id="v")) for k in KINDS]


@pytest.mark.parametrize("receiver, name, kwargs", CALLS, ids=lambda v: v if isinstance(v, str) else "")
def test_arguments_by_keyword_without_defaults(receiver, name, kwargs):
    def call(**kw):
        target = receiver("z") if name else receiver()
        return getattr(target, name)(**kw) if name else target(**kw)
    call(**kwargs)
    for key in kwargs:  # each argument is required and known by its own name only
        rest = {k: v for k, v in kwargs.items() if k != key}
        for bad in (rest, {**rest, key + "_": kwargs[key]}):
            with pytest.raises(TypeError):
                call(**bad)


@pytest.mark.parametrize("action", [
    "oe.Charge('1', oe.POSITIVE, 'a')", "oe.Charge(1, 0, 'a')", "oe.Charge(1, None, 'a')",
    "z.add_charge(1, 0, 'a')", "z.add_charge(1, None, 'a')", "z.add_charge(1, oe.POSITIVE, 7)",
    "z.add_equals_gate('g', '5')", "z.add_inequality_gate('g', 5, None)", "z.add_sub_environment('s')",
    "setattr(z, 'id', 3)", "setattr(z, 'charges', 'ab')", "setattr(c, 'polarity', None)",
    "setattr(c, 'polarity', 1)", "setattr(c, 'magnitude', '5')", "setattr(s, 'current_frame', '3')",
])
def test_wrong_types_raise_type_error_and_change_nothing(action, zone):
    z, c, s = zone("z", "+1"), oe.Charge(2, oe.NEGATIVE, "b"), oe.NarrativeSequencer(oe.Environment("r"))
    before = z.to_json(), c.to_json(), s.current_frame
    with pytest.raises(TypeError):
        eval(action)
    assert (z.to_json(), c.to_json(), s.current_frame) == before
