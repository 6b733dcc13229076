"""Puzzles: the solver against brute force through `orv check`, the campaign against its golden, and
`orv solve` and `orv play` as a user meets them (hostile searches and Ctrl-C in child processes)."""

import copy
import itertools
import json
import os
import random
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

import orv_session
import pytest

from orv.cli import main
from orv.levels import bundled_levels, load_level

HERE = Path(__file__).parent
ROOT = HERE.parents[1]
ORV = [sys.executable, "-m", "orv"]
PUZZLES = 40


# ---------------------------------------------------------------- random puzzles


def random_puzzle(seed: int) -> dict:
    """A small world of nested zones (ids shared now and then) with some of its agents, and now and
    then a twin of one, in the tray; sometimes only some zones accept pieces."""
    rng = random.Random(seed)
    kinds = ["plus", "plus", "minus", "multiply", "abs", "power", "equals", "judge", "chronomancer"]

    def agent(i):
        kind = rng.choice(kinds[:-1] if rng.random() < 0.9 else kinds)
        made = {"name": kind, "visual_id": f"{kind[:2]}{i}"}
        if kind in ("equals", "judge"):
            made["target_value"] = rng.choice([0, 1, 2, 3, 5, 6])
        if kind == "judge":
            made["rule"] = rng.choice(["<", ">", "<=", ">="])
        return made

    zones = [{"id": "r", "charges": [], "agents": [], "sub_environments": []}]
    for z in range(rng.randrange(1, 4)):
        zone = {"id": rng.choice(["a", "b"]), "charges": [], "agents": [], "sub_environments": []}
        rng.choice(zones)["sub_environments"].append(zone)
        zones.append(zone)
    for z, zone in enumerate(zones):
        for c in range(rng.randrange(0 if z == 0 else 1, 3)):
            zone["charges"].append({"magnitude": rng.randrange(0, 4), "polarity": rng.choice(["positive", "negative"]),
                                    "visual_id": f"c{z}{c}"})
        zone["agents"] = [agent(10 * z + a) for a in range(rng.randrange(0, 3))]
    pieces = []
    for _ in range(rng.randrange(1, 4)):
        held = [zone for zone in zones if zone["agents"]]
        pieces.append(rng.choice(held)["agents"].pop() if held and rng.random() < 0.7 else agent(90 + len(pieces)))
        if rng.random() < 0.3:
            pieces.append(copy.deepcopy(pieces[-1]))
    puzzle = {"format": 1, "title": f"random {seed}", "description": "", "pieces": pieces[:4], "world": zones[0]}
    if rng.random() < 0.4:
        paths = zone_paths(zones[0])
        puzzle["accepts"] = sorted(rng.sample(paths, rng.randrange(1, len(paths) + 1)), key=paths.index)
    return puzzle


def zone_paths(world: dict) -> list:
    """Each zone's path in preorder, as the format names zones: ids joined by "/", a shared id with its place."""
    paths, stack = [], [(world, world["id"])]
    while stack:
        zone, path = stack.pop()
        paths.append(path)
        ids = [sub["id"] for sub in zone["sub_environments"]]
        named = [(sub, f"{path}/{sub['id']}" + (f"[{ids[:i + 1].count(sub['id'])}]" if ids.count(sub["id"]) > 1 else ""))
                 for i, sub in enumerate(zone["sub_environments"])]
        stack += reversed(named)
    return paths


def placed(puzzle: dict, zones: tuple) -> dict:
    """The finished world of a placement: each piece after its zone's own agents, in the tray's order."""
    world = copy.deepcopy(puzzle["world"])
    by_path, stack = {}, [(world, world["id"])]
    order = zone_paths(world)
    flat = []
    while stack:
        zone, _ = stack.pop()
        flat.append(zone)
        stack += reversed([(sub, None) for sub in zone["sub_environments"]])
    by_path = dict(zip(order, flat))
    for piece, path in zip(puzzle["pieces"], zones):
        by_path[path]["agents"].append(piece)
    return {"format": 1, "title": "placed", "description": "", "world": world}


def engine_world(level: dict) -> str:
    session = orv_session.Session()
    session.load(json.dumps(level))
    return session.world()


