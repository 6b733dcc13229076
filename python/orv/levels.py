"""Level files: reading, checking, building and saving orv worlds.

A level file is a JSON object::

    {"format": 1, "title": "...", "description": "...", "world": ZONE}

where ZONE has the shape of a zone's own JSON as the engine writes it::

    {"id": "forge",
     "charges": [{"magnitude": 3, "polarity": "positive", "visual_id": "ember"}],
     "agents": [{"name": "Plus Magician", "visual_id": "smith"},
                {"name": "equals", "visual_id": "door", "target_value": 5}],
     "sub_environments": [ZONE, ...]}

A bare ZONE, or one whole frame report (one line of ``orv play --jsonl``), is accepted
wherever a level is; its title is then the file's name. Rules:

- ``id`` is required; ``charges``, ``agents`` and ``sub_environments`` default to empty lists.
- A charge needs ``magnitude`` (a number; ``null`` loads as NaN, since the engine writes NaN
  and both infinities as null and cannot tell them apart afterwards), ``polarity``
  ("positive", "negative" or "neutral") and ``visual_id``.
- An agent needs ``name`` (its display name as reports write it, e.g. "The Judge", or a short
  kind: plus, minus, multiply, divide, power, root, abs, factorial, modulo, log, chronomancer,
  equals, judge) and ``visual_id``. Both gates need ``target_value`` (``null`` loads as NaN)
  and the judge its ``rule`` ("<", ">", "<=" or ">=").
- Keys the engine writes but a level does not need are checked and otherwise ignored:
  ``priority`` (must be the kind's), ``state`` (dormant/active/frozen; every loaded agent
  starts dormant, as the engine makes them), ``is_open`` (gates only, a boolean),
  ``is_time_frozen`` (a boolean; written back into the zone, the next frame recomputes it)
  and, at the top of a bare zone, the report's ``meta``.
- Any other key is an error, and so is a key written twice.

Any fault raises one :class:`LevelError` naming the file, the JSON path of the fault
(``world.sub_environments[1].agents[0].name``), what was expected and what was found.
"""

from __future__ import annotations

import json
import os
from dataclasses import dataclass, field
from importlib import resources
from pathlib import Path

import orv_engine

from .files import read_text, write_atomic

FORMAT = 1


class ToolkitError(Exception):
    """A fault in a file given to the toolkit; the command line prints it without a traceback."""


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
    kind: str
    name: str
    priority: int
    method: str
    gate: bool = False


KINDS = (
    AgentKind("plus", "Plus Magician", 10, "add_plus_magician"),
    AgentKind("minus", "Minus Magician", 10, "add_minus_magician"),
    AgentKind("multiply", "Multiply Magician", 50, "add_multiply_magician"),
    AgentKind("divide", "Divide Magician", 50, "add_divide_magician"),
    AgentKind("power", "Power Sorcerer", 75, "add_power_sorcerer"),
    AgentKind("root", "The Extractor", 75, "add_root_magician"),
    AgentKind("abs", "The Purifier", 90, "add_abs_magician"),
    AgentKind("factorial", "The Replicator", 85, "add_factorial_magician"),
    AgentKind("modulo", "The Scavenger", 50, "add_modulo_magician"),
    AgentKind("log", "The Architect", 90, "add_log_magician"),
    AgentKind("chronomancer", "Chronomancer", 100, "add_chronomancer"),
    AgentKind("equals", "Equals Gate", 0, "add_equals_gate", gate=True),
    AgentKind("judge", "The Judge", 0, "add_inequality_gate", gate=True),
)
KIND_BY_NAME = {k.name: k for k in KINDS} | {k.kind: k for k in KINDS}
RULES = ("<", ">", "<=", ">=")
POLARITIES = {"positive": orv_engine.POSITIVE, "negative": orv_engine.NEGATIVE,
              "neutral": orv_engine.NEUTRAL}
STATES = ("dormant", "active", "frozen")

ZONE_KEYS = ("id", "charges", "agents", "sub_environments", "is_time_frozen")
CHARGE_KEYS = ("magnitude", "polarity", "visual_id")
AGENT_KEYS = ("name", "visual_id", "priority", "state")
GATE_KEYS = ("target_value", "is_open")
LEVEL_KEYS = ("format", "title", "description", "world")
META_KEYS = {"frame_index": int, "status": str, "message": str, "last_event": dict}
EVENT_KEYS = ("agent_name", "description", "type", "visual_id")


@dataclass
class Agent:
    kind: AgentKind
    visual_id: str
    target: float | None = None
    rule: str | None = None


@dataclass
class Zone:
    id: str
    charges: list[tuple[float, str, str]] = field(default_factory=list)
    agents: list[Agent] = field(default_factory=list)
    sub_environments: list["Zone"] = field(default_factory=list)
    is_time_frozen: bool = False


