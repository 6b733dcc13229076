"""Zones shared between Python and the engine, and the additions that the module refuses."""
import json

import orv_engine as oe
import pytest


def test_refuses_none_naming_the_argument():
    root = oe.Environment("r")
    with pytest.raises(TypeError, match="'sub_env'"):
        root.add_sub_environment(None)
    with pytest.raises(TypeError, match="'env'"):
        oe.NarrativeSequencer(None)
    assert json.loads(root.to_json())["sub_environments"] == []


def chain():
    a, b, c = (oe.Environment(n) for n in "abc")
    a.add_sub_environment(b)
    b.add_sub_environment(c)
    return {"a": a, "b": b, "c": c}


@pytest.mark.parametrize("parent, child", [("a", "a"), ("c", "c"), ("b", "a"), ("c", "a"), ("c", "b")])
def test_refuses_a_cycle(parent, child):
    zones = chain()
    before = zones["a"].to_json()
    with pytest.raises(ValueError) as info:
        zones[parent].add_sub_environment(zones[child])
    assert f'"{parent}"' in str(info.value) and f'"{child}"' in str(info.value)
    assert zones["a"].to_json() == before


def test_shared_and_repeated_zones_are_allowed_and_live():
    zones = chain()
    a, b, c = zones["a"], zones["b"], zones["c"]
    a.add_sub_environment(c)  # c now sits under two parents
    a.add_sub_environment(c)  # and twice under one
    c.add_charge(2, oe.POSITIVE, "late")
    c.id = "c2"
    tree = json.loads(a.to_json())
    shown = [tree["sub_environments"][0]["sub_environments"][0]] + tree["sub_environments"][1:]
    assert [(z["id"], len(z["charges"])) for z in shown] == [("c2", 1)] * 3
