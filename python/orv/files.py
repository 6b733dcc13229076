"""Files of the toolkit: the assets shipped in the package, and the checks on paths it writes."""

from __future__ import annotations

import os
from importlib import resources
from pathlib import Path


class ToolkitError(Exception):
    """A fault in a file given to the toolkit; the command line prints it without a traceback."""


def asset(folder: str, name: str) -> str:
    """The text of a file shipped in the package's `folder` (viewer, studio)."""
    return (resources.files("orv") / folder / name).read_text(encoding="utf-8")


def writable(path: str, option: str) -> None:
    """Refuses, before anything runs, an output path that cannot be written as a file."""
    target = Path(path)
    folder = target.parent
    if target.is_dir():
        raise ToolkitError(f"{option} {path}: that is a folder; give a file name")
    if not folder.is_dir():
        what = "is not a folder" if folder.exists() else "does not exist"
        raise ToolkitError(f"{option} {path}: cannot write there, the folder {folder} {what}")
    if not os.access(folder, os.W_OK) or (target.exists() and not os.access(target, os.W_OK)):
        raise ToolkitError(f"{option} {path}: cannot write there, permission denied")
