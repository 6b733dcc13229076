"""ChargePolarity: a classic enumeration with strict equality, exported into the module."""
import operator
import pickle

import orv_engine as oe
import pytest

CP = oe.ChargePolarity


@pytest.mark.parametrize("name, value", [("POSITIVE", 0), ("NEGATIVE", 1), ("NEUTRAL", 2)])
def test_members(name, value):
    member = getattr(CP, name)
    assert getattr(oe, name) is member is CP.__members__[name]
    assert (member.value, member.name, int(member), operator.index(member)) == (value, name, value, value)
    assert (repr(member), str(member)) == (f"<ChargePolarity.{name}: {value}>", f"ChargePolarity.{name}")
    assert CP(value) == member and hash(member) == hash(value)
    copy = pickle.loads(pickle.dumps(member))
    assert type(copy) is CP and copy == member
    # Strict equality: never equal to a plain int, not even its own value.
    for number in (0, 1, 2):
        assert (member == number, member != number) == (False, True)
    assert [m == member for m in (CP.POSITIVE, CP.NEGATIVE, CP.NEUTRAL)] == [n == name for n in CP.__members__]


def test_members_order_and_value_naming_no_member():
    assert list(CP.__members__) == ["POSITIVE", "NEGATIVE", "NEUTRAL"]
    other = CP(7)
    assert other.value == 7 and other.name not in CP.__members__
    assert all(other != m for m in CP.__members__.values())


def test_polarity_read_is_a_copy():
    charge = oe.Charge(1, oe.NEGATIVE, "a")
    seen = charge.polarity
    charge.polarity = oe.NEUTRAL
    assert seen == oe.NEGATIVE and charge.polarity == oe.NEUTRAL
