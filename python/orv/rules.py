"""The rules reference (docs/rules.md, shipped in the package as rules.md): the text that
`orv rules [KIND]` prints, and its examples, each a level and what `orv play` tells of it."""

from __future__ import annotations

import re
from importlib import resources

from .levels import KIND_BY_NAME

FENCE = re.compile(r"```json\n(.*?)```\n\n```text\n(.*?)```", re.S)


def reference() -> str:
    return (resources.files("orv") / "rules.md").read_text(encoding="utf-8")


def text(kind: str | None = None) -> str:
    """The whole reference, or the section on one agent kind (named as a level file names it)."""
    whole = reference()
    if kind is None:
        return whole
    lowered = {k.lower(): v for k, v in KIND_BY_NAME.items()}
    name = lowered[kind.lower()].name
    start = whole.index(f"\n### {name}\n") + 1
    end = whole.find("\n## ", start)
    following = whole.find("\n### ", start)
    end = min(e for e in (end, following, len(whole)) if e != -1)
    return whole[start:end].rstrip("\n") + "\n"


def examples(source: str | None = None) -> list[tuple[str, str]]:
    """(level text, what `orv play` tells after its opening lines) for every example."""
    return [(m.group(1), m.group(2)) for m in FENCE.finditer(reference() if source is None else source)]


def told(output: str) -> str:
    """What `orv play` printed, without the title and the world before frame 1."""
    lines = output.splitlines()[1:]
    return "".join(line + "\n" for line in lines if not line.startswith(" " * 6))
