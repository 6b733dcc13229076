"""The `orv` command: play, check and view orv levels."""

from __future__ import annotations

import argparse
import importlib
import json
import os
import sys
from pathlib import Path

from . import __version__
from .levels import ToolkitError, bundled_levels, find_level, load_level, save_level
from .run import Run, charges_text, event_text, outcome, world_lines


class Style:
    """ANSI colour on a terminal; plain text when piped, when NO_COLOR is set, or when asked."""

    CODES = {"dim": "2", "bold": "1", "cast": "1;36", "fold": "35", "good": "1;32",
             "bad": "1;31", "warn": "1;33"}

    def __init__(self, choice: str, stream):
        if choice == "auto":
            self.on = stream.isatty() and not os.environ.get("NO_COLOR")
        else:
            self.on = choice == "always"

    def __call__(self, kind: str, text: str) -> str:
        return f"\x1b[{self.CODES[kind]}m{text}\x1b[0m" if self.on else text


def _level_arg(name: str | None):
    return load_level(find_level(name) if name else bundled_levels()[0])


def _note(text: str) -> None:
    print(text, file=sys.stderr)


def _write_html(reports: list, path: str, title: str, **extra) -> None:
    viewer = importlib.import_module("orv.viewer")  # only the replay commands need it
    viewer.write_html(reports, path, title=title, **extra)
    _note(f"Wrote the replay page {path}.")


def cmd_play(args) -> int:
    level = _level_arg(args.level)
    run = Run(level)
    initial = run.world
    out, style = sys.stdout, Style(args.color, sys.stdout)
    reports = []
    if not args.jsonl:
        out.write(style("bold", level.title) + (f" - {level.description}" if level.description else "") + "\n")
        for line in world_lines(run.world):
            out.write(f"{'':>5} {line}\n")
    for text, report, before in run.frames(args.until):
        reports.append(report)
        if args.jsonl:
            out.write(text + "\n")
            continue
        words, zone = event_text(before, report)
        kind = report["meta"]["last_event"]
        kind = kind["type"] if kind else "ERROR"
        colour = {"CAST_SPELL": "cast", "COLLAPSE_ZONE": "fold"}.get(kind, "dim")
        pad = " " * max(2, 48 - len(words))
        out.write(style("dim", f"{report['meta']['frame_index']:>5}") + f" {style(colour, words)}{pad}"
                  f"{charges_text(zone)}\n")
    if not args.jsonl:
        if reports:
            result = outcome(run.world)
            colour = {"solved": "good", "paused": "dim"}.get(result.kind, "bad")
            out.write(style(colour, result.summary(run.world["id"])) + "\n")
        else:
            out.write(style("dim", "Paused before the first frame.") + "\n")
    if args.save:
        save_level(args.save, run.world, level.title, level.description)
        _note(f"Saved the world after frame {run.frame} to {args.save}.")
    if args.html:
        _write_html(reports, args.html, level.title, initial=initial)
    return 0


def cmd_check(args) -> int:
    status = 0
    style = Style(args.color, sys.stdout)
    for name in args.levels or [str(f) for f in bundled_levels()]:
        label = Path(name).name
        try:
            level = load_level(find_level(name))
        except ToolkitError as err:
            print(f"{label}: {style('bad', 'INVALID')} {err}")
            status = 2
            continue
        run = Run(level)
        for _ in run.frames():
            pass
        result = outcome(run.world)
        word, rest = result.verdict()
        print(f"{label}: {style('good' if result.solved else 'bad', word)} {rest}")
        if not result.solved:
            status = max(status, 1)
    return status


