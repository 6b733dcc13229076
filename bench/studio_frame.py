"""Figures of the web engine and the pages: the size of the engine's .js file; one frame of the
wide world (1,000 zones, 10 charges and 3 agents each) under node and in the studio page in
headless Chromium, by phase; the same world at 10,000 zones in the studio and in a replay page.

    .venv/bin/python bench/studio_frame.py [FRAMES] [--skip-10000]

Needs the web build (bash scripts/web.sh). A studio frame is a whole frame as the designer sees it:
the engine's step (its changes), applying them to the page's copy of the world, the verdict,
redrawing the zones they touched, and a forced layout. Its phases: `engine`, the engine's
stepChanges() and JSON.parse of the changes, its record and words, and its verdict, timed on a
second engine in the same page; `apply` and `redraw`, the page's Track applying the changes and
its Drawing following them; `rest`, the studio's own work around them (captions, the verdict
box, the editor's marks); and `layout`. A replay page's frame is a press of the arrow key and a
forced layout. Figures are printed, never held to a bound here.
"""

import json
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import worlds  # noqa: E402

import orv_session  # noqa: E402

from orv import studio, viewer  # noqa: E402
from orv.run import Frame  # noqa: E402

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

# Frames of the studio, forward then back, each with its phases (ms).
STUDIO_TIMER = """
const done = arguments[arguments.length - 1], frames = arguments[0];
const R = window.OrvReplay, forward = R.Track.prototype.forward, back = R.Track.prototype.back;
const follow = R.Drawing.prototype.follow;
let moved = 0, redraw = 0;
const timed = (call) => function () {
  const t0 = performance.now();
  try { return call.apply(this, arguments); } finally { moved += performance.now() - t0; }
};
R.Track.prototype.forward = timed(forward);
R.Track.prototype.back = timed(back);
R.Drawing.prototype.follow = function () {
  const f = follow.call(this), finish = f.done;
  f.done = function () {
    const t0 = performance.now();
    try { return finish.apply(this, arguments); } finally { redraw += performance.now() - t0; }
  };
  return f;
};
const frame = (act) => {
  moved = redraw = 0;
  const t0 = performance.now();
  act();
  const t1 = performance.now();
  document.body.offsetHeight;
  const t2 = performance.now();
  return {total: t2 - t0, page: t1 - t0, apply: moved - redraw, redraw: redraw, layout: t2 - t1};
};
const ahead = [], behind = [];
try {
  for (let i = 0; i < frames; i++) ahead.push(frame(() => window.orvStudio.step()));
  const button = document.querySelector('[data-testid=back]');
  for (let i = 0; i < frames; i++) behind.push(frame(() => button.click()));
} finally {
  R.Track.prototype.forward = forward;
  R.Track.prototype.back = back;
  R.Drawing.prototype.follow = follow;
}
// The engine's part, on an engine of its own in this page.
window.createOrvEngine().then((engine) => {
  engine.load(arguments[1]);
  const calls = [];
  for (let i = 0; i < frames; i++) {
    const t0 = performance.now();
    JSON.parse(engine.stepChanges());
    const t1 = performance.now();
    engine.record(); engine.told();
    const t2 = performance.now();
    engine.verdict();
    calls.push({step: t1 - t0, told: t2 - t1, verdict: performance.now() - t2});
  }
  done({ahead: ahead, behind: behind, engine: calls});
}, (err) => done({error: String(err)}));
"""

REPLAY_TIMER = """
const frames = arguments[0], key = (name) => document.dispatchEvent(new KeyboardEvent('keydown', {key: name}));
const run = (name) => {
  const times = [];
  for (let i = 0; i < frames; i++) {
    const t0 = performance.now();
    key(name);
    document.body.offsetHeight;
    times.push(performance.now() - t0);
  }
  return times;
};
return {ahead: run('ArrowRight'), behind: run('ArrowLeft'), frame: orvPage.frame()};
"""


def median(rows, key):
    return statistics.median(row[key] for row in rows)


def mean(rows, key):
    """The mean, for phases shorter than the page's clock step (0.1 ms): their sum over the frames
    keeps what each reading rounds away."""
    return statistics.fmean(row[key] for row in rows)


def level_text(zones):
    session = orv_session.Session()
    session.load(worlds.wide(zones).to_json())
    return session.level_text("wide", f"{zones:,} zones, 10 charges and 3 agents each")


