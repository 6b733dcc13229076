"""Replay pages for orv runs.

`render_html(reports)` turns the parsed frame reports of one run into a single self-contained HTML
page (inline style and script, the reports embedded as JSON, no network); `write_html` saves it.
The page draws zones as nested boxes, charges as tokens and agents as badges, highlights each
frame's event and steps through the run with buttons, a scrubber, the arrow keys and a play mode.

    python -m orv.viewer [LEVEL] [--html FILE] [--screenshot PNG] [--frame N]

builds the page of a level's run (the first bundled level by default) and can photograph it in
headless Chromium (Debian's chromium and chromium-driver, driven through Selenium).
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

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--hide-scrollbars", "--force-device-scale-factor=1")
# Variables of sanitizer builds that must not leak into the browser's processes.
_BROWSER_ENV_DROP = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")


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


def render_html(reports, title: str = "", initial=None) -> str:
    """The replay page of one run; `reports` are the parsed frame reports in frame order.

    `initial`, if given, is the world before the first frame (a zone's parsed JSON); the page
    then places the first frame's event as exactly as every later one.
    """
    title = title or "orv replay"
    parts = {
        "TITLE": html.escape(str(title), quote=True),
        "CSS": _asset("viewer.css"),
        "JS": _asset("viewer.js"),
        "DATA": reports_json(list(reports)),
        "INITIAL": reports_json(initial),
    }
    # One pass, so text inserted for one placeholder is never scanned for another.
    return re.sub(r"\{\{([A-Z]+)\}\}", lambda m: parts[m.group(1)], _asset("page.html"))


def write_html(reports, path, title: str = "", initial=None) -> Path:
    """Writes the replay page of one run to `path` and returns the path."""
    path = Path(path)
    path.write_text(render_html(reports, title, initial), encoding="utf-8")
    return path


def launch_browser(profile_dir, width: int = 1280, height: int = 900):
    """A Selenium driver for headless Chromium with a fresh profile in `profile_dir`.

    Uses the system's chromium and chromedriver (never a downloaded driver) and starts them
    without the preload variables of sanitizer builds.
    """
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

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
            driver.find_element("css selector", "main").screenshot(str(png_path))
        finally:
            driver.quit()
    return png_path


def level_run(name=None):
    """(title, world before frame 1, reports) of a whole run of a level file or bundled level."""
    from orv import levels
    from orv.run import Run

    level = levels.load_level(levels.bundled_levels()[0] if name is None else levels.find_level(name))
    run = Run(level)
    initial = run.world
    return level.title, initial, [report for _, report, _ in run.frames()]


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python -m orv.viewer", description=__doc__.split("\n\n")[0])
    parser.add_argument("level", nargs="?", help="level file or bundled level (default: the first one)")
    parser.add_argument("--html", metavar="FILE", help="write the replay page here")
    parser.add_argument("--screenshot", metavar="PNG", help="save a picture of the page here")
    parser.add_argument("--frame", type=int, default=None,
                        help="report shown in the picture, from 0 (default: the middle of the run)")
    args = parser.parse_args(argv)
    if not (args.html or args.screenshot):
        parser.error("nothing to do: give --html and/or --screenshot")
    from orv.levels import ToolkitError

    try:
        title, initial, reports = level_run(args.level)
    except ToolkitError as err:
        print(f"python -m orv.viewer: {err}", file=sys.stderr)
        return 2
    if args.html:
        write_html(reports, args.html, title, initial)
        print(f"wrote {args.html} ({len(reports)} reports)")
    if args.screenshot:
        import tempfile

        frame = len(reports) // 2 if args.frame is None else args.frame
        with tempfile.TemporaryDirectory(prefix="orv-viewer-") as tmp:
            page = args.html or write_html(reports, Path(tmp) / "run.html", title, initial)
            screenshot(page, args.screenshot, frame)
        print(f"wrote {args.screenshot} (report {frame} of {len(reports)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
