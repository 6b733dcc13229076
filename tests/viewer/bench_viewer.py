"""Prints how long the replay page takes to step one frame of a world of a few hundred zones.

    /work/main/.venv/bin/python tests/viewer/bench_viewer.py [ZONES_PER_BRANCH]

Builds 20 reports of a root with 60 branches of N sub-zones each (361 zones for N=5), each zone
with two charges and an agent, and times a frame step (DOM build plus a forced layout) in
headless Chromium. A figure to watch, not a pass/fail check.
"""

import json
import sys
import tempfile

from orv import viewer


def zone(zone_id, subs=()):
    return {"id": zone_id, "is_time_frozen": bool(subs), "sub_environments": list(subs),
            "charges": [{"magnitude": 1.0, "polarity": "positive", "visual_id": "c"},
                        {"magnitude": 2.5, "polarity": "negative", "visual_id": "d"}],
            "agents": [{"name": "Plus Magician", "priority": 10, "state": "dormant", "visual_id": "p"}]}


def main(per_branch=5, frames=20):
    world = zone("root", [zone(f"b{i}", [zone(f"b{i}.{j}") for j in range(per_branch)]) for i in range(60)])
    count = 1 + 60 * (1 + per_branch)
    reports = []
    for f in range(frames):
        report = json.loads(json.dumps(world))
        report["meta"] = {"frame_index": f + 1, "status": "RUNNING", "message": "step", "last_event": None}
        reports.append(report)
    with tempfile.TemporaryDirectory(prefix="orv-bench-") as tmp:
        page = viewer.write_html(reports, f"{tmp}/bench.html")
        driver = viewer.launch_browser(f"{tmp}/profile")
        try:
            driver.get(page.as_uri())
            per_step = driver.execute_script(
                "const n = arguments[0] - 1, t0 = performance.now();"
                "for (let i = 0; i < n; i++) {"
                "  document.dispatchEvent(new KeyboardEvent('keydown', {key: 'ArrowRight'}));"
                "  document.body.offsetHeight; }"
                "return (performance.now() - t0) / n;", frames)
        finally:
            driver.quit()
        size = page.stat().st_size
    print(f"{count} zones, {frames} reports: {per_step:.1f} ms per frame step (build + layout), "
          f"page {size / 1e6:.2f} MB")


if __name__ == "__main__":
    main(*(int(a) for a in sys.argv[1:2]))
