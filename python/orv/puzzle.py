"""Puzzles: what the engine's solver says of a level's pieces, told as `orv solve` and `orv check` tell it.

A level may hold pieces, agents that the player puts each into one zone (docs/levels.md). The solver
(`orv_session.solve`, in C++ beside the engine) runs every placement to its end and judges it with
the engine's own verdict, on a worker per core; this module turns its answer into lines and into the
JSON object of `orv solve --json`, and draws the progress bar of long searches.
"""

from __future__ import annotations

import argparse
import json
import sys
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, TextIO

import orv_session

from .files import ToolkitError

PROGRESS_AFTER = 1.0  # seconds a search runs before its progress bar shows


@dataclass
class Answer:
    """The solver's answer for one level."""

    placements: int  # every placement of the pieces: the accepting zones to the power of the pieces
    tried: int  # placements looked at (all of them unless the search stopped at a first solution)
    solutions: int  # placements that solve the level, those that build the same world counted once
    exhaustive: bool  # every placement was looked at
    shortest: dict[str, Any] | None  # {"frames", "zones", "lines"}: fewest frames, the first among equals
    listed: list[dict[str, Any]]  # the first solutions in the search's order, when asked for

    @property
    def solvable(self) -> bool:
        return self.solutions > 0

    @property
    def unique(self) -> bool | None:
        """Whether exactly one placement solves the level; None when the search stopped at a first solution."""
        return self.solutions == 1 if self.exhaustive else None

    def as_dict(self, label: str) -> dict[str, Any]:
        """The object of `orv solve --json`."""
        shortest = None if self.shortest is None else {"frames": self.shortest["frames"], "zones": self.shortest["zones"]}
        return {"level": label, "verdict": "solvable" if self.solvable else "unsolvable", "placements": self.tried,
                "solutions": self.solutions, "unique": self.unique, "shortest": shortest}

    def summary(self) -> str:
        """The answer in a line: "solvable: 1 solution among 27 placements, unique"."""
        if not self.solvable:
            return f"none of the {_counted(self.placements, 'placement')} solves it"
        if not self.exhaustive:
            return f"placement {self.tried:,} of {self.placements:,} solves it (the search stopped at this first solution)"
        one = ", unique" if self.unique else ""
        return f"{_counted(self.solutions, 'solution')} among {_counted(self.placements, 'placement')}{one}"

    def solution_lines(self) -> list[str]:
        """The shortest (or first) solution: a heading and a line for each piece."""
        if self.shortest is None:
            return []
        which = "Shortest solution" if self.exhaustive else "First solution"
        frames = self.shortest["frames"]
        lines = [f"{which}, {frames} frame{'' if frames == 1 else 's'}:"]
        return lines + [f"  {line}" for line in self.shortest["lines"] or ["(no pieces to place)"]]


def check_result(answer: Answer, label: str, style: Callable[[str, str], str]) -> tuple[dict[str, Any], str]:
    """What `orv check` says of a puzzle: its --json object and its line. It is "solvable" or
    "unsolvable" rather than solved; "frames" is the shortest solution's."""
    frames = answer.shortest["frames"] if answer.shortest else 0
    reasons = [] if answer.solvable else [answer.summary()]
    verdict = "solvable" if answer.solvable else "unsolvable"
    if answer.solvable:
        line = f"{label}: {style('good', 'solvable')}: {answer.summary()}; the shortest in {_counted(frames, 'frame')}"
    else:
        line = f"{label}: {style('bad', 'UNSOLVABLE')}: {answer.summary()}"
    return {"level": label, "verdict": verdict, "frames": frames, "reasons": reasons}, line


def placement_note(title: str, lines: list[str], given: bool) -> str:
    """What `orv play` says before it plays a puzzle: whose placement it plays, or that none solves it."""
    if not lines:
        return f"{title} is a puzzle that no placement solves: its pieces stay in the tray (`orv solve` tells more)."
    return f"{title} is a puzzle, played with {'your placement' if given else 'its shortest solution'}: {'; '.join(lines)}."


def _counted(n: int, word: str) -> str:
    return f"{n:,} {word}{'' if n == 1 else 's'}"


def solve(text: bytes, source: str, first: bool = False, jobs: int = 0, keep: int = 0,
          progress: Callable[[int, int], None] | None = None) -> Answer:
    """The solver's answer for the level `text` (checked already; `source` names it in messages).

    Raises ToolkitError for a search larger than the solver takes on, KeyboardInterrupt when Ctrl-C
    cancels the search (whatever `progress` raises ends it the same way).
    """
    try:
        found = orv_session.solve(text, first=first, jobs=jobs, keep=keep, progress=progress)
    except orv_session.SearchTooLarge as err:
        raise ToolkitError(f"{source}: {err}") from None
    return Answer(found["placements"], found["tried"], found["solutions"], found["exhaustive"], found["shortest"],
                  found["listed"])


class Progress:
    """A bar on standard error for a search that runs longer than a second, when it is a terminal."""

    WIDTH = 30

    def __init__(self, stream: TextIO | None = None) -> None:
        self.stream = stream if stream is not None else sys.stderr
        self.on = bool(getattr(self.stream, "isatty", lambda: False)())
        self.start = time.monotonic()
        self.drawn = 0
        self.tried = 0

    def __call__(self, tried: int, total: int) -> None:
        self.tried = tried
        if not self.on or time.monotonic() - self.start < PROGRESS_AFTER:
            return
        share = tried / total if total else 1.0
        filled = int(share * self.WIDTH)
        text = f"[{'#' * filled}{'.' * (self.WIDTH - filled)}] {share:6.1%}  {tried:,} of {total:,} placements"
        self.stream.write("\r" + text.ljust(self.drawn))
        self.stream.flush()
        self.drawn = len(text)

    def clear(self) -> None:
        if self.drawn:
            self.stream.write("\r" + " " * self.drawn + "\r")
            self.stream.flush()
            self.drawn = 0


def command(args: argparse.Namespace, load: Callable[[str], Any]) -> int:
    """`orv solve LEVEL [--first] [--json] [--jobs N]`: 0 solvable, 1 unsolvable, 2 invalid, 130 on Ctrl-C."""
    label = Path(args.level).name
    try:
        level = load(args.level)
        bar = Progress()
        try:
            answer = solve(level.text, level.source, first=args.first, jobs=args.jobs, progress=bar)
        except KeyboardInterrupt:
            bar.clear()
            print(f"orv: interrupted after {bar.tried:,} placements", file=sys.stderr)
            return 130
        finally:
            bar.clear()
    except ToolkitError as err:
        if args.json:
            print(json.dumps({"level": label, "verdict": "invalid", "placements": 0, "solutions": 0,
                              "unique": False, "shortest": None}))
        print(f"orv: {err}", file=sys.stderr)
        return 2
    if args.json:
        print(json.dumps(answer.as_dict(label), ensure_ascii=False))
    else:
        word = "solvable" if answer.solvable else "unsolvable"
        print(f"{level.title} ({label}): {word}: {answer.summary()}")
        for line in answer.solution_lines():
            print(line)
    return 0 if answer.solvable else 1
