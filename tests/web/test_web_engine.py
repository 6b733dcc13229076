"""The web build of the engine under node: the same reports as the module, byte for byte, and the
studio's verdict on each run against the toolkit's check."""

import json
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import needs_node, random_level, run_in_node

from orv.levels import LevelError, bundled_levels, parse_json, parse_level
from orv.run import run_texts

RANDOM_WORLDS = 300


def long_level():
    """A thousand and one Replicators, each of which acts once: the run meets the frame limit
    with seven zones left, six of them sharing an id."""
    busy = {"id": "busy", "charges": [{"magnitude": 1, "polarity": "positive", "visual_id": "one"}],
            "agents": [{"name": "factorial", "visual_id": f"r{i}"} for i in range(1001)]}
    world = zone("root", subs=[busy] + [zone("s", [1, 2]) for _ in range(6)])
    return {"format": 1, "title": "long", "world": world}


def zone(id, charges=(), agents=(), subs=()):
    """A zone; a charge is a magnitude (positive) or a (magnitude, polarity) pair."""
    out = []
    for i, c in enumerate(charges):
        magnitude, polarity = c if isinstance(c, tuple) else (c, "positive")
        out.append({"magnitude": magnitude, "polarity": polarity, "visual_id": f"c{i}"})
    return {"id": id, "charges": out, "agents": list(agents), "sub_environments": list(subs)}


def gate(target=5, vid="door"):
    return {"name": "equals", "visual_id": vid, "target_value": target}


def judge(rule, target, vid="judge"):
    return {"name": "judge", "visual_id": vid, "target_value": target, "rule": rule}


KEEPER = {"name": "chronomancer", "visual_id": "keeper"}
PLUS, MULTIPLY = {"name": "plus", "visual_id": "p"}, {"name": "multiply", "visual_id": "x"}

# Worlds made to end in each way the verdict tells apart, with the reasons `orv check` gives.
VERDICT_CASES = [
    # A zone with one charge folds into the root and takes its unsettled sub-zone, gate and all.
    (zone("root", subs=[zone("outer", [1], subs=[zone("inner", [2, 4], [gate(99, "goal")])])]), "unsolved",
     ["zone inner was carried off when zone outer folded into root at frame 1",
      "Equals Gate (goal) in zone inner was carried off unopened when zone outer folded into root at frame 1"]),
    # The keeper holds its zone for good, so the root stays frozen and its gate never has the turn.
    (zone("root", [5], [gate()], [zone("held", [1], [KEEPER])]), "unsolved",
     ["Equals Gate (door) in zone root never had the turn: zone root stayed frozen",
      "zone held is held by Chronomancer (keeper)"]),
    (zone("root", [2], [gate()]), "unsolved", ["Equals Gate (door) in zone root did not open (total 2, wants = 5)"]),
    # The fold of frame 1 leaves zone s with two charges, which freezes the root from frame 2 on.
    (zone("root", [5], [gate(9)], [zone("s", [1], subs=[zone("t", [2])])]), "unsolved",
     ["Equals Gate (door) in zone root did not open when it last had the turn, at frame 1 (total 5, wants = 9); "
      "zone root stayed frozen after that", "zone s is left with 2 charges"]),
    # Totals that the reports write as null: +inf, -inf and NaN, each told apart.
    (zone("root", [1e308, 1e308], [PLUS, gate()]), "unsolved",
     ["Equals Gate (door) in zone root did not open (total inf, wants = 5)"]),
    (zone("root", [1e308, (1e308, "negative")], [MULTIPLY, judge(">=", 0)]), "unsolved",
     ["The Judge (judge) in zone root did not open (total -inf, wants >= 0)"]),
    (zone("root", [None, 1], [judge("<", None)]), "unsolved",
     ["The Judge (judge) in zone root did not open (total nan, wants < nan)"]),
    (zone("root", [], [gate(0.1 + 0.2)]), "unsolved",
     ["Equals Gate (door) in zone root did not open (zone root held no charges to weigh, it wants = 0.3)"]),
    # Zones that share an id are named by their path.
    (zone("a", subs=[zone("a", [1, 2], subs=[zone("b"), zone("b", [3], [gate(1)])]), zone("c", [1, 1])]),
     "unsolved",
     ["Equals Gate (door) in zone a/a/b[2] did not open (total 3, wants = 1)",
      "zone a/a/b[1] is empty, so it never folds", "zone c is left with 2 charges"]),
    # The first of two sibling zones that share an id folds; the gate waits in the second.
    (zone("r", subs=[zone("a", [1]), zone("a", [2, 3], [gate(9)])]), "unsolved",
     ["Equals Gate (door) in zone r/a did not open (total 5, wants = 9)"]),
    (zone("root", subs=[zone("a", [2, 3], [PLUS])], agents=[gate()]), "solved", []),
]


