"""Shared pieces of the web tests: the built web engine, node, random levels, and the table of level
files that the web engine and the studio page are both held to the module's session on."""

import base64
import json
import os
import random
import shutil
import subprocess
from pathlib import Path

import orv_session
import pytest

from orv import studio
from orv.viewer import _BROWSER_ENV_DROP

HERE = Path(__file__).resolve().parent
NODE = shutil.which("node")
KINDS = tuple(kind["kind"] for kind in orv_session.kinds())


def _nested(depth: int) -> bytes:
    """A bare zone `depth` zones deep, with one charge at the bottom."""
    leaf = '{"id":"leaf","charges":[{"magnitude":1,"polarity":"positive","visual_id":"c"}]}'
    return ('{"id":"z","sub_environments":[' * (depth - 1) + leaf + "]}" * (depth - 1)).encode()


def _report() -> bytes:
    """One frame report of the engine, as a line of `orv play --jsonl` holds it."""
    session = orv_session.Session()
    session.load(b'{"id": "r", "charges": [{"magnitude": 2, "polarity": "positive", "visual_id": "a"},'
                 b' {"magnitude": 3, "polarity": "negative", "visual_id": "b"}], "agents": [{"name": "plus", "visual_id": "p"}]}')
    return session.step().encode()


EXACT = {"format": 1, "title": "exact", "description": "numbers that JSON has no word for",
         "world": {"id": "r", "charges": [{"magnitude": m, "polarity": "positive", "visual_id": f"c{i}"} for i, m in
                                          enumerate([-0.0, "inf", "-inf", "nan", None, 5e-324, 0.1 + 0.2, 1.7976931348623157e308])],
                   "agents": [{"name": "equals", "visual_id": "g", "target_value": "-inf"},
                              {"name": "judge", "visual_id": "j", "target_value": -0.0, "rule": "<="}]}}

# Level files as a designer hands them over: (file stem, bytes, words of the refusal or None for a
# file that opens). The web engine under node and the studio page read each one and must do what
# the module's session does: refuse it with the same one-line message, or open it and save it as
# the engine writes it, every number exact.
LEVEL_FILES = [
    ("not_json", b"{", "line 1, column 2: expected a key in double quotes"),
    ("id_number", b'{"id": 3}', "id: expected a string, found 3"),
    ("format_2", b'{"format": 2, "world": {"id": "r"}}', "format: expected 1, found 2"),
    ("format_only", b'{"format": 1}', 'world: expected the key "world", found nothing'),
    ("unknown_key", b'{"id": "r", "colour": 1}', "colour: expected one of the keys"),
    ("magnitude_text", b'{"id": "r", "charges": [{"magnitude": "x", "polarity": "positive", "visual_id": "c"}]}',
     'charges[0].magnitude: expected a number'),
    ("polarity", b'{"id": "r", "charges": [{"magnitude": 1, "polarity": "up", "visual_id": "c"}]}', "charges[0].polarity"),
    ("wizard", b'{"id": "r", "agents": [{"name": "wizard", "visual_id": "w"}]}', "agents[0].name: expected an agent name"),
    ("rule", b'{"id": "r", "agents": [{"name": "judge", "visual_id": "j", "target_value": 1, "rule": "=="}]}',
     'agents[0].rule: expected "<", ">", "<=" or ">=", found "=="'),
    ("no_target", b'{"id": "r", "agents": [{"name": "equals", "visual_id": "j"}]}', "agents[0].target_value: expected the key"),
    ("priority", b'{"id": "r", "agents": [{"name": "plus", "visual_id": "p", "priority": 3}]}', "priority: expected 10"),
    ("sub_zone", b'{"id": "r", "sub_environments": [{"id": "s", "sub_environments": [7]}]}',
     "sub_environments[0].sub_environments[0]: expected a zone object, found 7"),
    ("list", b"[1]", "(top level): expected a level object"),
    ("duplicate_key", b'{"id": "r", "charges": [{"magnitude": 1, "magnitude": 2, "polarity": "positive", "visual_id": "c"}]}',
     '"magnitude" twice'),
    ("trailing_nul", b'{"id": "r"}\x00', "line 1, column 12: expected one JSON document"),
    ("bom", b'\xef\xbb\xbf{"id": "r"}', "found the character U+FEFF"),
    ("not_utf8", b'{"id": "\xff"}', "expected UTF-8 text, found the byte 0xFF at offset 8"),
    ("exact", json.dumps(EXACT).encode(), None),
    ("nested_3000", _nested(3000), None),
    ("report", _report(), None),
    ("puzzle", (Path(studio.__file__).parents[1] / "campaign" / "05_the_deep_mine.json").read_bytes(), None),
]


