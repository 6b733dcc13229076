"""Replay pages for orv runs.

A `Recorder` takes the parsed frame reports of one run as they come and keeps each as its
changes from the one before, so a long run of a large world makes a small page; `render_html`
and `write_html` do the same for a list of reports. The page is one self-contained HTML file
(inline style and script, the run embedded as JSON, no network). Its frame 0 is the world before
frame 1; it draws zones as nested boxes, charges as tokens and agents as badges, highlights and
scrolls to each frame's event, shows the verdict on the last frame, and steps through the run
with buttons, a scrubber, the arrow keys and a play mode.

The embedded run is {"start": WORLD or null, "frames": [FRAME, ...], "verdict": VERDICT}, where
each FRAME is {"full": REPORT} or {"ops": [OP, ...]}, the changes from the report before it
(from "start" for the first). An OP names a zone by its PATH, the list of sub-zone indices from
the root: ["set", PATH, {KEY: VALUE}] replaces members of that zone (sub_environments aside),
["drop", PATH, [KEY]] removes members, ["splice", PATH, KEY, START, COUNT, ITEMS] replaces
COUNT items of the list member KEY from START by ITEMS, ["del", PATH, I] removes sub-zone I, and
["subs", PATH, [ZONE]] replaces its whole list of sub-zones. VERDICT is what `orv check --json`
prints for the run, without "level".

    python -m orv.viewer [LEVEL] [--html FILE] [--screenshot PNG] [--frame N]

builds the page of a level's run (the first bundled level by default) and can photograph it in
headless Chromium (Debian's chromium and chromium-driver, driven through Selenium, which the
package's optional extra "screenshot" installs).
"""

from __future__ import annotations

import argparse
import html
import json
import math
import os
import re
import sys
from importlib import resources
from pathlib import Path

from orv.files import write_atomic

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--hide-scrollbars", "--force-device-scale-factor=1")
# Variables of sanitizer builds that must not leak into the browser's processes.
_BROWSER_ENV_DROP = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")


class ScreenshotError(RuntimeError):
    """What a screenshot needs and is missing, in one line."""


def _asset(name: str) -> str:
    return (resources.files("orv") / "viewer" / name).read_text(encoding="utf-8")


def _finite(value):
    """A copy of `value` with NaN and infinities replaced by None, as the engine writes them."""
    out = [None]
    stack = [(value, out, 0)]
    while stack:
        item, into, key = stack.pop()
        if isinstance(item, float) and not math.isfinite(item):
            into[key] = None
        elif isinstance(item, dict):
            copy = dict(item)
            into[key] = copy
            stack.extend((v, copy, k) for k, v in item.items())
        elif isinstance(item, (list, tuple)):
            copy = list(item)
            into[key] = copy
            stack.extend((v, copy, i) for i, v in enumerate(item))
        else:
            into[key] = item
    return out[0]


def reports_json(reports) -> str:
    """The reports as JSON text that is safe inside a <script> element.

    Every "<" is written as \\u003c (it only occurs inside strings), so no id can close the
    element or open a comment; non-ASCII text is \\u-escaped, which keeps the page plain ASCII.
    """
    try:
        text = json.dumps(reports, ensure_ascii=True, allow_nan=False, separators=(",", ":"))
    except ValueError:
        text = json.dumps(_finite(reports), ensure_ascii=True, allow_nan=False, separators=(",", ":"))
    return text.replace("<", "\\u003c")


def changes(before: dict, after: dict) -> list:
    """The ops that turn report `before` into report `after` (see the module's docstring)."""
    ops = []
    stack = [(before, after, [])]
    while stack:
        p, c, path = stack.pop()
        if p == c:
            continue
        members = {}
        for k, v in c.items():
            if k == "sub_environments" or (k in p and p[k] == v):
                continue
            edit = _splice(p.get(k), v)
            if edit is None:
                members[k] = v
            else:
                ops.append(["splice", path, k] + edit)
        if members:
            ops.append(["set", path, members])
        dropped = [k for k in p if k not in c]
        if dropped:
            ops.append(["drop", path, dropped])
        ps, cs = p.get("sub_environments"), c.get("sub_environments")
        if ps == cs:
            continue
        pairs = None
        if isinstance(ps, list) and isinstance(cs, list) and len(ps) in (len(cs), len(cs) + 1):
            drop = None
            if len(ps) == len(cs) + 1:  # one sub-zone left: the first whose id no longer matches
                drop = next((i for i, (a, b) in enumerate(zip(ps, cs)) if _id(a) != _id(b)), len(cs))
                ps = ps[:drop] + ps[drop + 1:]
            pairs = [(i, a, b) for i, (a, b) in enumerate(zip(ps, cs)) if a != b]
            if all(isinstance(a, dict) and isinstance(b, dict) for _, a, b in pairs):
                if drop is not None:
                    ops.append(["del", path, drop])
            else:
                pairs = None
        if pairs is None:
            ops.append(["subs", path, cs])
            continue
        stack.extend((a, b, path + [i]) for i, a, b in reversed(pairs))
    return ops


