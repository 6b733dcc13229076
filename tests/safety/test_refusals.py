"""Every refusal names what was wrong: the argument or property, and the value it was given."""
import json

import orv_engine as oe
import pytest



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
    (lambda: oe.Environment(b"ok\xff").to_json(), RuntimeError, ["type_error.316", "index 2", "0xFF"]),
    (lambda: oe.Environment(b"ok\xff").id, UnicodeDecodeError, ["0xff", "position 2"]),
    pytest.param(lambda: assign(oe.NarrativeSequencer(zone()), "current_frame", 2**31), TypeError,
                 ["current_frame", "2147483648"]),
    pytest.param(lambda: assign(oe.NarrativeSequencer(zone()), "is_finished", "yes"), TypeError,
                 ["is_finished", "'yes'"]),
    pytest.param(lambda: assign(zone(), "charges", [oe.Charge(1.0, oe.POSITIVE, "a"), None]), TypeError,
                 ["charges", "None"]),
    pytest.param(lambda: assign(oe.Charge(1.0, oe.POSITIVE, "a"), "magnitude", "x"), TypeError,
                 ["magnitude", "'x'"]),
], ids=["polarity None", "polarity int", "huge magnitude", "target str", "comparison None", "surrogate id",
        "sub_env None", "env None", "cycle", "stale item", "invalid utf8 text", "invalid utf8 read", "current_frame range",
        "is_finished str", "charges None item", "magnitude str"])
def test_refusal_names_argument_and_value(call, error, words):
    with pytest.raises(error) as refused:
        call()
    for word in words:
        assert word in str(refused.value)


def test_report_lost_to_invalid_utf8_leaves_the_frame_applied_and_the_next_one_whole():
    root = oe.Environment(b"r\xe2\x82")  # cut off in the middle of a character
    for magnitude in (2.0, 3.0):
        root.add_charge(magnitude, oe.POSITIVE, "c")
    root.add_plus_magician("p")
    seq = oe.NarrativeSequencer(root)
    with pytest.raises(RuntimeError, match=r"^\[json\.exception\.type_error\.316\] incomplete UTF-8 string; last byte: 0x82"):
        seq.next_frame()
    assert seq.current_frame == 1 and len(root.charges) == 1  # the cast happened
    root.id = "r"
    report = json.loads(seq.next_frame())
    assert report["agents"] == [] and report["meta"]["frame_index"] == 2 and report["meta"]["status"] == "FINISHED"


@pytest.mark.parametrize("zone_id, quoted", [
    ("z" * 200, '"' + "z" * 200 + '"'),
    ("ж" * 201, '"' + "ж" * 200 + '"… (402 bytes)'),
    ("\n" * 300, '"' + "\\n" * 200 + '"… (300 bytes)'),
    (b"\xff" * 250, '"' + "\ufffd" * 200 + '"… (250 bytes)'),
], ids=["200 characters whole", "cut between characters", "escapes", "invalid UTF-8"])
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