@dataclass
class Level:
    title: str
    description: str
    world: Zone
    source: str

    def build(self) -> orv_engine.Environment:
        """A fresh engine world for this level; returns its root zone."""
        return build_world(self.world)

    def gate_targets(self) -> list[float]:
        """The gates' targets, zones in preorder (parents first, sub-zones in list order)."""
        targets, stack = [], [self.world]
        while stack:
            zone = stack.pop()
            targets += [a.target for a in zone.agents if a.kind.gate]
            stack.extend(reversed(zone.sub_environments))
        return targets


# ---------------------------------------------------------------- reading


class _Object(dict):
    """A parsed JSON object that remembers keys written more than once."""

    duplicates: tuple[str, ...] = ()


def _object_pairs(pairs):
    obj = _Object(pairs)
    if len(obj) != len(pairs):
        seen: set[str] = set()
        obj.duplicates = tuple(k for k, _ in pairs if k in seen or seen.add(k))
    return obj


class _BigInteger(int):
    """An integer literal too long to be a magnitude; kept as its digits, refused when checked."""

    digits = 0


_MAX_DIGITS = 400  # longer integer literals are never a double's worth of precision


def _parse_int(text: str):
    if len(text.lstrip("-")) > _MAX_DIGITS:
        big = _BigInteger(0)
        big.digits = len(text.lstrip("-"))
        return big
    return int(text)


# What the JSON reader's terse messages mean, in words a designer reads.
_JSON_EXPECTED = {
    "Expecting value": "a value (a number, a string, true, false, null, an object or a list)",
    "Expecting ',' delimiter": "a comma or the closing bracket",
    "Expecting ':' delimiter": "a colon after the key",
    "Expecting property name enclosed in double quotes": "a key in double quotes",
    "Unterminated string starting at": "a closing double quote for the string that starts here",
    "Invalid control character at": "no raw control character inside a string (write \\n or \\t)",
    "Invalid \\escape": "a valid escape (\\\" \\\\ \\/ \\b \\f \\n \\r \\t or \\uXXXX)",
    "Invalid \\uXXXX escape": "four hex digits after \\u",
    "Illegal trailing comma before end of object": "another key after the comma, or no comma",
    "Illegal trailing comma before end of array": "another value after the comma, or no comma",
}


def _found_at(text: str, pos: int) -> str:
    if pos >= len(text):
        return "the end of the file"
    char = text[pos]
    if char in "\r\n":
        return "the end of the line"
    return json.dumps(char) if char.isprintable() else f"the character U+{ord(char):04X}"


def parse_json(text: str, source: str):
    """Parses JSON text, turning every way it can fail into a LevelError."""
    try:
        return json.loads(text, object_pairs_hook=_object_pairs, parse_int=_parse_int)
    except json.JSONDecodeError as err:
        where = f"line {err.lineno}, column {err.colno}"
        if err.msg == "Extra data":
            raise LevelError(source, where, "one JSON document (a level, a zone or one frame report)",
                             "more data after it") from None
        expected = _JSON_EXPECTED.get(err.msg, "valid JSON")
        found = _found_at(err.doc, err.pos) if err.msg != "Unterminated string starting at" else \
            "the end of the file"
        raise LevelError(source, where, expected, found) from None
    except RecursionError:
        raise LevelError(source, "", "JSON nested at most about 1,500 levels deep "
                         "(some 740 zones)", "deeper nesting") from None


def load_level(path) -> Level:
    """Reads a level file (a path or a bundled resource)."""
    source = str(path)
    try:
        text = read_text(path)
    except UnicodeDecodeError as err:
        raise LevelError(source, None, "UTF-8 text", f"the byte 0x{err.object[err.start]:02X} "
                         f"at offset {err.start}") from None
    except OSError as err:
        raise LevelError(source, None, "a readable file", err.strerror or str(err)) from None
    default_title = Path(source).stem
    return parse_level(parse_json(text, source), source, default_title)


def parse_level(data, source: str = "<level>", default_title: str = "untitled") -> Level:
    """Checks a parsed level document, bare zone or frame report and returns the Level."""
    if not isinstance(data, dict):
        raise LevelError(source, "", "a level object, a zone or a frame report", describe(data))
    if "format" in data or "world" in data:
        _check_keys(data, LEVEL_KEYS, "", source)
        for key in ("format", "world"):
            if key not in data:
                raise LevelError(source, key, f'the key "{key}"', "nothing")
        if type(data["format"]) is not int or data["format"] != FORMAT:
            raise LevelError(source, "format", str(FORMAT), describe(data["format"]))
        title = _optional_str(data, "title", "", source, default_title)
        description = _optional_str(data, "description", "", source, "")
        return Level(title, description, _parse_zone(data["world"], "world", source, False), source)
    return Level(default_title, "", _parse_zone(data, "", source, True), source)


