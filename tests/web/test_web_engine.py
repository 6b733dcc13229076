"""The web build of the engine under node against the module: the same reports, records, words,
verdicts, saved levels and refusals, byte for byte, over the campaign, the verdict cases, random
worlds and the table of level files."""

import json
import subprocess
import sys
from pathlib import Path

import orv_session
import pytest
from conftest import LEVEL_FILES, module_run, needs_node, node_env, random_level, run_in_node

from orv.levels import bundled_levels

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

# Worlds made to end in each way the verdict tells apart (the engine's tests pin its reasons).
VERDICT_CASES = [
    # A zone with one charge folds into the root and takes its unsettled sub-zone, gate and all.
    zone("root", subs=[zone("outer", [1], subs=[zone("inner", [2, 4], [gate(99, "goal")])])]),
    # The keeper holds its zone for good, so the root stays frozen and its gate never has the turn.
    zone("root", [5], [gate()], [zone("held", [1], [KEEPER])]),
    zone("root", [2], [gate()]),
    # The fold of frame 1 leaves zone s with two charges, which freezes the root from frame 2 on.
    zone("root", [5], [gate(9)], [zone("s", [1], subs=[zone("t", [2])])]),
    # Totals that the reports write as null: +inf, -inf and NaN, each told apart.
    zone("root", [1e308, 1e308], [PLUS, gate()]),
    zone("root", [1e308, (1e308, "negative")], [MULTIPLY, judge(">=", 0)]),
    zone("root", [None, 1], [judge("<", None)]),
    zone("root", [], [gate(0.1 + 0.2)]),
    # Zones that share an id are named by their path.
    zone("a", subs=[zone("a", [1, 2], subs=[zone("b"), zone("b", [3], [gate(1)])]), zone("c", [1, 1])]),
    # The first of two sibling zones that share an id folds; the gate waits in the second.
    zone("r", subs=[zone("a", [1]), zone("a", [2, 3], [gate(9)])]),
    zone("root", subs=[zone("a", [2, 3], [PLUS])], agents=[gate()]),
]


def solved(text: str) -> str:
    """A puzzle as a finished level: its pieces where the engine's solver puts them."""
    session = orv_session.Session()
    session.load(text)
    session.place(orv_session.solve(text, first=True)["shortest"]["zones"])
    return session.level_text(session.title or "", session.description)


def levels_under_test():
    """The campaign's puzzles as they stand and solved, the long level, the verdict cases and the
    random worlds."""
    out = [(f.name, f.read_text(encoding="utf-8")) for f in bundled_levels()]
    out += [(f"{name} solved", solved(text)) for name, text in out]
    out.append(("long", json.dumps(long_level())))
    out += [(f"case {i}", json.dumps({"format": 1, "world": case})) for i, case in enumerate(VERDICT_CASES)]
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
    """[(name, node's run, the module's run, the check's verdict)] of the campaign, the long level,
    the verdict cases and the random worlds."""
    levels = levels_under_test()
    node = run_in_node(web_engine, levels, tmp_path_factory.mktemp("runs"))
    assert [r["name"] for r in node] == [name for name, _ in levels]
    checked = check_json(levels, tmp_path_factory.mktemp("levels"))
    return [(name, result, module_run(text), check) for (name, text), result, check in zip(levels, node, checked)]


def test_runs_match_the_module(runs):
    """Every frame's report, record and words, the verdict, its summary lines and the saved level are
    the module's; the verdict is also what `orv check` says, which runs without writing reports."""
    for name, result, module, check in runs:
        assert result["error"] is None and module["error"] is None, name
        assert result["saved"] == module["saved"], f"{name}: the saved levels differ"
        for i, (web, native) in enumerate(zip(result["frames"], module["frames"]), 1):
            assert web == native, f"{name}: frame {i} differs"
        assert len(result["frames"]) == len(module["frames"]), name
        assert result["again"] == module["frames"][0]["text"], f"{name}: a reset run starts differently"
        assert result["verdict"] == module["verdict"], name
        assert (result["summary"], result["rules"]) == (module["summary"], orv_session.judge_rules()), name
        if check["verdict"] not in ("solvable", "unsolvable"):  # for a puzzle, the check says whether it can be solved
            told = {key: value for key, value in module["verdict"].items() if key != "word"}
            assert check == {"level": check["level"]} | told, name
    # The worlds reach every kind of ending, of reason and of frame.
    reasons = "\n".join(r for _, _, module, _ in runs for r in module["verdict"]["reasons"])
    for words in ("carried off unopened when", "never had the turn", "did not open when it last had the turn",
                  "held no charges to weigh", "total inf,", "total -inf,", "total nan,", "/", "[2]",
                  "is held by", "could not act", "is empty", "is left with", "zones still to fold: "):
        assert words in reasons, words
    assert "the event of frame" not in reasons  # every event of the engine's runs follows from its world
    assert {module["verdict"]["verdict"] for _, _, module, _ in runs} == {"solved", "unsolved", "limit"}
    actions = {frame["record"]["action"] for _, _, module, _ in runs for frame in module["frames"]}
    assert actions == {"cast", "fold", "finish", None}  # None: the frame limit's report, as the long level's 1,001st


