"""Verdicts of orv runs: a tracker follows a run frame by frame and says how it ended.

The tracker keeps its own tree of the world's zones, agents and gates, built from the world
before frame 1, and moves it along with every report. The algorithm:

1. Placing each frame's event. The world before the frame and the report after it are walked
   side by side from the root, skipping every pair of zones that compare equal. A cast is the
   zone whose agent list lost exactly one agent, the one the event names (the first agent that
   differs in name, visual id, target or rule); a fold is the zone whose sub-zone list lost
   exactly one sub-zone, the first that differs from the report's, frozen flags aside, whose id
   the event's "shield_" visual id names. Nothing else changes the shape of a world, so the first
   such zone is the place.
2. Fates. A cast removes the agent from the tree; a gate that casts has opened. A fold removes
   the sub-zone (it "folded into" the zone that lost it) and everything inside it: each zone
   below it was "carried off", and each gate in those zones that had not opened was "carried
   off unopened", both by that fold at that frame. The root never leaves.
3. Turns. A gate has the turn in a frame when its zone is not frozen in that frame's report and
   the frame ended in a fold or in the end of the run (then every candidate was offered the
   turn and declined), or when the gate itself cast. A gate whose zone held no charges at such
   a frame did not compare anything. Otherwise the comparison used its zone's total before the
   frame; the tracker keeps that total from the live zone (the engine's own numbers, since the
   reports write NaN and both infinities as null), falling back on the reports' values when it
   follows a saved run. A cast by another agent while the gate's zone is unfrozen does not
   count as a turn of the gate: it may not have been offered one.
4. The verdict of a run that ended with a "FINISHED" report is "solved" when nothing is left:
   every gate opened and every zone folded. Otherwise it is "unsolved" and the reasons are, in
   this order: what folds carried off (by frame), the gates still in the world that did not
   open (with the comparison of their last turn, or the words that they never had one), and
   the sub-zones still in the world that are not frozen (frozen ones wait on their sub-zones,
   which tell why). A run that ended with an "ERROR" report hit the frame limit: its verdict is
   "limit" with the limit and the zones still to fold. A run that has not ended is "paused".

Zones are named by their id when no other zone of the world before frame 1 has the same id,
and otherwise by the ids of the path from the root, joined by "/" (`a/a`); a sibling that shares
its id with an earlier sibling gets its place among them, counted from 1 (`r/b[2]`).
"""

from __future__ import annotations

import math
from collections.abc import Iterator
from dataclasses import dataclass, field
from typing import Any

FRAME_LIMIT = 1000
GATE_NAMES = ("Equals Gate", "The Judge")
KEEPER = "Chronomancer"
SHOWN_ZONES = 5  # zones named in a frame-limit verdict
AGENT_KEYS = ("name", "visual_id", "target_value", "rule")  # what tells agents of a zone apart


def number(value) -> str:
    """A magnitude or total as people write it: 3, 2.5, inf, -inf, nan (None: a report's null)."""
    if value is None:
        return "NaN or ±inf"  # the engine writes NaN and both infinities as null
    if math.isnan(value) or math.isinf(value):
        return str(value)
    if value == int(value) and abs(value) < 1e15:
        return str(int(value))
    return f"{value:.6g}"


def agent_label(agent) -> str:
    return f"{agent.name} ({agent.visual_id})"


def count(n: int, word: str) -> str:
    return f"{n:,} {word}" + ("" if n == 1 else "s")


@dataclass(eq=False)
class Agent:
    name: str
    visual_id: str
    target: float | None = None  # gates only
    rule: str | None = None  # the Judge only
    zone: "Zone" = None  # type: ignore[assignment]  # set by the tracker for every agent it follows
    opened: int | None = None  # frame at which a gate opened
    carried: int | None = None  # frame at which a fold carried it off
    turn: tuple | None = None  # (frame, total or None for an empty zone)

    @property
    def gate(self) -> bool:
        return self.name in GATE_NAMES


@dataclass(eq=False)
class Zone:
    id: str
    env: object = None  # the live orv_engine.Environment, when the tracker has one
    parent: "Zone | None" = None
    agents: list["Agent"] = field(default_factory=list)
    subs: list["Zone"] = field(default_factory=list)
    total: float | None = 0.0  # before the next frame
    charges: int = 0