def _parse_zone(raw, path: str, source: str, top_meta: bool) -> Zone:
    """Walks the zone tree with its own stack, so depth costs no Python recursion."""
    result: list[Zone] = []
    stack = [(raw, path, result)]
    while stack:
        raw, path, siblings = stack.pop()
        if not isinstance(raw, dict):
            raise LevelError(source, path, "a zone object", describe(raw))
        allowed = ZONE_KEYS + (("meta",) if top_meta and not path else ())
        _check_keys(raw, allowed, path, source)
        if "id" not in raw:
            raise LevelError(source, _at(path, "id"), "the zone's id (a string)", "nothing")
        zone = Zone(_str(raw["id"], _at(path, "id"), source))
        if "is_time_frozen" in raw:
            zone.is_time_frozen = _bool(raw["is_time_frozen"], _at(path, "is_time_frozen"), source)
        if "meta" in raw:
            _check_meta(raw["meta"], "meta", source)
        for i, charge in enumerate(_list(raw, "charges", path, source)):
            zone.charges.append(_parse_charge(charge, f"{_at(path, 'charges')}[{i}]", source))
        for i, agent in enumerate(_list(raw, "agents", path, source)):
            zone.agents.append(_parse_agent(agent, f"{_at(path, 'agents')}[{i}]", source))
        subs = _list(raw, "sub_environments", path, source)
        base = _at(path, "sub_environments")
        for i in reversed(range(len(subs))):
            stack.append((subs[i], f"{base}[{i}]", zone.sub_environments))
        siblings.append(zone)
    return result[0]


def _parse_charge(raw, path, source):
    if not isinstance(raw, dict):
        raise LevelError(source, path, "a charge object", describe(raw))
    _check_keys(raw, CHARGE_KEYS, path, source)
    _require(raw, CHARGE_KEYS, path, source)
    polarity = raw["polarity"]
    if polarity not in POLARITIES:
        raise LevelError(source, _at(path, "polarity"), '"positive", "negative" or "neutral"',
                         describe(polarity))
    return (_number(raw["magnitude"], _at(path, "magnitude"), source), polarity,
            _str(raw["visual_id"], _at(path, "visual_id"), source))


def _parse_agent(raw, path, source):
    if not isinstance(raw, dict):
        raise LevelError(source, path, "an agent object", describe(raw))
    name = raw.get("name")
    kind = KIND_BY_NAME.get(name) if isinstance(name, str) else None
    if kind is None:
        _check_keys(raw, AGENT_KEYS + GATE_KEYS + ("rule",), path, source)
        expected = "an agent name (" + ", ".join(f'"{k.name}"' for k in KINDS) + \
            ") or kind (" + ", ".join(k.kind for k in KINDS) + ")"
        raise LevelError(source, _at(path, "name"), expected,
                         describe(name) if "name" in raw else "nothing")
    allowed = AGENT_KEYS + (GATE_KEYS if kind.gate else ()) + (("rule",) if kind.kind == "judge" else ())
    _check_keys(raw, allowed, path, source, f" for {kind.name}")
    _require(raw, ("visual_id",) + (("target_value",) if kind.gate else ())
             + (("rule",) if kind.kind == "judge" else ()), path, source)
    agent = Agent(kind, _str(raw["visual_id"], _at(path, "visual_id"), source))
    if "priority" in raw and (type(raw["priority"]) is not int or raw["priority"] != kind.priority):
        raise LevelError(source, _at(path, "priority"),
                         f"{kind.priority} (the priority of {kind.name})", describe(raw["priority"]))
    if "state" in raw and raw["state"] not in STATES:
        raise LevelError(source, _at(path, "state"), '"dormant", "active" or "frozen"',
                         describe(raw["state"]))
    if "is_open" in raw:
        _bool(raw["is_open"], _at(path, "is_open"), source)
    if kind.gate:
        agent.target = _number(raw["target_value"], _at(path, "target_value"), source)
    if kind.kind == "judge":
        if raw["rule"] not in RULES:
            raise LevelError(source, _at(path, "rule"), '"<", ">", "<=" or ">="', describe(raw["rule"]))
        agent.rule = raw["rule"]
    return agent


