"""The `orv` command: play, check and view orv levels."""

from __future__ import annotations

import argparse
import importlib
import json
import os
import sys
from pathlib import Path

from . import __version__, files
from .levels import KIND_BY_NAME, LevelError, ToolkitError, bundled_levels, find_level, load_level, \
    parse_json, parse_level, save_level
from .run import Run, check_lines, event_text, summary, world_lines
from .verdict import Tracker


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


def _writable(path: str, option: str) -> None:
    """Refuses, before anything runs, an output path that cannot be written as a file."""
    target = Path(path)
    folder = target.parent
    if target.is_dir():
        raise ToolkitError(f"{option} {path}: that is a folder; give a file name")
    if not folder.is_dir():
        what = "is not a folder" if folder.exists() else "does not exist"
        raise ToolkitError(f"{option} {path}: cannot write there, the folder {folder} {what}")
    if not os.access(folder, os.W_OK) or (target.exists() and not os.access(target, os.W_OK)):
        raise ToolkitError(f"{option} {path}: cannot write there, permission denied")


def _write_html(path: str, title: str, build) -> None:
    viewer = importlib.import_module("orv.viewer")  # only the replay commands need it
    try:
        build(viewer).write(path, title)
    except OSError as err:
        raise ToolkitError(f"--html {path}: cannot write the page ({err.strerror or err})") from None
    _note(f"Wrote the replay page {path}.")


def cmd_play(args) -> int:
    for path, option in ((args.save, "--save"), (args.html, "--html")):
        if path:
            _writable(path, option)
    level = _level_arg(args.level)
    run = Run(level)
    out, style = sys.stdout, Style(args.color, sys.stdout)
    recorder = importlib.import_module("orv.viewer").Recorder(run.initial) if args.html else None
    if not args.jsonl:
        out.write(style("bold", level.title) + (f" - {level.description}" if level.description else "") + "\n")
        for line in world_lines(run.world):
            out.write(f"{'':>5} {line}\n")
    played = 0
    for text, report, event in run.frames(args.until):
        if getattr(out, "fault", None) and recorder is None and not args.save:
            break  # nobody reads the narration and no file is asked for
        played += 1
        if recorder is not None:
            recorder.add(report)
        if args.jsonl:
            out.write(text + "\n")
            continue
        words, where = event_text(event, report)
        colour = {"CAST_SPELL": "cast", "COLLAPSE_ZONE": "fold"}.get(event.type, "dim")
        pad = " " * max(2, 48 - len(words))
        out.write(style("dim", f"{report['meta']['frame_index']:>5}") + f" {style(colour, words)}{pad}{where}\n")
    verdict = run.verdict()
    if not args.jsonl:
        if played:
            colour = {"solved": "good", "paused": "dim"}.get(verdict.kind, "bad")
            for line in summary(verdict, run.tracker.name(run.tracker.root)):
                out.write(style(colour, line) + "\n")
        else:
            out.write(style("dim", "Paused before the first frame.") + "\n")
    if args.save:
        try:
            save_level(args.save, run.world, level.title, level.description)
        except OSError as err:
            raise ToolkitError(f"--save {args.save}: cannot write the level ({err.strerror or err})") from None
        _note(f"Saved the world after frame {run.frame} to {args.save}.")
    if recorder is not None:
        recorder.verdict = verdict
        _write_html(args.html, level.title, lambda viewer: recorder)
    return 0


def cmd_check(args) -> int:
    status = 0
    style = Style("never" if args.json else args.color, sys.stdout)
    for name in args.levels or [str(f) for f in bundled_levels()]:
        label = Path(name).name
        try:
            level = load_level(find_level(name))
        except ToolkitError as err:
            if args.json:
                print(json.dumps({"level": label, "verdict": "invalid", "frames": 0, "reasons": [str(err)]}))
            else:
                print(f"{label}: {style('bad', 'INVALID')} {err}")
            status = 2
            continue
        if args.no_run:
            if args.json:
                print(json.dumps({"level": label, "verdict": "valid", "frames": 0, "reasons": []}))
            else:
                print(f"{label}: {style('good', 'valid')} (not run)")
            continue
        run = Run(level)
        for _ in run.frames():
            pass
        verdict = run.verdict()
        if args.json:
            print(json.dumps({"level": label} | verdict.as_dict(), ensure_ascii=False))
        else:
            print("\n".join(check_lines(verdict, label, style)))
        if not verdict.solved:
            status = max(status, 1)
    return status


def cmd_list(args) -> int:
    for f in bundled_levels():
        stem = f.name[: -len(".json")]
        number, _, story = stem.partition("_")
        try:
            title = load_level(f).title
        except ToolkitError as err:  # a damaged installation
            title = f"(invalid: {err})"
        print(f"{number:>3}  {story:<20} {title}")
    return 0


def cmd_rules(args) -> int:
    from . import rules

    print(rules.text(args.kind), end="")
    return 0


ZONE_FIELDS = {"id": str, "charges": list, "agents": list, "sub_environments": list, "is_time_frozen": bool}


def _number(value) -> bool:
    """A number as reports write it (null for NaN and the infinities)."""
    return value is None or (isinstance(value, (int, float)) and not isinstance(value, bool))


