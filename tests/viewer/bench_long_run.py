"""Prints what a long replay costs: the page's size and the peak memory of `orv play --html`.

    .venv/bin/python tests/viewer/bench_long_run.py [ZONES]

Plays a root with ZONES sub-zones (1,100 by default) of one charge each, which fold one a frame
until the frame limit, in a child interpreter, and prints the page's size, the time taken and the
child's peak resident memory. A figure to watch, not a pass/fail check.
"""

import json
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path


def main(zones=1100):
    world = {"id": "root", "sub_environments": [
        {"id": f"z{i}", "charges": [{"magnitude": i, "polarity": "positive", "visual_id": "c"}]} for i in range(zones)]}
    with tempfile.TemporaryDirectory(prefix="orv-bench-") as tmp:
        level, page = Path(tmp) / "wide.json", Path(tmp) / "wide.html"
        level.write_text(json.dumps(world))
        start = time.perf_counter()
        subprocess.run([sys.executable, "-m", "orv", "play", str(level), "--html", str(page)],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        took = time.perf_counter() - start
        peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
        print(f"{zones} zones, {min(zones, 1000)} frames: page {page.stat().st_size / 1e6:.2f} MB, "
              f"orv play --html {took:.1f} s, peak memory {peak:.0f} MB")


if __name__ == "__main__":
    main(*(int(a) for a in sys.argv[1:2]))
