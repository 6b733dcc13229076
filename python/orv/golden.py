"""Writes the golden runs of the bundled campaign: one JSON Lines file per level, holding every
report of its whole run exactly as `orv play LEVEL --jsonl` prints it (a puzzle's with its shortest
solution placed), and puzzles.json, what `orv solve --json` says of each level.

    python -m orv.golden tests/toolkit/golden

Run it only after an intended change to the engine's behaviour or to a bundled level, and
review the diff of the golden files before committing them.
"""

import json
import sys
from pathlib import Path

from .files import write_atomic
from .levels import bundled_levels, load_level
from .run import run_texts


def golden_text(level_file) -> str:
    return "".join(text + "\n" for text in run_texts(load_level(level_file)))


def main(argv: list[str]) -> int:
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    folder = Path(argv[0])
    folder.mkdir(parents=True, exist_ok=True)
    for level_file in bundled_levels():
        target = folder / (level_file.name[: -len(".json")] + ".jsonl")
        write_atomic(target, golden_text(level_file))
        print(f"wrote {target}")
    answers = {f.name: load_level(f).solve().as_dict(f.name) for f in bundled_levels()}
    write_atomic(folder / "puzzles.json", json.dumps(answers, indent=2) + "\n")
    print(f"wrote {folder / 'puzzles.json'}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
