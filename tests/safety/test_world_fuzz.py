"""Stateful fuzzing of the whole module surface: random sequences of every public operation with
hostile values, checked against a model of the world after every step.

CI runs 150 examples. A long session: ORV_FUZZ_EXAMPLES=20000 .venv/bin/python -m pytest -q -x
tests/safety/test_world_fuzz.py, or against the sanitized module: ORV_FUZZ_EXAMPLES=20000 bash
scripts/sanitize.sh -x tests/safety/test_world_fuzz.py. A failure prints the @reproduce_failure blob that replays it.
A long session ends by saying how many host operations it ran (ORV_FUZZ_EXAMPLES set)."""
import json
import math
import os
import re

import orv_engine as oe
import pytest
from hypothesis import HealthCheck, event, settings, strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, initialize, invariant, multiple, rule

# kind -> (display name, priority, charges it needs to act, what its cast leaves of the zone's charges)
KINDS = {
    "plus_magician": ("Plus Magician", 10, 2, "fold"), "minus_magician": ("Minus Magician", 10, 2, "fold"),
    "multiply_magician": ("Multiply Magician", 50, 2, "fold"), "divide_magician": ("Divide Magician", 50, 2, "fold"),
    "power_sorcerer": ("Power Sorcerer", 75, 2, "pair"), "modulo_magician": ("The Scavenger", 50, 2, "pair"),
    "root_magician": ("The Extractor", 75, 1, "tail"), "log_magician": ("The Architect", 90, 1, "tail"),
    "factorial_magician": ("The Replicator", 85, 1, "last"), "abs_magician": ("The Purifier", 90, 1, "same"),
    "equals_gate": ("Equals Gate", 0, 1, "same"), "inequality_gate": ("The Judge", 0, 1, "same"),
    "chronomancer": ("Chronomancer", 100, None, None),
}
# A zone's charges are modelled as a list with one item (None) per charge.
SHAPES = {"fold": lambda f: [None], "pair": lambda f: f[:-2] + [None], "last": lambda f: f[:-1] + [None],
          "tail": lambda f: f[:-2] + [None] if len(f) > 1 else [None], "same": lambda f: f}
# Rule texts and the rule each builds; None for text that is refused (not valid UTF-8).
RULES = {">": ">", "<=": "<=", ">=": ">=", b">=": ">=", "<": "<", "": "<", "==": "<", " >": "<", ">>": "<",
         b">\xff": None}
KEY_ORDERS = {
    ("agents", "charges", "id", "is_time_frozen", "sub_environments"),
    ("agents", "charges", "id", "is_time_frozen", "meta", "sub_environments"),
    ("frame_index", "last_event", "message", "status"), ("agent_name", "description", "type", "visual_id"),
    ("magnitude", "polarity", "visual_id"), ("name", "priority", "state", "visual_id"),
    ("is_open", "name", "priority", "state", "target_value", "visual_id"),
    ("is_open", "name", "priority", "rule", "state", "target_value", "visual_id"),
}
IDS = st.sampled_from(["", "z", "ж" * 3000, "é✓", "\n\t\x00\x1f\"\\", "\u2028😀", b"", b"bytes", "ж".encode(), b"\xff", b"a\xc3"]) | st.text(max_size=4)
MAGNITUDES = st.sampled_from([math.nan, math.inf, -math.inf, -0.0, 0.0, 1e308, -1e308, 5e-324, 2, -3, 0.5, 10**400]) | st.floats()
POLARITIES = st.sampled_from([oe.POSITIVE, oe.NEGATIVE, oe.NEUTRAL, oe.ChargePolarity(7), 0, None])
FRAMES = st.sampled_from([-2**31, -1, 0, 998, 999, 1000, 2**31 - 1, 2**31, -2**31 - 1, 1.5, None])


def bad_utf8(text):
    return isinstance(text, bytes) and text.decode(errors="replace").encode() != text


def refused_text(call, what):
    """Text that is not valid UTF-8 is refused where it enters, naming the argument; nothing changes."""
    with pytest.raises(ValueError, match=rf"^{re.escape(what)} must be UTF-8 text, but .* is not valid UTF-8 from index \d+"):
        call()


def shown(text):
    return text.decode() if isinstance(text, bytes) else text


def convertible(magnitude):
    return not isinstance(magnitude, int) or abs(magnitude) < 2**1023


