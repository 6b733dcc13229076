"""Loading the module: the interpreter version guard and re-import within one interpreter."""
import importlib
import os
import shutil
import subprocess
import sys

import orv_engine
import pytest

PY313 = "/root/.pyenv/versions/3.13.0/bin/python3.13"
# RTLD_LAZY lets the version guard run before any symbol that only 3.12 has is resolved.
PROBE = """import os, sys
if {lazy}: sys.setdlopenflags(os.RTLD_LAZY)
try: import orv_engine
except ImportError as error: print(sys.version, error, sep="\\n")
"""


@pytest.mark.skipif(not os.access(PY313, os.X_OK), reason="no CPython 3.13 on this machine")
@pytest.mark.parametrize("lazy", [True, False])
def test_other_interpreter_is_refused(lazy, tmp_path):
    shutil.copy(orv_engine.__file__, tmp_path / "orv_engine.so")
    run = subprocess.run([PY313, "-c", PROBE.format(lazy=lazy)], capture_output=True, text=True, cwd=tmp_path)
    version, _, message = run.stdout.rstrip("\n").partition("\n")
    assert run.returncode == 0 and message, run.stdout + run.stderr
    if lazy:
        assert message == ("Python version mismatch: module was compiled for Python 3.12, but the interpreter "
                           f"version is incompatible: {version}.")


def test_reimport_gives_the_same_module():
    first = sys.modules.pop("orv_engine")
    try:
        assert importlib.import_module("orv_engine") is first
    finally:
        sys.modules["orv_engine"] = first
