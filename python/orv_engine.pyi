"""
Quellmoor Engine Python Bindings
"""
from __future__ import annotations
import collections.abc
import typing
__all__: list[str] = ['Charge', 'ChargePolarity', 'Environment', 'NEGATIVE', 'NEUTRAL', 'NarrativeSequencer', 'POSITIVE']
class ChargePolarity:
    """
    A charge's sign: POSITIVE, NEGATIVE or NEUTRAL.
    
    Members:
    
      POSITIVE
    
      NEGATIVE
    
      NEUTRAL
    """
    NEGATIVE: typing.ClassVar[ChargePolarity]
    NEUTRAL: typing.ClassVar[ChargePolarity]
    POSITIVE: typing.ClassVar[ChargePolarity]
    __members__: typing.ClassVar[dict[str, ChargePolarity]]
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    def __int__(self) -> int:
        ...
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class Charge:
    """
    A numeric charge: a magnitude, a polarity and a visual id. An item read from
    Environment.charges is a view of the zone's charge: it writes through to the zone
    until the zone's charge list changes, then raises RuntimeError (the view is stale).
    """
    def __init__(self, magnitude: typing.SupportsFloat | typing.SupportsIndex, polarity: ChargePolarity, visual_id: str) -> None:
        """
        A charge of its own, to put in a zone by assigning Environment.charges.
        
        magnitude: a float (NaN and the infinities are kept); polarity: a ChargePolarity; visual_id: a str,
        the id front ends show. Arguments of other types are refused with TypeError.
        """
    def __repr__(self) -> str:
        ...
    def to_json(self) -> str:
        """
        Returns the charge's JSON text, {"magnitude", "polarity", "visual_id"}; a magnitude that is NaN
        or infinite is written as null.
        A view whose zone's charges have changed raises RuntimeError (the charge view is stale).
        """
    @property
    def magnitude(self) -> float:
        """
        The magnitude (float), never negative in a world the engine made; setting it takes any float.
        A view whose zone's charges have changed raises RuntimeError (the charge view is stale).
        """
    @magnitude.setter
    def magnitude(self, value: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def polarity(self) -> ChargePolarity:
        """
        The polarity (a ChargePolarity).
        A view whose zone's charges have changed raises RuntimeError (the charge view is stale).
        """
    @polarity.setter
    def polarity(self, value: ChargePolarity) -> None:
        ...
    @property
    def visual_id(self) -> str:
        """
        The visual id (str) that front ends show; text that is not valid UTF-8 is refused with ValueError.
        A view whose zone's charges have changed raises RuntimeError (the charge view is stale).
        """
    @visual_id.setter
    def visual_id(self, value: str) -> None:
        ...
class Environment:
    """
    A zone of the world: charges, the agents that belong to it, and sub-zones. Agents are added by
    the add_* methods, one a kind; a sequencer runs the world whose root is a zone.
    """
    def __init__(self, id: str) -> None:
        """
        An empty zone named id (a str; ids need not be unique). Other types are refused with TypeError,
        text that is not valid UTF-8 with ValueError.
        """
    def __repr__(self) -> str:
        ...
    def add_abs_magician(self, visual_id: str) -> None:
        """
        Adds an agent, The Purifier (priority 90), at the end of the zone's agents; visual_id names it in reports.
        
        Needs a charge: makes every negative charge positive.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_charge(self, magnitude: typing.SupportsFloat | typing.SupportsIndex, polarity: ChargePolarity, visual_id: str) -> None:
        """
        Adds a charge at the end of the zone's charges: magnitude a float, polarity a ChargePolarity,
        visual_id a str. Views read from charges before go stale.
        
        Returns None. Arguments of other types are refused with TypeError.
        """
    def add_chronomancer(self, visual_id: str) -> None:
        """
        Adds an agent, Chronomancer (priority 100), at the end of the zone's agents; visual_id names it in reports.
        
        Never acts, so it never leaves: its zone never folds and keeps its parent frozen.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_divide_magician(self, visual_id: str) -> None:
        """
        Adds an agent, Divide Magician (priority 50), at the end of the zone's agents; visual_id names it in reports.
        
        Needs two charges or more, every one after the first away from zero: divides the first magnitude by each following one.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_equals_gate(self, visual_id: str, target: typing.SupportsFloat | typing.SupportsIndex) -> None:
        """
        Adds an Equals Gate (priority 0) at the end of the zone's agents: a gate that opens, and leaves the
        zone, when the zone's total is within 1e-6 of target (a float). It never changes a charge.
        
        Returns None. Arguments of other types are refused with TypeError.
        """
    def add_factorial_magician(self, visual_id: str) -> None:
        """
        Adds an agent, The Replicator (priority 85), at the end of the zone's agents; visual_id names it in reports.
        
        Needs a last charge that is not negative: replaces it by its factorial.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_inequality_gate(self, visual_id: str, target: typing.SupportsFloat | typing.SupportsIndex, comparison_type: str) -> None:
        """
        Adds The Judge (priority 0) at the end of the zone's agents: a gate that opens, and leaves the zone,
        when the zone's total compared with target (a float) by comparison_type holds. It never changes a
        charge; NaN never opens it.
        
        comparison_type is the rule's text: "<=", ">=" and ">" exactly name those comparisons, and every
        other str means "<" ("<" itself, but also "==", "=>", " >" or ""); the zone's JSON then writes
        the rule as "<". Level files accept only the four texts "<", ">", "<=", ">=".
        
        Returns None. A comparison_type that is not a str (None, say), and other arguments of the wrong
        type, are refused with TypeError; text that is not valid UTF-8 with ValueError.
        """
    def add_log_magician(self, visual_id: str) -> None:
        """
        Adds an agent, The Architect (priority 90), at the end of the zone's agents; visual_id names it in reports.
        
        Needs a last magnitude above zero: takes the base-10 logarithm of a lone charge, or with two or more the last magnitude's logarithm in the base of the second to last.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_minus_magician(self, visual_id: str) -> None:
        """
        Adds an agent, Minus Magician (priority 10), at the end of the zone's agents; visual_id names it in reports.
        
        Needs two charges or more: replaces them all by one charge, the first signed value minus every following one.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_modulo_magician(self, visual_id: str) -> None:
        """
        Adds an agent, The Scavenger (priority 50), at the end of the zone's agents; visual_id names it in reports.
        
        Needs two charges or more, the last away from zero: replaces the last two by the remainder.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_multiply_magician(self, visual_id: str) -> None:
        """
        Adds an agent, Multiply Magician (priority 50), at the end of the zone's agents; visual_id names it in reports.
        
        Needs two charges or more: replaces them all by one charge, the product of their magnitudes.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_plus_magician(self, visual_id: str) -> None:
        """
        Adds an agent, Plus Magician (priority 10), at the end of the zone's agents; visual_id names it in reports.
        
        Needs two charges or more: replaces them all by one charge, the sum of their signed values.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_power_sorcerer(self, visual_id: str) -> None:
        """
        Adds an agent, Power Sorcerer (priority 75), at the end of the zone's agents; visual_id names it in reports.
        
        Needs two charges or more: replaces the last two by the second to last raised to the last.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_root_magician(self, visual_id: str) -> None:
        """
        Adds an agent, The Extractor (priority 75), at the end of the zone's agents; visual_id names it in reports.
        
        Needs a charge: takes the square root of a lone charge, or with two or more the root of the last magnitude whose degree is the second to last.
        The rules reference (docs/rules.md) tells the whole rule.
        
        Returns None. A visual_id that is not a str is refused with TypeError.
        """
    def add_sub_environment(self, sub_env: Environment) -> None:
        """
        Makes sub_env (an Environment, shared, not copied) the last sub-zone of this zone.
        
        Returns None. Refuses None and other types with TypeError, and a zone that would close a cycle
        (this zone itself, or a zone that holds it) with ValueError naming both zones.
        """
    def to_json(self) -> str:
        """
        Returns the zone's JSON text, sub-zones included: {"agents", "charges", "id", "is_time_frozen",
        "sub_environments"}, NaN and infinite numbers written as null.
        
        Raises ValueError, before writing, for a text nested deeper than 10,000 JSON levels (about 5,000
        nested zones), and MemoryError when memory runs out. Signal handlers run about every MiB of text,
        so Ctrl-C raises KeyboardInterrupt during a long text.
        """
    @property
    def charges(self) -> list[Charge]:
        """
        The zone's charges in list order, as Charge views (a new list at each read). A view writes through to
        the zone until the zone's charge list changes (add_charge, an assignment here, a cast by one of its
        agents, a fold into it); after that it raises RuntimeError, so read charges again.
        Assigning a sequence of Charge replaces the list by copies of them; any other item is refused with
        TypeError, and so is a stale view.
        """
    @charges.setter
    def charges(self, value: collections.abc.Sequence[Charge]) -> None:
        ...
    @property
    def id(self) -> str:
        """
        The zone's id (str), which reports and messages name it by.
        """
    @id.setter
    def id(self, value: str) -> None:
        ...
    @property
    def is_time_frozen(self) -> bool:
        """
        Whether the zone is frozen (bool): its agents are not offered the turn. The sequencer sets it at
        the start of every frame: a zone is frozen while a sub-zone of it has not settled.
        """
    @is_time_frozen.setter
    def is_time_frozen(self, value: bool) -> None:
        ...
class NarrativeSequencer:
    """
    Runs a world, its root zone, one frame at a time (1,000 frames at most).
    """
    def __init__(self, env: Environment) -> None:
        """
        A sequencer of the world whose root is env (an Environment, shared), at frame 0. Refuses None
        and other types with TypeError.
        """
    def next_frame(self) -> str:
        """
        Runs one frame and returns its report: the root zone's JSON text after the frame (as to_json writes
        it) with "meta": {"frame_index", "status", "message", "last_event"}. The status is "RUNNING"
        while frames remain, "FINISHED" once nothing could cast or fold, and "ERROR" at the frame limit;
        after the end each call reports it again and changes nothing.
        
        Raises ValueError, before the frame runs, when the report would nest deeper than 10,000 JSON levels;
        MemoryError when memory runs out. Signal handlers run about every MiB of text: an exception they
        raise (KeyboardInterrupt) ends the call with the frame applied and its report lost.
        """
    @property
    def current_frame(self) -> int:
        """
        The number of frames run so far (int); the run ends at frame 1,000.
        """
    @current_frame.setter
    def current_frame(self, value: typing.SupportsInt | typing.SupportsIndex) -> None:
        ...
    @property
    def is_finished(self) -> bool:
        """
        Whether the run has ended (bool): nothing could cast or fold, or the frame limit was reached.
        """
    @is_finished.setter
    def is_finished(self, value: bool) -> None:
        ...
NEGATIVE: ChargePolarity
NEUTRAL: ChargePolarity
POSITIVE: ChargePolarity
