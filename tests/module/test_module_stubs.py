"""The checked-in type stubs python/orv_engine.pyi must match the built module.

After changing the module's API, rebuild and regenerate the stubs from the repository root with:
    .venv/bin/python -m pybind11_stubgen orv_engine --exit-code -o python
"""
import pathlib
import subprocess
import sys

CHECKED_IN = pathlib.Path(__file__).resolve().parents[2] / "python" / "orv_engine.pyi"


def test_stubs_are_up_to_date(tmp_path):
    subprocess.run([sys.executable, "-m", "pybind11_stubgen", "orv_engine", "--exit-code", "-o", str(tmp_path)],
                   check=True, capture_output=True)
    assert (tmp_path / "orv_engine.pyi").read_text() == CHECKED_IN.read_text(), (
        "python/orv_engine.pyi is out of date; regenerate it (see the top of this file)")
