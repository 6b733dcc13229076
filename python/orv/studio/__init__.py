"""The studio: one self-contained page that builds, plays and checks a level with the engine itself.

`render_html(level)` inlines the web build of the engine (one JavaScript file with the WebAssembly
inside, made by ``bash scripts/web.sh``), the replay viewer's drawing, the studio's editor, and
every bundled level as the engine writes levels; the engine reads, runs, tells, judges and saves
them in the page, which loads nothing from the network. `orv studio` writes it.

    python -m orv.studio [LEVEL] [--html FILE] [--screenshot PNG] [--frames N] [--select WHAT]

also photographs the page in headless Chromium (as ``python -m orv.viewer`` does), after N frames
or with a zone, charge or agent picked for editing (WHAT: a zone's path as the narration names it,
"door/hearth", then ":charge:N" or ":agent:N" for one of its charges or agents, N from 1).
"""

from __future__ import annotations

import argparse
import html
import json
import os
import re
import sys
from importlib import resources
from pathlib import Path

import orv_session

from ..files import ToolkitError, asset, write_atomic
from ..levels import Level, bundled_levels, find_level, load_level
from ..viewer import reports_json

# Where the engine's web build is looked for: this variable, then the copy that the package carries
# (built with it when emscripten was installed), then scripts/web.sh's build in the source tree that
# the package is installed from (editable installs).
ENGINE_ENV = "ORV_WEB_ENGINE"
ENGINE_NAME = "orv_web.js"
SOURCE_TREE = Path(__file__).resolve().parents[3]
BUILT_ENGINE = SOURCE_TREE / "build" / "web" / "src" / "web" / ENGINE_NAME


class StudioError(ToolkitError):
    """The studio page cannot be written (the web engine is missing)."""


def engine_path() -> Path:
    """The web engine's .js file; a StudioError says in one line what is missing and how to supply it."""
    chosen = os.environ.get(ENGINE_ENV)
    if chosen:
        if Path(chosen).is_file():
            return Path(chosen)
        raise StudioError(f"{ENGINE_ENV} is {chosen}, which is not a file: point it at a built {ENGINE_NAME}")
    shipped = Path(str(resources.files("orv") / "studio" / ENGINE_NAME))
    if shipped.is_file():
        return shipped
    supply = f"set {ENGINE_ENV} to a built {ENGINE_NAME}"
    if (SOURCE_TREE / "scripts" / "web.sh").is_file():  # installed from this source tree
        if BUILT_ENGINE.is_file():
            return BUILT_ENGINE
        raise StudioError(f"the web engine is not built: run `bash scripts/web.sh` (which sets up emscripten too), or {supply}")
    raise StudioError(f"this orv package was built without the web engine (emscripten was not installed): {supply}, "
                      "or reinstall the package on a machine with emscripten (Debian's emscripten and node-acorn)")


def _document(level: Level) -> str:
    """A level as the page holds it: its text as the engine writes a level, numbers exact, a
    puzzle's pieces waiting in its tray for the player (play mode)."""
    session = orv_session.Session()
    session.load(level.text)
    return session.level_text(level.title, level.description)


def _script_safe(text: str, what: str) -> str:
    if re.search(r"</script|<!--", text, re.IGNORECASE):
        raise StudioError(f"{what} contains text that would end its <script> element")
    return text


def render_html(level=None, engine: Path | None = None) -> str:
    """The studio page, opened on `level` (a loaded Level; the first bundled level when None)."""
    engine_text = (engine or engine_path()).read_text(encoding="utf-8")
    bundled = [(f.name[:-5], load_level(f)) for f in bundled_levels()]
    start = level or bundled[0][1]
    start_name = Path(start.source).stem
    parts = {
        "TITLE": html.escape(start.title, quote=True),
        "VIEWER_CSS": asset("viewer", "viewer.css"),
        "CSS": asset("studio", "studio.css"),
        "ENGINE": _script_safe(engine_text, "the web engine"),
        "VIEWER_JS": asset("viewer", "viewer.js"),
        "EDITOR_JS": asset("studio", "editor.js"),
        "PLAY_JS": asset("studio", "play.js"),
        "JS": asset("studio", "studio.js"),
        "LEVELS": reports_json([{"name": name, "text": _document(lv)} for name, lv in bundled]),
        "START": reports_json({"name": start_name, "text": _document(start)}),
    }
    return re.sub(r"\{\{([A-Z_]+)\}\}", lambda m: parts[m.group(1)], asset("studio", "page.html"))


