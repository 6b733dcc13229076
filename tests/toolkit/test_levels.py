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


def plus(**extra):
    return {"name": "Plus Magician", "visual_id": "p", **extra}


def nested(agent):
    """A world whose second sub-zone holds `agent`."""
    return level({"id": "r", "sub_environments": [{"id": "a"}, {"id": "b", "agents": [agent]}]})


AGENT = "world.sub_environments[1].agents[0]"
DEEP = '{"id":"z","sub_environments":[' * 800 + '{"id":"z"}' + "]}" * 800

BAD = [  # (file content, JSON path in the message, what it expected)
    ([1, 2], "", "a level object, a zone or a frame report"),
    (level(format=2), "format", "expected 1, found 2"),
    ({"format": 1}, "world", 'the key "world"'),
    (level(titel="x"), "titel", 'one of the keys format, title, description, world, found the unknown key'),
    (level({"charges": []}), "world.id", "the zone's id"),
    (level({"id": 7}), "world.id", "a string, found 7"),
    (level({"id": "r", "charge": []}), "world.charge", 'found the unknown key "charge"'),
    (level({"id": "r", "charges": {}}), "world.charges", "a list"),
    (level({"id": "r", "sub_environments": [3]}), "world.sub_environments[0]", "a zone object"),
    (level({"id": "r", "is_time_frozen": "yes"}), "world.is_time_frozen", "true or false"),
    (level({"id": "r", "meta": {}}), "world.meta", "unknown key"),
    (level({"id": "r", "charges": [{"magnitude": "3", "polarity": "positive", "visual_id": "c"}]}),
     "world.charges[0].magnitude", 'a number (or null for NaN), found "3"'),
    (level({"id": "r", "charges": [{"magnitude": 3, "polarity": "up", "visual_id": "c"}]}),
     "world.charges[0].polarity", '"positive", "negative" or "neutral", found "up"'),
    (level({"id": "r", "charges": [{"magnitude": 3, "polarity": "positive"}]}),
     "world.charges[0].visual_id", 'the key "visual_id", found nothing'),
    (nested("plus"), AGENT, "an agent object"),
    (nested(plus(name="Plus Magican")), AGENT + ".name", 'or kind (plus, minus, multiply'),
    (nested({"visual_id": "p"}), AGENT + ".name", "found nothing"),
    (nested({"name": "plus"}), AGENT + ".visual_id", 'the key "visual_id"'),
    (nested(plus(priority=50)), AGENT + ".priority", "10 (the priority of Plus Magician), found 50"),
    (nested(plus(state="asleep")), AGENT + ".state", '"dormant", "active" or "frozen"'),
    (nested(plus(is_open=False)), AGENT + ".is_open", "for Plus Magician"),
    (nested({"name": "equals", "visual_id": "g"}), AGENT + ".target_value", "found nothing"),
    (nested({"name": "equals", "visual_id": "g", "target_value": 5, "rule": "<"}), AGENT + ".rule",
     "unknown key"),
    (nested({"name": "The Judge", "visual_id": "j", "target_value": 5}), AGENT + ".rule", "found nothing"),
    (nested({"name": "judge", "visual_id": "j", "target_value": 5, "rule": "=>"}), AGENT + ".rule",
     '"<", ">", "<=" or ">=", found "=>"'),
    ({"id": "r", "meta": {"frame_index": "1"}}, "meta.frame_index", "an integer"),
    ({"id": "r", "meta": {"last_event": {"agent_name": "x"}}}, "meta.last_event.description", "found nothing"),
    ('{"format": 1, "format": 1, "world": {"id": "r"}}', "format", 'each key once, found "format" twice'),
    ('{"format": 1, "world": {"id": "r",}}', "line 1, column 35", 'a key in double quotes, found "}"'),
    ('{"id": "a"}\n{"id": "b"}\n', "line 2, column 1", "one JSON document"),
    ('{"id": "r", "charges": [\n  {"magnitude": 1 "polarity": "positive"}]}', "line 2, column 19",
     'a comma or the closing bracket, found "\\""'),
    ('{"id": "r",\n "agents": [', "line 2, column 13", "a value (a number, a string, true, false, null, "
     "an object or a list), found the end of the file"),
    ('{"id": "r\n"}', "line 1, column 10", "no raw control character inside a string"),
    ('{"id": "\\q"}', "line 1, column 9", "a valid escape"),
    # Hostile values: numbers past a double's range and text a zone id cannot hold.
    ('{"id": "r", "charges": [{"magnitude": 1' + "0" * 399 + ', "polarity": "positive", "visual_id": "c"}]}',
     "charges[0].magnitude", "a number within the range of a double (about ±1.8e308), found an integer of 400 digits"),
    ('{"id": "r", "charges": [{"magnitude": -' + "9" * 5000 + ', "polarity": "positive", "visual_id": "c"}]}',
     "charges[0].magnitude", "a number within the range of a double (about ±1.8e308), found an integer of 5,000 digits"),
    ('{"id": "\\ud800"}', "id", "text in Unicode characters, found the lone surrogate \\ud800 at character 1"),
    ('{"format": 1, "title": "a\\udfffb", "world": {"id": "r"}}', "title", "text in Unicode characters"),
    (DEEP, "", "JSON nested at most"),
    (b'{"id": "\xff"}', None, "UTF-8 text, found the byte 0xFF"),
]


@pytest.mark.parametrize("content, path, expected", BAD)
def test_bad_level_gives_one_error_with_file_path_and_expectation(tmp_path, content, path, expected):
    file = tmp_path / "bad.json"
    if isinstance(content, bytes):
        file.write_bytes(content)
    else:
        file.write_text(content if isinstance(content, str) else json.dumps(content))
    with pytest.raises(LevelError) as caught:
        load_level(file)
    where = "" if path is None else f" {path or '(top level)'}:"
    assert str(caught.value).startswith(f"{file}:{where} expected ")
    assert expected in str(caught.value)
    assert caught.value.path == path


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
