"""Every agent kind alone in a zone: its JSON before the first frame, the charges and event after it."""
import json

import orv_engine as oe
import pytest

# adder, extra args, charges in, display name, priority, charges after frame 1 ("" for a gate that opens and
# leaves them as they were, None when the agent declines and the run ends)
KINDS = [
    ("add_plus_magician", (), "+3 -5", "Plus Magician", 10, "-2:result_v"),
    ("add_plus_magician", (), "+1 ~4", "Plus Magician", 10, "-3:result_v"),
    ("add_minus_magician", (), "+5 +2 +1", "Minus Magician", 10, "+2:result_v"),
    ("add_multiply_magician", (), "-2 -3 +4", "Multiply Magician", 50, "+24:result_product_v"),
    ("add_divide_magician", (), "+8 -2", "Divide Magician", 50, "-4:result_quotient_v"),
    ("add_divide_magician", (), "+8 +2 +1e-10", "Divide Magician", 50, None),
    ("add_power_sorcerer", (), "+1 -2 +3", "Power Sorcerer", 75, "+1:a -8:result_power_v"),
    ("add_root_magician", (), "+3 +-8", "The Extractor", 75, "+-2:result_root_v"),
    ("add_root_magician", (), "-9", "The Extractor", 75, None),
    ("add_abs_magician", (), "-5 +2 ~0", "The Purifier", 90, "+5:purified_a +2:b ~0:c"),
    ("add_factorial_magician", (), "+1 +5", "The Replicator", 85, "+1:a +120:result_factorial_v"),
    ("add_factorial_magician", (), "~171", "The Replicator", 85, "+null:result_factorial_v"),
    ("add_factorial_magician", (), "-4", "The Replicator", 85, None),
    ("add_modulo_magician", (), "+7.5 -2", "The Scavenger", 50, "+1.5:result_remainder_v"),
    ("add_log_magician", (), "+0.5 +8", "The Architect", 90, "-3:result_log_v"),
    ("add_log_magician", (), "+1 +8", "The Architect", 90, None),
    ("add_chronomancer", (), "+1", "Chronomancer", 100, None),
    ("add_equals_gate", (10,), "+4 +6", "Equals Gate", 0, ""),
    ("add_equals_gate", (-3,), "~3", "Equals Gate", 0, ""),
    ("add_equals_gate", (0,), "", "Equals Gate", 0, None),
    ("add_inequality_gate", (0, ">="), "+0", "The Judge", 0, ""),
    ("add_inequality_gate", (5, "<"), "+5", "The Judge", 0, None),
]


@pytest.mark.parametrize("adder, args, charges, name, priority, after", KINDS)
def test_agent_kind(adder, args, charges, name, priority, after, zone, shown, step):
    z = zone("z", charges)
    before = shown(z)
    getattr(z, adder)("v", *args)
    agent = {"name": name, "priority": priority, "state": "dormant", "visual_id": "v"}
    if args:
        agent |= {"is_open": False, "target_value": float(args[0])} | ({"rule": args[1]} if args[1:] else {})
    assert json.loads(z.to_json())["agents"] == [agent]
    report = step(oe.NarrativeSequencer(z))
    event = report["meta"]["last_event"]
    if after is None:  # declined: charges untouched, the agent stays dormant, nothing else can happen
        assert (report["agents"], event["type"], shown(report["charges"])) == ([agent], "FINISHED", before)
    else:
        assert report["agents"] == [] and shown(report["charges"]) == (after or before)
        assert event == {"agent_name": name, "description": f"{name} executed operation in z",
                         "type": "CAST_SPELL", "visual_id": "v"}
