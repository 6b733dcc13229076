"""Level files: every way a file can be wrong, round trips at every frame, golden runs."""

import json
import math
from pathlib import Path

import pytest

from orv.golden import golden_text
from orv.levels import LevelError, bundled_levels, load_level, parse_level, save_level
from orv.run import Run

GOLDEN = Path(__file__).parent / "golden"
CAMPAIGN = bundled_levels()


def level(world=None, **top):
    world = world if world is not None else {"id": "root"}
    return {"format": 1, "title": "t", "description": "d", "world": world, **top}


# The level cases that the engine's C++ test reads too (tests/engine/level_file_test.cpp).
CASES = json.loads((Path(__file__).parents[1] / "levels" / "cases.json").read_text(encoding="utf-8"))["cases"]


def case_bytes(case) -> bytes:
    """A case's file: its pieces joined (a {"repeat", "times"} piece repeated), as UTF-8 or latin-1."""
    pieces = case["text"] if isinstance(case["text"], list) else [case["text"]]
    text = "".join(p if isinstance(p, str) else p["repeat"] * p["times"] for p in pieces)
    return text.encode("latin-1" if case.get("latin1") else "utf-8")


@pytest.mark.parametrize("case", [c for c in CASES if "numbers" not in c], ids=lambda c: c["name"])
def test_bad_level_gives_one_error_with_file_path_and_expectation(tmp_path, case):
    file = tmp_path / "bad.json"
    file.write_bytes(case_bytes(case))
    with pytest.raises(LevelError) as caught:
        load_level(file)
    path, found = case["path"], case["found"]
    where = "" if path is None else f" {path or '(top level)'}:"
    assert str(caught.value) == f"{file}:{where} expected {case['expected']}, found {found}"
    assert (caught.value.path, caught.value.expected, caught.value.found) == (path, case["expected"], found)


@pytest.mark.parametrize("case", [c for c in CASES if "numbers" in c], ids=lambda c: c["name"])
def test_level_loads_with_its_numbers(tmp_path, case):
    file = tmp_path / "good.json"
    file.write_bytes(case_bytes(case))
    assert json.loads(load_level(file).session().numbers()) == case["numbers"]


def world_of(level_obj) -> dict:
    return level_obj.world()


def test_kinds_names_defaults_and_null_magnitudes():
    judge = {"target_value": 2, "rule": ">=", "visual_id": "j"}
    by_kind = parse_level({"id": "r", "agents": [{"name": "judge", **judge}, {"name": "abs", "visual_id": "a"}],
                           "charges": [{"magnitude": None, "polarity": "neutral", "visual_id": "n"}]})
    by_name = parse_level(level({"id": "r", "agents": [{"name": "The Judge", **judge},
                                                       {"name": "The Purifier", "visual_id": "a"}]}))
    assert world_of(by_kind)["agents"] == world_of(by_name)["agents"]
    assert [a["priority"] for a in world_of(by_name)["agents"]] == [0, 90]
    assert world_of(by_name)["sub_environments"] == [] and by_kind.title == "untitled"
    assert json.loads(by_kind.session().numbers())["magnitudes"] == ["nan"]


@pytest.mark.parametrize("level_file", CAMPAIGN, ids=lambda f: f.name)
def test_golden_run(level_file):
    golden = GOLDEN / level_file.name.replace(".json", ".jsonl")
    assert golden_text(level_file).encode() == golden.read_bytes()


def shifted(report: dict, frames: int) -> dict:
    return {**report, "meta": {**report["meta"], "frame_index": report["meta"]["frame_index"] + frames}}


@pytest.mark.parametrize("level_file", CAMPAIGN, ids=lambda f: f.name)
def test_save_and_load_at_every_frame_continues_the_same_run(tmp_path, level_file):
    original = load_level(level_file)
    reports = [frame.report for frame in Run(original).frames()]
    assert reports[-1]["meta"]["status"] == "FINISHED"
    run = Run(original)
    for n in range(len(reports)):
        world = run.initial()
        saved, raw = tmp_path / f"save{n}.json", tmp_path / f"report{n}.json"
        save_level(saved, run.session, original.title, original.description)
        raw.write_text(json.dumps(world if n == 0 else reports[n - 1]))  # a line of `orv play --jsonl`
        for file in (saved, raw):
            loaded = load_level(file)
            assert world_of(loaded) == world
            replay = [shifted(frame.report, n) for frame in Run(loaded).frames()]
            assert replay == reports[n:], f"{level_file.name}: diverged after a save at frame {n}"
        assert (loaded.title, load_level(saved).title) == (raw.stem, original.title)
        run.step()


def test_campaign_uses_every_kind_both_gates_and_three_nested_levels():
    kinds, depth = set(), 0
    for level_file in CAMPAIGN:
        stack = [(load_level(level_file).world(), 0)]
        while stack:
            zone, d = stack.pop()
            depth = max(depth, d)
            kinds |= {a["name"] for a in zone["agents"]}
            stack += [(sub, d + 1) for sub in zone["sub_environments"]]
    assert len(kinds) == 13 and depth >= 3
    assert 8 <= len(CAMPAIGN) <= 12