def test_solver_finds_the_solutions_that_orv_check_finds_placement_by_placement(tmp_path):
    puzzles = [random_puzzle(seed) for seed in range(PUZZLES)]
    placements = []  # (puzzle, zones) for every placement of every puzzle, in the search's order
    for p, puzzle in enumerate(puzzles):
        accepting = puzzle.get("accepts") or zone_paths(puzzle["world"])
        placements += [(p, zones) for zones in itertools.product(accepting, repeat=len(puzzle["pieces"]))]
    files = []
    for i, (p, zones) in enumerate(placements):
        files.append(tmp_path / f"{i:05d}.json")
        files[-1].write_text(json.dumps(placed(puzzles[p], zones)), encoding="utf-8")
    done = subprocess.run(ORV + ["check", "--json", *map(str, files)], capture_output=True, text=True)
    assert done.returncode in (0, 1) and done.stderr == ""
    checked = [json.loads(line) for line in done.stdout.splitlines()]
    assert len(checked) == len(placements)

    twins = solvable = 0
    for p, puzzle in enumerate(puzzles):
        mine = [(zones, check) for (q, zones), check in zip(placements, checked) if q == p]
        solved = [(zones, check["frames"]) for zones, check in mine if check["verdict"] == "solved"]
        worlds = {engine_world(placed(puzzle, zones)) for zones, _ in solved}
        answer = orv_session.solve(json.dumps(puzzle), jobs=1 + p % 2, keep=len(mine))
        assert (answer["placements"], answer["tried"], answer["exhaustive"]) == (len(mine), len(mine), True)
        assert answer["solutions"] == len(worlds), puzzle
        assert {engine_world(placed(puzzle, tuple(s["zones"]))) for s in answer["listed"]} == worlds
        if solved:
            fewest = min(frames for _, frames in solved)
            first_shortest = next(zones for zones, frames in solved if frames == fewest)
            assert (answer["shortest"]["frames"], tuple(answer["shortest"]["zones"])) == (fewest, first_shortest)
            first = orv_session.solve(json.dumps(puzzle), first=True, jobs=2)
            assert tuple(first["shortest"]["zones"]) == solved[0][0] and first["solutions"] == 1
            assert first["tried"] == [zones for zones, _ in mine].index(solved[0][0]) + 1
        else:
            assert answer["shortest"] is None
        twins += len(worlds) < len(solved)
        solvable += bool(solved)
    assert twins >= 1 and PUZZLES // 4 <= solvable < PUZZLES  # the draw reaches every case


# ---------------------------------------------------------------- the campaign


def test_campaign_puzzles_have_one_solution_each_as_the_golden_says():
    golden = json.loads((HERE / "golden" / "puzzles.json").read_text(encoding="utf-8"))
    found = {}
    for level_file in bundled_levels():
        answer = load_level(level_file).solve()
        found[level_file.name] = answer.as_dict(level_file.name)
        assert answer.unique and load_level(level_file).pieces
    assert found == golden


def test_the_rules_reference_puzzle_solves_as_it_says(tmp_path, capsys):
    doc = (ROOT / "docs" / "rules.md").read_text(encoding="utf-8")
    section = doc[doc.index("## Puzzles"):]
    example = tmp_path / "sparks.json"
    example.write_text(re.search(r"```json\n(.*?)```", section, re.S).group(1), encoding="utf-8")
    assert main(["solve", str(example)]) == 0
    out = capsys.readouterr().out
    said = re.search(r"`orv solve` says of it: `(.*?)`, and the solution, in\s+(\d+) frames: `(.*?)`", section, re.S)
    assert f": {said.group(1)}\n" in out and f"Shortest solution, {said.group(2)} frames:\n  {said.group(3)}\n" in out


# ---------------------------------------------------------------- the commands


def write(tmp_path, name: str, level: dict) -> str:
    (tmp_path / name).write_text(json.dumps(level), encoding="utf-8")
    return str(tmp_path / name)


def rooms(count: int, pieces: int) -> dict:
    """A hall and `count` rooms of two charges, `pieces` identical Plus Magicians for them: unsolvable
    when there are fewer magicians than rooms, and a long search when there are many of both."""
    return {"format": 1, "title": "rooms", "description": "",
            "pieces": [{"name": "plus", "visual_id": "smith"}] * pieces,
            "world": {"id": "hall", "sub_environments": [
                {"id": f"room{r}", "charges": [{"magnitude": 1, "polarity": "positive", "visual_id": "x"}] * 2}
                for r in range(count)]}}


