"""The checked-in type stubs python/orv_engine.pyi and python/orv_session.pyi must match the built modules.

After changing a module's API, rebuild and regenerate its stubs from the repository root with:
    .venv/bin/python -m pybind11_stubgen orv_engine --exit-code -o python   (likewise orv_session)
"""
import pathlib
import subprocess
import sys

import pytest

PYTHON = pathlib.Path(__file__).resolve().parents[2] / "python"


@pytest.mark.parametrize("module", ["orv_engine", "orv_session"])
def test_stubs_are_up_to_date(tmp_path, module):
    subprocess.run([sys.executable, "-m", "pybind11_stubgen", module, "--exit-code", "-o", str(tmp_path)],
                   check=True, capture_output=True)
    assert (tmp_path / f"{module}.pyi").read_text() == (PYTHON / f"{module}.pyi").read_text(), (
        f"python/{module}.pyi is out of date; regenerate it (see the top of this file)")