def studio_frames(driver, page, text, frames, label):
    started = time.perf_counter()
    studio.open_page(driver, page)
    assert driver.execute_script("return window.orvStudio.open(arguments[0], 'wide')", text)
    driver.execute_script("document.body.offsetHeight")
    opened = time.perf_counter() - started
    time.sleep(1)  # the page settles (which chunks of zones are in sight) before a designer steps
    found = driver.execute_async_script(STUDIO_TIMER, frames, text)
    if "error" in found:
        raise SystemExit(f"the studio page failed: {found['error']}")
    ahead, behind, engine = found["ahead"], found["behind"], found["engine"]
    print(f"{label}, studio page in Chromium (opened with the level in {opened:.1f} s):")
    print(f"  one frame forward: {median(ahead, 'total'):.2f} ms median, {min(r['total'] for r in ahead):.2f} ms best, "
          f"{max(r['total'] for r in ahead):.2f} ms worst of {frames} (aim < 10 ms)")
    print(f"    engine (means): stepChanges and JSON.parse {mean(engine, 'step'):.3f} ms, record and words "
          f"{mean(engine, 'told'):.3f} ms, verdict {mean(engine, 'verdict'):.3f} ms")
    rest = statistics.fmean(r["page"] - r["apply"] - r["redraw"] for r in ahead)
    print(f"    page (means): apply {mean(ahead, 'apply'):.3f} ms, redraw {mean(ahead, 'redraw'):.3f} ms, the engine's "
          f"calls and the rest of the page {rest:.2f} ms, layout {mean(ahead, 'layout'):.2f} ms")
    print(f"  one frame back: {median(behind, 'total'):.2f} ms median (means: apply {mean(behind, 'apply'):.3f} ms, "
          f"redraw {mean(behind, 'redraw'):.3f} ms, layout {mean(behind, 'layout'):.2f} ms)")


def replay_page(zones, frames, folder):
    """A replay page of the first `frames` frames of the wide world at `zones` zones, as `orv play
    --html` records a run."""
    session = orv_session.Session()
    session.load(level_text(zones))
    recorder = viewer.Recorder(json.loads(session.world()))
    for _ in range(frames):
        session.advance()
        recorder.add(Frame(None, session.record(), *session.told()), session.changes())
    recorder.judged(session)
    return recorder.write(folder / f"replay_{zones}.html", f"wide {zones}")


def replay_frames(driver, page, frames, label):
    started = time.perf_counter()
    driver.get(page.as_uri())
    driver.execute_script("document.body.offsetHeight")
    opened = time.perf_counter() - started
    time.sleep(1)
    found = driver.execute_script(REPLAY_TIMER, frames)
    ahead, behind = found["ahead"], found["behind"]
    print(f"{label}, replay page in Chromium: page {page.stat().st_size / 1e6:.1f} MB, opened in {opened:.1f} s; one frame "
          f"forward {statistics.median(ahead):.2f} ms median ({max(ahead):.2f} ms worst), back "
          f"{statistics.median(behind):.2f} ms median, of {frames} (aim < 10 ms)")


def main(frames: int = 20, large: bool = True) -> int:
    engine = studio.engine_path()
    size = engine.stat().st_size
    print(f"web engine {engine}: {size:,} bytes ({size / 2**20:.2f} MiB; aim < 1 MiB)")
    text = level_text(1000)
    with tempfile.TemporaryDirectory(prefix="orv-bench-") as tmp:
        folder = Path(tmp)
        level = folder / "wide.json"
        level.write_text(text, encoding="utf-8")
        node = subprocess.run(["node", "-e", f"(async () => {{ {NODE_TIMER} }})()", str(engine), str(level),
                               str(frames)], capture_output=True, text=True, check=True)
        print(f"wide world, one frame under node (step and JSON.parse of the whole report): "
              f"{float(node.stdout):.1f} ms (median of {frames})")
        page = studio.write_html(folder / "studio.html", engine=engine)
        driver = viewer.launch_browser(folder / "profile")
        try:
            driver.set_script_timeout(900)
            studio_frames(driver, page, text, frames, "wide world (1,000 zones)")
            if large:
                studio_frames(driver, page, level_text(10_000), frames, "wide world at 10,000 zones")
                replay_frames(driver, replay_page(10_000, 2 * frames, folder), frames, "wide world at 10,000 zones")
        finally:
            driver.quit()
    return 0


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    sys.exit(main(*(int(a) for a in args), large="--skip-10000" not in sys.argv))
