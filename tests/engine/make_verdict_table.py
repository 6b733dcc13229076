"""Writes verdict_table.json, the worlds whose runs the C++ judge is checked against.

The oracle is the toolkit as it stood before the judge moved into the engine (commit ORACLE): its
orv.run.Run and the tracker of orv.verdict, which placed each frame's event by comparing whole
worlds. The script takes that toolkit and its tests/toolkit/test_verdicts.py out of git into a
temporary folder and imports them from there. For the campaign, the worlds of test_verdicts.py
and a few hundred seeded random worlds, it plays each run and records its verdict, the narration
of every frame ([words, where]), the closing lines and the world's lines before frame 1.

Saved runs (a run file that starts part way, or that jumps to the reports of another run) are
recorded as segments: take the world of entry E after F frames, follow N frames from there. The
C++ test verdict_test.cpp replays all of it through the engine.

Numbers are read from the live engine wherever the toolkit reads them: "where" of a frame that
ran nothing and the world's lines use the live charges, as the narration does for other frames.

    .venv/bin/python tests/engine/make_verdict_table.py      (deterministic; rewrites the table)
"""

from __future__ import annotations

import io
import json
import math
import random
import subprocess
import sys
import tarfile
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
TABLE = HERE / "verdict_table.json"
ORACLE = "cfba19e"  # the last commit whose toolkit judged runs with orv.verdict.Tracker


def import_oracle(folder: str) -> None:
    """Makes `import orv` and `import test_verdicts` find the oracle's files in `folder`."""
    command = ["git", "-C", str(HERE.parent.parent), "archive", ORACLE, "python/orv", "tests/toolkit/test_verdicts.py"]
    archive = subprocess.run(command, check=True, capture_output=True).stdout
    tarfile.open(fileobj=io.BytesIO(archive)).extractall(folder, filter="data")
    # An editable install of today's toolkit answers for "orv" before sys.path is searched.
    sys.meta_path = [f for f in sys.meta_path if "orv" not in getattr(f, "known_source_files", {})]
    sys.path[:0] = [f"{folder}/python", f"{folder}/tests/toolkit"]


import_oracle(tempfile.mkdtemp(prefix="orv-oracle-"))

from orv.levels import bundled_levels, parse_level  # noqa: E402
from orv.run import Run, charges_text, event_text, summary, world_lines  # noqa: E402
from orv.verdict import Tracker  # noqa: E402

RANDOM_WORLDS = 300
RUNAWAY_WORLDS = 4  # of the random ones, these hit the frame limit
KINDS = ["plus", "minus", "multiply", "divide", "power", "root", "abs", "factorial", "modulo", "log",
         "chronomancer", "equals", "judge"]
INF, NAN = math.inf, math.nan
MAGNITUDES = [0, 1, 2, 3, 4, 5, 6, 10, -2, -0.0, 0.5, 2.5, 1e-9, 170, 171, 1e15, 1234567.5, 0.1, 1e300,
              1e308, INF, -INF, NAN, None]
TARGETS = [0, 1, 2, 3, 5, 6, 10, -1, 0.5, 1e308, INF, -INF, NAN, None]


# ---------------------------------------------------------------- worlds


def charge(m, polarity="positive", vid="c"):
    return {"magnitude": m, "polarity": polarity, "visual_id": vid}


def agent(rng, kind):
    a = {"name": kind, "visual_id": f"{kind[:3]}{rng.randrange(6)}"}
    if kind in ("equals", "judge"):
        a["target_value"] = rng.choice(TARGETS)
    if kind == "judge":
        a["rule"] = rng.choice(["<", ">", "<=", ">="])
    return a