def live_total(env) -> tuple[float, int]:
    """The total of a live zone as the gates count it, and its number of charges."""
    import orv_engine

    total, n = 0.0, 0
    for charge in env.charges:
        m = charge.magnitude
        total = total + (m if charge.polarity == orv_engine.POSITIVE else -m)
        n += 1
    return total, n


def report_total(zone: dict) -> tuple[float | None, int]:
    """The same from a report; None when a null magnitude hides NaN or an infinity."""
    total = 0.0
    for c in zone["charges"]:
        if c["magnitude"] is None:
            return None, len(zone["charges"])
        total = total + (c["magnitude"] if c["polarity"] == "positive" else -c["magnitude"])
    return total, len(zone["charges"])


@dataclass
class Verdict:
    kind: str  # "solved", "unsolved", "limit" or "paused"
    frames: int
    reasons: list[str]

    @property
    def solved(self) -> bool:
        return self.kind == "solved"

    def as_dict(self) -> dict:
        return {"verdict": self.kind, "frames": self.frames, "reasons": list(self.reasons)}


@dataclass
class Event:
    """Where a frame's event happened: its kind, the zone it touched (the zone's dict in the
    report and its name) and, for a fold, the folded zone's name."""
    type: str | None
    zone: dict | None = None
    name: str = ""
    agent: Agent | None = None
    folded: str = ""
    env: object = None  # the live zone it touched, when the tracker has one


