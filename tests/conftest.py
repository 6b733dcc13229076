"""Guards the whole suite against testing the wrong module: when ORV_EXPECT_MODULE_DIR is set
(scripts/sanitize.sh sets it to the sanitized build), orv_engine must be imported from there."""
import os
from pathlib import Path

import orv_engine

_expected = os.environ.get("ORV_EXPECT_MODULE_DIR")
if _expected and Path(orv_engine.__file__).resolve().parent != Path(_expected).resolve():
    raise RuntimeError(f"orv_engine was imported from {orv_engine.__file__}, not from {_expected}")
