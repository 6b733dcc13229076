"""The web build of the engine under node: the same reports as the module, byte for byte, and the
studio's verdict on each run against the toolkit's check."""

import json
from pathlib import Path

import pytest
from conftest import random_level, run_in_node

from orv.levels import LevelError, bundled_levels, parse_json, parse_level
from orv.run import Run, outcome

RANDOM_WORLDS = 300


def gate_count(world):
    stack, gates, zones = [world], 0, 0
    while stack:
        zone = stack.pop()
        zones += 1
        gates += sum(a["name"] in ("Equals Gate", "The Judge") for a in zone["agents"])
        stack.extend(zone["sub_environments"])
    return gates, zones


def python_run(level):
    """(report texts, expected verdict status, whether something was carried off) of a level."""
    run = Run(level)
    initial = run.world
    texts, opened, folds = [], 0, 0
    for text, report, _ in run.frames():
        texts.append(text)
        event = report["meta"]["last_event"] or {}
        opened += event.get("type") == "CAST_SPELL" and event.get("agent_name") in ("Equals Gate", "The Judge")
        folds += event.get("type") == "COLLAPSE_ZONE"
    result = outcome(run.world)
    status = {"solved": "solved", "unsolved": "unsolved", "frame limit": "limit"}[result.kind]
    gates_before, zones_before = gate_count(initial)
    gates_after, zones_after = gate_count(run.world)
    # Gates and zones that left the world neither by opening nor by folding.
    carried = gates_before - opened - gates_after + zones_before - folds - zones_after
    if carried and status == "solved":
        status = "unsolved"  # what is carried off never opened or folded
    return texts, status, carried, " ".join(result.verdict())


def long_level():
    """A thousand and one Replicators, each of which acts once: the run meets the frame limit."""
    world = {"id": "root", "charges": [{"magnitude": 1, "polarity": "positive", "visual_id": "one"}],
             "agents": [{"name": "factorial", "visual_id": f"r{i}"} for i in range(1001)]}
    return {"format": 1, "title": "long", "world": world}


def levels_under_test():
    out = [(f.name, f.read_text(encoding="utf-8")) for f in bundled_levels()]
    out.append(("long", json.dumps(long_level())))
    out += [(f"random {seed}", json.dumps(random_level(seed))) for seed in range(RANDOM_WORLDS)]
    return out


@pytest.fixture(scope="module")
def runs(web_engine, tmp_path_factory):
    """[(name, node's run, module's run)] of the campaign, the long level and the random worlds."""
    levels = levels_under_test()
    node = run_in_node(web_engine, levels, tmp_path_factory.mktemp("runs"))
    assert [r["name"] for r in node] == [name for name, _ in levels]
    return [(name, result, python_run(parse_level(json.loads(text), name)))
            for (name, text), result in zip(levels, node)]


def test_reports_and_verdicts_match_the_module(runs):
    statuses = set()
    for name, result, (texts, status, carried, _) in runs:
        assert result["error"] is None, name
        assert result["texts"] == texts, f"{name}: the reports differ"
        assert result["again"] == texts[0], f"{name}: a reset run starts differently"
        verdict = result["verdict"]
        assert verdict["status"] == status, f"{name}: {verdict['text']}"
        assert any("carried off" in r for r in verdict["reasons"]) == bool(carried), f"{name}: {verdict['text']}"
        statuses.add((status, bool(carried)))
    # The random worlds reach every kind of ending.
    assert {("solved", False), ("unsolved", False), ("unsolved", True), ("limit", False)} <= statuses


def test_reasons_read_as_the_check_words_them(runs):
    """Beyond what the check sees in the last world, the page tells what was carried off and which
    gates never had the turn; otherwise it words the verdict as `orv check` does. When the check's
    wording changes, the table REASONS in python/orv/studio/verdict.js follows it."""
    compared = 0
    for name, result, (_, _, _, check_text) in runs:
        verdict = result["verdict"]
        if not any("carried off" in r or "never had the turn" in r for r in verdict["reasons"]):
            assert verdict["text"] == check_text, name
            compared += verdict["status"] != "solved"
    assert compared > 50


