"""The pages' applier of changes (OrvReplay in viewer.js) under node against the web engine: over
the change streams that tests/toolkit/test_changes.py holds the engine to (the campaign and the
worlds of the verdict table) and random worlds, each frame's changes applied to the world before
it give that frame's report, the changes that undo them give back every frame before it, and
changes that do not fit are refused by name and leave the world as it was."""

import json
import subprocess
from pathlib import Path

import orv_session
from conftest import needs_node, node_env, random_level

from orv.levels import bundled_levels

HERE = Path(__file__).resolve().parent
VIEWER_JS = HERE.parents[1] / "python" / "orv" / "viewer" / "viewer.js"
TABLE = HERE.parent / "engine" / "verdict_table.json"
FRAMES = 100  # as in tests/toolkit/test_changes.py: the runaway worlds repeat themselves up to the frame limit
RANDOM_WORLDS = 80


def levels():
    out = [(f.name, f.read_text(encoding="utf-8")) for f in bundled_levels()]
    out += [(entry["name"], json.dumps(entry["world"])) for entry in json.loads(TABLE.read_text())["entries"]]
    out += [(f"random {seed}", json.dumps(random_level(seed))) for seed in range(RANDOM_WORLDS)]
    return out


def run_node(engine, items, tmp_path):
    node = needs_node()
    source, result = tmp_path / "items.json", tmp_path / "out.json"
    source.write_text(json.dumps(items), encoding="utf-8")
    subprocess.run([node, str(HERE / "apply_changes.js"), str(engine), str(VIEWER_JS), str(source), str(result)],
                   check=True, env=node_env(), timeout=600)
    return json.loads(result.read_text(encoding="utf-8"))


def frames_run(text):
    """How many frames the module's session runs of a level, up to FRAMES."""
    session = orv_session.Session()
    session.load(text.encode())
    while not session.ended and session.frame < FRAMES:
        session.advance()
    return session.frame


def test_changes_give_every_report_forward_and_back(web_engine, tmp_path):
    cases = levels()
    results = run_node(web_engine, [{"name": n, "text": t, "frames": FRAMES} for n, t in cases], tmp_path)
    assert [r["name"] for r in results] == [n for n, _ in cases]
    for (name, text), result in zip(cases, results):
        assert result["frames"] == frames_run(text), name  # every frame of the run was compared
        assert (result["forward"], result["back"], result["again"]) == (None, None, None), name
    assert sum(r["frames"] for r in results) > 1000


WORLD = {"id": "root", "is_time_frozen": False, "agents": [{"name": "Plus Magician", "visual_id": "p"}],
         "charges": [{"magnitude": 1.0, "polarity": "positive", "visual_id": "c"}],
         "sub_environments": [{"id": "s", "agents": [], "charges": [], "is_time_frozen": False, "sub_environments": []}]}

# Changes that do not fit WORLD, and what the applier says of each.
BROKEN = [
    ({"op": "add"}, 'expected a list of operations, found {"op":"add"}'),
    ([None], "operation 1: expected an operation object, found null"),
    ([{"path": "/x"}], 'operation 1 (nothing at "/x"): expected add, remove or replace'),
    ([{"op": "move", "from": "/charges", "path": "/x"}], 'operation 1 ("move" at "/x"): expected add, remove or replace'),
    ([{"op": "add", "path": "charges/-", "value": 1}], 'operation 1 ("add" at "charges/-"): expected a JSON pointer'),
    ([{"op": "add", "path": 7, "value": 1}], 'operation 1 ("add" at 7): expected a JSON pointer'),
    ([{"op": "add", "path": "/charges/-"}], 'operation 1 ("add" at "/charges/-"): expected a value'),
    ([{"op": "remove", "path": ""}], 'operation 1 ("remove" at ""): cannot remove the whole report'),
    ([{"op": "remove", "path": "/sub_environments/7"}],
     'operation 1 ("remove" at "/sub_environments/7"): no place "7" in a list of 1'),
    ([{"op": "remove", "path": "/sub_environments/-"}],
     'operation 1 ("remove" at "/sub_environments/-"): no place "-" in a list of 1'),
    ([{"op": "replace", "path": "/charges/00", "value": 1}],
     'operation 1 ("replace" at "/charges/00"): no place "00" in a list of 1'),
    ([{"op": "add", "path": "/charges/99999999999999999999", "value": 1}],
     'operation 1 ("add" at "/charges/99999999999999999999"): no place "99999999999999999999" in a list of 1'),
    ([{"op": "add", "path": "/charges/0/magnitude/x", "value": 1}],
     'operation 1 ("add" at "/charges/0/magnitude/x"): "magnitude" holds no list or object'),
    ([{"op": "remove", "path": "/__proto__"}], 'operation 1 ("remove" at "/__proto__"): no member "__proto__"'),
    ([{"op": "add", "path": "/no/such/place", "value": 1}], 'operation 1 ("add" at "/no/such/place"): no place "no"'),
    # Operations that fitted are undone when a later one does not.
    ([{"op": "remove", "path": "/agents/0"}, {"op": "replace", "path": "/charges", "value": []},
      {"op": "add", "path": "/sub_environments/0/charges/-", "value": {"magnitude": 2}},
      {"op": "remove", "path": "/sub_environments/1"}],
     'operation 4 ("remove" at "/sub_environments/1"): no place "1" in a list of 1'),
    ([{"op": "remove", "path": "/sub_environments/0"}, {"op": "replace", "path": "", "value": {"id": "other"}},
      {"op": "replace", "path": "/id", "value": "third"}, {"op": "remove", "path": "/charges"}],
     'operation 4 ("remove" at "/charges"): no member "charges"'),
]


def test_changes_that_do_not_fit_are_refused_and_undone(web_engine, tmp_path):
    fitting = [{"op": "add", "path": "/__proto__", "value": {"polluted": True}},
               {"op": "add", "path": "/sub_environments/1", "value": WORLD["sub_environments"][0]},
               {"op": "replace", "path": "/sub_environments/0/id", "value": "t"}]
    patches = [patch for patch, _ in BROKEN] + [fitting]
    [result] = run_node(web_engine, [{"name": "broken", "world": WORLD, "patches": patches}], tmp_path)
    for (patch, says), got in zip(BROKEN, result["results"]):
        assert got == {"error": says, "kept": True}, patch
    # "__proto__" is a member like any other; a value put in twice is two values.
    fitted = result["results"][-1]
    assert fitted["error"] is None
    assert fitted["world"]["__proto__"] == {"polluted": True}
    assert [z["id"] for z in fitted["world"]["sub_environments"]] == ["t", "s"]
