"""
The orv toolkit's sessions: levels read and written, runs stepped, told and judged
"""
from __future__ import annotations
import typing
__all__: list[str] = ['LevelFault', 'Session', 'apply_changes', 'judge_rules', 'kinds', 'number_text']
class LevelFault(ValueError):
    pass
class Session:
    """
    One level's run: load a level, step it, tell and judge each frame, save it.
    """
    def __init__(self) -> None:
        ...
    def advance(self) -> None:
        """
        Runs one frame as step does, without writing its report.
        """
    def changes(self) -> str:
        """
        The last frame's changes, as step_changes returns them, whichever way the frame was run.
        """
    def follow_saved(self, report: typing.Any) -> bool:
        """
        Follows the next report of a saved run; False when it does not follow from the one before.
        """
    def level_text(self, title: str, description: str) -> str:
        """
        The current world as a level file, numbers exact (inf, -inf and nan as strings).
        """
    def load(self, text: typing.Any) -> None:
        """
        Reads a level (a level document, a bare zone or one frame report; str or UTF-8 bytes) and starts a fresh run of it. Raises LevelFault(path, expected, found) and leaves the session as it was when the text is not a valid level.
        """
    def load_saved(self, report: typing.Any) -> None:
        """
        Reads the first report of a saved run and goes on from it, with the same frame numbers; follow_saved then takes the run's next reports. Raises LevelFault as load does.
        """
    def numbers(self) -> str:
        """
        The current world's magnitudes and gate targets, exactly, as JSON text.
        """
    def record(self) -> dict:
        """
        What the last frame did and where: {action: 'cast', 'fold', 'finish' or None, zone: the path of sub-zone indices, index: the agent's or folded zone's index before it left, flipped: paths}.
        """
    def reset(self) -> None:
        """
        Starts the loaded level again.
        """
    def root_name(self) -> str:
        """
        The root zone's name, as the verdict names zones.
        """
    def step(self) -> str:
        """
        Runs one frame and returns its report text.
        """
    def step_changes(self) -> str:
        """
        Runs one frame as step does and returns its changes: a JSON Patch (RFC 6902) text that turns the previous report (the world before frame 1 at first) into this frame's report.
        """
    def summary_lines(self) -> list[str]:
        """
        The closing lines of a narrated run.
        """
    def told(self) -> tuple[str, str]:
        """
        The last frame in words: (what it did, the charges of the zone it touched).
        """
    def verdict(self) -> dict:
        """
        How the run stands: {verdict: solved, unsolved, limit or paused, frames, reasons}.
        """
    def world(self) -> str:
        """
        The current world's JSON, as Environment.to_json writes it.
        """
    def world_lines(self) -> list[str]:
        """
        The world as an indented list of zones: charges, then the agents that wait there.
        """
    @property
    def description(self) -> str:
        """
        The level's description.
        """
    @property
    def ended(self) -> bool:
        """
        Whether the run has ended (FINISHED or ERROR).
        """
    @property
    def frame(self) -> int:
        """
        The number of the last frame run.
        """
    @property
    def status(self) -> str:
        """
        The last report's status ('' before frame 1).
        """
    @property
    def title(self) -> str | None:
        """
        The level's title, or None when it has none.
        """
def apply_changes(document: typing.Any, patch: typing.Any) -> str:
    """
    The JSON text `document` with the JSON Patch `patch` applied (how a change stream gives back its reports). Raises ValueError naming the operation that does not apply.
    """
def judge_rules() -> list[str]:
    """
    The rule texts a Judge is read with: <, >, <=, >=.
    """
def kinds() -> list:
    """
    The thirteen agent kinds, in a fixed order: dicts of kind (the word of level files), class_name, name (the display name), priority, gate, takes_rule and method (the orv_engine method that adds one).
    """
def number_text(value: typing.SupportsFloat | typing.SupportsIndex) -> str:
    """
    A magnitude or total as people write it: 3, 2.5, inf, -inf, nan.
    """
