"""The portable wheel as a new user meets it: scripts/wheel.sh builds and repairs it, it installs
into a fresh virtual environment offline, `orv check` plays the campaign there, `orv studio` writes a
page that plays a level in Chromium to the check's verdict, and mypy --strict finds the types of
both packages in the installation."""

import json
import os
import re
import shutil
import subprocess
import sys
from importlib.metadata import version
from pathlib import Path

import pytest

from orv import studio, viewer

ROOT = Path(__file__).resolve().parents[2]
pytestmark = pytest.mark.install


def run(*command, cwd, **kwargs):
    result = subprocess.run([str(c) for c in command], cwd=cwd, capture_output=True, text=True, timeout=600, **kwargs)
    assert result.returncode == 0, f"{command} failed with {result.returncode}:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def python_blocks(markdown: Path) -> str:
    """The Python examples of a Markdown file, one after the other."""
    return "\n".join(re.findall(r"```python\n(.*?)```", markdown.read_text(encoding="utf-8"), re.S))


def test_repaired_wheel_installs_and_every_part_works(tmp_path):
    if os.environ.get("ORV_SANITIZED"):
        pytest.skip("the wheel holds the plain module; the plain stage installs it")
    if shutil.which("emcc") is None:
        pytest.skip("emscripten is not installed, so the wheel would carry no web engine for the studio")
    if not Path(viewer.CHROMIUM).exists():
        pytest.skip(f"{viewer.CHROMIUM} is not installed (Debian package chromium)")

    dist = tmp_path / "dist"
    said = run("bash", ROOT / "scripts" / "wheel.sh", dist, cwd=ROOT)
    wheels = list(dist.glob("orv-*.whl"))
    assert len(wheels) == 1 and re.search(r"-cp312-cp312-manylinux_\d+_\d+_x86_64\.whl$", wheels[0].name), said
    print(f"{wheels[0].name}: {wheels[0].stat().st_size} bytes")

    env = tmp_path / "env"
    run(sys.executable, "-m", "venv", env, cwd=tmp_path)
    run(env / "bin" / "python", "-m", "pip", "install", "-q", "--no-index", wheels[0], cwd=tmp_path)
    assert run(env / "bin" / "orv", "--version", cwd=tmp_path) == f"orv {version('orv')}\n"

    checked = [json.loads(line) for line in run(env / "bin" / "orv", "check", "--json", cwd=tmp_path).splitlines()]
    assert len(checked) == 10 and {c["verdict"] for c in checked} == {"solvable"}

    # The studio takes the engine that the wheel carries: no variable, no source tree to fall back on.
    page = tmp_path / "studio.html"
    plain = {k: v for k, v in os.environ.items() if k != studio.ENGINE_ENV}
    run(env / "bin" / "orv", "studio", "3", "--html", page, cwd=tmp_path, env=plain)
    solution = json.loads(run(env / "bin" / "orv", "solve", "3", "--json", cwd=tmp_path))["shortest"]["zones"]
    driver = viewer.launch_browser(tmp_path / "profile")
    try:
        studio.open_page(driver, page)
        driver.execute_script("window.orvPlay.place(arguments[0])", solution)  # the pieces where the solver puts them
        for _ in range(200):
            shown = driver.execute_script("window.orvStudio.step(); return window.orvStudio.verdict()")
            if shown["status"] not in ("ready", "running"):
                break
        problems = [e["message"] for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
    finally:
        driver.quit()
    assert problems == []
    # The page plays the puzzle with its shortest solution placed, which the check found.
    assert (shown["status"], shown["frames"], shown["reasons"]) == ("solved", checked[2]["frames"], [])

    # A user's mypy --strict on the examples of the README and docs/api.md finds orv_engine's stubs and
    # orv's py.typed there.
    example = tmp_path / "example.py"
    example.write_text(python_blocks(ROOT / "README.md") + python_blocks(ROOT / "docs" / "api.md"), encoding="utf-8")
    assert "import orv_engine" in example.read_text(encoding="utf-8")
    run(sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--python-executable", env / "bin" / "python",
        example, cwd=tmp_path)
