"""`orv studio`: the page it writes, and the one line it says when the web engine is missing."""

import json
import os
import re
import subprocess
import sys

import orv_session
import pytest

from orv import studio


def orv(*args, env=None):
    return subprocess.run([sys.executable, "-m", "orv", *args], capture_output=True, text=True,
                          env={**os.environ, **(env or {})})


def test_missing_engine_is_one_line(tmp_path):
    env = {studio.ENGINE_ENV: str(tmp_path / "nowhere.js")}
    result = orv("studio", "--html", str(tmp_path / "s.html"), env=env)
    assert result.returncode == 2 and result.stdout == ""
    assert result.stderr == f"orv: ORV_WEB_ENGINE is {tmp_path / 'nowhere.js'}, which is not a file: point it at a " \
                            "built orv_web.js\n"
    assert not (tmp_path / "s.html").exists()


@pytest.mark.parametrize("tree, says", [
    # Installed from a source tree whose web build is missing.
    ("source", "the web engine is not built: run `bash scripts/web.sh` (which sets up emscripten too), "
               "or set ORV_WEB_ENGINE to a built orv_web.js"),
    # A package built where emscripten was not installed, anywhere else.
    ("elsewhere", "this orv package was built without the web engine (emscripten was not installed): set "
                  "ORV_WEB_ENGINE to a built orv_web.js, or reinstall the package on a machine with emscripten"),
])
def test_missing_engine_says_how_to_supply_one(tmp_path, monkeypatch, tree, says):
    if tree == "source":
        (tmp_path / "scripts").mkdir()
        (tmp_path / "scripts" / "web.sh").write_text("", encoding="utf-8")
    monkeypatch.delenv(studio.ENGINE_ENV, raising=False)
    monkeypatch.setattr(studio, "SOURCE_TREE", tmp_path)
    monkeypatch.setattr(studio, "BUILT_ENGINE", tmp_path / "build" / "orv_web.js")
    monkeypatch.setattr(studio.resources, "files", lambda package: tmp_path / "package")
    with pytest.raises(studio.StudioError) as info:
        studio.engine_path()
    assert str(info.value).startswith(says) and "\n" not in str(info.value)


@pytest.mark.parametrize("where, says", [
    ("missing/s.html", "the folder {tmp}/missing does not exist"),
    ("", "that is a folder; give a file name"),
    ("file.txt/s.html", "the folder {tmp}/file.txt is not a folder"),
])
def test_unwritable_page_is_one_line(tmp_path, where, says):
    (tmp_path / "file.txt").write_text("x", encoding="utf-8")
    target = str(tmp_path / where) if where else str(tmp_path)
    result = orv("studio", "--html", target)
    assert result.returncode == 2 and result.stdout == ""
    assert result.stderr.count("\n") == 1 and result.stderr.startswith(f"orv: --html {target}: ")
    assert says.format(tmp=tmp_path) in result.stderr


def test_page_is_self_contained_and_opens_on_the_level(web_engine, tmp_path):
    level = tmp_path / "odd.json"
    title = "</script><!-- & \u00fc"
    level.write_text(json.dumps({"format": 1, "title": title, "world": {"id": "</script>"}}), encoding="utf-8")
    result = orv("studio", str(level), "--html", str(tmp_path / "s.html"))
    assert result.returncode == 0, result.stderr
    page = (tmp_path / "s.html").read_text(encoding="utf-8")
    assert "default-src 'none'" in page and "connect-src" not in page
    assert web_engine.read_text(encoding="utf-8") in page
    # Every script element is closed by its own tag: no level text can end one early.
    assert page.count("<script") == page.count("</script>") == 7
    start = re.search(r'<script type="application/json" id="orv-start">(.*?)</script>', page).group(1)
    session = orv_session.Session()
    session.load(level.read_bytes())
    assert json.loads(start) == {"name": "odd", "text": session.level_text(title, "")}  # as the engine writes it
    levels = re.search(r'<script type="application/json" id="orv-levels">(.*?)</script>', page).group(1)
    assert [e["name"] for e in json.loads(levels)][:2] == ["01_first_light", "02_the_tally"]


def test_engine_text_that_would_end_a_script_is_refused(tmp_path):
    fake = tmp_path / "engine.js"
    fake.write_text("var x = '</script>';", encoding="utf-8")
    with pytest.raises(studio.StudioError, match="would end its <script> element"):
        studio.render_html(engine=fake)
