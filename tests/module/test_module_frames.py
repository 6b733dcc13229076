"""Stepping worlds through NarrativeSequencer.next_frame and reading the reports."""
import json

import orv_engine as oe
import pytest

DONE = "Simulation complete. No further actions."
LIMIT = {"last_event": None, "status": "ERROR", "message": "Max frame limit reached. Infinite loop detected."}


def test_empty_world_reports_exactly(step):
    seq = oe.NarrativeSequencer(oe.Environment("r"))
    assert seq.next_frame() == (
        '{"agents":[],"charges":[],"id":"r","is_time_frozen":false,"meta":{"frame_index":1,"last_event":'
        '{"agent_name":"System","description":"Equation Resolved.","type":"FINISHED","visual_id":"N/A"},'
        '"message":"Equation Resolved.","status":"FINISHED"},"sub_environments":[]}')
    assert step(seq)["meta"] == {"frame_index": 1, "last_event": None, "message": DONE, "status": "FINISHED"}


# frame, status, event (agent_name, type, visual_id), message, root charges, sub-zone ids, root frozen
WORKED_RUN = [
    (1, "RUNNING", ("Plus Magician", "CAST_SPELL", "p"), "Plus Magician executed operation in S", "", ["S"], True),
    (2, "RUNNING", ("Chronomancer", "COLLAPSE_ZONE", "shield_S"), "Zone S has resolved and merged.",
     "+5:result_p", [], False),
    (3, "RUNNING", ("Equals Gate", "CAST_SPELL", "g"), "Equals Gate executed operation in R", "+5:result_p", [], False),
    (4, "FINISHED", ("System", "FINISHED", "N/A"), "Equation Resolved.", "+5:result_p", [], False),
    (4, "FINISHED", None, DONE, "+5:result_p", [], False),
]


def test_worked_run(zone, shown, step):
    root, sub = zone("R"), zone("S", "+2 +3")
    root.add_equals_gate("g", 5)
    sub.add_plus_magician("p")
    root.add_sub_environment(sub)
    seq = oe.NarrativeSequencer(root)
    for frame, status, event, message, charges, subs, frozen in WORKED_RUN:
        report = step(seq)
        meta, last = report["meta"], report["meta"]["last_event"]
        assert (meta["frame_index"], meta["status"], meta["message"]) == (frame, status, message)
        assert (last and (last["agent_name"], last["type"], last["visual_id"])) == event
        assert (shown(report["charges"]), [z["id"] for z in report["sub_environments"]]) == (charges, subs)
        assert report["is_time_frozen"] == frozen and seq.current_frame == frame
    assert shown(sub) == "+5:result_p"  # the collapsed zone left the tree but lives while Python holds it


@pytest.mark.parametrize("agents, preset", [(1001, 0), (0, 1000), (0, 5000)])
def test_frame_limit(agents, preset, zone, step):
    root = zone("R", "-1")
    for i in range(agents):
        root.add_abs_magician(f"m{i}")  # each casts once, in its own frame
    seq = oe.NarrativeSequencer(root)
    seq.current_frame = preset
    for _ in range(max(0, 1000 - preset)):
        assert json.loads(seq.next_frame())["meta"]["status"] == "RUNNING"
    for _ in range(2):
        assert step(seq)["meta"] == {"frame_index": max(preset, 1000), **LIMIT} and seq.is_finished


def test_changes_between_frames_take_part(zone, step):
    root = zone("R", "+2 -3")
    root.add_abs_magician("abs")
    seq = oe.NarrativeSequencer(root)
    assert step(seq)["meta"]["last_event"]["agent_name"] == "The Purifier"
    root.add_plus_magician("p")
    report = step(seq)
    assert report["meta"]["last_event"]["visual_id"] == "p" and report["charges"][0]["magnitude"] == 5.0
    assert step(seq)["meta"]["status"] == "FINISHED"
    root.add_factorial_magician("f")
    assert step(seq)["meta"]["message"] == DONE  # a finished sequencer does not step by itself
    seq.is_finished = False
    report = step(seq)
    assert (report["meta"]["frame_index"], report["charges"][0]["magnitude"]) == (4, 120.0)
