"""Prints the solver's speed: runs a second on one core over the campaign's worlds, next to the same
runs driven from Python through orv_engine and json.loads; the time of an exhaustive search of 7
pieces in 8 zones (2,097,152 placements) on every core; and the memory over that search.

    bash scripts/bench.sh --build-only && .venv/bin/python bench/solver.py [--quick]

Two figures for the solver: a call of orv_session.solve for each search, as `orv solve` makes it
(reading the level and planning the search weigh on puzzles of a few placements), and the runs
alone: each search repeated by the C++ program bench/solver_runs.cpp (build/bench-phases), the
level read once and the worker's world built once. Without that program the second figure is left out.

Two sets of the campaign's worlds: the bundled puzzles as they ship (2 to 27 placements each, so a
call of the solver, which reads the level, weighs on each run), and for each bundled level a puzzle
whose tray holds every agent of the level, each accepted in every zone (4 to 16,384 placements,
most of them short runs that end unsolved). Python drives the same placements (the first ones of
the large searches) through orv_engine, one next_frame and one json.loads a frame, to the end of
the run; the solver also judges each run.
"""

from __future__ import annotations

import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import orv_engine
import orv_session

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
from orv.levels import KIND_BY_NAME, bundled_levels  # noqa: E402

POLARITY = {"positive": orv_engine.POSITIVE, "negative": orv_engine.NEGATIVE, "neutral": orv_engine.NEUTRAL}
QUICK = "--quick" in sys.argv
REPEATS = 3
RUNS_ALONE = Path(__file__).resolve().parents[1] / "build" / "bench-phases" / "solver_runs"


def number(value) -> float:
    return float(value) if value is not None else float("nan")


def puzzle_of(level_file, everything: bool) -> tuple[dict, list[dict], list[tuple[str, ...]]]:
    """The puzzle (as it ships, or with every agent of the level in the tray), its pieces and the
    paths of its accepting zones in preorder (as tuples of ids; the campaign's ids are not shared)."""
    document = json.loads(level_file.read_text(encoding="utf-8"))
    pieces = list(document.get("pieces", []))
    paths: list[tuple[str, ...]] = []
    stack = [(document["world"], (document["world"]["id"],))]
    while stack:
        zone, path = stack.pop()
        paths.append(path)
        if everything:
            pieces += zone.pop("agents", [])
        stack += [(sub, path + (sub["id"],)) for sub in reversed(zone.get("sub_environments", []))]
    if "accepts" in document and not everything:
        paths = [path for path in paths if "/".join(path) in document["accepts"]]
    else:
        document.pop("accepts", None)
    return document | {"pieces": pieces}, pieces, paths


def add_agent(zone, agent: dict) -> None:
    kind = KIND_BY_NAME[agent["name"]]
    method = getattr(zone, kind.method)
    if kind.takes_rule:
        method(agent["visual_id"], number(agent["target_value"]), agent["rule"])
    elif kind.gate:
        method(agent["visual_id"], number(agent["target_value"]))
    else:
        method(agent["visual_id"])


def build(zone: dict, path: tuple[str, ...], placed: dict) -> orv_engine.Environment:
    env = orv_engine.Environment(zone["id"])
    for charge in zone.get("charges", []):
        env.add_charge(number(charge["magnitude"]), POLARITY[charge["polarity"]], charge["visual_id"])
    for agent in zone.get("agents", []) + placed.get(path, []):
        add_agent(env, agent)
    for sub in zone.get("sub_environments", []):
        env.add_sub_environment(build(sub, path + (sub["id"],), placed))
    return env