def random_world(seed: int) -> dict:
    """Nested zones with shared ids, charges of every sort of value, agents of all thirteen kinds,
    frozen flags set by hand; some seeds grow a runaway zone or a thousand folds."""
    rng = random.Random(seed)
    made = [0]

    def zone(depth):
        made[0] += 1
        z = {"id": rng.choice(["a", "b", "ü", f"z{made[0]}", f"z{made[0]}", f"z{made[0]}"]),
             "charges": [charge(rng.choice(MAGNITUDES), rng.choice(["positive", "positive", "negative", "neutral"]),
                                f"c{rng.randrange(99)}") for _ in range(rng.choice([0, 1, 1, 1, 2, 2, 3]))],
             "agents": [], "sub_environments": []}
        for _ in range(rng.choice([0, 0, 0, 1, 1, 2, 3])):
            z["agents"].append(agent(rng, rng.choice(KINDS + ["equals", "judge"])))
        if rng.random() < 0.15:
            z["is_time_frozen"] = rng.random() < 0.7
        if depth < 4:
            z["sub_environments"] = [zone(depth + 1) for _ in range(rng.choice([0, 0, 1, 1, 2, 3]))]
        return z

    world = zone(0)
    if seed < RUNAWAY_WORLDS:
        # Past the limit by casts (a Purifier acts on any charge) or by folds of a thousand zones.
        if seed % 2:
            busy = zone(1)
            busy["charges"] = busy["charges"] or [charge(-1, "negative")]
            busy["agents"] = [{"name": "abs", "visual_id": f"p{i}"} for i in range(1001)] + busy["agents"]
            world["sub_environments"].insert(0, busy)
        else:
            world["sub_environments"] += [{"id": rng.choice(["f", f"f{i}"]), "charges": [charge(i % 7)]}
                                          for i in range(1002)]
    return world


def carried_world(seed: int) -> dict:
    """A zone that folds while the zones inside it still hold gates: they are carried off."""
    rng = random.Random(seed)
    inner = {"id": rng.choice(["in", "x"]), "charges": [charge(2)], "agents": [agent(rng, "equals")],
             "sub_environments": [{"id": "x", "charges": [], "agents": [agent(rng, "judge")]}]}
    outer = {"id": rng.choice(["out", "x"]), "charges": [charge(1)], "sub_environments": [inner]}
    return {"id": "r", "charges": [charge(3)], "agents": [agent(rng, "equals")],
            "sub_environments": [outer, random_world(1000 + seed)]}


def turns_world(seed: int) -> dict:
    """Gates whose zones thaw and freeze again as sub-zones fold, cast and fill up, so that a gate's
    last turn is often well before the end of the run."""
    rng = random.Random(seed)

    def gated(z):
        gates = [agent(rng, rng.choice(["equals", "judge"])) for _ in range(rng.choice([1, 2]))]
        z["agents"] = z.get("agents", []) + gates
        return z

    subs = []
    for i in range(rng.randrange(2, 7)):
        shape = rng.randrange(5)
        sub = {"id": rng.choice(["s", f"s{i}"]), "charges": [charge(rng.choice([1, 2, 3, 0.5, 1e308, INF]))]}
        if shape == 1:  # takes a second charge from its own sub-zone, then holds its parent frozen
            sub["sub_environments"] = [{"id": "t", "charges": [charge(2)]}]
        elif shape == 2:  # casts, then folds
            sub["charges"].append(charge(3))
            sub["agents"] = [{"name": "plus", "visual_id": f"p{i}"}]
        elif shape == 3:  # a gate zone of its own below
            sub = gated(sub | {"sub_environments": [{"id": "t", "charges": [charge(4)]}]})
        elif shape == 4:  # the Chronomancer never leaves
            sub["id"] = f"s{i}"
            sub["agents"] = [{"name": "chronomancer", "visual_id": f"w{i}"}]
        subs.append(sub)  # shape 0 folds at once
    return gated({"id": "r", "charges": [charge(rng.choice(MAGNITUDES))], "sub_environments": subs})


def test_verdicts_worlds() -> list[dict]:
    import test_verdicts as tv

    worlds = [case[0] for case in tv.VERDICTS] + [tv.CARRIED, tv.FOLDED_AFTER_TURN]
    worlds.append(tv.zone("a", subs=[tv.zone("a", [tv.charge(5, vid="x"), tv.charge(5, vid="y")],
                                             [{"name": "plus", "visual_id": "p"}])]))
    busy = tv.zone("z0", [tv.charge(1, "negative")], [{"name": "abs", "visual_id": f"p{i}"} for i in range(1001)])
    worlds.append(tv.zone("desert", subs=[busy] + [tv.zone(f"z{i}", [tv.charge(1)]) for i in range(1, 8)]))
    return worlds


# ---------------------------------------------------------------- runs