def levels_under_test():
    out = [(f.name, f.read_text(encoding="utf-8")) for f in bundled_levels()]
    out.append(("long", json.dumps(long_level())))
    out += [(f"case {i}", json.dumps({"format": 1, "world": case[0]})) for i, case in enumerate(VERDICT_CASES)]
    out += [(f"random {seed}", json.dumps(random_level(seed))) for seed in range(RANDOM_WORLDS)]
    return out


def check_json(levels, folder: Path) -> list:
    """`orv check --json` over [(name, level text)], in one process: its lines, parsed."""
    files = []
    for i, (_, text) in enumerate(levels):
        files.append(folder / f"{i:04d}.json")
        files[-1].write_text(text, encoding="utf-8")
    result = subprocess.run([sys.executable, "-m", "orv", "check", "--json", *map(str, files)],
                            capture_output=True, text=True)
    assert result.returncode in (0, 1) and result.stderr == "", result.stderr
    lines = [json.loads(line) for line in result.stdout.splitlines()]
    assert [line["level"] for line in lines] == [f.name for f in files]
    return lines


@pytest.fixture(scope="module")
def runs(web_engine, tmp_path_factory):
    """[(name, node's run, the module's report texts, the check's verdict)] of the campaign, the
    long level, the verdict cases and the random worlds."""
    levels = levels_under_test()
    node = run_in_node(web_engine, levels, tmp_path_factory.mktemp("runs"))
    assert [r["name"] for r in node] == [name for name, _ in levels]
    checked = check_json(levels, tmp_path_factory.mktemp("levels"))
    return [(name, result, run_texts(parse_level(json.loads(text), name)), check)
            for (name, text), result, check in zip(levels, node, checked)]


def test_reports_match_the_module(runs):
    for name, result, texts, _ in runs:
        assert result["error"] is None, name
        assert result["texts"] == texts, f"{name}: the reports differ"
        assert result["again"] == texts[0], f"{name}: a reset run starts differently"


def test_verdicts_match_the_check(runs):
    """The page's verdict is the check's: the same status and every reason, worded alike, in the
    same order."""
    for name, result, texts, check in runs:
        verdict = result["verdict"]
        assert (verdict["status"], verdict["frames"]) == (check["verdict"], check["frames"]), name
        assert verdict["reasons"] == check["reasons"], name
    # The worlds reach every kind of ending and every kind of reason.
    reasons = "\n".join(r for _, _, _, check in runs for r in check["reasons"])
    for words in ("carried off unopened when", "never had the turn", "did not open when it last had the turn",
                  "held no charges to weigh", "total inf,", "total -inf,", "total nan,", "/", "[2]",
                  "is held by", "could not act", "is empty", "is left with",
                  "zones still to fold: ", "the event of frame"):
        if words == "the event of frame":
            assert words not in reasons  # every event of the engine's runs follows from its world
        else:
            assert words in reasons, words
    assert "NaN or" not in reasons  # both judge with the engine's own numbers
    assert {check["verdict"] for _, _, _, check in runs} == {"solved", "unsolved", "limit"}


@pytest.mark.parametrize("case", range(len(VERDICT_CASES)))
def test_verdict_cases(runs, case):
    _, status, reasons = VERDICT_CASES[case]
    name, result, _, check = runs[len(bundled_levels()) + 1 + case]
    assert name == f"case {case}"
    assert (check["verdict"], check["reasons"]) == (status, reasons)
    assert (result["verdict"]["status"], result["verdict"]["reasons"]) == (status, reasons)


def test_campaign_is_solved_in_the_page_as_by_the_check(runs):
    campaign = [(name, result, texts) for name, result, texts, _ in runs if name.endswith(".json")]
    assert len(campaign) == len(bundled_levels())
    for name, result, texts in campaign:
        assert result["verdict"]["text"] == f"solved in {len(texts)} frames", name


def test_frame_limit_is_said_as_the_check_says_it(runs):
    name, result, texts, check = runs[len(bundled_levels())]
    assert name == "long" and len(texts) == 1001  # the 1,001st report says the run stopped
    assert result["verdict"]["reasons"] == check["reasons"] == [
        "the engine stops every run at 1,000 frames",
        "7 zones still to fold: busy, root/s[1], root/s[2], root/s[3], root/s[4] and 2 more"]


REFUSALS = [
    ("{", "expected valid JSON"),
    ('{"id": 3}', "id: expected a string, found 3"),
    ('{"format": 2, "world": {"id": "r"}}', "format: expected 1, found 2"),
    ('{"id": "r", "colour": 1}', 'colour: expected one of the keys'),
    ('{"id": "r", "charges": [{"magnitude": "x", "polarity": "positive", "visual_id": "c"}]}',
     'charges[0].magnitude: expected a number (or null for NaN), found "x"'),
    ('{"id": "r", "charges": [{"magnitude": 1, "polarity": "up", "visual_id": "c"}]}', 'charges[0].polarity'),
    ('{"id": "r", "agents": [{"name": "wizard", "visual_id": "w"}]}', 'agents[0].name: expected an agent name'),
    ('{"id": "r", "agents": [{"name": "judge", "visual_id": "j", "target_value": 1, "rule": "=="}]}',
     'agents[0].rule: expected "<", ">", "<=" or ">=", found "=="'),
    ('{"id": "r", "agents": [{"name": "equals", "visual_id": "j"}]}', 'agents[0].target_value: expected the key'),
    ('{"id": "r", "agents": [{"name": "plus", "visual_id": "p", "priority": 3}]}', "priority: expected 10"),
    ('{"id": "r", "sub_environments": [{"id": "s", "sub_environments": [7]}]}',
     "sub_environments[0].sub_environments[0]: expected a zone object, found 7"),
    ('[1]', "(top level): expected a level object"),
    ('{"id": "r", "charges": [{"magnitude": 1, "magnitude": 2, "polarity": "positive", "visual_id": "c"}]}',
     'expected each key once in every object, found "magnitude" twice'),
]


