"""Figures of frames as changes on the wide world (1,000 zones, 10 charges and 3 agents each): patch
bytes against report bytes per frame, and under node the web engine's stepChanges() against step()
and JSON.parse of the report.

    .venv/bin/python bench/changes.py [FRAMES]

The node figures need the web build (bash scripts/web.sh).
"""

import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import worlds  # noqa: E402

import orv_session  # noqa: E402

from orv import studio  # noqa: E402

NODE_TIMER = """
const engine = await require(process.argv[1])();
const level = require('fs').readFileSync(process.argv[2], 'utf8'), frames = Number(process.argv[3]);
const median = (call) => {
  engine.load(level);
  const times = [];
  for (let i = 0; i < frames; i++) { const t0 = performance.now(); call(); times.push(performance.now() - t0); }
  times.sort((a, b) => a - b);
  return times[times.length >> 1];
};
console.log(JSON.stringify({full: median(() => JSON.parse(engine.step())),
                            changes: median(() => JSON.parse(engine.stepChanges()))}));
"""


def main(frames: int = 50) -> int:
    level = orv_session.Session()
    level.load(worlds.wide().to_json())
    text = level.level_text("wide", "1,000 zones, 10 charges and 3 agents each")
    reports, changes = orv_session.Session(), orv_session.Session()
    reports.load(text)
    changes.load(text)
    report_bytes = [len(reports.step().encode()) for _ in range(frames)]
    patch_bytes = [len(changes.step_changes().encode()) for _ in range(frames)]
    ratio = statistics.median(report_bytes) / statistics.median(patch_bytes)
    print(f"wide world, bytes a frame: report {statistics.median(report_bytes):,.0f}, changes "
          f"{statistics.median(patch_bytes):,.0f} (median of {frames}): {ratio:,.0f}x smaller (aim >= 1,000x)")
    with tempfile.TemporaryDirectory(prefix="orv-bench-") as tmp:
        path = Path(tmp) / "wide.json"
        path.write_text(text, encoding="utf-8")
        done = subprocess.run(["node", "-e", f"(async () => {{ {NODE_TIMER} }})()", str(studio.engine_path()),
                               str(path), str(frames)], capture_output=True, text=True, check=True)
    times = __import__("json").loads(done.stdout)
    print(f"wide world under node, one frame: step() and JSON.parse {times['full']:.2f} ms, stepChanges() and "
          f"JSON.parse {times['changes']:.3f} ms (median of {frames}): {times['full'] / times['changes']:,.0f}x "
          "faster (aim >= 100x)")
    return 0


if __name__ == "__main__":
    sys.exit(main(*map(int, sys.argv[1:])))
