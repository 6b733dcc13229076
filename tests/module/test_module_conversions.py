"""How values cross between Python and the engine: numbers, text, bytes and the comparison text of gates."""
import json

import orv_engine as oe
import pytest


def test_numbers_and_flags():
    charge = oe.Charge(3, oe.POSITIVE, "a")
    assert type(charge.magnitude) is float
    assert charge.to_json() == '{"magnitude":3.0,"polarity":"positive","visual_id":"a"}'
    seq = oe.NarrativeSequencer(oe.Environment("z"))
    seq.is_finished = 1
    assert seq.is_finished is True
    for frame in (2**31 - 1, -2**31):
        seq.current_frame = frame
    for bad in (2.5, 2**31, -2**31 - 1):
        with pytest.raises(TypeError):
            seq.current_frame = bad
    assert seq.current_frame == -2**31


def test_text_escaping_and_bytes():
    zone = oe.Environment("Zoë ∑")
    zone.add_charge(1, oe.POSITIVE, "line\nfeed\x01")
    assert zone.to_json().startswith(
        r'{"agents":[],"charges":[{"magnitude":1.0,"polarity":"positive","visual_id":"line\nfeed\u0001"}],"id":"Zoë ∑"')
    assert oe.Environment(b"raw").id == "raw" and oe.Environment(bytearray(b"arr")).id == "arr"


@pytest.mark.parametrize("text, rule", [
    (">", ">"), ("<=", "<="), (">=", ">="), (b">=", ">="), ("<", "<"), ("==", "<"), ("=>", "<"),
    (" >", "<"), ("> ", "<"), (">>", "<"), ("", "<"), (">= ", "<"), ("GT", "<"),
])
def test_inequality_gate_comparison_text(text, rule):
    zone = oe.Environment("z")
    zone.add_inequality_gate("j", 4, text)
    assert json.loads(zone.to_json())["agents"] == [{"is_open": False, "name": "The Judge", "priority": 0, "rule": rule,
                                                     "state": "dormant", "target_value": 4.0, "visual_id": "j"}]
