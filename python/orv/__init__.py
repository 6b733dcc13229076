"""The orv toolkit: level files, a narrated player and a replay viewer for the orv engine."""

from importlib.metadata import PackageNotFoundError, version

try:
    __version__ = version("orv")
except PackageNotFoundError:  # run from a source tree that was never installed
    __version__ = "0+unknown"