def _report_problem(report) -> str | None:
    """What keeps a parsed line from being a frame report, or None."""
    if not isinstance(report, dict):
        return "JSON that is not an object"
    meta = report.get("meta")
    if not isinstance(meta, dict):
        return "an object without the report's meta"
    if type(meta.get("frame_index")) is not int or not isinstance(meta.get("status"), str) \
            or not (meta.get("last_event") is None or isinstance(meta.get("last_event"), dict)):
        return "a meta object without frame_index, status and last_event"
    stack = [(report, "the world")]
    while stack:
        zone, where = stack.pop()
        if not isinstance(zone, dict):
            return f"{where} that is not a zone object"
        for key, kind in ZONE_FIELDS.items():
            if not isinstance(zone.get(key), kind):
                return f"{where} without a valid {key}"
        if not all(isinstance(c, dict) and _number(c.get("magnitude")) and isinstance(c.get("polarity"), str)
                   and isinstance(c.get("visual_id"), str) for c in zone["charges"]):
            return f"a charge of zone {zone['id']!r} without a numeric magnitude, polarity and visual_id"
        if not all(isinstance(a, dict) and isinstance(a.get("name"), str) and isinstance(a.get("visual_id"), str)
                   and _number(a.get("target_value")) for a in zone["agents"]):
            return f"an agent of zone {zone['id']!r} without name and visual_id, or with a target that is not a number"
        stack.extend((sub, f"a sub-zone of zone {zone['id']!r}") for sub in zone["sub_environments"])
    return None


def _level_hint(path: str, text: str) -> str:
    """A pointer to `orv play` when the file is a level rather than a run."""
    try:
        parse_level(parse_json(text, path), path)
    except (LevelError, RecursionError):
        return ""
    return f" (this is a level file: replay it with `orv play {path} --html PAGE`)"


def read_run(path: str) -> list:
    """The reports of a run file (JSON Lines, one frame report a line)."""
    try:
        text = files.read_text(path)
    except (OSError, UnicodeDecodeError) as err:
        raise ToolkitError(f"{path}: cannot read the run file ({err})") from None
    reports = []
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        expected = f"{path}: line {number}: expected a frame report (a line of `orv play --jsonl`)"
        try:
            report = json.loads(line)
        except json.JSONDecodeError as err:
            raise ToolkitError(f"{expected}, found invalid JSON ({err.msg[0].lower() + err.msg[1:]} "
                               f"at column {err.colno}){_level_hint(path, text)}") from None
        except (RecursionError, ValueError):
            raise ToolkitError(f"{expected}, found JSON nested too deep or numbers too long "
                               "for the reader") from None
        problem = _report_problem(report)
        if problem:
            raise ToolkitError(f"{expected}, found {problem}{_level_hint(path, text)}")
        reports.append(report)
    if not reports:
        raise ToolkitError(f"{path}: expected frame reports, one a line, found none")
    return reports


def cmd_view(args) -> int:
    if args.run == "-" and not args.html:
        raise ToolkitError("a run read from standard input (-) needs --html FILE for its page")
    page = args.html or str(Path(args.run).with_suffix(".html"))
    _writable(page, "--html")
    reports = read_run(args.run)
    tracker = Tracker(reports[0])
    tracker.begin(reports[0])
    for report in reports[1:]:
        tracker.advance(report)

    def build(viewer):
        recorder = viewer.Recorder(None)
        for report in reports:
            recorder.add(report)
        recorder.verdict = tracker.verdict()
        return recorder

    _write_html(page, Path(args.run).stem, build)
    return 0


def cmd_studio(args) -> int:
    _writable(args.html, "--html")
    studio = importlib.import_module("orv.studio")
    level = load_level(find_level(args.level)) if args.level else None
    try:
        path = studio.write_html(args.html, level)
    except OSError as err:
        raise ToolkitError(f"--html {args.html}: cannot write the page ({err.strerror or err})") from None
    _note(f"Wrote the studio page {path}; open it in a browser.")
    return 0


def _frame_count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number of frames, found {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected 0 or more frames, found {value}")
    return value


def _kind(text: str) -> str:
    if text.lower() not in {k.lower() for k in KIND_BY_NAME}:
        kinds = ", ".join(sorted({k.kind for k in KIND_BY_NAME.values()}))
        raise argparse.ArgumentTypeError(f"expected an agent kind ({kinds}) or name, found {text!r}")
    return text


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
    check.add_argument("--no-run", action="store_true", help="only check that each file is a valid level")
    check.add_argument("--json", action="store_true",
                       help='print one JSON object a level: {"level", "verdict" (solved, unsolved, limit, '
                       'invalid or valid), "frames", "reasons"}')
    check.set_defaults(func=cmd_check)

    listing = sub.add_parser("list", help="list the bundled levels with their titles")
    listing.set_defaults(func=cmd_list)

    rules = sub.add_parser("rules", help="print the rules of the engine, or those of one agent kind",
                           description="Print the rules reference (docs/rules.md), or its section on one kind.")
    rules.add_argument("kind", nargs="?", metavar="KIND", type=_kind,
                       help="an agent kind as a level file names it (plus, judge, ...) or its display name")
    rules.set_defaults(func=cmd_rules)

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
        with files.guarded_stdout() as out:  # `orv play | head`: the output ends, the rest is done
            status = args.func(args)
    except ToolkitError as err:
        print(f"orv: {err}", file=sys.stderr)
        return 2
    except BrokenPipeError:  # standard error closed by its reader
        sys.stderr.close()
        return 1
    if out.failure():
        print(f"orv: {out.failure()}", file=sys.stderr)
        return 2
    return status
