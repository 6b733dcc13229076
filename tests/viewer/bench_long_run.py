"""Prints what a long replay costs: the page's size, the time and peak memory of `orv play --html`,
and in headless Chromium the time the page takes to open (its run inflated and its first frame
drawn) and to show a frame.

    .venv/bin/python tests/viewer/bench_long_run.py [ZONES]

Plays a root with ZONES sub-zones (1,100 by default) of one charge each, which fold one a frame
until the frame limit, in a child interpreter, and prints the page's size, the time taken and the
child's peak resident memory; then opens the page, which tries every frame's changes on the way in,
and times a frame forward and back (the arrow keys and a forced layout), and the jump from the
first frame to the last. Figures to watch, not a pass/fail check.
"""

import json
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from orv import viewer

STEPS = """
const key = (name) => document.dispatchEvent(new KeyboardEvent('keydown', {key: name}));
const time = (name) => { const t0 = performance.now(); key(name); document.body.offsetHeight; return performance.now() - t0; };
const ahead = [], behind = [];
for (let i = 0; i < 50; i++) ahead.push(time('ArrowRight'));
for (let i = 0; i < 50; i++) behind.push(time('ArrowLeft'));
return {ahead: ahead, behind: behind, end: time('End'), home: time('Home')};
"""


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
        driver = viewer.launch_browser(Path(tmp) / "profile")
        try:
            start = time.perf_counter()
            driver.get(page.as_uri())
            while not driver.execute_script("return !!window.orvPage"):  # a long run is inflated first
                time.sleep(0.005)
            driver.execute_script("document.body.offsetHeight")
            opened = time.perf_counter() - start
            found = driver.execute_script(STEPS)
        finally:
            driver.quit()
    print(f"in Chromium: opens in {opened:.2f} s; one frame forward {statistics.median(found['ahead']):.2f} ms median, "
          f"back {statistics.median(found['behind']):.2f} ms median (of 50); from the first frame to the last "
          f"{found['end']:.0f} ms, and back {found['home']:.0f} ms")


if __name__ == "__main__":
    main(*(int(a) for a in sys.argv[1:2]))