def level_json(value):
    """The world as the level reader takes it: infinities and NaN as "inf", "-inf", "nan"."""
    if isinstance(value, dict):
        return {k: level_json(v) for k, v in value.items()}
    if isinstance(value, list):
        return [level_json(v) for v in value]
    if isinstance(value, float) and not math.isfinite(value):
        return "nan" if math.isnan(value) else ("inf" if value > 0 else "-inf")
    return value


def live_world(run: Run) -> dict:
    """The world before frame 1 with the engine's own magnitudes in place of the report's nulls."""
    world = json.loads(run.root.to_json())
    stack = [(world, run.tracker.root)]
    while stack:
        z, node = stack.pop()
        for c, live in zip(z["charges"], node.env.charges):
            c["magnitude"] = live.magnitude
        stack.extend(zip(z["sub_environments"], node.subs))
    return world


def told(event, report, root) -> list[str]:
    words, where = event_text(event, report)
    if event.type is None:
        where = charges_text(report, None, root)
    return [words, where]


def play(world: dict, until: int | None = None) -> dict:
    run = Run(parse_level(world))
    lines = world_lines(live_world(run))
    frames = [told(event, report, run.root) for _, report, event in run.frames(until)]
    verdict = run.verdict()
    return {"verdict": verdict.as_dict(), "told": frames,
            "summary": summary(verdict, run.tracker.name(run.tracker.root)), "lines": lines}


def reports_of(world: dict) -> list[dict]:
    run = Run(parse_level(world))
    return [report for _, report, _ in run.frames()]


def finite(reports) -> bool:
    text = json.dumps(reports)
    return '"magnitude": null' not in text and '"target_value": null' not in text


def saved(entries: list[dict], segments: list[tuple[int, int, int]]) -> dict | None:
    """A run file made of `segments` (entry, first frame, frames followed), judged as orv view does."""
    file = []
    for entry, start, count in segments:
        reports = reports_of(entries[entry]["world"])
        if start > len(reports) or not finite(reports):
            return None
        file.append(reports[start - 1:start + count])
    tracker = Tracker(file[0][0])
    frames = [told(tracker.begin(file[0][0]), file[0][0], None)]
    for n, part in enumerate(file):
        for i, report in enumerate(part[1:] if n == 0 else part):
            lost = len(tracker.unknown)
            frames.append(list(event_text(tracker.advance(report), report)))
            if n and not i and len(tracker.unknown) != lost + 1:
                return None  # the jump happened to follow: not what this case is for
    return {"segments": [list(s) for s in segments], "verdict": tracker.verdict().as_dict(), "told": frames}


def main() -> None:
    entries = []
    for path in bundled_levels():
        entries.append({"name": f"campaign {path.name[:-5]}", "world": json.loads(path.read_text())["world"]})
    for i, world in enumerate(test_verdicts_worlds()):
        entries.append({"name": f"test_verdicts {i}", "world": world})
    for seed in range(RANDOM_WORLDS):
        entries.append({"name": f"random {seed}", "world": random_world(seed)})
    for seed in range(20):
        entries.append({"name": f"carried {seed}", "world": carried_world(seed)})
    for seed in range(40):
        entries.append({"name": f"turns {seed}", "world": turns_world(seed)})
    entries.append({"name": "paused campaign 05", "world": entries[4]["world"], "until": 3})
    for entry in entries:
        entry.update(play(entry["world"], entry.get("until")))

    rng = random.Random(7)
    saves = []
    while len(saves) < 40:
        first, second = rng.randrange(len(entries)), rng.randrange(len(entries))
        length = len(entries[first]["told"])
        if length < 2 or entries[first].get("until"):
            continue
        start = rng.randrange(1, length + 1)
        segments = [(first, start, rng.randrange(length - start + 1))]
        if len(saves) % 2:
            jump_to = rng.randrange(1, max(2, len(entries[second]["told"]) + 1))
            segments.append((second, jump_to, rng.randrange(6)))
        case = saved(entries, segments)
        if case is not None:
            saves.append(case)

    table = {"entries": [{k: level_json(v) if k == "world" else v for k, v in e.items()} for e in entries],
             "saved": saves}
    TABLE.write_text(json.dumps(table, ensure_ascii=False, separators=(",", ":")) + "\n", encoding="utf-8")
    print(f"{TABLE}: {len(entries)} worlds, {len(saves)} saved runs, {TABLE.stat().st_size:,} bytes")


if __name__ == "__main__":
    main()