def test_campaign_is_solved_in_the_web_engine(runs):
    campaign = [(name, result, check) for name, result, _, check in runs if name.endswith(".json solved")]
    assert len(campaign) == len(bundled_levels())
    for name, result, check in campaign:
        assert result["verdict"] == {"verdict": "solved", "word": "SOLVED", "frames": len(result["frames"]),
                                     "reasons": []}, name
        assert check["verdict"] == "solved", name


def test_level_files_are_read_as_the_module_reads_them(web_engine, tmp_path):
    """Each file of the table, given as its bytes: refused with the module's message (the level
    loaded before stays), or read, saved and run as the module does."""
    good = json.dumps({"format": 1, "world": zone("root", [5], [gate()])})
    levels = [("good", good)]
    for stem, data, _ in LEVEL_FILES:
        levels += [(stem, data), ("good", good)]
    runs = run_in_node(web_engine, levels, tmp_path)
    first = runs[0]["frames"][0]["text"]
    for (stem, data, says), result in zip(LEVEL_FILES, runs[1::2]):
        module = module_run(data)
        if says is None:
            assert result["error"] is None and module["error"] is None, stem
            assert result["saved"] == module["saved"], stem
            assert [f["text"] for f in result["frames"]] == [f["text"] for f in module["frames"]], stem
        else:
            assert result["error"] == module["error"], stem
            assert says in result["error"] and "\n" not in result["error"], stem
            assert result["kept"] == first, stem
    assert all(r["error"] is None for r in runs[::2])


def test_deep_world_is_refused_without_harm(web_engine, tmp_path):
    """A world nested past the 10,000 levels that the engine writes is read and saved, its frame's
    report refused with the module's words, and the engine keeps working."""
    import orv_session

    leaf = '{"id":"leaf","charges":[{"magnitude":1,"polarity":"positive","visual_id":"c"}]}'
    deep = '{"id":"z","sub_environments":[' * 5000 + leaf + "]}" * 5000
    runs = run_in_node(web_engine, [("deep", deep), ("small", json.dumps({"format": 1, "world": zone("r", [1])}))],
                       tmp_path)
    session = orv_session.Session()
    session.load(deep)
    assert runs[0]["saved"] == session.level_text("saved", "by node")
    with pytest.raises(ValueError) as refused:
        session.step()
    assert runs[0]["error"] == str(refused.value) and "nested" in runs[0]["error"]
    assert runs[1]["error"] is None and runs[1]["verdict"]["verdict"] == "solved"


def json_depth(text: str) -> int:
    """How deeply a JSON text nests, counted on its characters."""
    depth = deepest = 0
    quoted = escaped = False
    for char in text:
        if quoted:
            escaped, quoted = (False, True) if escaped else (char == "\\", char != '"')
        elif char == '"':
            quoted = True
        elif char in "[{":
            depth += 1
            deepest = max(deepest, depth)
        elif char in "]}":
            depth -= 1
    return deepest


def chain(zones: int) -> str:
    """`zones` zones nested in one another, one charge in the innermost, which folds in frame 1."""
    leaf = '{"id":"leaf","charges":[{"magnitude":1,"polarity":"positive","visual_id":"c"}]}'
    return '{"id":"z","sub_environments":[' * (zones - 1) + leaf + "]}" * (zones - 1)


