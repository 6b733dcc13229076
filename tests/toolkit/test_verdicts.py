"""Verdicts, names and errors as a designer meets them on the command line."""

import json
import subprocess
import sys

import pytest

from orv.cli import main

ORV = [sys.executable, "-m", "orv"]


def charge(m, polarity="positive", vid="c"):
    return {"magnitude": m, "polarity": polarity, "visual_id": vid}


def zone(zid, charges=(), agents=(), subs=()):
    return {"id": zid, "charges": list(charges), "agents": list(agents), "sub_environments": list(subs)}


def gate(vid, target, rule=None):
    return {"name": "judge" if rule else "equals", "visual_id": vid, "target_value": target} | (
        {"rule": rule} if rule else {})


def write(tmp_path, world, name="level.json"):
    path = tmp_path / name
    path.write_text(json.dumps(world))
    return str(path)


def check_json(capsys, path):
    status = main(["check", "--json", path])
    return status, json.loads(capsys.readouterr().out)


CARRIED = zone("root", subs=[zone("outer", [charge(1)], subs=[zone("inner", [charge(2)], [gate("goal", 99)])])])
FOLDED_AFTER_TURN = zone("root", [charge(1)], [gate("g", 5)], [zone("x", [charge(2)], subs=[zone("y", [charge(3)])])])

VERDICTS = [
    # A fold takes the zones below the folded one, and their gates, out of the world.
    (CARRIED, "unsolved", 2, [
        "zone inner was carried off when zone outer folded into root at frame 1",
        "Equals Gate (goal) in zone inner was carried off unopened when zone outer folded into root at frame 1"]),
    # Totals come from the engine's own numbers: +inf, -inf and NaN are told apart.
    (zone("w", [charge(1e308, vid="a"), charge(1e308, vid="b")], [gate("g", 5)]), "unsolved", 1,
     ["Equals Gate (g) in zone w did not open (total inf, wants = 5)"]),
    (zone("w", [charge(1e308, "negative"), charge(1e308, "neutral")], [gate("g", 0, ">")]), "unsolved", 1,
     ["The Judge (g) in zone w did not open (total -inf, wants > 0)"]),
    (zone("w", [charge(None)], [gate("g", 0, "<=")]), "unsolved", 1,
     ["The Judge (g) in zone w did not open (total nan, wants <= 0)"]),
    (zone("w", [charge(1e308, vid="a"), charge(1e308, vid="b")], [gate("g", 1e308, ">")]), "solved", 2, []),
    # A gate whose zone never thawed never compared anything.
    (zone("hall", agents=[gate("door", 9)], subs=[zone("vault", [charge(4), charge(5)],
                                                       [{"name": "chronomancer", "visual_id": "w"}])]),
     "unsolved", 1, ["Equals Gate (door) in zone hall never had the turn: zone hall stayed frozen",
                     "zone vault is held by Chronomancer (w)"]),
    # It had the turn at the fold of frame 1 (total 1), then a fold froze its zone for good.
    (FOLDED_AFTER_TURN, "unsolved", 2, [
        "Equals Gate (g) in zone root did not open when it last had the turn, at frame 1 (total 1, wants = 5); "
        "zone root stayed frozen after that",
        "zone x is left with 2 charges"]),
    (zone("w", agents=[gate("g", 0)]), "unsolved", 1,
     ["Equals Gate (g) in zone w did not open (zone w held no charges to weigh, it wants = 0)"]),
    # Shared ids are named by their path.
    (zone("a", subs=[zone("a", agents=[gate("g", 1)])]), "unsolved", 1,
     ["Equals Gate (g) in zone a/a did not open (zone a/a held no charges to weigh, it wants = 1)",
      ]),
    (zone("r", subs=[zone("b", [charge(1)]), zone("b", [charge(1), charge(2)])]), "unsolved", 2,
     ["zone r/b is left with 2 charges"]),
    (zone("r", subs=[zone("b", [charge(1), charge(2)]), zone("b", [charge(1), charge(2)])]), "unsolved", 1,
     ["zone r/b[1] is left with 2 charges", "zone r/b[2] is left with 2 charges"]),
    # Of two sibling zones that share an id, the one that folded leaves: the first here, ...
    (zone("r", subs=[zone("a", [charge(1)]), zone("a", [charge(2), charge(3)], [gate("g", 9)])]), "unsolved", 2,
     ["Equals Gate (g) in zone r/a did not open (total 5, wants = 9)"]),
    # ... the second here, while the first is frozen from frame 1 on, so its report changes too.
    (zone("r", subs=[zone("u", [charge(3)], [gate("g", 7)], [zone("k", [charge(1)], [{"name": "chronomancer",
                                                                                       "visual_id": "w"}])]),
                     zone("u", [charge(2)])]), "unsolved", 2,
     ["Equals Gate (g) in zone r/u never had the turn: zone r/u stayed frozen", "zone k is held by Chronomancer (w)"]),
]