def _id(zone):
    return zone.get("id") if isinstance(zone, dict) else None


def _splice(old, new):
    """[START, COUNT, ITEMS] that turn list `old` into list `new` by replacing the COUNT items
    at START with ITEMS, when they keep some of the list; None otherwise."""
    if not (isinstance(old, list) and isinstance(new, list)) or not old or not new:
        return None
    if new[:len(old)] == old:  # grown at the end, as a fold leaves its parent's charges
        return [len(old), 0, new[len(old):]]
    shortest = min(len(old), len(new))
    head = 0
    while head < shortest and old[head] == new[head]:
        head += 1
    tail = 0
    while tail < shortest - head and old[-1 - tail] == new[-1 - tail]:
        tail += 1
    if head + tail == 0:
        return None
    return [head, len(old) - head - tail, new[head:len(new) - tail]]


class Recorder:
    """Collects one run for a replay page, report by report, holding only the last report whole.
    `start` is the world before frame 1 (a zone's parsed JSON), or None when it is unknown."""

    def __init__(self, start: dict | None = None, verdict=None):
        self.start = start
        self.frames: list = []
        self.last = start
        self.verdict = verdict  # a verdict.Verdict, or None to judge the reports when writing
        self._tracker = None

    def add(self, report: dict) -> None:
        self.frames.append({"full": report} if self.last is None else {"ops": changes(self.last, report)})
        self.last = report

    def data(self) -> dict:
        verdict = self.verdict
        return {"start": self.start, "frames": self.frames,
                "verdict": verdict.as_dict() if verdict is not None else None}

    def html(self, title: str = "") -> str:
        return page(self.data(), title)

    def write(self, path, title: str = "") -> Path:
        return write_atomic(path, self.html(title))


def judge(reports, start=None):
    """The verdict of a run known only by its reports (and the world before it, if known)."""
    from orv.verdict import Tracker

    reports = list(reports)
    if not reports:
        return None
    if start is not None:
        tracker = Tracker(start)
        for report in reports:
            tracker.advance(report)
    else:
        tracker = Tracker(reports[0])
        tracker.begin(reports[0])
        for report in reports[1:]:
            tracker.advance(report)
    return tracker.verdict()


def page(data: dict, title: str = "") -> str:
    """The page template filled with one run's data (the "run" of the module's docstring)."""
    title = title or "orv replay"
    parts = {
        "TITLE": html.escape(str(title), quote=True),
        "CSS": _asset("viewer.css"),
        "JS": _asset("viewer.js"),
        "DATA": reports_json(data),
    }
    # One pass, so text inserted for one placeholder is never scanned for another.
    return re.sub(r"\{\{([A-Z]+)\}\}", lambda m: parts[m.group(1)], _asset("page.html"))


def recorder_for(reports, initial=None, verdict=None) -> Recorder:
    recorder = Recorder(initial)
    for report in reports:
        recorder.add(report)
    recorder.verdict = verdict if verdict is not None else judge(reports, initial)
    return recorder


def render_html(reports, title: str = "", initial=None, verdict=None) -> str:
    """The replay page of one run; `reports` are the parsed frame reports in frame order and
    `initial`, if given, the world before the first frame (a zone's parsed JSON)."""
    return recorder_for(list(reports), initial, verdict).html(title)


def write_html(reports, path, title: str = "", initial=None, verdict=None) -> Path:
    """Writes the replay page of one run to `path` and returns the path."""
    return recorder_for(list(reports), initial, verdict).write(path, title)


