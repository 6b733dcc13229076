"""The orv command: narration, JSON Lines, saving, verdicts, colour and replay pages."""

import json
import os
import pty
import subprocess
import sys
import types
from pathlib import Path

import pytest

import orv
import orv_session
from orv.cli import main
from orv.levels import find_level, load_level

HERE = Path(__file__).parent
BLOCKED = str(HERE / "fixtures" / "blocked.json")
ORV = [sys.executable, "-m", "orv"]


def golden(name):
    return (HERE / "golden" / f"{name}.jsonl").read_text()


def test_play_narrates_each_frame_and_the_outcome(capsys):
    assert main(["play"]) == 0  # the first bundled level
    out = capsys.readouterr().out.splitlines()
    assert out[0].startswith("First Light - ")
    assert "door: (no charges)  [Equals Gate (door_ward)]" in out[1]
    frames = [line.split() for line in out[3:-1]]
    assert [f[0] for f in frames] == ["1", "2", "3", "4"]
    assert "Plus Magician (apprentice) cast in zone hearth" in out[3] and out[3].endswith("hearth: +5")
    assert "zone hearth folded into door" in out[4] and out[4].endswith("door: +5")
    assert "Equals Gate (door_ward) opened in zone door" in out[5]
    assert out[-1] == "Solved in 4 frames: every gate opened and every zone folded into door."


def test_play_tells_why_a_level_is_unsolved(capsys):
    assert main(["play", BLOCKED]) == 0
    assert capsys.readouterr().out.splitlines()[-3:] == [
        "Unsolved after 2 frames:",
        "  - Equals Gate (hall_door) in zone hall never had the turn: zone hall stayed frozen",
        "  - zone vault is held by Chronomancer (warden)"]


@pytest.mark.parametrize("name", ["03_the_forge", "10_the_grand_ritual"])
def test_jsonl_is_the_engine_reports_through_a_pipe(name):
    done = subprocess.run(ORV + ["play", name.split("_", 1)[0], "--jsonl"], capture_output=True, text=True)
    assert (done.returncode, done.stdout, done.stderr) == (0, golden(name), "")


def test_until_and_save_write_the_world_after_frame_n(tmp_path, capsys):
    saved = tmp_path / "saved.json"
    assert main(["play", "the_grand_ritual", "--until", "3", "--save", str(saved)]) == 0
    out, err = capsys.readouterr()
    assert out.splitlines()[-1] == "Paused after 3 frames." and "after frame 3" in err
    document = json.loads(saved.read_text())
    third = json.loads(golden("10_the_grand_ritual").splitlines()[2])
    del third["meta"]
    assert document == {"format": 1, "title": "The Grand Ritual", "world": third,
                        "description": load_level(find_level("10")).description}
    assert main(["play", str(saved), "--jsonl", "--until", "1"]) == 0
    assert json.loads(capsys.readouterr().out)["meta"]["message"] == "Zone north has resolved and merged."


def frame_limit_level(tmp_path):
    glass = {"id": "hourglass", "charges": [{"magnitude": 1, "polarity": "negative", "visual_id": "sand"}],
             "agents": [{"name": "abs", "visual_id": f"p{i}"} for i in range(1001)]}
    world = {"id": "desert", "sub_environments": [glass]}
    (tmp_path / "endless.json").write_text(json.dumps(world))
    return str(tmp_path / "endless.json")


