"""Environment.charges: items read from it write through to the zone until its charge list changes."""
import json

import orv_engine as oe
import pytest


def test_items_write_through_and_lists_are_copies(zone, shown):
    z = zone("z", "+1 -2")
    items = z.charges
    items[0].magnitude = 5.0
    items[1].polarity, items[1].visual_id = oe.NEUTRAL, "x"
    items.append(oe.Charge(9, oe.POSITIVE, "extra"))
    del items[0]
    assert shown(z) == "+5:a ~2:x" and z.charges is not z.charges
    mine = oe.Charge(1, oe.POSITIVE, "m")
    z.charges = (mine, mine)  # assigning copies each item in
    mine.magnitude = 8
    first = z.charges[0]
    first.magnitude = 3
    assert shown(z) == "+3:m +1:m" and mine.magnitude == 8.0
    del z  # an item keeps its zone alive
    assert first.magnitude == 3.0


def cast(z, seq):
    z.add_abs_magician("abs")  # changes the charges in place, yet the cast alone makes older items stale
    assert json.loads(seq.next_frame())["meta"]["last_event"]["type"] == "CAST_SPELL"


def collapse(z, seq):
    z.add_sub_environment(sub := oe.Environment("s"))
    sub.add_charge(4, oe.NEGATIVE, "s1")
    assert json.loads(seq.next_frame())["meta"]["last_event"]["type"] == "COLLAPSE_ZONE"


@pytest.mark.parametrize("change", [lambda z, seq: z.add_charge(7, oe.POSITIVE, "n"),
                                    lambda z, seq: setattr(z, "charges", z.charges), cast, collapse],
                         ids=["add_charge", "assign", "cast", "collapse"])
def test_items_go_stale_when_the_charge_list_changes(change, zone, shown):
    z = zone("z", "+1 -2")
    seq = oe.NarrativeSequencer(z)
    mine = oe.Charge(6, oe.NEUTRAL, "mine")
    old = z.charges[1]
    change(z, seq)
    after = shown(z)
    for use in (lambda: old.magnitude, lambda: setattr(old, "magnitude", 0), lambda: old.to_json(),
                lambda: setattr(old, "polarity", oe.POSITIVE), lambda: setattr(z, "charges", [mine, old])):
        with pytest.raises(RuntimeError, match="charge view is stale"):
            use()
    assert shown(z) == after
    z.charges[1].magnitude = 11  # an item read after the change writes through
    mine.magnitude = 12
    assert shown(z).split()[1][1:].startswith("11:") and mine.magnitude == 12.0


def test_assigning_none_among_items_changes_nothing(zone, shown):
    z = zone("z", "+1")
    with pytest.raises(TypeError):
        z.charges = [oe.Charge(2, oe.POSITIVE, "b"), None]
    assert shown(z) == "+1:a"
