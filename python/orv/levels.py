"""Level files: finding, reading and saving orv levels.

A level file is a JSON object ``{"format": 1, "title", "description", "world": ZONE}`` where ZONE
has the shape of a zone's own JSON; a bare ZONE, or one whole frame report, is accepted wherever a
level is. A puzzle also lists its "pieces", agents the player puts into zones, and may name the
zones that "accept" them. The engine's own level reader reads and checks them (docs/levels.md describes the
format): this module finds the files, names them in messages and hands their text over.
"""

from __future__ import annotations

import json
import os
from dataclasses import dataclass, field
from importlib import resources
from pathlib import Path

import orv_session

from .files import ToolkitError, read_bytes, write_atomic
from .puzzle import Answer, solve


class LevelError(ToolkitError, ValueError):
    """A level file that cannot be read or does not describe a valid world."""

    def __init__(self, source: str, path: str | None, expected: str, found: str | None = None):
        """`path` is the JSON path of the fault ("" for the whole document, None for the file)."""
        self.source, self.path, self.expected, self.found = source, path, expected, found
        where = "" if path is None else f" {path or '(top level)'}:"
        text = f"{source}:{where} expected {expected}"
        text = text if found is None else f"{text}, found {found}"
        # Lone surrogates in a found key or id are shown escaped, so the message prints anywhere.
        super().__init__(text.encode("utf-8", "backslashreplace").decode("utf-8"))


@dataclass(frozen=True)
class AgentKind:
    """One of the thirteen agent kinds, as the engine's table gives it."""

    kind: str
    class_name: str
    name: str
    priority: int
    gate: bool
    takes_rule: bool
    method: str


KINDS = tuple(AgentKind(**kind) for kind in orv_session.kinds())
KIND_BY_NAME = {k.name: k for k in KINDS} | {k.kind: k for k in KINDS}


@dataclass
class Level:
    """A level read and checked by the engine; `session()` gives a fresh run of it. `pieces` names
    a puzzle's pieces ("Plus Magician (smith)"), in the order of the file; none for a finished world."""

    title: str
    description: str
    source: str
    text: bytes
    _fresh: orv_session.Session | None = field(default=None, repr=False)
    pieces: list[str] = field(default_factory=list)
    _answer: Answer | None = field(default=None, repr=False)

    def session(self, placement: list[str] | None = None) -> orv_session.Session:
        """A session with this level loaded, before its first frame. A puzzle's pieces are put into
        the zones that `placement` names by path, one for each piece, or else where its shortest
        solution puts them; they stay in the tray when no placement solves it."""
        fresh, self._fresh = self._fresh, None
        if fresh is None:
            fresh = orv_session.Session()
            fresh.load(self.text)
        zones = placement if placement is not None else self.solution()
        if zones is not None:
            try:
                fresh.place(zones)
            except ValueError as err:
                raise ToolkitError(f"{self.source}: {err}") from None
        return fresh

    def solve(self, first: bool = False, jobs: int = 0, keep: int = 0, progress=None) -> Answer:
        """The solver's answer for this level's pieces (see orv.puzzle.solve)."""
        return solve(self.text, self.source, first=first, jobs=jobs, keep=keep, progress=progress)

    def solution(self) -> list[str] | None:
        """The paths of the zones of the shortest solution, one for each piece; None for a level
        without pieces or one that no placement solves. Found once, by a search of every placement."""
        if not self.pieces:
            return None
        if self._answer is None:
            self._answer = self.solve()
        return self._answer.shortest["zones"] if self._answer.shortest else None

    def world(self) -> dict:
        """The world before frame 1, as the engine writes a zone's JSON."""
        return json.loads(self.session().world())


def parse_level(data, source: str = "<level>", default_title: str = "untitled") -> Level:
    """Checks a level given as text, bytes or a parsed document and returns the Level."""
    if isinstance(data, str):
        text = data.encode("utf-8", "surrogatepass")
    elif isinstance(data, bytes):
        text = data
    else:
        text = json.dumps(data, ensure_ascii=False).encode("utf-8", "surrogatepass")
    session = orv_session.Session()
    try:
        session.load(text)
    except orv_session.LevelFault as fault:
        raise LevelError(source, *fault.args) from None
    title = session.title if session.title is not None else default_title
    return Level(title, session.description, source, text, session, pieces=session.pieces())


def load_level(path) -> Level:
    """Reads a level file (a path or a bundled resource)."""
    source = str(path)
    try:
        text = bytes(path.read_bytes()) if not isinstance(path, (str, os.PathLike)) else bytes(read_bytes(path))
    except OSError as err:
        raise LevelError(source, None, "a readable file", err.strerror or str(err)) from None
    return parse_level(text, source, Path(source).stem)


def save_level(path, session: orv_session.Session, title: str, description: str) -> None:
    """Saves the session's world as it stands as a level file, numbers exact, whole or not at all."""
    try:
        text = session.level_text(title, description)
    except ValueError as err:  # a world the level file cannot hold as it stands
        raise ToolkitError(f"{path}: cannot save the level: {err}") from None
    write_atomic(path, text)


# ---------------------------------------------------------------- the bundled campaign


def bundled_levels() -> list:
    """The campaign's level files, in play order."""
    folder = resources.files("orv").joinpath("campaign")
    return sorted((f for f in folder.iterdir() if f.name.endswith(".json")), key=lambda f: f.name)


def find_level(name: str):
    """A level file path, or a bundled level named by its file name, stem, story name or number."""
    if name == "-" or os.path.exists(name):  # "-": standard input
        return name
    for f in bundled_levels():
        stem = f.name[:-5]
        number, _, story = stem.partition("_")
        if name in (f.name, stem, story) or (name.isdigit() and int(name) == int(number)):
            return f
    names = ", ".join(f.name[:-5] for f in bundled_levels())
    raise LevelError(name, None, f"a level file or a bundled level ({names})", "no such file")
