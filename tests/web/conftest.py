"""Shared pieces of the web tests: the built web engine, node, and random levels."""

import json
import os
import random
import shutil
import subprocess
from pathlib import Path

import pytest

from orv import studio
from orv.viewer import _BROWSER_ENV_DROP

HERE = Path(__file__).resolve().parent
NODE = shutil.which("node")
KINDS = ("plus", "minus", "multiply", "divide", "power", "root", "abs", "factorial", "modulo", "log",
         "chronomancer", "equals", "judge")


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
    """Runs [(name, level text)] through the web engine under node (see run_levels.js)."""
    needs_node()
    source, result = tmp_path / "levels.json", tmp_path / "runs.json"
    source.write_text(json.dumps([{"name": n, "level": t} for n, t in levels]), encoding="utf-8")
    verdict = Path(studio.__file__).parent / "studio" / "verdict.js"
    subprocess.run([NODE, str(HERE / "run_levels.js"), str(engine), str(source), str(result), str(verdict)],
                   check=True, env=node_env(), timeout=600)
    return json.loads(result.read_text(encoding="utf-8"))


def random_level(seed: int) -> dict:
    """A small random level: nested zones with charges of every kind of value and agents of all
    thirteen kinds, so that casts, folds, carried-off gates, frozen zones and dead ends all occur."""
    rng = random.Random(seed)
    values = [0, 1, 2, 3, 4, 5, 6, 10, -2, 0.5, 2.5, 1e-9, 170, 1e300, None]
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
                agent["target_value"] = rng.choice([0, 1, 2, 3, 5, 6, -1, 0.5, None])
            if kind == "judge":
                agent["rule"] = rng.choice(["<", ">", "<=", ">="])
            z["agents"].append(agent)
        if depth < 3:
            z["sub_environments"] = [zone(depth + 1) for _ in range(rng.choice([0, 0, 1, 1, 2, 3]))]
        return z

    return {"format": 1, "title": f"random {seed}", "description": "", "world": zone(0)}
