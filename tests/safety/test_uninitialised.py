"""Objects made by __new__ without __init__, and initialisers called twice. Every method and property
of every class of the module is found by introspection, so a member added later is attacked too; the
attacks run in one child interpreter, so a crash fails every case instead of ending the run."""
import re

import orv_engine as oe
import pytest

from child import run_child

CLASSES = sorted((name for name, value in vars(oe).items() if isinstance(value, type)))
INITIALISERS = {"__init__", "__setstate__"}
# Arguments by parameter name (the names of the generated signatures); a new parameter needs one here.
SAMPLES = """{
    "magnitude": 1.0, "polarity": oe.POSITIVE, "visual_id": "v", "target": 1.0, "comparison_type": "<",
    "sub_env": oe.Environment("s"), "env": oe.Environment("e"), "other": oe.POSITIVE,
    "id": "z", "charges": [], "is_time_frozen": True, "is_finished": True, "current_frame": 1,
}"""
PRELUDE = f"""
import ctypes, json, re, orv_engine as oe
SAMPLES = {SAMPLES}
ctypes.pythonapi.PyCapsule_New.restype = ctypes.py_object
ctypes.pythonapi.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
CONDUIT = (b"", ctypes.pythonapi.PyCapsule_New(1, None, None), b"raw_pointer_ephemeral")

def parameters(function, name):
    if name == "_pybind11_conduit_v1_":  # pybind11's own, without a signature in its documentation
        return CONDUIT
    signature = re.match(r"\\w+\\(self[^,)]*(.*?)\\) ->", function.__doc__).group(1)
    return tuple(SAMPLES[p] for p in re.findall(r"(\\w+):", signature))

def outcome(call):
    try:
        call()
        return None
    except Exception as error:
        return [type(error).__name__, str(error)]
"""


def members():
    """(class, member, attack) for every property (read, write) and method of the module's classes."""
    table = []
    for class_name in CLASSES:
        for name, value in vars(getattr(oe, class_name)).items():
            if type(value) is property:  # pybind11's static properties (__doc__, __members__) never read the object
                table += [(class_name, name, "read")] + ([(class_name, name, "write")] if value.fset else [])
            elif callable(value) and not isinstance(value, (type, property, oe.ChargePolarity)) and name not in INITIALISERS:
                table.append((class_name, name, "call"))
    return table


MEMBERS = members()


@pytest.fixture(scope="module")
def outcomes():
    return run_child(prelude=PRELUDE, script=f"""
        found = {{}}
        for class_name, name, attack in {MEMBERS!r}:
            cls = getattr(oe, class_name)
            bare = cls.__new__(cls)
            if attack == "read":
                call = lambda: getattr(bare, name)
            elif attack == "write":
                call = lambda: setattr(bare, name, SAMPLES[name])
            else:
                method = getattr(bare, name)
                call = lambda: method(*parameters(method, name))
            found[f"{{class_name}}.{{name}} {{attack}}"] = outcome(call)
        print(json.dumps(found))
    """)


def test_the_table_holds_every_kind_of_member():
    kinds = {(c, a) for c, _, a in MEMBERS}
    assert {("Charge", "read"), ("Charge", "write"), ("Charge", "call"), ("Environment", "call"),
            ("NarrativeSequencer", "call"), ("ChargePolarity", "read"), ("ChargePolarity", "call")} <= kinds
    assert len(MEMBERS) >= 48 and ("Environment", "add_inequality_gate", "call") in MEMBERS


@pytest.mark.parametrize("class_name, name, attack", MEMBERS, ids=[f"{c}.{n} {a}" for c, n, a in MEMBERS])
def test_every_member_refuses_an_object_made_without_init(outcomes, class_name, name, attack):
    assert outcomes[f"{class_name}.{name} {attack}"] == [
        "TypeError", f"orv_engine.{class_name} object is not initialised: it was made by __new__ without __init__"]


ARGUMENT_ATTACKS = {
    "sub-zone": "oe.Environment('r').add_sub_environment(bare(oe.Environment))",
    "root of a sequencer": "oe.NarrativeSequencer(bare(oe.Environment))",
    "item of charges": "setattr(oe.Environment('r'), 'charges', [oe.Charge(1.0, oe.POSITIVE, 'a'), bare(oe.Charge)])",
    "polarity of a new charge": "oe.Charge(1.0, bare(oe.ChargePolarity), 'a')",
    "polarity of add_charge": "oe.Environment('r').add_charge(1.0, bare(oe.ChargePolarity), 'a')",
    "polarity written": "setattr(oe.Charge(1.0, oe.POSITIVE, 'a'), 'polarity', bare(oe.ChargePolarity))",
    "compared with a member": "oe.POSITIVE == bare(oe.ChargePolarity)",
    "hashed": "hash(bare(oe.ChargePolarity))",
    "shown": "repr(bare(oe.ChargePolarity))",
}


def test_objects_made_without_init_are_refused_as_arguments():
    found = run_child(prelude=PRELUDE, script=f"""
        bare = lambda cls: cls.__new__(cls)
        print(json.dumps({{name: outcome(lambda: eval(attack)) for name, attack in {ARGUMENT_ATTACKS!r}.items()}}))
    """)
    for name, refusal in found.items():
        assert refusal[0] == "TypeError" and re.fullmatch(r"orv_engine\.\w+ object is not initialised: .*", refusal[1]), name


def test_initialisers_make_a_bare_object_whole_and_refuse_a_live_one():
    found = run_child(prelude=PRELUDE, script="""
        import copy, pickle
        zone = oe.Environment.__new__(oe.Environment)
        zone.__init__("late")
        zone.add_charge(2.0, oe.POSITIVE, "a")
        polarity = oe.ChargePolarity.__new__(oe.ChargePolarity)
        polarity.__setstate__(1)
        found = {"late init": json.loads(zone.to_json())["id"], "setstate": repr(polarity),
                 "pickled": [repr(pickle.loads(pickle.dumps(p))) for p in (oe.NEUTRAL, oe.ChargePolarity(7))],
                 "copied": repr(copy.deepcopy(oe.NEGATIVE))}
        live = {"Charge": (oe.Charge(1.0, oe.POSITIVE, "a"), (2.0, oe.NEGATIVE, "b")),
                "Environment": (zone, ("other",)), "NarrativeSequencer": (oe.NarrativeSequencer(zone), (oe.Environment("x"),)),
                "ChargePolarity": (oe.POSITIVE, (2,))}
        for name, (target, arguments) in live.items():
            found[name] = outcome(lambda: target.__init__(*arguments))
        found["setstate twice"] = outcome(lambda: oe.POSITIVE.__setstate__(2))
        sequencer = live["NarrativeSequencer"][0]
        found["unchanged"] = [zone.id, repr(oe.POSITIVE), live["Charge"][0].visual_id,
                              json.loads(sequencer.next_frame())["id"]]
        print(json.dumps(found))
    """)
    assert found["late init"] == "late" and found["setstate"] == "<ChargePolarity.NEGATIVE: 1>"
    assert found["pickled"] == ["<ChargePolarity.NEUTRAL: 2>", "<ChargePolarity.???: 7>"]
    assert found["copied"] == "<ChargePolarity.NEGATIVE: 1>"
    for name in ("Charge", "Environment", "NarrativeSequencer", "ChargePolarity"):
        assert found[name] == ["TypeError", f"{name}.__init__() refused: this {name} object is already initialised "
                                            "(make a new one instead)"]
    assert found["setstate twice"][1].startswith("ChargePolarity.__setstate__() refused")
    assert found["unchanged"] == ["late", "<ChargePolarity.POSITIVE: 0>", "a", "late"]
