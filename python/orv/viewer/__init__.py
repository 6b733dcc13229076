"""Replay pages for orv runs.

A `Recorder` takes the frames of one run as they come and keeps each as the engine's changes
from the one before, so a long run of a large world makes a small page; `render_html` and
`write_html` do the same for a list of reports, which the engine runs again. The page is one self-contained HTML file
(inline style and script, the run embedded as JSON, deflated for a long run, no network; `page_data`
reads it back). Its frame 0 is the world before
frame 1; it draws zones as nested boxes, charges as tokens and agents as badges, highlights and
scrolls to each frame's event, shows the verdict on the last frame, and steps through the run
with buttons, a scrubber, the arrow keys and a play mode.

The embedded run is {"start": WORLD or null, "frames": [FRAME, ...], "verdict": VERDICT}, where
each FRAME is {"full": REPORT} (the first frame of a run whose start is unknown) or {"changes":
PATCH}, the engine's JSON Patch from the report before it (from "start" for the first; see
docs/changes.md), with "record", where the engine says the frame acted ({"action": "cast", "fold",
"finish" or null, "zone": PATH, "index": I}), and "told": [WORDS, WHERE], the frame in words as the
terminal tells it. VERDICT is what `orv check --json` prints for the run, without "level", with
its "word" as the status shows it ("SOLVED", "FRAME LIMIT") and its "heading", the first of the
engine's closing lines ("Solved in 4 frames: ...").

    python -m orv.viewer [LEVEL] [--html FILE] [--screenshot PNG] [--frame N]

builds the page of a level's run (the first bundled level by default) and can photograph it in
headless Chromium (Debian's chromium and chromium-driver, driven through Selenium, which the
package's optional extra "screenshot" installs).
"""

from __future__ import annotations

import argparse
import base64
import html
import json
import math
import os
import re
import sys
import zlib
from pathlib import Path
from typing import Any

import orv_session

from ..files import ToolkitError, asset, writable, write_atomic
from ..levels import bundled_levels, find_level, load_level
from ..run import Frame, Run, Verdict


CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--hide-scrollbars", "--force-device-scale-factor=1")
# Variables of sanitizer builds that must not leak into the browser's processes.
_BROWSER_ENV_DROP = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")


class ScreenshotError(RuntimeError):
    """What a screenshot needs and is missing, in one line."""


def _finite(value):
    """A copy of `value` with NaN and infinities replaced by None, as the engine writes them."""
    out: list[Any] = [None]
    stack: list[tuple[Any, Any, Any]] = [(value, out, 0)]
    while stack:
        item, into, key = stack.pop()
        if isinstance(item, float) and not math.isfinite(item):
            into[key] = None
        elif isinstance(item, dict):
            copy = dict(item)
            into[key] = copy
            stack.extend((v, copy, k) for k, v in item.items())
        elif isinstance(item, (list, tuple)):
            items = list(item)
            into[key] = items
            stack.extend((v, items, i) for i, v in enumerate(item))
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


class Recorder:
    """Collects one run for a replay page, frame by frame, each as the engine's changes.
    `start` is the world before frame 1 (a zone's parsed JSON), or None when it is unknown."""

    def __init__(self, start: dict | None = None, verdict: Verdict | None = None):
        self.start = start
        self.frames: list = []
        self.verdict = verdict
        self.heading = ""

    def add(self, frame: Frame, changes: str) -> None:
        """Takes the frame that has just run and its changes (the session's `changes()`)."""
        entry: dict = {"full": frame.report} if self.start is None and not self.frames else \
            {"changes": json.loads(changes)}
        entry["record"] = {k: frame.record[k] for k in ("action", "zone", "index")}
        entry["told"] = [frame.words, frame.where]
        self.frames.append(entry)

    def judged(self, session) -> None:
        """Takes the verdict of the run that `session` (an orv_session.Session) has played, and the
        heading of its closing lines."""
        self.verdict = Verdict.of(session.verdict())
        self.heading = session.summary_lines()[0]

    def data(self) -> dict:
        verdict = self.verdict
        return {"start": self.start, "frames": self.frames,
                "verdict": verdict.as_dict() | {"word": verdict.word, "heading": self.heading}
                if verdict is not None else None}

    def html(self, title: str = "") -> str:
        return page(self.data(), title)

    def write(self, path, title: str = "") -> Path:
        return write_atomic(path, self.html(title))