def write_html(path, level=None, engine: Path | None = None) -> Path:
    return write_atomic(path, render_html(level, engine))


def open_page(driver, html_path, timeout: float = 30):
    """Opens a studio page in a Selenium driver and waits until its engine has started."""
    from selenium.webdriver.support.ui import WebDriverWait

    driver.get(Path(html_path).resolve().as_uri())
    WebDriverWait(driver, timeout).until(
        lambda d: d.execute_script("return document.getElementById('studio').dataset.ready === 'true'"
                                   " || !document.querySelector('[data-testid=error]').hidden"))
    error = driver.execute_script("var e = document.querySelector('[data-testid=error]'); return e.hidden ? '' : e.textContent")
    if error:
        raise StudioError(f"the studio page did not start: {error}")


def screenshot(html_path, png_path, frames: int = 0, width: int = 1280, height: int = 900, select: str | None = None,
               place: list[str] | None = None) -> Path:
    """Opens a studio page in headless Chromium, picks `select` for editing, puts a puzzle's pieces
    into the zones `place` names (a path for each), steps `frames` frames and saves a PNG of it."""
    import tempfile

    from ..viewer import launch_browser

    png_path = Path(png_path)
    with tempfile.TemporaryDirectory(prefix="orv-chromium-") as profile:
        driver = launch_browser(profile, width, height)
        try:
            open_page(driver, html_path)
            if select and not driver.execute_script("return window.orvStudio.select(arguments[0])", select):
                raise StudioError(f"--select {select}: the level has no such zone, charge or agent")
            if place:
                driver.execute_script("window.orvPlay.place(arguments[0])", place)
            for _ in range(frames):
                driver.execute_script("window.orvStudio.step()")
            write_atomic(png_path, driver.find_element("css selector", "main").screenshot_as_png)
        finally:
            driver.quit()
    return png_path


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python -m orv.studio", description=__doc__.split("\n\n")[0])
    parser.add_argument("level", nargs="?", help="level file or bundled level (default: the first one)")
    parser.add_argument("--html", metavar="FILE", help="write the studio page here")
    parser.add_argument("--screenshot", metavar="PNG", help="save a picture of the page here")
    parser.add_argument("--frames", type=int, default=0, help="frames to run before the picture (default 0)")
    parser.add_argument("--select", metavar="WHAT", help='pick a zone, charge or agent before the picture, e.g. "door/hearth:charge:1"')
    args = parser.parse_args(argv)
    if not (args.html or args.screenshot):
        parser.error("nothing to do: give --html and/or --screenshot")
    try:
        level = load_level(find_level(args.level)) if args.level else None
        # A run pictured after some frames is a puzzle's shortest solution, as `orv play` plays it.
        place = (level or load_level(bundled_levels()[0])).solution() if args.frames else None
        if args.screenshot:
            import tempfile

            with tempfile.TemporaryDirectory(prefix="orv-studio-") as tmp:
                page = write_html(args.html or Path(tmp) / "studio.html", level)
                screenshot(page, args.screenshot, args.frames, select=args.select, place=place)
        else:
            write_html(args.html, level)
    except (ToolkitError, OSError) as err:
        what = err if isinstance(err, ToolkitError) else f"cannot write {err.filename} ({err.strerror or err})"
        print(f"python -m orv.studio: {what}", file=sys.stderr)
        return 2
    for path in (args.html, args.screenshot):
        if path:
            print(f"wrote {path}")
    return 0
