"""Prints how long `orv check` takes on deep chains and a wide level, and how many lines the toolkit has.

    .venv/bin/python bench/toolkit_check.py

Each level is a bare zone written from a generated world (bench/worlds.py); every check runs in a
child `orv` process, timed from start to exit, best of three.
"""

import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
import worlds  # noqa: E402

ROOT = Path(__file__).resolve().parents[1]
ORV = [sys.executable, "-m", "orv"]
LEVELS = {"chain of 500 zones": lambda: worlds.deep(500), "chain of 4,000 zones": lambda: worlds.deep(4000),
          "400 zones, 10 charges and 3 agents each": lambda: worlds.wide(400)}


def toolkit_lines() -> int:
    """Lines of the toolkit's Python and JavaScript, level files and docs aside."""
    files = subprocess.run(["git", "ls-files", "python/orv"], cwd=ROOT, capture_output=True, text=True).stdout.split()
    return sum(len((ROOT / f).read_text(encoding="utf-8").splitlines()) for f in files if f.endswith((".py", ".js")))


def main() -> int:
    with tempfile.TemporaryDirectory(prefix="orv-bench-") as folder:
        for name, make in LEVELS.items():
            path = Path(folder) / "level.json"
            path.write_text(make().to_json(), encoding="utf-8")
            best, out = float("inf"), ""
            for _ in range(3):
                start = time.perf_counter()
                done = subprocess.run(ORV + ["check", "--json", str(path)], capture_output=True, text=True)
                best = min(best, time.perf_counter() - start)
                out = done.stdout.strip() or done.stderr.strip()
            print(f"orv check, {name}: {best:.2f} s  ({out[:100]})")
    print(f"toolkit lines (Python and JavaScript, python/orv): {toolkit_lines():,}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
