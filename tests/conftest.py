"""Settings for the whole suite. It guards against testing the wrong module: when
ORV_EXPECT_MODULE_DIR is set (scripts/sanitize.sh sets it to the sanitized build), orv_engine must
be imported from there. And no run depends on what an earlier run left behind: property tests keep
no example database (a failure prints the blob that replays it), and pytest keeps no cache."""
import os
from pathlib import Path

import orv_engine
from hypothesis import settings

_expected = os.environ.get("ORV_EXPECT_MODULE_DIR")
if _expected and Path(orv_engine.__file__).resolve().parent != Path(_expected).resolve():
    raise RuntimeError(f"orv_engine was imported from {orv_engine.__file__}, not from {_expected}")

settings.register_profile("orv", database=None, print_blob=True)
settings.load_profile("orv")