def test_check_verdicts_and_exit_status(tmp_path, capsys):
    invalid = tmp_path / "typo.json"
    invalid.write_text('{"id": "r", "agents": [{"name": "Plus Magican", "visual_id": "p"}]}')
    assert main(["check"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == 10 and all(": solvable: 1 solution among " in line and ", unique;" in line for line in lines)
    assert main(["check", "01", BLOCKED]) == 1
    assert capsys.readouterr().out.splitlines()[1:3] == [
        "blocked.json: UNSOLVED after 2 frames:",
        "  - Equals Gate (hall_door) in zone hall never had the turn: zone hall stayed frozen"]
    assert main(["check", frame_limit_level(tmp_path)]) == 1
    assert capsys.readouterr().out == ("endless.json: FRAME LIMIT after 1000 frames:\n"
                                       "  - the engine stops every run at 1,000 frames\n"
                                       "  - 1 zone still to fold: hourglass\n")
    assert main(["check", str(invalid), "01"]) == 2
    first, second = capsys.readouterr().out.splitlines()
    assert first.startswith(f"typo.json: INVALID {invalid}: agents[0].name: expected an agent name (")
    assert first.endswith('found "Plus Magican"') and second == "01: solvable: 1 solution among 2 placements, unique; the shortest in 4 frames"


def test_an_invalid_level_is_reported_without_running_or_traceback(tmp_path):
    bad = tmp_path / "bad.json"
    bad.write_text('{"format": 1, "world": {"id": "r", "charges": [{"magnitude": 1}]}}')
    done = subprocess.run(ORV + ["play", str(bad)], capture_output=True, text=True)
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr == f'orv: {bad}: world.charges[0].polarity: expected the key "polarity", found nothing\n'


@pytest.mark.parametrize("option, said", [
    (["--jsonl"], "frame 1 has run, but its report cannot be written: cannot write a JSON document nested 10001"),
    (["--changes"], "cannot write a JSON document nested 10003"),
    (["--html", "page.html"], "cannot write a JSON document nested 10003"),
])
def test_a_world_too_deep_to_write_is_said_in_one_line(tmp_path, option, said):
    leaf = '{"id":"leaf","charges":[{"magnitude":1,"polarity":"positive","visual_id":"c"}]}'
    deep = tmp_path / "deep.json"
    deep.write_text('{"id":"z","sub_environments":[' * 5000 + leaf + "]}" * 5000)
    done = subprocess.run(ORV + ["play", str(deep), *option], capture_output=True, text=True, cwd=tmp_path)
    assert done.returncode == 2 and done.stderr.startswith(f"orv: {deep}: {said} levels deep") and \
        len(done.stderr.splitlines()) == 1, done.stderr
    # A world of 3,000 nested zones can be run and reported, but not made into a replay page.
    deep.write_text('{"id":"z","sub_environments":[' * 3000 + leaf + "]}" * 3000)
    page = subprocess.run(ORV + ["play", str(deep), "--html", "page.html"], capture_output=True, text=True, cwd=tmp_path)
    assert page.returncode == 2 and page.stderr == \
        f"orv: {deep}: its world nests too deeply for a replay page (a page holds worlds up to about 490 zones deep)\n"


def tty_output(env_extra):
    """Runs `orv play` with its output on a pseudo-terminal; returns what it printed."""
    leader, follower = pty.openpty()
    env = {k: v for k, v in os.environ.items() if k != "NO_COLOR"} | env_extra
    subprocess.run(ORV + ["play", "01"], stdout=follower, stderr=follower, env=env, check=True)
    os.close(follower)
    chunks = [b"."]
    while chunks[-1]:
        try:
            chunks.append(os.read(leader, 4096))
        except OSError:  # the terminal is gone once everything was read
            chunks.append(b"")
    os.close(leader)
    return b"".join(chunks[1:]).decode()


def test_colour_only_on_a_terminal_without_no_color():
    assert "\x1b[" in tty_output({})
    plain = tty_output({"NO_COLOR": "1"})
    assert "Solved in 4 frames" in plain and "\x1b[" not in plain
    piped = subprocess.run(ORV + ["play", "01"], capture_output=True, text=True).stdout
    assert "Solved in 4 frames" in piped and "\x1b[" not in piped


def test_html_pages_get_the_parsed_reports(tmp_path, monkeypatch, capsys):
    calls = []

    class Recorder:
        def __init__(self, start):
            self.start, self.reports = start, []

        def add(self, frame, changes):
            document = json.dumps(self.reports[-1] if self.reports else self.start)
            self.reports.append(json.loads(orv_session.apply_changes(document, changes)))

        def judged(self, session):
            self.verdict = session.verdict()

        def write(self, path, title):
            calls.append((self.start, self.reports, path, title, self.verdict))

    fake = types.ModuleType("orv.viewer")
    fake.Recorder = Recorder
    monkeypatch.setitem(sys.modules, "orv.viewer", fake)
    monkeypatch.chdir(tmp_path)
    run = str(tmp_path / "run.jsonl")
    Path(run).write_text(golden("01_first_light"))
    reports = [json.loads(line) for line in golden("01_first_light").splitlines()]
    start = load_level(find_level("01")).world()
    solved = {"verdict": "solved", "word": "SOLVED", "frames": 4, "reasons": []}
    assert main(["play", "01", "--html", "a.html"]) == 0
    assert calls == [(start, reports, "a.html", "First Light", solved)]
    Path(run).write_text(golden("01_first_light").splitlines()[0] + '\nnot json\n')
    assert main(["view", run]) == 2
    assert capsys.readouterr().err.splitlines()[-1] == \
        f"orv: {run}: line 2: expected a frame report (a line of `orv play --jsonl`); at " \
        "line 1, column 1: expected a value (a number, a string, true, false, null, an object or a list), found \"n\""


def test_version_and_help():
    done = subprocess.run(ORV + ["--version"], capture_output=True, text=True)
    assert done.stdout.strip() == f"orv {orv.__version__}"
    helped = subprocess.run(ORV + ["play", "--help"], capture_output=True, text=True)
    assert helped.returncode == 0 and "--until N" in helped.stdout
