"""Every refusal names what was wrong: the argument or property, and the value it was given."""
import json
import re

import orv_engine as oe
import pytest
from hypothesis import given, strategies as st



def zone(*charges):
    z = oe.Environment("z")
    for magnitude in charges:
        z.add_charge(magnitude, oe.POSITIVE, "c")
    return z


def stale_item():
    z = zone(1.0)
    item = z.charges[0]
    z.add_charge(2.0, oe.POSITIVE, "d")
    return item


def assign(target, name, value):
    setattr(target, name, value)


@pytest.mark.parametrize("call, error, words", [
    (lambda: zone().add_charge(1.0, None, "a"), TypeError, ["add_charge", "polarity", "None"]),
    (lambda: zone().add_charge(1.0, 0, "a"), TypeError, ["add_charge", "polarity", "1.0, 0, 'a'"]),
    (lambda: zone().add_charge(10**400, oe.POSITIVE, "a"), TypeError, ["add_charge", "magnitude", "1000000000"]),
    (lambda: zone().add_equals_gate("g", "five"), TypeError, ["add_equals_gate", "target", "'five'"]),
    (lambda: zone().add_inequality_gate("g", 1.0, None), TypeError, ["add_inequality_gate", "comparison_type", "None"]),
    (lambda: oe.Environment("\ud800"), TypeError, ["Environment", "id: str", "'\\ud800'"]),
    (lambda: zone().add_sub_environment(None), TypeError, ["add_sub_environment", "sub_env", "None"]),
    (lambda: oe.NarrativeSequencer(None), TypeError, ["NarrativeSequencer", "env", "None"]),
    (lambda: (lambda z: z.add_sub_environment(z))(zone()), ValueError, ['"z" under zone "z"', "cycle"]),
    (lambda: stale_item().magnitude, RuntimeError, ["stale", 'zone "z"', "index 0"]),
    (lambda: oe.Environment(b"ok\xff"), ValueError, ["Environment(): argument 'id'", "b'ok\\xff'", "index 2", "0xFF"]),
    (lambda: assign(oe.Environment("z"), "id", b"ok\xff"), ValueError, ["Environment.id", "index 2", "0xFF"]),
    pytest.param(lambda: assign(oe.NarrativeSequencer(zone()), "current_frame", 2**31), TypeError,
                 ["current_frame", "2147483648"]),
    pytest.param(lambda: assign(oe.NarrativeSequencer(zone()), "is_finished", "yes"), TypeError,
                 ["is_finished", "'yes'"]),
    pytest.param(lambda: assign(zone(), "charges", [oe.Charge(1.0, oe.POSITIVE, "a"), None]), TypeError,
                 ["charges", "None"]),
    pytest.param(lambda: assign(oe.Charge(1.0, oe.POSITIVE, "a"), "magnitude", "x"), TypeError,
                 ["magnitude", "'x'"]),
], ids=["polarity None", "polarity int", "huge magnitude", "target str", "comparison None", "surrogate id",
        "sub_env None", "env None", "cycle", "stale item", "invalid utf8 id", "invalid utf8 id set", "current_frame range",
        "is_finished str", "charges None item", "magnitude str"])
def test_refusal_names_argument_and_value(call, error, words):
    with pytest.raises(error) as refused:
        call()
    for word in words:
        assert word in str(refused.value)


@pytest.mark.parametrize("zone_id, quoted", [
    ("z" * 200, '"' + "z" * 200 + '"'),
    ("ж" * 201, '"' + "ж" * 200 + '"… (402 bytes)'),
    ("\n" * 300, '"' + "\\n" * 200 + '"… (300 bytes)'),
    ("😀" * 250, '"' + "😀" * 200 + '"… (1000 bytes)'),
], ids=["200 characters whole", "cut between characters", "escapes", "four-byte characters"])
def test_names_in_messages_are_cut_after_200_characters(zone_id, quoted):
    z = oe.Environment(zone_id)
    with pytest.raises(ValueError) as refused:
        z.add_sub_environment(z)
    assert str(refused.value) == f"cannot add zone {quoted} under zone {quoted}: it would close a cycle ({quoted} is that zone itself)"


def test_messages_about_zones_with_100_mb_ids_stay_small():
    from child import run_child
    found = run_child("""
        import json, orv_engine as oe
        a, b = oe.Environment("a" * 100_000_000), oe.Environment("b" * 100_000_000)
        a.add_sub_environment(b)
        messages = []
        for call in (lambda: b.add_sub_environment(a), lambda: setattr(items[0], "magnitude", 2.0)):
            try:
                items = b.charges
                b.add_charge(1.0, oe.POSITIVE, "c")
                call()
            except (ValueError, RuntimeError) as error:
                messages.append(str(error))
        print(json.dumps(messages))
    """)
    a, b = ('"' + letter * 200 + '"… (100000000 bytes)' for letter in "ab")
    assert found == [f"cannot add zone {a} under zone {b}: it would close a cycle ({a} already holds it)",
                     f"the charge view is stale: the charges of zone {b} changed after this item (index 0) was read, "
                     "so charges must be read again"]