@pytest.mark.parametrize("world, verdict, frames, reasons", VERDICTS)
def test_check_judges_the_run_it_played(tmp_path, capsys, world, verdict, frames, reasons):
    status, got = check_json(capsys, write(tmp_path, world))
    assert got == {"level": "level.json", "verdict": verdict, "frames": frames, "reasons": reasons}
    assert status == (0 if verdict == "solved" else 1)


def test_carried_off_gate_in_the_narration_and_the_check_lines(tmp_path, capsys):
    path = write(tmp_path, CARRIED)
    assert main(["check", path]) == 1
    assert capsys.readouterr().out.splitlines() == [
        "level.json: UNSOLVED after 2 frames:",
        "  - zone inner was carried off when zone outer folded into root at frame 1",
        "  - Equals Gate (goal) in zone inner was carried off unopened when zone outer folded into root at frame 1"]
    assert main(["play", path]) == 0
    out = capsys.readouterr().out.splitlines()
    assert out[4].split()[:6] == ["1", "zone", "outer", "folded", "into", "root"]
    assert out[-3] == "Unsolved after 2 frames:"


def test_shared_ids_are_narrated_by_path(tmp_path, capsys):
    world = zone("a", subs=[zone("a", [charge(5, vid="x"), charge(5, vid="y")], [{"name": "plus", "visual_id": "p"}])])
    assert main(["play", write(tmp_path, world)]) == 0
    frames = [" ".join(line.split()) for line in capsys.readouterr().out.splitlines()[3:6]]
    assert frames == ["1 Plus Magician (p) cast in zone a/a a/a: +10", "2 zone a/a folded into a a: +10",
                      "3 nothing is left to cast or fold a: +10"]


def test_frame_limit_verdict_is_a_few_lines(tmp_path, capsys):
    busy = zone("z0", [charge(1, "negative")], [{"name": "abs", "visual_id": f"p{i}"} for i in range(1001)])
    world = zone("desert", subs=[busy] + [zone(f"z{i}", [charge(1)]) for i in range(1, 8)])
    path = write(tmp_path, world)
    assert main(["check", path]) == 1
    assert capsys.readouterr().out.splitlines() == [
        "level.json: FRAME LIMIT after 1000 frames:",
        "  - the engine stops every run at 1,000 frames",
        "  - 8 zones still to fold: z0, z1, z2, z3, z4 and 3 more"]


def run(*args, cwd=None):
    return subprocess.run(ORV + list(args), capture_output=True, text=True, cwd=cwd)


def one_line_refusal(done, *words):
    assert done.returncode == 2 and "Traceback" not in done.stderr
    lines = done.stderr.splitlines()
    assert len(lines) == 1 and all(w in lines[0] for w in words), done.stderr
    return lines[0]


@pytest.mark.parametrize("option, target, words", [
    ("--save", "missing/out.json", ["--save", "missing", "does not exist"]),
    ("--html", "missing/out.html", ["--html", "missing", "does not exist"]),
    ("--save", ".", ["--save", "folder"]),
    ("--html", "level.json/x.html", ["--html", "is not a folder"]),
])
def test_unwritable_outputs_are_refused_before_the_run(tmp_path, option, target, words):
    write(tmp_path, CARRIED)
    done = run("play", "level.json", "--until", "1", option, target, cwd=tmp_path)
    one_line_refusal(done, *words)
    assert done.stdout == ""


def test_until_names_the_option(tmp_path):
    done = run("play", "01", "--until", "abc")
    assert done.returncode == 2 and "_frame_count" not in done.stderr
    assert done.stderr.splitlines()[-1].endswith("argument --until: expected a whole number of frames, found 'abc'")


