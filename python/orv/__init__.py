"""The orv toolkit: level files, a narrated player and a replay viewer for the orv engine."""

__version__ = "0.1.0"
