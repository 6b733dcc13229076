"""Running a level frame by frame, telling what happened, and judging how it ended."""

from __future__ import annotations

import json
import math
from dataclasses import dataclass

import orv_engine

from .levels import Level

FRAME_LIMIT = 1000
ENDS = ("FINISHED", "ERROR")
GATES = ("Equals Gate", "The Judge")


class Run:
    """One play-through of a level: a fresh world and its sequencer."""

    def __init__(self, level: Level):
        self.level = level
        self.root = level.build()
        self.sequencer = orv_engine.NarrativeSequencer(self.root)
        self.world = json.loads(self.root.to_json())  # the world as the last frame left it
        self.frame = 0
        self.ended = False

    def step(self) -> tuple[str, dict, dict]:
        """Runs one frame; returns its report text, the parsed report and the world before it."""
        text = self.sequencer.next_frame()
        report = json.loads(text)
        before, self.world = self.world, report
        self.frame = report["meta"]["frame_index"]
        self.ended = report["meta"]["status"] in ENDS
        return text, report, before

    def frames(self, until: int | None = None):
        """Steps until the run ends (its FINISHED or ERROR report included) or frame `until`."""
        while not self.ended and (until is None or self.frame < until):
            yield self.step()


def run_texts(level: Level) -> list[str]:
    """The whole run's reports as the engine wrote them."""
    return [text for text, _, _ in Run(level).frames()]


# ---------------------------------------------------------------- reading worlds


def walk(world: dict):
    """Yields (path, zone, parent) for every zone, parents before children, in list order."""
    stack = [((), world, None)]
    while stack:
        path, zone, parent = stack.pop()
        yield path, zone, parent
        subs = zone["sub_environments"]
        for i in reversed(range(len(subs))):
            stack.append((path + (i,), subs[i], zone))


def zone_at(world: dict, path: tuple) -> dict:
    for i in path:
        world = world["sub_environments"][i]
    return world


def _collapsible(zone: dict) -> bool:
    return not zone["agents"] and len(zone["charges"]) == 1


def collapse_parent(world: dict) -> tuple | None:
    """Path of the zone that the next collapse folds into: the engine searches each sub-zone's
    subtree before the sub-zone itself, in list order, and folds the first collapsible one."""
    stack = [(world, (), iter(enumerate(world["sub_environments"])))]
    while stack:
        zone, path, children = stack[-1]
        step = next(children, None)
        if step is None:
            stack.pop()
            if stack and _collapsible(zone):
                return stack[-1][1]
            continue
        i, sub = step
        stack.append((sub, path + (i,), iter(enumerate(sub["sub_environments"]))))
    return None


def total(zone: dict) -> float:
    """The zone's total as the gates count it (neutral charges count as negative)."""
    value = 0.0
    for c in zone["charges"]:
        m = math.nan if c["magnitude"] is None else c["magnitude"]
        value += m if c["polarity"] == "positive" else -m
    return value


def number(value) -> str:
    if value is None:
        return "?"  # the engine writes NaN and both infinities as null
    if math.isnan(value) or math.isinf(value):
        return str(value)
    if value == int(value) and abs(value) < 1e15:
        return str(int(value))
    return f"{value:.6g}"


SIGNS = {"positive": "+", "negative": "-", "neutral": "~"}


def charges_text(zone: dict) -> str:
    items = [SIGNS.get(c["polarity"], "?") + number(c["magnitude"]) for c in zone["charges"]]
    return f"{zone['id']}: " + (" ".join(items) if items else "(no charges)")


def world_lines(world: dict) -> list[str]:
    """The world as an indented list of zones: charges, then the agents that wait there."""
    lines = []
    for path, zone, _ in walk(world):
        agents = ", ".join(agent_label(a) for a in zone["agents"])
        lines.append("  " * min(len(path), 12) + charges_text(zone) + (f"  [{agents}]" if agents else ""))
    return lines


def agent_label(agent: dict) -> str:
    return f"{agent['name']} ({agent['visual_id']})"


def gate_test(agent: dict, zone: dict) -> str:
    rule = agent.get("rule", "=")
    return f"total {number(total(zone))}, wants {rule} {number(agent['target_value'])}"


# ---------------------------------------------------------------- narration