def test_solve_answers_and_exit_statuses(tmp_path, capsys):
    assert main(["solve", "3", "--json"]) == 0
    assert json.loads(capsys.readouterr().out)["shortest"]["zones"] == ["anvil", "anvil", "anvil/bellows"]
    assert main(["solve", write(tmp_path, "two.json", rooms(2, 2)), "--json", "--jobs", "1"]) == 0
    two = json.loads(capsys.readouterr().out)  # the same two magicians swapped build the same world
    assert (two["placements"], two["solutions"], two["unique"]) == (9, 1, True)
    assert main(["solve", write(tmp_path, "short.json", rooms(3, 2))]) == 1
    assert capsys.readouterr().out.endswith(": unsolvable: none of the 16 placements solves it\n")
    assert main(["check", str(tmp_path / "short.json")]) == 1
    assert "UNSOLVABLE" in capsys.readouterr().out
    assert main(["solve", write(tmp_path, "bad.json", rooms(1, 1) | {"accepts": ["hall/room9"]}), "--json"]) == 2
    out, err = capsys.readouterr()
    assert json.loads(out)["verdict"] == "invalid" and 'accepts[0]: expected the path of a zone' in err


def test_what_progress_raises_ends_the_search_and_is_raised():
    def stop(tried, total):
        raise LookupError(f"stopped at {tried} of {total}")

    start = time.monotonic()
    with pytest.raises(LookupError, match="of 1000000000$"):
        orv_session.solve(json.dumps(rooms(9, 9)), progress=stop)
    assert time.monotonic() - start < 20


def test_a_search_too_large_is_refused_before_it_starts(tmp_path):
    start = time.monotonic()
    done = subprocess.run(ORV + ["solve", write(tmp_path, "huge.json", rooms(9, 12))], capture_output=True, text=True)
    assert done.returncode == 2 and done.stdout == "" and time.monotonic() - start < 20
    assert done.stderr.count("\n") == 1 and "10^12 = 1,000,000,000,000 placements (12 pieces" in done.stderr
    assert 'name fewer zones in "accepts"' in done.stderr


def test_ctrl_c_ends_a_long_search_with_its_progress_on_a_terminal(tmp_path):
    import pty

    level = write(tmp_path, "long.json", rooms(9, 9))  # 10^9 placements: hours of work
    leader, follower = pty.openpty()
    child = subprocess.Popen(ORV + ["solve", level], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=follower, text=True)
    os.close(follower)
    def read(until) -> bytes:
        seen = b""
        while not until(seen):
            try:
                chunk = os.read(leader, 4096)
            except OSError:  # the terminal is gone once the child has ended and all was read
                chunk = b""
            if not chunk:
                break
            seen += chunk
        return seen

    seen = read(lambda text: b"placements" in text)  # the bar shows after a second
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=30)
    rest = read(lambda text: False)
    os.close(leader)
    assert b"% " in seen and b"of 1,000,000,000 placements" in seen
    assert child.returncode == 130 and out == ""
    assert re.search(rb"orv: interrupted after [\d,]+ placements", rest)


def test_play_a_puzzle_with_its_solution_or_yours_and_save_its_tray(tmp_path, capsys):
    assert main(["play", "3", "--until", "0", "--save", str(tmp_path / "tray.json")]) == 0
    assert "played with its shortest solution: put the Divide Magician (smith) into anvil;" in capsys.readouterr().err
    saved = json.loads((tmp_path / "tray.json").read_text())
    assert "pieces" not in saved  # placed: a finished world
    unplaced = write(tmp_path, "short.json", rooms(3, 2))
    assert main(["play", unplaced, "--until", "0", "--save", str(tmp_path / "kept.json")]) == 0
    kept = json.loads((tmp_path / "kept.json").read_text())
    assert [p["visual_id"] for p in kept["pieces"]] == ["smith", "smith"] and "accepts" not in kept
    assert main(["play", unplaced, "--until", "1", "--save", str(tmp_path / "no.json")]) == 2
    assert "its pieces wait in the tray and frames have run" in capsys.readouterr().err
    assert main(["play", unplaced, "--place", "hall/room0", "--place", "hall/room2"]) == 0
    assert "Unsolved after" in capsys.readouterr().out
    assert main(["play", unplaced, "--place", "hall/room5"]) == 2
    assert 'the level has 2 pieces, so a placement names 2 zones, not 1' in capsys.readouterr().err
