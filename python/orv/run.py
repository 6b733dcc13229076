"""Running a level frame by frame, and how its verdict reads: the engine's session runs, places,
tells and judges every frame; this module only walks it and lays out the lines."""

from __future__ import annotations

import json
from dataclasses import dataclass

from .levels import Level

ENDS = ("FINISHED", "ERROR")
SHOWN_REASONS = 5  # reasons printed under a verdict; `orv check --json` gives them all


@dataclass
class Verdict:
    kind: str  # "solved", "unsolved", "limit" or "paused"
    frames: int
    reasons: list[str]
    word: str = ""  # as a status shows it: "SOLVED", "UNSOLVED", "FRAME LIMIT", "PAUSED"

    @property
    def solved(self) -> bool:
        return self.kind == "solved"

    def as_dict(self) -> dict:
        return {"verdict": self.kind, "frames": self.frames, "reasons": list(self.reasons)}

    @classmethod
    def of(cls, verdict: dict) -> "Verdict":
        return cls(verdict["verdict"], verdict["frames"], list(verdict["reasons"]), verdict["word"])


@dataclass
class Frame:
    """One frame of a run: its report text, where it acted and what it did in words."""

    text: str | None  # None when the frame was run without writing its report
    record: dict
    words: str
    where: str

    @property
    def report(self) -> dict:
        """The parsed report (the frame must have been run with its report written)."""
        if self.text is None:
            raise ValueError("this frame was run without writing its report")
        return json.loads(self.text)


class Run:
    """One play-through of a level: a fresh session of it, stepped frame by frame. A puzzle's pieces
    are placed as `placement` says, or as its shortest solution does (see Level.session)."""

    def __init__(self, level: Level, placement: list[str] | None = None):
        self.level = level
        self.session = level.session(placement)

    @property
    def frame(self) -> int:
        return self.session.frame

    @property
    def ended(self) -> bool:
        return self.session.ended

    def initial(self) -> dict:
        """The world as it stands (before frame 1 when called before stepping)."""
        return json.loads(self.session.world())

    def step(self, report: bool = True) -> Frame:
        """Runs one frame and returns it, with its report text unless `report` is false."""
        if report:
            text = self.session.step()
        else:
            text = None
            self.session.advance()
        return Frame(text, self.session.record(), *self.session.told())

    def frames(self, until: int | None = None, reports: bool = True):
        """Steps until the run ends (its FINISHED or ERROR report included) or frame `until`."""
        while not self.ended and (until is None or self.frame < until):
            yield self.step(reports)

    def finish(self) -> "Verdict":
        """Runs to the end without writing reports, and returns the verdict."""
        while not self.ended:
            self.session.advance()
        return self.verdict()

    def verdict(self) -> Verdict:
        return Verdict.of(self.session.verdict())


def run_texts(level: Level) -> list[str]:
    """The whole run's reports as the engine wrote them."""
    return [frame.text for frame in Run(level).frames()]


# ---------------------------------------------------------------- verdicts in lines


def verdict_lines(verdict: Verdict, head: str, all_reasons: bool = False) -> list[str]:
    """`head` and the verdict, then its reasons one a line (the first few unless `all_reasons`)."""
    reasons = verdict.reasons if all_reasons else verdict.reasons[:SHOWN_REASONS]
    more = len(verdict.reasons) - len(reasons)
    lines = [head] + [f"  - {r}" for r in reasons]
    if more:
        lines.append(f"  - and {more:,} more")
    return lines


def check_lines(verdict: Verdict, label: str, style=lambda kind, text: text) -> list[str]:
    """The lines of `orv check` for one level."""
    n = verdict.frames
    s = "" if n == 1 else "s"
    if verdict.solved:
        return [f"{label}: {style('good', 'solved')} in {n} frame{s}"]
    return verdict_lines(verdict, f"{label}: {style('bad', verdict.word)} after {n} frame{s}:")
