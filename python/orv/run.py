"""Running a level frame by frame, telling what happened, and judging how it ended."""

from __future__ import annotations

import json
from typing import Any

import orv_engine

from .levels import Level, build_world
from .verdict import FRAME_LIMIT, GATE_NAMES as GATES, Event, Tracker, Verdict, number

ENDS = ("FINISHED", "ERROR")
SHOWN_REASONS = 5  # reasons printed under a verdict; `orv check --json` gives them all


class Run:
    """One play-through of a level: a fresh world, its sequencer and the tracker that judges it."""

    def __init__(self, level: Level):
        self.level = level
        zones: list = []
        self.root = build_world(level.world, zones)
        self.sequencer = orv_engine.NarrativeSequencer(self.root)
        self.initial = json.loads(self.root.to_json())  # the world before frame 1
        self.world = self.initial  # the world as the last frame left it
        self.tracker = Tracker(self.initial, zones, level.gate_targets())
        self.frame = 0
        self.ended = False

    def step(self) -> tuple[str, dict, Event]:
        """Runs one frame; returns its report text, the parsed report and where its event happened."""
        text = self.sequencer.next_frame()
        report = json.loads(text)
        self.world = report
        self.frame = report["meta"]["frame_index"]
        self.ended = report["meta"]["status"] in ENDS
        return text, report, self.tracker.advance(report)

    def frames(self, until: int | None = None):
        """Steps until the run ends (its FINISHED or ERROR report included) or frame `until`."""
        while not self.ended and (until is None or self.frame < until):
            yield self.step()

    def verdict(self) -> Verdict:
        return self.tracker.verdict()


def run_texts(level: Level) -> list[str]:
    """The whole run's reports as the engine wrote them."""
    return [text for text, _, _ in Run(level).frames()]


# ---------------------------------------------------------------- reading worlds


def walk(world: dict):
    """Yields (path, zone, parent) for every zone, parents before children, in list order."""
    stack: list[tuple[tuple[int, ...], dict[str, Any], dict[str, Any] | None]] = [((), world, None)]
    while stack:
        path, zone, parent = stack.pop()
        yield path, zone, parent
        subs = zone["sub_environments"]
        for i in reversed(range(len(subs))):
            stack.append((path + (i,), subs[i], zone))




SIGNS = {"positive": "+", "negative": "-", "neutral": "~"}


SHOWN_CHARGES = 12  # charges of a zone written out in a narrated line


POLARITY_NAMES = {orv_engine.POSITIVE: "positive", orv_engine.NEGATIVE: "negative", orv_engine.NEUTRAL: "neutral"}


def charges_text(zone: dict, name: str | None = None, env=None) -> str:
    """A zone's charges in a line; read from the live zone `env` when given, since reports write
    NaN and both infinities alike as null."""
    if env is not None:
        charges = [{"magnitude": c.magnitude, "polarity": POLARITY_NAMES.get(c.polarity)} for c in env.charges]
    else:
        charges = zone["charges"]
    items = [SIGNS.get(c["polarity"], "?") + ("?" if c["magnitude"] is None else number(c["magnitude"]))
             for c in charges[:SHOWN_CHARGES]]
    if len(charges) > SHOWN_CHARGES:
        items.append(f"and {len(charges) - SHOWN_CHARGES:,} more")
    return f"{zone['id'] if name is None else name}: " + (" ".join(items) if items else "(no charges)")


def world_lines(world: dict) -> list[str]:
    """The world as an indented list of zones: charges, then the agents that wait there."""
    lines = []
    for path, zone, _ in walk(world):
        agents = ", ".join(agent_label(a) for a in zone["agents"])
        lines.append("  " * min(len(path), 12) + charges_text(zone) + (f"  [{agents}]" if agents else ""))
    return lines


def agent_label(agent: dict) -> str:
    return f"{agent['name']} ({agent['visual_id']})"


# ---------------------------------------------------------------- narration


def event_text(event: Event, report: dict) -> tuple[str, str]:
    """What a frame did, in words, and the charges of the zone it touched."""
    status = report["meta"]["status"]
    if event.type is None:
        if status == "ERROR":
            return f"the frame limit ({FRAME_LIMIT:,} frames) is reached", charges_text(report)
        return "the story is already over", charges_text(report)
    if event.zone is None:
        return report["meta"]["message"], ""
    where = charges_text(event.zone, event.name, event.env)
    if event.type == "CAST_SPELL":
        assert event.agent is not None  # the tracker names the agent of every cast
        verb = "opened" if event.agent.name in GATES else "cast"
        return f"{event.agent.name} ({event.agent.visual_id}) {verb} in zone {event.name}", where
    if event.type == "COLLAPSE_ZONE":
        return f"zone {event.folded} folded into {event.name}", where
    return "nothing is left to cast or fold", where


# ---------------------------------------------------------------- verdicts in words


def verdict_lines(verdict: Verdict, head: str, all_reasons: bool = False) -> list[str]:
    """`head` and the verdict, then its reasons one a line (the first few unless `all_reasons`)."""
    reasons = verdict.reasons if all_reasons else verdict.reasons[:SHOWN_REASONS]
    more = len(verdict.reasons) - len(reasons)
    lines = [head] + [f"  - {r}" for r in reasons]
    if more:
        lines.append(f"  - and {more:,} more")
    return lines


def summary(verdict: Verdict, root_name: str) -> list[str]:
    """The closing lines of a narrated run."""
    n = verdict.frames
    s = "" if n == 1 else "s"
    if verdict.kind == "solved":
        return [f"Solved in {n} frame{s}: every gate opened and every zone folded into {root_name}."]
    if verdict.kind == "paused":
        return [f"Paused after {n} frame{s}."]
    head = "Unsolved" if verdict.kind == "unsolved" else "Stopped by the frame limit"
    return verdict_lines(verdict, f"{head} after {n} frame{s}:")


def check_lines(verdict: Verdict, label: str, style=lambda kind, text: text) -> list[str]:
    """The lines of `orv check` for one level."""
    n = verdict.frames
    s = "" if n == 1 else "s"
    if verdict.solved:
        return [f"{label}: {style('good', 'solved')} in {n} frame{s}"]
    word = {"unsolved": "UNSOLVED", "limit": "FRAME LIMIT"}.get(verdict.kind, verdict.kind.upper())
    return verdict_lines(verdict, f"{label}: {style('bad', word)} after {n} frame{s}:")