def python_runs(puzzle: dict, pieces: list[dict], paths: list, count: int) -> tuple[int, int, float]:
    """`count` placements run from Python, spread evenly over the search's order (all of them, again
    and again, when there are fewer); (runs, frames, seconds)."""
    zones, runs, frames = len(paths), 0, 0
    placements = zones ** len(pieces)
    step = max(1, placements // count)
    start = time.perf_counter()
    for index in range(count):
        placed: dict = {}
        rest = index * step % placements
        digits = []
        for _ in pieces:
            digits.append(rest % zones)
            rest //= zones
        for piece, digit in zip(pieces, reversed(digits)):
            placed.setdefault(paths[digit], []).append(piece)
        root = puzzle["world"]
        sequencer = orv_engine.NarrativeSequencer(build(root, (root["id"],), placed))
        frames += 1
        while json.loads(sequencer.next_frame())["meta"]["status"] not in ("FINISHED", "ERROR"):
            frames += 1
        runs += 1
    return runs, frames, time.perf_counter() - start


def solver_runs(text: bytes, seconds: float) -> tuple[int, float]:
    """Whole searches of the puzzle on one worker, repeated for about `seconds`; (runs, seconds)."""
    runs, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        runs += orv_session.solve(text, jobs=1)["tried"]
    return runs, time.perf_counter() - start


def runs_alone(texts: list[bytes]) -> list[float] | None:
    """Runs a second of each puzzle's search, repeated with the level read once (bench/solver_runs)."""
    if not RUNS_ALONE.exists():
        return None
    with tempfile.TemporaryDirectory(prefix="orv-bench-") as tmp:
        files = []
        for number, text in enumerate(texts):
            files.append(Path(tmp) / f"{number}.json")
            files[-1].write_bytes(text)
        done = subprocess.run([str(RUNS_ALONE), "--seconds", "0.1" if QUICK else "0.5", *map(str, files)],
                              capture_output=True, text=True, check=True)
    return [float(line.split()[2]) for line in done.stdout.splitlines()]


def resident_mib() -> float:
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def big_search() -> None:
    """7 distinct pieces, 8 zones: a root and 7 rooms of two charges each, the root's gate wanting 7."""
    rooms = [{"id": f"room{r}", "charges": [{"magnitude": r + 1, "polarity": "positive", "visual_id": f"a{r}"},
                                            {"magnitude": 1, "polarity": "positive", "visual_id": f"b{r}"}]}
             for r in range(7)]
    kinds = ["plus", "minus", "multiply", "divide", "power", "modulo", "log"]
    pieces = [{"name": kind, "visual_id": f"{kind}_{i}"} for i, kind in enumerate(kinds)]
    world = {"id": "hall", "agents": [{"name": "judge", "visual_id": "door", "target_value": 7, "rule": ">="}],
             "sub_environments": rooms}
    text = json.dumps({"format": 1, "title": "big", "description": "", "pieces": pieces, "world": world}).encode()
    memory = [resident_mib()]
    start = time.perf_counter()
    found = orv_session.solve(text, progress=lambda tried, total: memory.append(resident_mib()))
    took = time.perf_counter() - start
    memory.append(resident_mib())
    print(f"exhaustive search, 7 pieces x 8 zones: {found['tried']:,} placements in {took:.2f} s on "
          f"{os.cpu_count()} cores ({found['tried'] / took:,.0f} runs/s), {found['solutions']:,} solutions, "
          f"shortest {found['shortest']['frames'] if found['shortest'] else '-'} frames")
    print(f"memory over that search: resident {memory[0]:.1f} MiB before, at most {max(memory):.1f} MiB during, "
          f"{memory[-1]:.1f} MiB after ({len(memory) - 2} samples)")


def campaign(everything: bool) -> None:
    """Each level's rates, the median of REPEATS rounds (the machine is shared, and a round of every
    level at a time spreads what disturbs it over the levels alike); the campaign's rates over the
    levels are harmonic: the same runs of every level, each at its level's rate."""
    title = "every agent in the tray" if everything else "the puzzles as they ship"
    levels, texts = [], []
    for level_file in bundled_levels():
        puzzle, pieces, paths = puzzle_of(level_file, everything)
        levels.append((level_file.name[:-5], puzzle, pieces, paths))
        texts.append(json.dumps(puzzle).encode())
    rates: list[list[tuple[float, float, float]]] = [[] for _ in levels]  # (solver, alone, Python) a round
    frames = [0.0] * len(levels)
    for _ in range(REPEATS):
        alone = runs_alone(texts) or [float("nan")] * len(levels)
        for at, ((_, puzzle, pieces, paths), text) in enumerate(zip(levels, texts)):
            c_runs, c_time = solver_runs(text, 0.1 if QUICK else 0.5)
            p_runs, p_frames, p_time = python_runs(puzzle, pieces, paths, 300 if QUICK else 2000)
            rates[at].append((c_runs / c_time, alone[at], p_runs / p_time))
            frames[at] = p_frames / p_runs
    medians = [[statistics.median(rate[k] for rate in level) for k in range(3)] for level in rates]
    print(f"{title:<26} {'placements':>10} {'frames/run':>10} {'solver runs/s':>14} {'runs alone/s':>13} "
          f"{'Python runs/s':>14} {'ratio':>6} {'alone':>6}")
    for (name, _, pieces, paths), run_frames, (c_rate, a_rate, p_rate) in zip(levels, frames, medians):
        print(f"{name:<26} {len(paths) ** len(pieces):>10,} {run_frames:>10.1f} {c_rate:>14,.0f} {a_rate:>13,.0f} "
              f"{p_rate:>14,.0f} {c_rate / p_rate:>5.0f}x {a_rate / p_rate:>5.0f}x")
    c_rate, a_rate, p_rate = (len(levels) / sum(1 / level[k] for level in medians) for k in range(3))
    print(f"{'campaign (one core each)':<26} {'':>10} {statistics.mean(frames):>10.1f} {c_rate:>14,.0f} "
          f"{a_rate:>13,.0f} {p_rate:>14,.0f} {c_rate / p_rate:>5.0f}x {a_rate / p_rate:>5.0f}x")


def main() -> int:
    campaign(everything=False)
    campaign(everything=True)
    big_search()
    return 0


if __name__ == "__main__":
    sys.exit(main())