def test_campaign_is_solved_in_the_page_as_by_the_check(runs):
    campaign = [(name, result, check) for name, result, check in runs if name.endswith(".json")]
    assert len(campaign) == len(bundled_levels())
    for name, result, (texts, _, _, check_text) in campaign:
        assert result["verdict"]["text"] == check_text == f"solved in {len(texts)} frames", name


def zone(id, charges=(), agents=(), subs=()):
    return {"id": id, "charges": [{"magnitude": m, "polarity": "positive", "visual_id": f"c{m}"} for m in charges],
            "agents": list(agents), "sub_environments": list(subs)}


GATE = {"name": "equals", "visual_id": "door", "target_value": 5}
KEEPER = {"name": "chronomancer", "visual_id": "keeper"}


VERDICT_CASES = [
    # A zone with one charge folds into the root and takes its unsettled sub-zone, gate and all.
    (zone("root", subs=[zone("outer", [1], subs=[zone("inner", [2, 4], [GATE])])]), "unsolved",
     ["zone inner was carried off when zone outer folded into root",
      "Equals Gate (door) in zone inner was carried off unopened when zone outer folded into root"]),
    # The keeper holds its zone for good, so the root stays frozen and its gate never acts.
    (zone("root", [5], [GATE], [zone("held", [1], [KEEPER])]), "unsolved",
     ["Equals Gate (door) in zone root never had the turn: its zone stayed frozen",
      "zone held is held by Chronomancer (keeper)"]),
    (zone("root", [2], [GATE]), "unsolved", ["Equals Gate (door) in zone root did not open (total 2, wants = 5)"]),
    (zone("root", [2], subs=[zone("a", [1, 1e-7]), zone("b")]), "unsolved",
     ["zone a is left with 2 charges (a: +1 +1e-07)", "zone b is empty, so it never folds"]),
    (zone("root", subs=[zone("a", [2, 3], [{"name": "plus", "visual_id": "p"}])], agents=[GATE]), "solved", []),
]


def test_verdict_reasons(web_engine, tmp_path):
    levels = [(str(i), json.dumps({"format": 1, "world": case[0]})) for i, case in enumerate(VERDICT_CASES)]
    for (world, status, reasons), result in zip(VERDICT_CASES, run_in_node(web_engine, levels, tmp_path)):
        assert (result["verdict"]["status"], result["verdict"]["reasons"]) == (status, reasons)


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
    good = json.dumps({"format": 1, "world": zone("root", [5], [GATE])})
    levels = [("good", good)] + [(str(i), level) for i, (level, _) in enumerate(REFUSALS)] + [("good", good)]
    runs = run_in_node(web_engine, levels, tmp_path)
    assert runs[0]["error"] is None and runs[-1]["error"] is None
    for (level, message), result in zip(REFUSALS, runs[1:-1]):
        assert result["error"] is not None and message in result["error"], level
        assert result["kept"] == runs[0]["texts"][0]
        with pytest.raises(LevelError):  # the toolkit refuses the same level
            parse_level(parse_json(level, "level"))


def test_deep_world_is_refused_without_harm(web_engine, tmp_path):
    """Reports nested deeper than the page's stack allows are refused; the engine keeps working."""
    leaf = '{"id":"leaf","charges":[{"magnitude":1,"polarity":"positive","visual_id":"c"}]}'
    deep = '{"id":"z","sub_environments":[' * 3000 + leaf + "]}" * 3000
    runs = run_in_node(web_engine, [("deep", deep), ("small", json.dumps({"format": 1, "world": zone("r", [1])}))],
                       tmp_path)
    assert "cannot write a JSON document nested" in runs[0]["error"]
    assert runs[1]["error"] is None and runs[1]["verdict"]["status"] == "solved"


def test_numbers_are_written_as_the_check_writes_them(tmp_path):
    """The page's verdict prints totals and targets with the toolkit's number format."""
    import math
    import random
    import subprocess

    from conftest import NODE, node_env

    from orv import studio
    from orv.run import number

    if NODE is None:
        pytest.skip("node is not installed")
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

    from conftest import NODE, node_env

    if NODE is None:
        pytest.skip("node is not installed")
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
