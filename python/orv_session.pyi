"""
The orv toolkit's sessions: levels read and written, runs stepped, told and judged
"""
from __future__ import annotations
import typing
__all__: list[str] = ['LevelFault', 'SearchTooLarge', 'Session', 'apply_changes', 'judge_rules', 'kinds', 'number_text', 'solve']
class LevelFault(ValueError):
    pass
class SearchTooLarge(ValueError):
    pass
class Session:
    """
    One level's run: load a level, step it, tell and judge each frame, save it.
    """
    def __init__(self) -> None:
        ...
    def accepting(self) -> list[str]:
        """
        The paths of the zones that accept pieces, in preorder (every zone unless the level names them).
        """
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
    def pieces(self) -> list[str]:
        """
        A puzzle's pieces in the level's order, as 'Plus Magician (smith)'; none for a finished world.
        """
    def place(self, zones: typing.Any) -> None:
        """
        Starts a fresh run with the pieces placed: `zones` holds the path of each piece's zone, in the level's order ('anvil/bellows'). Raises ValueError, and changes nothing, for a level without pieces, another number of zones, a path that names no zone and a zone that does not accept pieces.
        """
    def placement_lines(self) -> list[str]:
        """
        The placement in words, a line for each piece: 'put the Plus Magician (smith) into anvil/bellows'.
        """
    def record(self) -> dict:
        """
        What the last frame did and where: {action: 'cast', 'fold', 'finish' or None, zone: the path of sub-zone indices, index: the agent's or folded zone's index before it left}. The flags that flipped
        are in the frame's changes and its report.
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
        How the run stands: {verdict: solved, unsolved, limit or paused, word: as a status shows it
        (SOLVED, UNSOLVED, FRAME LIMIT, PAUSED), frames, reasons}.
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
    def placement(self) -> list[str] | None:
        """
        The path of each piece's zone in this run, or None while the pieces wait in the tray.
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
def solve(text: typing.Any, *, first: bool = False, jobs: typing.SupportsInt | typing.SupportsIndex = 0, keep: typing.SupportsInt | typing.SupportsIndex = 0, progress: typing.Any = None) -> dict:
    """
    Tries every placement of the level's pieces (each into one zone that accepts pieces), runs each to its end and judges it, on `jobs` workers (0: one per core). Returns {placements: all of them, tried, solutions (placements that build the same world counted once), exhaustive, shortest: {frames, zones, lines} or None, listed: the first `keep` solutions in the search's order}. `first` stops at the first solution in that order. `progress(tried, placements)` is called about ten times a second; Ctrl-C or whatever `progress` raises cancels the search and is raised. Raises LevelFault for a level that cannot be read and SearchTooLarge (a ValueError) for a search of more than 1,000,000,000 placements.
    """