def launch_browser(profile_dir, width: int = 1280, height: int = 900):
    """A Selenium driver for headless Chromium with a fresh profile in `profile_dir`.

    Uses the system's chromium and chromedriver (never a downloaded driver) and starts them
    without the preload variables of sanitizer builds.
    """
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        raise ScreenshotError("screenshots need Selenium: install the extra with "
                              "pip install '.[screenshot]' (or pip install selenium)") from None
    for program, package in ((CHROMIUM, "chromium"), (CHROMEDRIVER, "chromium-driver")):
        if not Path(program).exists():
            raise ScreenshotError(f"screenshots need {program}: install the Debian package {package}")

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument(f"--user-data-dir={profile_dir}")
    options.add_argument(f"--window-size={width},{height}")
    env = {k: v for k, v in os.environ.items() if k not in _BROWSER_ENV_DROP}
    return webdriver.Chrome(service=Service(CHROMEDRIVER, env=env), options=options)


def screenshot(html_path, png_path, frame: int = 0, width: int = 1280, height: int = 900) -> Path:
    """Opens a replay page at report `frame` (0-based) and saves a PNG of it."""
    import tempfile

    png_path = Path(png_path)
    with tempfile.TemporaryDirectory(prefix="orv-chromium-") as profile:
        driver = launch_browser(profile, width, height)
        try:
            driver.get(Path(html_path).resolve().as_uri() + f"#frame={int(frame)}")
            # The page's own box: no empty window below a small world.
            write_atomic(png_path, driver.find_element("css selector", "main").screenshot_as_png)
        finally:
            driver.quit()
    return png_path


def level_run(name=None):
    """(title, world before frame 1, reports) of a whole run of a level file or bundled level."""
    title, recorder, reports = _level_recorder(name, keep=True)
    return title, recorder.start, reports


def _level_recorder(name=None, keep=False):
    """(title, Recorder of a whole run with its verdict, the reports if `keep`)."""
    from orv import levels
    from orv.run import Run

    level = levels.load_level(levels.bundled_levels()[0] if name is None else levels.find_level(name))
    run = Run(level)
    recorder = Recorder(run.initial)
    reports = []
    for _, report, _ in run.frames():
        recorder.add(report)
        if keep:
            reports.append(report)
    recorder.verdict = run.verdict()
    return level.title, recorder, reports


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python -m orv.viewer", description=__doc__.split("\n\n")[0])
    parser.add_argument("level", nargs="?", help="level file or bundled level (default: the first one)")
    parser.add_argument("--html", metavar="FILE", help="write the replay page here")
    parser.add_argument("--screenshot", metavar="PNG", help="save a picture of the page here")
    parser.add_argument("--frame", type=int, default=None,
                        help="frame shown in the picture: 0 is the world before frame 1 "
                        "(default: the middle of the run)")
    args = parser.parse_args(argv)
    if not (args.html or args.screenshot):
        parser.error("nothing to do: give --html and/or --screenshot")
    from orv.cli import _writable
    from orv.levels import ToolkitError

    def fail(text: str) -> int:
        print(f"python -m orv.viewer: {text}", file=sys.stderr)
        return 2

    try:
        for path, option in ((args.html, "--html"), (args.screenshot, "--screenshot")):
            if path:
                _writable(path, option)
        title, recorder, _ = _level_recorder(args.level)
    except ToolkitError as err:
        return fail(str(err))
    last = len(recorder.frames)
    if args.frame is not None and not 0 <= args.frame <= last:
        return fail(f"--frame {args.frame}: this run has frames 0 (the world before frame 1) to {last}")
    if args.html:
        try:
            recorder.write(args.html, title)
        except OSError as err:
            return fail(f"--html {args.html}: cannot write the page ({err.strerror or err})")
        print(f"wrote {args.html} (frames 0 to {last})")
    if args.screenshot:
        import tempfile

        frame = last // 2 if args.frame is None else args.frame
        with tempfile.TemporaryDirectory(prefix="orv-viewer-") as tmp:
            page_path = args.html or recorder.write(Path(tmp) / "run.html", title)
            try:
                screenshot(page_path, args.screenshot, frame)
            except ScreenshotError as err:
                return fail(str(err))
            except OSError as err:
                return fail(f"--screenshot {args.screenshot}: cannot write the picture ({err.strerror or err})")
        print(f"wrote {args.screenshot} (frame {frame} of 0 to {last})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