# Every place where text enters the module, with the words that name it in a refusal. Each call gets a
# zone that holds one charge (and so one item to write through).
TEXT_ENTRIES = {
    "Environment(): argument 'id'": lambda z, text: oe.Environment(text),
    "Environment.id: the value": lambda z, text: assign(z, "id", text),
    "Charge(): argument 'visual_id'": lambda z, text: oe.Charge(1.0, oe.POSITIVE, text),
    "Charge.visual_id: the value": lambda z, text: assign(z.charges[0], "visual_id", text),
    "add_charge(): argument 'visual_id'": lambda z, text: z.add_charge(1.0, oe.POSITIVE, text),
    "add_equals_gate(): argument 'visual_id'": lambda z, text: z.add_equals_gate(text, 1.0),
    "add_inequality_gate(): argument 'visual_id'": lambda z, text: z.add_inequality_gate(text, 1.0, ">"),
    "add_inequality_gate(): argument 'comparison_type'": lambda z, text: z.add_inequality_gate("j", 1.0, text),
} | {f"add_{kind}(): argument 'visual_id'": (lambda kind: lambda z, text: getattr(z, "add_" + kind)(text))(kind)
     for kind in ("plus_magician", "minus_magician", "multiply_magician", "divide_magician", "power_sorcerer",
                  "root_magician", "abs_magician", "factorial_magician", "modulo_magician", "log_magician",
                  "chronomancer")}

# Bytes and bytearray are taken as they come, so they can hold anything (a str with a lone surrogate is
# refused by the argument conversion; see "surrogate id" above).
BAD_TEXT = [b"a\xff", bytearray(b"ok\xc3"), b"\xed\xa0\x80", b"\xc0\xaf", b"ab\xf4\x90\x80\x80", b"\x80"]


@pytest.mark.parametrize("text", BAD_TEXT, ids=["stray byte", "cut off", "surrogate", "overlong", "past U+10FFFF",
                                                "continuation"])
@pytest.mark.parametrize("what", TEXT_ENTRIES)
def test_text_that_is_not_utf8_is_refused_where_it_enters_and_nothing_is_stored(what, text):
    z = oe.Environment("z")
    z.add_charge(1.0, oe.POSITIVE, "c")
    before, fault = z.to_json(), decode_fault(text)
    with pytest.raises(ValueError, match=rf"^{re.escape(what)} must be UTF-8 text, but {re.escape(repr(bytes(text)))} "
                                         rf"is not valid UTF-8 from index {fault} \(byte 0x{text[fault]:02X}\)$"):
        TEXT_ENTRIES[what](z, text)
    assert z.to_json() == before


def decode_fault(data):
    try:
        bytes(data).decode("utf-8")
    except UnicodeDecodeError as error:
        return error.start
    return None


# The characters at the edges of each length of UTF-8, and the sequences just past those edges
# (overlong forms, surrogates, past U+10FFFF, leads that never occur).
EDGES = [chr(c).encode() for c in (0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x10FFFF)] + [
    b"\xc1\xbf", b"\xe0\x9f\xbf", b"\xed\xa0\x80", b"\xed\xbf\xbf", b"\xf0\x8f\xbf\xbf", b"\xf4\x90\x80\x80",
    b"\xf5\x80\x80\x80", b"\xf8\x88\x80\x80\x80", b"\xfe", b"\xff"]
# Bytes near UTF-8: valid characters of every length, whole and cut, edges and stray bytes, joined.
NEAR_UTF8 = st.lists(st.one_of(st.text(max_size=3).map(str.encode), st.sampled_from(EDGES),
                               st.text(min_size=1, max_size=1).map(lambda t: t.encode()[:-1]),
                               st.binary(max_size=2)), max_size=6).map(b"".join)


@given(data=NEAR_UTF8)
def test_bytes_are_taken_exactly_when_python_reads_them_as_utf8(data):
    fault = decode_fault(data)
    if fault is None:
        zone = oe.Environment(data)
        assert zone.id == data.decode("utf-8") and json.loads(zone.to_json())["id"] == zone.id
    else:
        with pytest.raises(ValueError, match=rf" from index {fault} \(byte 0x{data[fault]:02X}\)$"):
            oe.Environment(data)


def test_values_in_text_refusals_are_cut_after_200_bytes():
    with pytest.raises(ValueError, match=r"^Environment\(\): argument 'id' must be UTF-8 text, but b'x{200}'… "
                                         r"\(100000001 bytes\) is not valid UTF-8 from index 100000000 \(byte 0xFF\)$"):
        oe.Environment(b"x" * 100_000_000 + b"\xff")
