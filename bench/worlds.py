"""Generated worlds for the benchmarks: wide, deep and crowd, each at a chosen scale.

Every world runs to its end (FINISHED, or ERROR at the frame limit) and changes a little in
every frame, so consecutive frames report nearly the same document.
"""

import orv_engine as e


def wide(zones=1000):
    """`zones` sub-zones of the root, each with 10 charges and 3 agents (a Plus Magician and two gates).

    The Plus Magicians cast one per frame; the run ends at the frame limit with most zones still busy.
    """
    root = e.Environment("wide_root")
    root.add_equals_gate("root_gate", 0.0)
    for z in range(zones):
        zone = e.Environment(f"zone_{z}")
        total = 0.0
        for c in range(10):
            magnitude = float(c + 1) + z / 1000.0
            polarity = e.NEGATIVE if c % 3 == 2 else e.POSITIVE
            total += -magnitude if polarity == e.NEGATIVE else magnitude
            zone.add_charge(magnitude, polarity, f"z{z}_c{c}")
        zone.add_plus_magician(f"plus_{z}")
        zone.add_equals_gate(f"gate_{z}", total)
        zone.add_inequality_gate(f"judge_{z}", -1.0e6, ">=")
        root.add_sub_environment(zone)
    return root


def deep(zones=2000):
    """A chain of `zones` nested zones, one charge and a Plus Magician each (two charges innermost).

    It unwinds from the inside: the innermost magician folds, the zone collapses into its parent,
    whose magician then folds the two charges, and so on up, two frames per level.
    """
    chain = [e.Environment(f"level_{d}") for d in range(zones)]
    for d, zone in enumerate(chain):
        zone.add_charge(1.0 + d / 10.0, e.POSITIVE, f"l{d}_c0")
        if d == zones - 1:
            zone.add_charge(0.5, e.POSITIVE, f"l{d}_c1")
        zone.add_plus_magician(f"plus_{d}")
    for parent, child in zip(chain, chain[1:]):
        parent.add_sub_environment(child)
    return chain[0]


def crowd(agents=10000):
    """One zone with `agents` agents and 10 charges.

    A fifth are Chronomancers (the highest priority, never acting), so every frame offers the turn
    to many agents before a Judge with an always-true rule opens and leaves.
    """
    root = e.Environment("crowd")
    for c in range(10):
        root.add_charge(float(c + 1), e.POSITIVE, f"c{c}")
    for a in range(agents):
        kind = a % 5
        if kind == 0:
            root.add_chronomancer(f"time_{a}")
        elif kind == 1:
            root.add_equals_gate(f"eq_{a}", -1.0)
        else:
            root.add_inequality_gate(f"judge_{a}", 0.0, ">=")
    return root


WORLDS = {"wide": wide, "deep": deep, "crowd": crowd}


def build(name, scale=1.0):
    """The world `name` at `scale` times its standard size."""
    factory = WORLDS[name]
    size = {"wide": 1000, "deep": 2000, "crowd": 10000}[name]
    return factory(max(1, round(size * scale)))