def event_text(before: dict, report: dict) -> tuple[str, dict]:
    """What a frame did, in words, and the zone it touched (as it is after the frame)."""
    meta = report["meta"]
    event = meta["last_event"]
    if event is None:
        if meta["status"] == "ERROR":
            return f"the frame limit ({FRAME_LIMIT} frames) is reached", report
        return "the story is already over", report
    if event["type"] == "CAST_SPELL":
        zone_id = event["description"][len(event["agent_name"]) + len(" executed operation in "):]
        path = next((p for p, z, _ in walk(before) if z["id"] == zone_id and any(
            a["name"] == event["agent_name"] and a["visual_id"] == event["visual_id"]
            for a in z["agents"])), None)
        zone = zone_at(report, path) if path is not None else report
        verb = "opened" if event["agent_name"] in GATES else "cast"
        return f"{event['agent_name']} ({event['visual_id']}) {verb} in zone {zone_id}", zone
    if event["type"] == "COLLAPSE_ZONE":
        path = collapse_parent(before)
        zone = zone_at(report, path) if path is not None else report
        return f"zone {event['visual_id'][len('shield_'):]} folded into {zone['id']}", zone
    return "nothing is left to cast or fold", report


# ---------------------------------------------------------------- outcome


@dataclass
class Outcome:
    kind: str  # "solved", "unsolved", "frame limit" or "paused"
    frames: int
    left: list[str]

    @property
    def solved(self) -> bool:
        return self.kind == "solved"

    def summary(self, root_id: str = "the root") -> str:
        """The closing sentence of a narrated run."""
        s = "" if self.frames == 1 else "s"
        if self.kind == "solved":
            return f"Solved in {self.frames} frame{s}: every gate opened and every zone folded into {root_id}."
        if self.kind == "paused":
            return f"Paused after {self.frames} frame{s}."
        head = ("Unsolved" if self.kind == "unsolved" else
                f"Stopped by the frame limit ({FRAME_LIMIT} frames)") + f" after {self.frames} frame{s}"
        return head + (": " + "; ".join(self.left) if self.left else ".")

    def verdict(self) -> tuple[str, str]:
        """The verdict word of `orv check` and what follows it."""
        s = "" if self.frames == 1 else "s"
        if self.kind == "solved":
            return "solved", f"in {self.frames} frame{s}"
        word = "UNSOLVED" if self.kind == "unsolved" else self.kind.upper()
        return word, f"after {self.frames} frame{s}" + (": " + "; ".join(self.left) if self.left else "")


def leftovers(world: dict, finished: bool = True) -> list[str]:
    """What keeps a world from being solved: closed gates and zones that never folded.
    `finished` says whether the run ended by itself (then whatever is left is stuck)."""
    left = []
    for _, zone, parent in walk(world):
        zid = zone["id"]
        if parent is None:
            left += [f"{agent_label(a)} in zone {zid} did not open ({gate_test(a, zone)})"
                     for a in zone["agents"] if a["name"] in GATES]
            continue
        if zone["is_time_frozen"]:
            continue  # it waits on its own sub-zones, which tell why
        agents = zone["agents"]
        keeper = next((a for a in agents if a["name"] == "Chronomancer"), None)
        if keeper is not None:
            left.append(f"zone {zid} is held by {agent_label(keeper)}")
        elif agents and not finished:
            left.append(f"zone {zid} still holds " + ", ".join(agent_label(a) for a in agents))
        elif agents:
            left.append(f"zone {zid}: " + ", ".join(
                f"{agent_label(a)} did not open ({gate_test(a, zone)})" if a["name"] in GATES
                else f"{agent_label(a)} could not act" for a in agents))
        elif not zone["charges"]:
            left.append(f"zone {zid} is empty, so it never folds")
        elif len(zone["charges"]) > 1:
            left.append(f"zone {zid} is left with {len(zone['charges'])} charges ({charges_text(zone)})")
        else:
            left.append(f"zone {zid} has not folded yet")
    return left


def outcome(report: dict) -> Outcome:
    meta = report["meta"]
    left = leftovers(report, finished=meta["status"] == "FINISHED")
    if meta["status"] == "ERROR":
        kind = "frame limit"
    elif meta["status"] == "FINISHED":
        kind = "unsolved" if left else "solved"
    else:
        kind = "paused"
    return Outcome(kind, meta["frame_index"], left)