def test_refused_levels_say_why_and_keep_the_loaded_one(web_engine, tmp_path):
    good = json.dumps({"format": 1, "world": zone("root", [5], [gate()])})
    levels = [("good", good)] + [(str(i), level) for i, (level, _) in enumerate(REFUSALS)] + [("good", good)]
    runs = run_in_node(web_engine, levels, tmp_path)
    assert runs[0]["error"] is None and runs[-1]["error"] is None
    for (level, message), result in zip(REFUSALS, runs[1:-1]):
        assert result["error"] is not None and message in result["error"], level
        assert result["kept"] == runs[0]["texts"][0]
        with pytest.raises(LevelError):  # the toolkit refuses the same level
            parse_level(parse_json(level, "level"))


def test_deep_world_is_refused_without_harm(web_engine, tmp_path):
    """One level past the 10,000 that the module writes is refused with the module's words, and the
    engine keeps working."""
    import orv_engine as oe

    leaf = '{"id":"leaf","charges":[{"magnitude":1,"polarity":"positive","visual_id":"c"}]}'
    deep = '{"id":"z","sub_environments":[' * 5000 + leaf + "]}" * 5000
    runs = run_in_node(web_engine, [("deep", deep), ("small", json.dumps({"format": 1, "world": zone("r", [1])}))],
                       tmp_path)
    root = chain = oe.Environment("z")
    for _ in range(4999):
        chain.add_sub_environment(sub := oe.Environment("z"))
        chain = sub
    chain.add_sub_environment(bottom := oe.Environment("leaf"))
    bottom.add_charge(1, oe.POSITIVE, "c")
    with pytest.raises(ValueError) as refused:
        root.to_json()
    assert str(refused.value) in runs[0]["error"]
    assert runs[1]["error"] is None and runs[1]["verdict"]["status"] == "solved"


def test_numbers_are_written_as_the_check_writes_them(tmp_path):
    """The page's verdict prints totals and targets with the toolkit's number format."""
    import math
    import random
    import subprocess

    from conftest import node_env

    from orv import studio
    from orv.run import number

    NODE = needs_node()
    rng = random.Random(7)
    values = [0.0, -0.0, 1.0, -3.0, 0.5, 1e-5, 1.23456789e-5, 9.999995e5, 999999.4, 1e15, 1e16, -2.5e-300,
              123456.5, 1234567.0, 0.1 + 0.2, math.inf, -math.inf, math.nan, None]
    values += [rng.uniform(-1e7, 1e7) for _ in range(200)] + [10 ** rng.uniform(-12, 20) for _ in range(200)]
    verdict = Path(studio.__file__).parent / "studio" / "verdict.js"
    data = tmp_path / "values.json"
    # JSON has no NaN or infinities: they travel as strings.
    data.write_text(json.dumps([v if v is None or math.isfinite(v) else str(v) for v in values]))
    script = ("const v = require(process.argv[1]);"
              "const xs = JSON.parse(require('fs').readFileSync(process.argv[2], 'utf8'));"
              "console.log(JSON.stringify(xs.map(x => v.number(typeof x === 'string' ? Number(x.replace('inf', 'Infinity')"
              ".replace('nan', 'NaN')) : x))));")
    out = subprocess.run([NODE, "-e", script, str(verdict), str(data)], capture_output=True, text=True,
                         check=True, env=node_env())
    assert json.loads(out.stdout) == [number(v) for v in values]


def test_calls_before_any_level_say_so(web_engine):
    import subprocess

    from conftest import node_env

    NODE = needs_node()
    script = ("require(process.argv[1])().then(e => { const out = [];"
              "for (const call of ['step', 'world', 'reset']) { try { e[call](); out.push('no error'); }"
              "  catch (err) { out.push(err.message); } }"
              "e.load('{\"id\": \"r\"}'); out.push(JSON.parse(e.step()).meta.status);"
              "console.log(JSON.stringify(out)); });")
    out = subprocess.run([NODE, "-e", script, str(web_engine)], capture_output=True, text=True, check=True,
                         env=node_env())
    assert json.loads(out.stdout) == [
        "no level is loaded: load one before stepping",
        "no level is loaded: load one before asking for its world",
        "no level is loaded: load one before resetting",
        "FINISHED"]
