"""Helpers for the orv_engine tests. Charges are written compactly as "+3 -5 ~0": the polarity
(+ positive, - negative, ~ neutral) followed by the magnitude."""
import json

import orv_engine as oe
import pytest

SIGN = {"+": oe.POSITIVE, "-": oe.NEGATIVE, "~": oe.NEUTRAL}
MARK = {"positive": "+", "negative": "-", "neutral": "~"}


def build_zone(zone_id, charges=""):
    """A zone holding the charges of `charges`, with visual ids a, b, c, ... in order."""
    zone = oe.Environment(zone_id)
    for i, token in enumerate(charges.split()):
        zone.add_charge(float(token[1:]), SIGN[token[0]], chr(ord("a") + i))
    return zone


def show(charges):
    """JSON charges (a list of dicts, or a zone) as "+3:a -5:b"; 6 significant digits, null for inf or NaN."""
    if isinstance(charges, oe.Environment):
        charges = json.loads(charges.to_json())["charges"]
    return " ".join(f"{MARK[c['polarity']]}{'null' if c['magnitude'] is None else format(c['magnitude'], 'g')}"
                    f":{c['visual_id']}" for c in charges)


@pytest.fixture
def zone():
    return build_zone


@pytest.fixture
def shown():
    return show


@pytest.fixture
def step():
    """Runs one frame and returns the parsed report."""
    return lambda seq: json.loads(seq.next_frame())
