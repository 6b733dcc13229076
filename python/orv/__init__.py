"""The orv toolkit: level files, a narrated player and a replay viewer for the orv engine."""

from importlib.metadata import version

__version__ = version("orv")  # written once, in pyproject.toml