def _text(value) -> str:
    return value if isinstance(value, str) else json.dumps(value, ensure_ascii=False)


def saved_run(reports, start=None) -> Recorder:
    """The Recorder of a run known only by its reports and, if known, the world before them (texts
    or parsed JSON): the engine runs it again from there, so that every frame is placed and told as
    in a live run, and judges it; a report that does not follow from the one before is taken as it
    stands."""
    texts = [_text(r).encode("utf-8", "surrogatepass") for r in reports]
    session = orv_session.Session()
    if start is not None:
        session.load(_text(start).encode("utf-8", "surrogatepass"))
        recorder = Recorder(json.loads(session.world()))
    else:
        session.load_saved(texts[0])
        recorder = Recorder(None)
        recorder.add(Frame(texts[0].decode("utf-8", "surrogatepass"), session.record(), *session.told()), "")
        texts = texts[1:]
    for text in texts:
        session.follow_saved(text)
        recorder.add(Frame(None, session.record(), *session.told()), session.changes())
    recorder.judged(session)
    return recorder


def judge(reports, start=None) -> Verdict | None:
    """The verdict of a run known only by its reports (and the world before it, if known)."""
    reports = list(reports)
    return saved_run(reports, start).verdict if reports else None


# Runs whose data is longer are embedded deflated (raw DEFLATE in base64), which the page inflates
# as it opens: a long run repeats itself from frame to frame, so its page shrinks several times.
DEFLATED_FROM = 256 * 1024


def embedded_data(data: dict) -> tuple[str, str]:
    """The run's data as the page embeds it, and its encoding: "json", or "deflate-raw" for a long run."""
    text = reports_json(data)
    if len(text) < DEFLATED_FROM:
        return text, "json"
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return base64.b64encode(packer.compress(text.encode("ascii")) + packer.flush()).decode("ascii"), "deflate-raw"


def page_data(page_text: str) -> dict:
    """The run that a replay page's text holds (for scripts that read pages back)."""
    found = re.search(r'<script type="application/json" id="orv-run" data-encoding="([a-z-]+)">(.*?)</script>',
                      page_text, re.S)
    if found is None:
        raise ValueError("the text is not a replay page: it holds no run")
    encoding, text = found.groups()
    if encoding == "deflate-raw":
        text = zlib.decompress(base64.b64decode(text), -15).decode("ascii")
    return json.loads(text)


def page(data: dict, title: str = "") -> str:
    """The page template filled with one run's data (the "run" of the module's docstring)."""
    title = title or "orv replay"
    text, encoding = embedded_data(data)
    parts = {
        "TITLE": html.escape(str(title), quote=True),
        "CSS": asset("viewer", "viewer.css"),
        "JS": asset("viewer", "viewer.js"),
        "ENCODING": encoding,
        "DATA": text,
    }
    # One pass, so text inserted for one placeholder is never scanned for another.
    return re.sub(r"\{\{([A-Z]+)\}\}", lambda m: parts[m.group(1)], asset("viewer", "page.html"))


def render_html(reports, title: str = "", initial=None) -> str:
    """The replay page of one run; `reports` are the frame reports in frame order and `initial`, if
    given, the world before the first frame (a zone's parsed JSON)."""
    return saved_run(list(reports), initial).html(title)


def write_html(reports, path, title: str = "", initial=None) -> Path:
    """Writes the replay page of one run to `path` and returns the path."""
    return saved_run(list(reports), initial).write(path, title)


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
    level = load_level(bundled_levels()[0] if name is None else find_level(name))
    run = Run(level)
    recorder = Recorder(run.initial())
    reports = []
    for frame in run.frames(reports=keep):
        recorder.add(frame, run.session.changes())
        if keep:
            reports.append(frame.report)
    recorder.judged(run.session)
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

    def fail(text: str) -> int:
        print(f"python -m orv.viewer: {text}", file=sys.stderr)
        return 2

    try:
        for path, option in ((args.html, "--html"), (args.screenshot, "--screenshot")):
            if path:
                writable(path, option)
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