def _check_meta(raw, path, source):
    if not isinstance(raw, dict):
        raise LevelError(source, path, "the report's meta object", describe(raw))
    _check_keys(raw, tuple(META_KEYS), path, source)
    for key, kind in META_KEYS.items():
        value = raw.get(key)
        if key == "last_event" and value is None:
            continue
        if key in raw and (not isinstance(value, kind) or isinstance(value, bool)):
            what = {int: "an integer", str: "a string", dict: "an event object or null"}[kind]
            raise LevelError(source, _at(path, key), what, describe(value))
    event = raw.get("last_event")
    if isinstance(event, dict):
        _check_keys(event, EVENT_KEYS, _at(path, "last_event"), source)
        _require(event, EVENT_KEYS, _at(path, "last_event"), source)
        for key in EVENT_KEYS:
            _str(event[key], _at(_at(path, "last_event"), key), source)


# ---------------------------------------------------------------- small checks


def describe(value) -> str:
    """How a found JSON value is named in error messages."""
    if isinstance(value, dict):
        return "an object" if not value else "an object with the keys " + ", ".join(value)
    if isinstance(value, list):
        return f"a list of {len(value)} item{'s' if len(value) != 1 else ''}"
    text = json.dumps(value, ensure_ascii=False)
    return text if len(text) <= 60 else text[:57] + "..."


def _at(path: str, key: str) -> str:
    return f"{path}.{key}" if path else key


def _check_keys(raw: dict, allowed, path, source, context=""):
    for key in raw.duplicates if isinstance(raw, _Object) else ():
        raise LevelError(source, _at(path, key), "each key once", f'"{key}" twice')
    for key in raw:
        if key not in allowed:
            raise LevelError(source, _at(path, key), "one of the keys " + ", ".join(allowed) + context,
                             f'the unknown key "{key}"')


def _require(raw, keys, path, source):
    for key in keys:
        if key not in raw:
            raise LevelError(source, _at(path, key), f'the key "{key}"', "nothing")


def _list(raw, key, path, source) -> list:
    value = raw.get(key, [])
    if not isinstance(value, list):
        raise LevelError(source, _at(path, key), "a list", describe(value))
    return value


def _str(value, path, source) -> str:
    if not isinstance(value, str):
        raise LevelError(source, path, "a string", describe(value))
    try:
        value.encode("utf-8")
    except UnicodeEncodeError as err:  # a lone surrogate escape such as \ud800
        raise LevelError(source, path, "text in Unicode characters",
                         f"the lone surrogate \\u{ord(value[err.start]):04x} at character {err.start + 1}") from None
    return value


def _optional_str(raw, key, path, source, default) -> str:
    return _str(raw[key], _at(path, key), source) if key in raw else default


def _bool(value, path, source) -> bool:
    if not isinstance(value, bool):
        raise LevelError(source, path, "true or false", describe(value))
    return value


def _number(value, path, source) -> float:
    if value is None:
        return float("nan")
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise LevelError(source, path, "a number (or null for NaN)", describe(value))
    if isinstance(value, _BigInteger):
        raise LevelError(source, path, "a number within the range of a double (about ±1.8e308)",
                         f"an integer of {value.digits:,} digits")
    try:
        return float(value)
    except OverflowError:
        raise LevelError(source, path, "a number within the range of a double (about ±1.8e308)",
                         f"an integer of {len(str(abs(value))):,} digits") from None


# ---------------------------------------------------------------- building and saving


def build_world(world: Zone, zones: list | None = None) -> orv_engine.Environment:
    """Builds the engine world top-down: each sub-zone is attached while still empty.
    `zones`, if given, receives every engine zone, parents first and sub-zones in list order."""
    root = orv_engine.Environment(world.id)
    stack = [(world, root)]
    while stack:
        zone, env = stack.pop()
        if zones is not None:
            zones.append(env)
        for magnitude, polarity, visual_id in zone.charges:
            env.add_charge(magnitude, POLARITIES[polarity], visual_id)
        for agent in zone.agents:
            add = getattr(env, agent.kind.method)
            if agent.kind.kind == "judge":
                add(agent.visual_id, agent.target, agent.rule)
            elif agent.kind.gate:
                add(agent.visual_id, agent.target)
            else:
                add(agent.visual_id)
        children = []
        for sub in zone.sub_environments:
            child = orv_engine.Environment(sub.id)
            env.add_sub_environment(child)
            children.append((sub, child))
        stack.extend(reversed(children))
        env.is_time_frozen = zone.is_time_frozen
    return root


def level_document(world: dict, title: str, description: str) -> dict:
    """A level (format 1) for a world given as a zone's JSON or a frame report."""
    world = {k: v for k, v in world.items() if k != "meta"}
    return {"format": FORMAT, "title": title, "description": description, "world": world}


def save_level(path, world: dict, title: str, description: str) -> None:
    doc = level_document(world, title, description)
    try:
        text = json.dumps(doc, indent=2, ensure_ascii=False)
    except RecursionError:  # very deep worlds: the compact form nests further
        text = json.dumps(doc, ensure_ascii=False)
    write_atomic(path, text + "\n")


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
