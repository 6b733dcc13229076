"""What a host sees when it prints a Charge or an Environment."""
import subprocess
import sys

import orv_engine as oe
import pytest


@pytest.mark.parametrize("charge, text", [
    (oe.Charge(3, oe.POSITIVE, "a"), "Charge(3.0, POSITIVE, 'a')"),
    (oe.Charge(float("-inf"), oe.NEGATIVE, "it's"), "Charge(-inf, NEGATIVE, \"it's\")"),
    (oe.Charge(float("nan"), oe.NEUTRAL, "ü\n"), "Charge(nan, NEUTRAL, 'ü\\n')"),
    (oe.Charge(0.1, oe.POSITIVE, ""), "Charge(0.1, POSITIVE, '')"),
])
def test_charge_repr_reads_like_its_constructor(charge, text):
    assert repr(charge) == text


def test_environment_repr_counts_what_the_zone_holds():
    root = oe.Environment("R")
    assert repr(root) == "<Environment 'R': 0 charges, 0 agents, 0 sub-zones>"
    root.add_charge(1, oe.POSITIVE, "a")
    root.add_charge(2, oe.NEGATIVE, "b")
    root.add_equals_gate("g", 1)
    for name in "xyz":
        root.add_sub_environment(oe.Environment(name))
    assert repr(root) == "<Environment 'R': 2 charges, 1 agent, 3 sub-zones>"
    single = oe.Environment("o'k")
    single.add_charge(1, oe.POSITIVE, "a")
    single.add_sub_environment(oe.Environment("s"))
    assert repr(single) == "<Environment \"o'k\": 1 charge, 0 agents, 1 sub-zone>"


def test_stale_view_says_so_without_raising():
    zone = oe.Environment("z")
    zone.add_charge(4, oe.POSITIVE, "c")
    (item,) = zone.charges
    assert repr(item) == "Charge(4.0, POSITIVE, 'c')"
    zone.add_charge(5, oe.POSITIVE, "d")
    assert repr(item) == "<Charge: stale view, its zone's charges have changed since it was read>"
    assert repr(zone.charges) == "[Charge(4.0, POSITIVE, 'c'), Charge(5.0, POSITIVE, 'd')]"


def test_repr_of_objects_made_without_init_and_of_strangers():
    """Refused like every other call on them; in a child interpreter, so that a crash shows as a failure."""
    code = """
import orv_engine as oe
for method, stranger in ((oe.Charge.__repr__, oe.Charge.__new__(oe.Charge)),
                         (oe.Environment.__repr__, oe.Environment.__new__(oe.Environment)),
                         (oe.Charge.__repr__, oe.Environment("x")), (oe.Environment.__repr__, 5)):
    try:
        method(stranger)
    except TypeError as err:
        print(str(err).splitlines()[0])
"""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.splitlines() == [
        "orv_engine.Charge object is not initialised: it was made by __new__ without __init__",
        "orv_engine.Environment object is not initialised: it was made by __new__ without __init__"] + [
        "__repr__(): incompatible function arguments. The following argument types are supported:"] * 2
