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


@pytest.mark.parametrize("bad, detail", [(b"\xff", "invalid UTF-8 byte at index 0: 0xFF"),
                                         (b"ok\xc3", "incomplete UTF-8 string; last byte: 0xC3")])
def test_invalid_utf8(bad, detail):
    zone, charge = oe.Environment(bad), oe.Charge(1, oe.POSITIVE, bad)
    for read in (lambda: zone.id, lambda: charge.visual_id):
        with pytest.raises(UnicodeDecodeError):
            read()
    seq = oe.NarrativeSequencer(zone)
    for write in (zone.to_json, charge.to_json, seq.next_frame):
        with pytest.raises(RuntimeError) as info:
            write()
        assert str(info.value).startswith("[json.exception.type_error.316]") and detail in str(info.value)
    assert (seq.current_frame, seq.is_finished) == (1, True)  # the frame was applied, only its report was lost


@pytest.mark.parametrize("text, rule", [
    (">", ">"), ("<=", "<="), (">=", ">="), (b">=", ">="), ("<", "<"), ("==", "<"), ("=>", "<"),
    (" >", "<"), ("> ", "<"), (">>", "<"), ("", "<"), (">= ", "<"), ("GT", "<"),
])
def test_inequality_gate_comparison_text(text, rule):
    zone = oe.Environment("z")
    zone.add_inequality_gate("j", 4, text)
    assert json.loads(zone.to_json())["agents"] == [{"is_open": False, "name": "The Judge", "priority": 0, "rule": rule,
                                                     "state": "dormant", "target_value": 4.0, "visual_id": "j"}]