@pytest.fixture(scope="session")
def web_engine() -> Path:
    try:
        return studio.engine_path()
    except studio.StudioError as err:
        pytest.skip(str(err))


def node_env() -> dict:
    """The environment for node and the browser: without the preloads of sanitizer builds."""
    return {k: v for k, v in os.environ.items() if k not in _BROWSER_ENV_DROP}


def needs_node() -> str:
    """node's path; skips where node is missing, and in the sanitized stage, whose instrumented
    module plays no part in what node runs (the plain stage runs these tests)."""
    if NODE is None:
        pytest.skip("node is not installed")
    if os.environ.get("ORV_SANITIZED"):
        pytest.skip("node runs the web engine alike in both stages; the plain stage runs it")
    return NODE


def run_in_node(engine: Path, levels: list, tmp_path: Path) -> list:
    """Runs [(name, level text or bytes)] through the web engine under node (see run_levels.js)."""
    needs_node()
    source, result = tmp_path / "levels.json", tmp_path / "runs.json"
    source.write_text(json.dumps([{"name": n, "text": t} if isinstance(t, str) else
                                  {"name": n, "bytes": base64.b64encode(t).decode()} for n, t in levels]), encoding="utf-8")
    subprocess.run([NODE, str(HERE / "run_levels.js"), str(engine), str(source), str(result)],
                   check=True, env=node_env(), timeout=600)
    return json.loads(result.read_text(encoding="utf-8"))


def module_run(text) -> dict:
    """What run_levels.js gives for one level, from the module's session: the level saved before
    frame 1, then every frame's report text, record and words, the verdict and its summary lines, or the
    refusal."""
    session = orv_session.Session()
    try:
        session.load(text.encode() if isinstance(text, str) else text)
    except orv_session.LevelFault as fault:
        return {"error": refusal(fault)}
    out = {"error": None, "saved": session.level_text("saved", "by node"), "frames": []}
    while not session.ended:
        report = session.step()
        out["frames"].append({"text": report, "record": session.record(), "told": list(session.told())})
    out["verdict"] = session.verdict()
    out["summary"] = session.summary_lines()
    return out


def refusal(fault) -> str:
    """The one line that the engine says for a level it refuses, from the module's LevelFault."""
    from orv.levels import LevelError

    return str(LevelError("-", *fault.args)).removeprefix("-: ")


def random_level(seed: int) -> dict:
    """A small random level: nested zones with charges of every kind of value and agents of all
    thirteen kinds, so that casts, folds, carried-off gates, frozen zones and dead ends all occur."""
    rng = random.Random(seed)
    values = [0, 1, 2, 3, 4, 5, 6, 10, -2, 0.5, 2.5, 1e-9, 170, 1e300, None, -0.0, "inf", "-inf"]
    count = [0]

    def zone(depth):
        count[0] += 1
        z = {"id": rng.choice(["a", "b", "c", "ü-zone", f"z{count[0]}", f"z{count[0]}"]), "charges": [],
             "agents": [], "sub_environments": []}
        for _ in range(rng.choice([0, 1, 1, 2, 2, 3])):
            z["charges"].append({"magnitude": rng.choice(values),
                                 "polarity": rng.choice(["positive", "positive", "negative", "neutral"]),
                                 "visual_id": f"c{rng.randrange(99)}"})
        for _ in range(rng.choice([0, 0, 1, 1, 2, 3])):
            kind = rng.choice(KINDS)
            agent = {"name": kind, "visual_id": f"{kind}{rng.randrange(9)}"}
            if kind in ("equals", "judge"):
                agent["target_value"] = rng.choice([0, 1, 2, 3, 5, 6, -1, 0.5, None, "inf", -0.0])
            if kind == "judge":
                agent["rule"] = rng.choice(["<", ">", "<=", ">="])
            z["agents"].append(agent)
        if depth < 3:
            z["sub_environments"] = [zone(depth + 1) for _ in range(rng.choice([0, 0, 1, 1, 2, 3]))]
        return z

    return {"format": 1, "title": f"random {seed}", "description": "", "world": zone(0)}
