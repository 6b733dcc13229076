"""The change stream gives back the reports: each frame's patch, applied by a JSON Patch library to
the document before it, is that frame's report, and written back by the engine's writer, the same
bytes."""

import json
from pathlib import Path

import jsonpatch
import orv_session
import pytest

from orv.levels import bundled_levels

TABLE = Path(__file__).parents[1] / "engine" / "verdict_table.json"
WORLDS = [(f.name, f.read_text(encoding="utf-8")) for f in bundled_levels()] + [
    (entry["name"], json.dumps(entry["world"])) for entry in json.loads(TABLE.read_text())["entries"]]
FRAMES = 100  # the runaway worlds repeat themselves up to the frame limit; their first frames suffice


@pytest.mark.parametrize("name, level", WORLDS, ids=[name for name, _ in WORLDS])
def test_each_patch_gives_the_frame_report(name, level):
    reports, changes = orv_session.Session(), orv_session.Session()
    reports.load(level)
    changes.load(level)
    text = changes.world()
    document = json.loads(text)
    while not reports.ended and reports.frame < FRAMES:
        report, patch_text = reports.step(), changes.step_changes()
        patch = json.loads(patch_text)
        # Small: lists of one zone and single items change, never a zone's whole subtree.
        assert not any(isinstance(op.get("value"), dict) and "sub_environments" in op["value"] for op in patch)
        document = jsonpatch.apply_patch(document, patch, in_place=True)
        assert document == json.loads(report), f"{name}: frame {reports.frame}"
        text = orv_session.apply_changes(text, patch_text)
        assert text == report, f"{name}: frame {reports.frame}"
        assert changes.told() == reports.told()
    assert changes.verdict() == reports.verdict()


def test_changes_past_the_depth_of_a_report_are_refused_as_the_report_is():
    """Every zone of a chain with an agent in each flips in frame 1: its patch would name 6,000
    zones by paths that add up to 18 million steps; it is refused, as the report is."""
    zone = '{"id":"z","agents":[{"name":"plus","visual_id":"p"}],"charges":[{"magnitude":1,"polarity":"positive",' \
           '"visual_id":"c"}],"sub_environments":['
    session = orv_session.Session()
    session.load(zone * 5999 + zone + "]}" + "]}" * 5999)
    with pytest.raises(ValueError, match="^frame 1 has run, but its changes cannot be written: cannot write a JSON "
                                         "document nested 11997 levels deep"):
        session.step_changes()
    assert session.verdict()["frames"] == 1  # the run goes on: the frame was followed