class Tracker:
    """Follows one run. `world` is the zone's JSON before frame 1, then each report goes to
    `advance`; for a saved run, `world` is its first report, which goes to `begin`. `live` holds
    the engine's zones in the order of `preorder(world)`, `targets` the gates' targets in the
    same order (the reports write non-finite targets as null)."""

    def __init__(self, world: dict, live: list | None = None, targets: list | None = None):
        self.world = world
        self.frames = 0
        self.status = "RUNNING"
        self.unknown: list[str] = []
        self.carried: list[str] = []
        self.duplicates: set[str] = set()
        seen: set[str] = set()
        for _, zone in preorder(world):
            (self.duplicates if zone["id"] in seen else seen).add(zone["id"])
        live = list(live) if live is not None else None
        given = iter(targets) if targets is not None else None
        self.root: Zone  # the first zone of the preorder
        self.gates: list[Agent] = []
        nodes: list[Zone] = []
        for index, (parent_index, zone) in enumerate(preorder(world)):
            node = Zone(zone["id"], live[index] if live else None)
            if parent_index is not None:
                node.parent = nodes[parent_index]
                node.parent.subs.append(node)
            else:
                self.root = node
            for raw in zone["agents"]:
                target = next(given) if given is not None and raw["name"] in GATE_NAMES else \
                    raw.get("target_value")
                agent = Agent(raw["name"], raw["visual_id"], target, raw.get("rule"), node)
                node.agents.append(agent)
                if agent.gate:
                    self.gates.append(agent)
            self._measure(node, zone)
            nodes.append(node)

    # ------------------------------------------------------------ names

    def name(self, node: Zone) -> str:
        if node.id not in self.duplicates:
            return node.id
        parts = []
        step: Zone | None = node
        while step is not None:
            part = step.id
            if step.parent is not None:
                same = [s for s in step.parent.subs if s.id == step.id]
                if len(same) > 1:
                    part += f"[{same.index(step) + 1}]"
            parts.append(part)
            step = step.parent
        return "/".join(reversed(parts))

    # ------------------------------------------------------------ following the run

    def _measure(self, node: Zone, zone: dict) -> None:
        """Keeps the total of a zone that holds gates: only gates read it."""
        if any(a.gate for a in node.agents):
            node.total, node.charges = live_total(node.env) if node.env is not None else report_total(zone)

    def begin(self, report: dict) -> Event:
        """Takes the first report of a saved run, whose world the tracker was built from; the
        world before it is unknown, so its event cannot be placed."""
        meta = report["meta"]
        self.frames, self.status = meta["frame_index"], meta["status"]
        event = meta["last_event"]
        kind = event["type"] if event else None
        if kind == "COLLAPSE_ZONE":
            self.unknown.append(
                f"zone {event['visual_id'].removeprefix('shield_')} folded at frame {self.frames}, "
                "before the first report of the run file, so what that fold carried off cannot be told")
        elif kind == "FINISHED" and meta["status"] != "ERROR":
            self._turns(report, self.frames)
        return Event(kind, None, "")

    def advance(self, report: dict) -> Event:
        """Takes the next report; returns where its event happened."""
        meta = report["meta"]
        before, self.world = self.world, report
        frame = meta["frame_index"]
        self.frames, self.status = frame, meta["status"]
        event = meta["last_event"]
        kind = event["type"] if event else None
        if kind not in ("CAST_SPELL", "COLLAPSE_ZONE"):
            if kind == "FINISHED" and meta["status"] != "ERROR":
                self._turns(report, frame)
            return Event(kind, report, self.name(self.root), env=self.root.env)
        found = self._place(before, report, event)
        if found is None:
            self.unknown.append(f"the event of frame {frame} ({event['description']}) does not follow "
                                "from the world before it, so the run cannot be judged")
            self._resync(report)
            return Event(kind, None, "")
        node, zone, index = found
        if kind == "CAST_SPELL":
            agent = node.agents.pop(index)
            if agent.gate:
                agent.opened = frame
            self._measure(node, zone)
            return Event(kind, zone, self.name(node), agent=agent, env=node.env)
        folded = node.subs[index]
        folded_name, into = self.name(folded), self.name(node)
        for inner in self._below(folded):
            where = self.name(inner)
            self.carried.append(f"zone {where} was carried off when zone {folded_name} folded into "
                                f"{into} at frame {frame}")
            for agent in inner.agents:
                if agent.gate:
                    agent.carried = frame
                    self.carried.append(f"{agent_label(agent)} in zone {where} was carried off unopened "
                                        f"when zone {folded_name} folded into {into} at frame {frame}")
        node.subs.pop(index)
        self._turns(report, frame)  # the totals are still those from before the frame
        self._measure(node, zone)
        return Event(kind, zone, into, folded=folded_name, env=node.env)

    @staticmethod
    def _below(folded: Zone) -> list[Zone]:
        out, stack = [], list(reversed(folded.subs))
        while stack:
            inner = stack.pop()
            out.append(inner)
            stack.extend(reversed(inner.subs))
        return out

    def _turns(self, report: dict, frame: int) -> None:
        """Every gate whose zone is unfrozen in this frame was offered the turn and declined."""
        for gate in self.gates:
            if gate.opened is None and gate.carried is None:
                zone = self._dict_of(gate.zone, report)
                if zone is not None and not zone["is_time_frozen"]:
                    node = gate.zone
                    gate.turn = (frame, node.total if node.charges else None, node.charges)

    def _dict_of(self, node: Zone, report: dict) -> dict | None:
        """The zone's dict in a report whose shape matches the tree before this frame's event."""
        path = []
        while node.parent is not None:
            path.append(node.parent.subs.index(node))
            node = node.parent
        zone = report
        for i in reversed(path):
            subs = zone["sub_environments"]
            if i >= len(subs):
                return None
            zone = subs[i]
        return zone

    def _place(self, before: dict, report: dict, event: dict):
        stack = [(before, report, self.root)]
        while stack:
            p, c, node = stack.pop()
            if p is c:
                continue
            pa, ca, ps, cs = p["agents"], c["agents"], p["sub_environments"], c["sub_environments"]
            if event["type"] == "CAST_SPELL" and len(pa) == len(ca) + 1:
                # Agents that share a name and a visual id are told apart by their targets and rules.
                i = 0
                while i < len(ca) and same_agent(pa[i], ca[i]):
                    i += 1
                if pa[i]["name"] == event["agent_name"] and pa[i]["visual_id"] == event["visual_id"]:
                    return node, c, i
            if event["type"] == "COLLAPSE_ZONE" and len(ps) == len(cs) + 1:
                # The folded sub-zone is the first that differs (a fold changes nothing in its
                # siblings but when they are frozen); comparing ids alone would take a later
                # sibling that shares its id.
                j = 0
                while j < len(cs) and same_zone(ps[j], cs[j]):
                    j += 1
                if "shield_" + ps[j]["id"] == event["visual_id"]:
                    return node, c, j
            if len(ps) != len(cs) or len(node.subs) != len(cs):
                continue
            for k in reversed(range(len(cs))):
                if ps[k] != cs[k]:
                    stack.append((ps[k], cs[k], node.subs[k]))
        return None

    def _resync(self, report: dict) -> None:
        """Rebuilds the tree from a report (a saved run's first one, or after a jump)."""
        fresh = Tracker(report)
        self.root, self.duplicates = fresh.root, self.duplicates | fresh.duplicates
        self.gates = [g for g in self.gates if g.opened is not None or g.carried is not None] + fresh.gates

    # ------------------------------------------------------------ the verdict

    def verdict(self) -> Verdict:
        frames = self.frames
        if self.status == "ERROR":
            left = [self.name(z) for _, z in self._zones() if z is not self.root]
            shown = ", ".join(left[:SHOWN_ZONES]) + (f" and {len(left) - SHOWN_ZONES:,} more"
                                                     if len(left) > SHOWN_ZONES else "")
            reasons = [f"the engine stops every run at {FRAME_LIMIT:,} frames"]
            reasons.append(f"{count(len(left), 'zone')} still to fold" + (f": {shown}" if left else ""))
            return Verdict("limit", frames, reasons)
        if self.status != "FINISHED":
            return Verdict("paused", frames, [])
        reasons = self.unknown + self.carried
        for g in self.gates:
            if g.opened is None and g.carried is None:
                reasons.append(self._closed_gate(g))
        for _, z in self._zones():
            if z is not self.root:
                reason = self._stuck_zone(z)
                if reason:
                    reasons.append(reason)
        return Verdict("unsolved" if reasons else "solved", frames, reasons)

    def _zones(self) -> Iterator[tuple[Zone | None, Zone]]:
        stack: list[tuple[Zone | None, Zone]] = [(None, self.root)]
        while stack:
            parent, zone = stack.pop()
            yield parent, zone
            stack.extend((zone, s) for s in reversed(zone.subs))

    def _closed_gate(self, gate: Agent) -> str:
        zone = self.name(gate.zone)
        head = f"{agent_label(gate)} in zone {zone}"
        if gate.turn is None:
            return f"{head} never had the turn: zone {zone} stayed frozen"
        frame, total, charges = gate.turn
        wants = f"wants {gate.rule or '='} {number(gate.target)}"
        if not charges:
            test = f"zone {zone} held no charges to weigh, it {wants}"
        else:
            test = f"total {number(total)}, {wants}"
        if frame == self.frames:
            return f"{head} did not open ({test})"
        return f"{head} did not open when it last had the turn, at frame {frame} ({test}); " \
               f"zone {zone} stayed frozen after that"

    def _stuck_zone(self, node: Zone) -> str | None:
        zone = self._dict_of(node, self.world)
        if zone is None or zone["is_time_frozen"]:
            return None  # it waits on its own sub-zones, which tell why
        name = self.name(node)
        keeper = next((a for a in node.agents if a.name == KEEPER), None)
        others = [a for a in node.agents if not a.gate]
        if keeper is not None:
            return f"zone {name} is held by {agent_label(keeper)}"
        if others:
            return f"zone {name}: " + ", ".join(f"{agent_label(a)} could not act" for a in others)
        if node.agents:
            return None  # its gates tell why
        if not zone["charges"]:
            return f"zone {name} is empty, so it never folds"
        if len(zone["charges"]) > 1:
            return f"zone {name} is left with {len(zone['charges'])} charges"
        return f"zone {name} has not folded"


def same_agent(a: dict, b: dict) -> bool:
    return all(a.get(k) == b.get(k) for k in AGENT_KEYS)


def same_zone(a: dict, b: dict) -> bool:
    """Whether two zones hold the same: ids, charges, agents and sub-zones, whatever is frozen."""
    stack = [(a, b)]
    while stack:
        x, y = stack.pop()
        if x["id"] != y["id"] or x["charges"] != y["charges"] or len(x["agents"]) != len(y["agents"]) \
                or len(x["sub_environments"]) != len(y["sub_environments"]):
            return False
        if not all(same_agent(p, q) for p, q in zip(x["agents"], y["agents"])):
            return False
        stack.extend(zip(x["sub_environments"], y["sub_environments"]))
    return True


def preorder(world: dict):
    """Yields (index of the parent in this order or None, zone) for every zone, parents first,
    sub-zones in list order."""
    stack: list[tuple[int | None, dict[str, Any]]] = [(None, world)]
    index = 0
    while stack:
        parent, zone = stack.pop()
        yield parent, zone
        subs = zone["sub_environments"]
        for i in reversed(range(len(subs))):
            stack.append((index, subs[i]))
        index += 1