def test_depth_refusals_name_the_document_they_refuse(web_engine, tmp_path):
    """world() measures the world as it stands and step() the report of the frame it has run, whose
    fold took the innermost zone out: two levels less. Either refusal names the depth of its own
    document, as counted on the text one zone less deep, and after the frame both name the same."""
    session = orv_session.Session()
    session.load(chain(4999))  # a zone is two levels, a charge's object one more: 2 * 4998 + 3
    assert json_depth(session.world()) == 9999
    assert json_depth(session.step()) == 9999 - 2
    results = {}
    for zones in (5000, 5001):  # 10001 and 10003 levels before frame 1, 9999 and 10001 after
        session = orv_session.Session()
        session.load(chain(zones))
        before = 2 * zones + 1
        with pytest.raises(ValueError, match=f"^cannot write a JSON document nested {before} levels deep"):
            session.world()
        if zones == 5000:
            assert json_depth(session.step()) == before - 2
            continue
        with pytest.raises(ValueError) as refused:
            session.step()
        results["step"] = str(refused.value)
        assert results["step"].startswith("frame 1 has run, but its report cannot be written: cannot write a JSON "
                                          f"document nested {before - 2} levels deep: at most 10000 levels")
        with pytest.raises(ValueError) as again:
            session.world()
        assert results["step"].endswith(": " + str(again.value))  # the same document, the same depth
    [node] = run_in_node(web_engine, [("deep", chain(5001))], tmp_path)
    assert node["error"] == results["step"]


def named_paths(world: dict) -> list:
    """Every zone's path in preorder: ids from the root joined by "/", an id that several sub-zones
    of one zone share followed by its place among them from 1."""
    out, stack = [], [(world, str(world["id"]))]
    while stack:
        zone, path = stack.pop()
        out.append(path)
        subs = zone.get("sub_environments", [])
        ids = [sub["id"] for sub in subs]
        kids = [(sub, f"{path}/{sub['id']}" + (f"[{ids[:i + 1].count(sub['id'])}]" if ids.count(sub["id"]) > 1 else ""))
                for i, sub in enumerate(subs)]
        stack.extend(reversed(kids))
    return out


def test_every_zone_of_a_level_without_accepting_zones_accepts_pieces_by_its_path(web_engine, tmp_path):
    """A level that names no accepting zones: accepting() names every zone, in preorder, by its
    path, in the module and in the web engine, over random worlds (ids shared among siblings) and a
    world of 20,000 zones."""
    wide = {"id": "root", "sub_environments": [{"id": f"z{i % 7}", "sub_environments": [{"id": "x"}, {"id": "x"}]}
                                               for i in range(6667)]}
    worlds = [random_level(seed)["world"] for seed in range(60)] + [wide]
    texts = [json.dumps({"format": 1, "world": world}) for world in worlds]
    for world, text in zip(worlds, texts):
        session = orv_session.Session()
        session.load(text.encode())
        assert session.accepting() == named_paths(world)
    assert any("[2]" in path for world in worlds[:-1] for path in named_paths(world))
    source = tmp_path / "levels.json"
    source.write_text(json.dumps(texts), encoding="utf-8")
    script = ("require(process.argv[1])().then(e => { const out = [];"
              "for (const text of JSON.parse(require('fs').readFileSync(process.argv[2], 'utf8'))) {"
              "  e.load(text); out.push(e.accepting()); }"
              "console.log(JSON.stringify(out)); });")
    done = subprocess.run([needs_node(), "-e", script, str(web_engine), str(source)], capture_output=True, text=True,
                          check=True, env=node_env(), timeout=600)
    assert json.loads(done.stdout) == [[{"path": path, "zone": i} for i, path in enumerate(named_paths(world))]
                                       for world in worlds]


def test_calls_before_any_level_say_so(web_engine):
    NODE = needs_node()
    script = ("require(process.argv[1])().then(e => { const out = [];"
              "for (const call of ['step', 'world', 'reset', 'verdict', 'levelText', 'numbers']) {"
              "  try { e[call](); out.push('no error'); } catch (err) { out.push(err.message); } }"
              "out.push(e.record().action, e.told().words, e.kinds().length);"
              "e.load('{\"id\": \"r\"}'); out.push(JSON.parse(e.step()).meta.status);"
              "console.log(JSON.stringify(out)); });")
    out = subprocess.run([NODE, "-e", script, str(web_engine)], capture_output=True, text=True, check=True,
                         env=node_env())
    assert json.loads(out.stdout) == [
        "no level is loaded: load one before stepping",
        "no level is loaded: load one before asking for its world",
        "no level is loaded: load one before resetting",
        "no level is loaded: load one before asking for a verdict",
        "no level is loaded: load one before saving its world",
        "no level is loaded: load one before asking for its numbers",
        None, "", 13,
        "FINISHED"]