def parse(text):
    def ordered(pairs):
        assert tuple(k for k, _ in pairs) in KEY_ORDERS, pairs
        return dict(pairs)
    return json.loads(text, object_pairs_hook=ordered)


class Zone:
    def __init__(self, zone_id):
        self.env, self.id, self.charges, self.agents, self.subs = oe.Environment(zone_id), zone_id, [], [], []
        self.frozen, self.version = False, 0

    def places(self):
        """Every (parent, zone) place below and including this zone, sub-zones first, in list order."""
        for sub in self.subs:
            yield from sub.places()
            yield self, sub

    def changed(self, charges):
        self.charges, self.version = charges, self.version + 1


# Host operations run so far: every rule and initialiser is one call (or a few) on the module.
OPERATIONS = [0]


@pytest.fixture(scope="module", autouse=True)
def operation_count(request):
    yield
    if "ORV_FUZZ_EXAMPLES" in os.environ:
        with request.config.pluginmanager.get_plugin("capturemanager").global_and_fixture_disabled():
            print(f"\nfuzzing: {OPERATIONS[0]} host operations")


class World(RuleBasedStateMachine):
    zones, views, sequencers = Bundle("zones"), Bundle("views"), Bundle("sequencers")

    @invariant()
    def count_operation(self):  # invariants run after every step
        OPERATIONS[0] += 1

    def __init__(self):
        super().__init__()
        self.serial, self.cast, self.root = 0, set(), Zone("root")

    @initialize(target=zones)
    def seed_zones(self):
        child = Zone("child")
        self.attach(self.root, child)
        return multiple(self.root, child)

    @initialize(target=sequencers)
    def seed_sequencer(self):
        return self.new_sequencer(self.root)

    @rule(target=zones, zone_id=IDS)
    def new_zone(self, zone_id):
        if bad_utf8(zone_id):
            refused_text(lambda: oe.Environment(zone_id), "Environment(): argument 'id'")
            zone_id = "refused"
        return Zone(zone_id)

    @rule(z=zones, magnitude=MAGNITUDES, polarity=POLARITIES, vid=IDS)
    def add_charge(self, z, magnitude, polarity, vid):
        if not (convertible(magnitude) and isinstance(polarity, oe.ChargePolarity)):
            with pytest.raises(TypeError):
                z.env.add_charge(magnitude, polarity, vid)
            return
        if bad_utf8(vid):
            refused_text(lambda: z.env.add_charge(magnitude, polarity, vid), "add_charge(): argument 'visual_id'")
            return
        z.env.add_charge(magnitude=magnitude, polarity=polarity, visual_id=vid)
        z.changed(z.charges + [None])

    @rule(z=zones, kind=st.sampled_from(sorted(KINDS)), prefix=IDS, goal=MAGNITUDES,
          comparison=st.sampled_from(sorted(RULES, key=repr)), fed=st.sampled_from([(), (2.0,), (5.0, -0.5)]))
    def add_agent(self, z, kind, prefix, goal, comparison, fed):
        for magnitude in fed:  # charges to work on
            self.add_charge(z, magnitude, oe.POSITIVE, "fed")
        self.serial += 1
        vid = prefix + (b"#%d" if isinstance(prefix, bytes) else "#%d") % self.serial
        args = [vid] + ([goal] if "gate" in kind else []) + ([comparison] if kind == "inequality_gate" else [])
        if "gate" in kind and not convertible(goal):
            with pytest.raises(TypeError):
                getattr(z.env, "add_" + kind)(*args)
        elif bad_utf8(vid):
            refused_text(lambda: getattr(z.env, "add_" + kind)(*args), f"add_{kind}(): argument 'visual_id'")
        elif kind == "inequality_gate" and RULES[comparison] is None:
            refused_text(lambda: z.env.add_inequality_gate(*args), "add_inequality_gate(): argument 'comparison_type'")
        else:
            getattr(z.env, "add_" + kind)(*args)
            z.agents.append((shown(vid), kind, goal, RULES[comparison] if kind == "inequality_gate" else None))

    @rule(parent=zones, child=zones)
    def attach(self, parent, child):
        if child is parent or any(place[1] is parent for place in child.places()):
            with pytest.raises(ValueError, match="cycle") as refused:
                parent.env.add_sub_environment(child.env)
            assert len(str(refused.value)) < 2_000  # names are cut in messages
        else:
            parent.env.add_sub_environment(sub_env=child.env)
            parent.subs.append(child)

    @rule(z=zones, zone_id=IDS, frozen=st.sampled_from([True, False, None, 0, 2, 0.5]))
    def write_zone(self, z, zone_id, frozen):
        if bad_utf8(zone_id):
            refused_text(lambda: setattr(z.env, "id", zone_id), "Environment.id: the value")
        else:
            z.env.id, z.id = zone_id, zone_id
        z.env.is_time_frozen, z.frozen = frozen, bool(frozen)
        assert z.env.id == shown(z.id) and z.env.is_time_frozen is bool(frozen)

    @rule(target=views, z=zones)
    def read_charges(self, z):
        items = z.env.charges
        assert len(items) == len(z.charges)
        return z, items, z.version

    @rule(view=views, index=st.integers(0, 5), magnitude=MAGNITUDES, polarity=POLARITIES, vid=IDS)
    def write_view(self, view, index, magnitude, polarity, vid):
        z, items, version = view
        if index >= len(items):
            return
        item = items[index]
        if not convertible(magnitude):
            with pytest.raises(TypeError):
                item.magnitude = magnitude
        elif not isinstance(polarity, oe.ChargePolarity):
            with pytest.raises(TypeError):
                item.polarity = polarity
        elif bad_utf8(vid):  # refused before the item is looked at
            refused_text(lambda: setattr(item, "visual_id", vid), "Charge.visual_id: the value")
        elif version != z.version:
            with pytest.raises(RuntimeError, match="stale"):
                item.visual_id = vid
        else:
            item.magnitude, item.polarity, item.visual_id = magnitude, polarity, vid
            assert (item.visual_id, item.polarity) == (shown(vid), polarity)
            assert parse(item.to_json())["visual_id"] == shown(vid)

    @rule(z=zones, fresh=st.lists(st.tuples(MAGNITUDES, IDS), max_size=4), view=st.none() | views, with_none=st.booleans())
    def assign_charges(self, z, fresh, view, with_none):
        for m, v in fresh:
            if convertible(m) and bad_utf8(v):
                refused_text(lambda: oe.Charge(m, oe.NEUTRAL, v), "Charge(): argument 'visual_id'")
        made = [oe.Charge(m, oe.NEUTRAL, v) for m, v in fresh if convertible(m) and not bad_utf8(v)]
        items = made + (list(view[1]) if view else [])
        if with_none or (view and view[2] != view[0].version and view[1]):
            with pytest.raises(TypeError if with_none else RuntimeError):
                z.env.charges = items + [None] * with_none
            return
        z.env.charges = tuple(items)
        z.changed([None] * len(made) + (list(view[0].charges) if view and view[1] else []))

    @rule(target=sequencers, z=zones)
    def new_sequencer(self, z):
        return {"seq": oe.NarrativeSequencer(env=z.env), "root": z, "frame": 0, "finished": False}

    @rule(s=sequencers, frame=FRAMES, finished=st.sampled_from([True, False, None, 0, 3, "no"]))
    def write_sequencer(self, s, frame, finished):
        if not (isinstance(frame, int) and -2**31 <= frame < 2**31):
            with pytest.raises(TypeError):
                s["seq"].current_frame = frame
        else:
            s["seq"].current_frame = s["frame"] = frame
        if isinstance(finished, str):
            with pytest.raises(TypeError):
                s["seq"].is_finished = finished
        else:
            s["seq"].is_finished, s["finished"] = finished, bool(finished)
        assert (s["seq"].current_frame, s["seq"].is_finished) == (s["frame"], s["finished"])

    @rule(s=sequencers)
    def step(self, s):
        root = s["root"]
        if s["frame"] >= 1000 or s["finished"]:
            expected = ("ERROR", "Max frame limit reached. Infinite loop detected.") if s["frame"] >= 1000 else \
                ("FINISHED", "Simulation complete. No further actions.")
            s["finished"] = True
            meta = self.check_report(root, s["seq"].next_frame())
            assert (meta["frame_index"], meta["status"], meta["message"], meta["last_event"]) == (s["frame"], *expected, None)
            return
        s["frame"] += 1
        places = list(root.places())
        world = [root] + [z for _, z in places]
        for z in world:
            z.frozen = any(sub.agents or len(sub.charges) > 1 for sub in z.subs)
        text = s["seq"].next_frame()
        outcome = json.loads(text)["meta"]["last_event"]
        event(outcome["type"])
        if outcome["type"] == "CAST_SPELL":
            z, agent = next((z, a) for z in world for a in z.agents if a[0] == outcome["visual_id"])
            name, _, needs, shape = KINDS[agent[1]]
            assert not z.frozen and needs is not None and len(z.charges) >= needs
            assert outcome["description"] == f"{name} executed operation in {shown(z.id)}"
            z.agents.remove(agent)
            z.changed(SHAPES[shape](z.charges))
            self.cast.add(agent[0])
        else:
            ripe = [(parent, z) for parent, z in places if not z.agents and len(z.charges) == 1]
            if outcome["type"] == "COLLAPSE_ZONE":
                parent, z = ripe[0]
                assert outcome["visual_id"] == "shield_" + shown(z.id)
                parent.changed(parent.charges + z.charges)
                parent.subs.remove(z)
            else:
                assert not ripe and outcome["description"] == "Equation Resolved."
                s["finished"] = True
        meta = self.check_report(root, text)
        assert (meta["frame_index"], meta["message"]) == (s["frame"], outcome["description"])
        assert meta["status"] == ("FINISHED" if s["finished"] else "RUNNING")

    @rule(z=zones, kind=st.sampled_from(["Charge", "Environment", "NarrativeSequencer", "ChargePolarity"]),
          use=st.integers(0, 5))
    def use_bare_object(self, z, kind, use):
        """An object made by __new__ alone: refused by whatever touches it, as itself or as an argument."""
        bare = getattr(oe, kind).__new__(getattr(oe, kind))
        uses = {
            "Charge": [lambda: bare.magnitude, lambda: bare.to_json(), lambda: setattr(bare, "visual_id", "v"),
                       lambda: setattr(z.env, "charges", [bare])],
            "Environment": [lambda: bare.id, lambda: bare.to_json(), lambda: bare.add_plus_magician("p"),
                            lambda: z.env.add_sub_environment(bare), lambda: oe.NarrativeSequencer(bare)],
            "NarrativeSequencer": [lambda: bare.next_frame(), lambda: bare.is_finished, lambda: setattr(bare, "current_frame", 1)],
            "ChargePolarity": [lambda: repr(bare), lambda: bare.value, lambda: z.env.add_charge(1.0, bare, "c"),
                               lambda: oe.POSITIVE == bare],
        }[kind]
        with pytest.raises(TypeError, match=rf"^orv_engine\.\w+ object is not initialised"):
            uses[use % len(uses)]()

    @rule(z=zones, s=sequencers, zone_id=IDS)
    def initialise_again(self, z, s, zone_id):
        """A second __init__ is refused and changes nothing (the next checks of the world see to that)."""
        with pytest.raises(TypeError, match=r"^Environment\.__init__\(\) refused: .* already initialised"):
            z.env.__init__(zone_id)
        with pytest.raises(TypeError, match=r"^NarrativeSequencer\.__init__\(\) refused"):
            s["seq"].__init__(z.env)

    @rule(z=zones)
    def to_json(self, z):
        assert self.tree(parse(z.env.to_json())) == self.model_tree(z)

    def check_report(self, root, text):
        report = parse(text)
        meta = report.pop("meta")
        assert self.tree(report) == self.model_tree(root)
        assert isinstance(meta["frame_index"], int) and meta["status"] in ("RUNNING", "FINISHED", "ERROR")
        return meta

    def tree(self, zone):
        for agent in zone["agents"]:
            assert agent["state"] in ("dormant", "active") and agent.get("is_open", False) is False
            assert agent["visual_id"] not in self.cast
        return (zone["id"], zone["is_time_frozen"], len(zone["charges"]),
                [(a["visual_id"], a["name"], a["priority"], a.get("target_value", 0), a.get("rule")) for a in zone["agents"]],
                [self.tree(sub) for sub in zone["sub_environments"]])

    def model_tree(self, z):
        def target(value):
            return None if not math.isfinite(value) else float(value)
        return (shown(z.id), bool(z.subs) and z.frozen, len(z.charges),
                [(vid, KINDS[kind][0], KINDS[kind][1], target(t) if "gate" in kind else 0, rule)
                 for vid, kind, t, rule in z.agents], [self.model_tree(sub) for sub in z.subs])


World.TestCase.settings = settings(max_examples=int(os.environ.get("ORV_FUZZ_EXAMPLES", "150")), deadline=None,
                                   stateful_step_count=40, suppress_health_check=[HealthCheck.too_slow])
TestWorld = World.TestCase