def read_run(path: str) -> list:
    """The reports of a run file (JSON Lines, one frame report a line)."""
    try:
        lines = Path(path).read_text(encoding="utf-8").splitlines()
    except (OSError, UnicodeDecodeError) as err:
        raise ToolkitError(f"{path}: cannot read the run file ({err})") from None
    reports = []
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        try:
            report = json.loads(line)
        except json.JSONDecodeError as err:
            raise ToolkitError(f"{path}: line {number}: expected a frame report, found invalid JSON "
                               f"({err.msg[0].lower() + err.msg[1:]} at column {err.colno})") from None
        except RecursionError:
            raise ToolkitError(f"{path}: line {number}: expected a frame report, found JSON nested "
                               "deeper than the reader can follow") from None
        if not isinstance(report, dict) or not isinstance(report.get("meta"), dict):
            raise ToolkitError(f"{path}: line {number}: expected a frame report (an object with meta)")
        reports.append(report)
    if not reports:
        raise ToolkitError(f"{path}: expected frame reports, one a line, found none")
    return reports


def cmd_view(args) -> int:
    reports = read_run(args.run)
    _write_html(reports, args.html or str(Path(args.run).with_suffix(".html")), Path(args.run).stem)
    return 0


def cmd_studio(args) -> int:
    studio = importlib.import_module("orv.studio")
    level = load_level(find_level(args.level)) if args.level else None
    path = studio.write_html(args.html, level)
    _note(f"Wrote the studio page {path}; open it in a browser.")
    return 0


def _frame_count(text: str) -> int:
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must be 0 or more")
    return value


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="orv", description="Play, check and view orv levels: numbers in "
                                "nested zones, and the magicians who cast spells on them.")
    p.add_argument("--version", action="version", version=f"orv {__version__}")
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")
    colour = argparse.ArgumentParser(add_help=False)
    colour.add_argument("--color", choices=("auto", "always", "never"), default="auto",
                        help="colour the output (auto: on a terminal unless NO_COLOR is set)")

    play = sub.add_parser("play", parents=[colour], help="play a level and tell its story frame by frame",
                          description="Play a level (a file, or a bundled level's name or number; "
                          "the first bundled level when none is given).")
    play.add_argument("level", nargs="?", metavar="LEVEL")
    play.add_argument("--jsonl", action="store_true", help="print the engine's frame reports, one a line")
    play.add_argument("--until", type=_frame_count, metavar="N", help="stop after frame N")
    play.add_argument("--save", metavar="FILE", help="save the world where the run stopped as a level")
    play.add_argument("--html", metavar="FILE", help="write a replay page of the run")
    play.set_defaults(func=cmd_play)

    check = sub.add_parser("check", parents=[colour], help="run levels to the end and say if each is solved",
                           description="Run each level to its end and print a verdict line. Exit status: "
                           "0 all solved, 1 some unsolved or stopped by the frame limit, 2 some invalid.")
    check.add_argument("levels", nargs="*", metavar="LEVEL", help="level files (default: the bundled campaign)")
    check.set_defaults(func=cmd_check)

    view = sub.add_parser("view", help="write a replay page for a run saved by `orv play --jsonl`")
    view.add_argument("run", metavar="RUN.jsonl")
    view.add_argument("--html", metavar="FILE", help="the page to write (default: RUN.html)")
    view.set_defaults(func=cmd_view)

    studio = sub.add_parser("studio", help="write a page that edits, plays and checks a level in the browser",
                            description="Write one self-contained page with the engine inside: open a level "
                            "file or a bundled level, edit its zones, charges and agents, step or play it, see "
                            "the verdict, and save the level and the run. Needs the web engine "
                            "(`bash scripts/web.sh`).")
    studio.add_argument("level", nargs="?", metavar="LEVEL", help="the level to start from (default: the first bundled one)")
    studio.add_argument("--html", metavar="FILE", default="studio.html", help="the page to write (default: studio.html)")
    studio.set_defaults(func=cmd_studio)
    return p


def main(argv: list[str] | None = None) -> int:
    args = parser().parse_args(argv)
    try:
        return args.func(args)
    except ToolkitError as err:
        print(f"orv: {err}", file=sys.stderr)
        return 2
    except BrokenPipeError:  # e.g. `orv play | head`
        sys.stderr.close()
        return 1
