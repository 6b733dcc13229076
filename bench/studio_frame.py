"""Figures of the web engine: the size of its .js file, and the time of one frame of the wide world
(1,000 zones, 10 charges and 3 agents each) under node and in the studio page in headless Chromium.

    .venv/bin/python bench/studio_frame.py [FRAMES]

Needs the web build (bash scripts/web.sh). The page's figure is a whole frame as the designer sees
it: the engine's step, reading the report, the verdict, drawing the world and a forced layout.
"""

import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import worlds  # noqa: E402

import orv_session  # noqa: E402

from orv import studio, viewer  # noqa: E402

NODE_TIMER = """
const engine = await require(process.argv[1])();
engine.load(require('fs').readFileSync(process.argv[2], 'utf8'));
const times = [];
for (let i = 0; i < Number(process.argv[3]); i++) {
  const t0 = performance.now();
  JSON.parse(engine.step());
  times.push(performance.now() - t0);
}
times.sort((a, b) => a - b);
console.log(times[times.length >> 1]);
"""

PAGE_TIMER = """
const done = arguments[arguments.length - 1], frames = arguments[0], times = [];
for (let i = 0; i < frames; i++) {
  const t0 = performance.now();
  window.orvStudio.step();
  document.body.offsetHeight;
  times.push(performance.now() - t0);
}
done(times);
"""


def main(frames: int = 20) -> int:
    engine = studio.engine_path()
    size = engine.stat().st_size
    print(f"web engine {engine}: {size:,} bytes ({size / 2**20:.2f} MiB; aim < 1 MiB)")
    # The world's JSON read as a bare zone and written back as a level, by the engine.
    session = orv_session.Session()
    session.load(worlds.wide().to_json())
    text = session.level_text("wide", "1,000 zones, 10 charges and 3 agents each")
    with tempfile.TemporaryDirectory(prefix="orv-bench-") as tmp:
        level = Path(tmp) / "wide.json"
        level.write_text(text, encoding="utf-8")
        node = subprocess.run(["node", "-e", f"(async () => {{ {NODE_TIMER} }})()", str(engine), str(level),
                               str(frames)], capture_output=True, text=True, check=True)
        print(f"wide world, one frame under node (step and JSON.parse of the report): "
              f"{float(node.stdout):.1f} ms (median of {frames})")
        page = studio.write_html(Path(tmp) / "studio.html", engine=engine)
        driver = viewer.launch_browser(Path(tmp) / "profile")
        try:
            driver.set_script_timeout(600)
            studio.open_page(driver, page)
            assert driver.execute_script("return window.orvStudio.open(arguments[0], 'wide')", text)
            times = driver.execute_async_script(PAGE_TIMER, frames)
        finally:
            driver.quit()
    print(f"wide world, one frame in the studio page in Chromium (step, verdict, drawing, layout): "
          f"{statistics.median(times):.1f} ms median, {min(times):.1f} ms best of {frames} (aim < 100 ms)")
    return 0


if __name__ == "__main__":
    sys.exit(main(*(int(a) for a in sys.argv[1:])))