@pytest.mark.parametrize("text, words", [
    ('{"id": "r", "charges": [{"magnitude": ' + "9" * 400 + ', "polarity": "positive", "visual_id": "c"}]}',
     ["charges[0].magnitude", "an integer of 400 digits"]),
    ('{"id": "r", "charges": [{"magnitude": ' + "9" * 5000 + ', "polarity": "positive", "visual_id": "c"}]}',
     ["charges[0].magnitude", "an integer of 5,000 digits"]),
    ('{"id": "\\ud800"}', ["id:", "lone surrogate \\ud800"]),
    ('{"id": "r", "\\udc00": 1}', ["unknown key", "\\udc00"]),
    ('{"id": "r",\n  "charges": [1 2]}', ["line 2, column 17: expected a comma or the closing bracket, found \"2\""]),
])
def test_hostile_level_files_give_level_errors(tmp_path, text, words):
    (tmp_path / "bad.json").write_text(text)
    for command in (["play", "bad.json"], ["check", "--no-run", "bad.json"]):
        done = run(*command, cwd=tmp_path)
        assert done.returncode == 2 and "Traceback" not in done.stderr + done.stdout
        message = done.stderr if command[0] == "play" else done.stdout
        assert all(w in message for w in words), message


def test_view_refuses_what_is_not_a_run(tmp_path):
    good = run("play", "01", "--jsonl").stdout.splitlines()
    (tmp_path / "run.jsonl").write_text("\n".join([good[0], '{"id": "r", "meta": {"frame_index": 2}}', good[1]]))
    one_line_refusal(run("view", "run.jsonl", cwd=tmp_path), "run.jsonl: line 2: expected a frame report")
    write(tmp_path, CARRIED)
    one_line_refusal(run("view", "level.json", cwd=tmp_path), "line 1", "orv play level.json --html")


def test_list_check_no_run_and_rules_kind(tmp_path, capsys):
    assert main(["list"]) == 0
    listing = capsys.readouterr().out.splitlines()
    assert len(listing) == 10 and listing[0].split() == ["01", "first_light", "First", "Light"]
    assert listing[9].split()[-3:] == ["The", "Grand", "Ritual"]
    endless = write(tmp_path, zone("r", subs=[zone("s", [charge(-1, "negative")],
                                                    [{"name": "abs", "visual_id": f"p{i}"} for i in range(1001)])]))
    assert main(["check", "--no-run", endless, "01"]) == 0
    assert capsys.readouterr().out.splitlines() == ["level.json: valid (not run)", "01: valid (not run)"]


META = '"meta": {"frame_index": 1, "status": "FINISHED", "last_event": null}'
ZONE = '"id": "r", "is_time_frozen": false, "agents": [], "sub_environments": []'


@pytest.mark.parametrize("line, words", [
    ("[" * 100000, "; at line 1, column 100001: expected a value"),
    ("{" + META + ', "id": "r", "charges": [], "agents": [], "is_time_frozen": false, "sub_environments": [5]}',
     "; at sub_environments[0]: expected a zone object, found 5"),
    ("{" + META + ", " + ZONE + ', "charges": [{"magnitude": "x", "polarity": "positive", "visual_id": "a"}]}',
     '; at charges[0].magnitude: expected a number'),
    ("{" + META + ', "id": 3, "charges": [], "agents": [], "is_time_frozen": false, "sub_environments": []}',
     "; at id: expected a string, found 3"),
    ('{"id": "r", "meta": {"frame_index": "1", "status": "RUNNING", "last_event": null}}',
     "; at meta.frame_index: expected an integer"),
    ('{"id": "r"}', "found a zone without the report's meta"),
])
def test_view_refuses_hostile_run_files(tmp_path, line, words):
    (tmp_path / "run.jsonl").write_text(line + "\n")
    one_line_refusal(run("view", "run.jsonl", cwd=tmp_path), "run.jsonl: line 1: expected a frame report", words)
    assert not (tmp_path / "run.html").exists()


def test_view_of_reports_that_do_not_follow_each_other_is_not_solved(tmp_path, capsys):
    first = run("play", "01", "--jsonl").stdout.splitlines()[:2]
    other = run("play", "03", "--jsonl").stdout.splitlines()[-3:]
    (tmp_path / "mixed.jsonl").write_text("\n".join(first + other) + "\n")
    assert main(["view", str(tmp_path / "mixed.jsonl")]) == 0
    page = (tmp_path / "mixed.html").read_text()
    assert '"verdict":"unsolved"' in page and "does not follow from the world before it" in page
