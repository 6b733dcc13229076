"""The `orv` command: play, check and view orv levels."""

from __future__ import annotations

import argparse
import importlib
import json
import os
import sys
from pathlib import Path

import orv
import orv_session

from . import files, puzzle
from .files import ToolkitError, writable
from .levels import KIND_BY_NAME, LevelError, bundled_levels, find_level, load_level, parse_level, save_level
from .run import Run, Verdict, check_lines


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
            writable(path, option)
    level = _level_arg(args.level)
    if args.place and not level.pieces:
        raise ToolkitError(f"--place: {level.source} has no pieces to place")
    run = Run(level, args.place)
    if level.pieces and not (args.jsonl or args.changes):  # whose placement the story tells
        _note(puzzle.placement_note(level.title, run.session.placement_lines(), bool(args.place)))
    out, style = sys.stdout, Style(args.color, sys.stdout)
    try:
        recorder = importlib.import_module("orv.viewer").Recorder(run.initial()) if args.html else None
        if not (args.jsonl or args.changes):
            out.write(style("bold", level.title) + (f" - {level.description}" if level.description else "") + "\n")
            for line in run.session.world_lines():
                out.write(f"{'':>5} {line}\n")
        if args.changes:
            out.write(run.session.world() + "\n")
        played = 0
        for frame in run.frames(args.until, reports=args.jsonl):
            if getattr(out, "fault", None) and recorder is None and not args.save:
                break  # nobody reads the narration and no file is asked for
            played += 1
            if recorder is not None:
                recorder.add(frame, run.session.changes())
            if args.jsonl or args.changes:
                out.write((frame.text if args.jsonl else run.session.changes()) + "\n")
                continue
            colour = {"cast": "cast", "fold": "fold"}.get(frame.record["action"], "dim")
            pad = " " * max(2, 48 - len(frame.words))
            out.write(style("dim", f"{run.frame:>5}") + f" {style(colour, frame.words)}{pad}{frame.where}\n")
    except ValueError as err:  # a world nested deeper than its reports or its page can be written
        raise ToolkitError(f"{level.source}: {err}") from None
    verdict = run.verdict()
    if not (args.jsonl or args.changes):
        if played:
            colour = {"solved": "good", "paused": "dim"}.get(verdict.kind, "bad")
            for line in run.session.summary_lines():
                out.write(style(colour, line) + "\n")
        else:
            out.write(style("dim", "Paused before the first frame.") + "\n")
    if args.save:
        try:
            save_level(args.save, run.session, level.title, level.description)
        except OSError as err:
            raise ToolkitError(f"--save {args.save}: cannot write the level ({err.strerror or err})") from None
        except ValueError as err:  # a puzzle whose pieces wait in the tray, after its first frame
            raise ToolkitError(f"--save {args.save}: {err}") from None
        _note(f"Saved the world after frame {run.frame} to {args.save}.")
    if recorder is not None:
        recorder.judged(run.session)
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
        if level.pieces:  # a puzzle: whether some placement of its pieces solves it
            try:
                result, line = puzzle.check_result(level.solve(), label, style)
            except ToolkitError as err:
                result, line = {"level": label, "verdict": "invalid", "frames": 0, "reasons": [str(err)]}, \
                    f"{label}: {style('bad', 'INVALID')} {err}"
            print(json.dumps(result, ensure_ascii=False) if args.json else line)
            status = max(status, {"solvable": 0, "unsolvable": 1}.get(result["verdict"], 2))
            continue
        verdict = Run(level).finish()
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


def read_run(path: str) -> tuple[str | None, list[str]]:
    """(the world before frame 1 or None, the frame reports) of a run file: JSON Lines of frame
    reports (`orv play --jsonl`), or a change stream (`orv play --changes`: the world, then each
    frame's changes), whose reports are given back by applying the changes in turn."""
    try:
        text = files.read_text(path)
    except (OSError, UnicodeDecodeError) as err:
        raise ToolkitError(f"{path}: cannot read the run file ({err})") from None
    lines = [(number, line) for number, line in enumerate(text.splitlines(), 1) if line.strip()]
    if not lines:
        raise ToolkitError(f"{path}: expected frame reports, one a line, found none")
    start = None
    if len(lines) > 1 and lines[1][1].lstrip().startswith("["):
        number, start = lines[0]
        _check_line(path, text, number, start, report=False)
        reports, document = [], start
        for number, patch in lines[1:]:
            try:
                document = orv_session.apply_changes(document, patch)
            except ValueError as err:
                raise ToolkitError(f"{path}: line {number}: {err}") from None
            reports.append(document)
        return start, reports
    for number, line in lines:
        _check_line(path, text, number, line, report=True)
    return None, [line for _, line in lines]


def _check_line(path: str, text: str, number: int, line: str, report: bool) -> None:
    """Refuses a line that is not a frame report (or, `report` false, not a world)."""
    what = "a frame report (a line of `orv play --jsonl`)" if report else \
        "the world before frame 1 (the first line of `orv play --changes`)"
    expected = f"{path}: line {number}: expected {what}"
    session = orv_session.Session()
    try:
        session.load_saved(line.encode("utf-8", "surrogatepass"))
    except orv_session.LevelFault as fault:
        where, wanted, found = fault.args
        found = f", found {found}" if found is not None else ""
        raise ToolkitError(f"{expected}; at {where or '(top level)'}: expected {wanted}{found}"
                           f"{_level_hint(path, text)}") from None
    if report and not session.status:
        raise ToolkitError(f"{expected}, found a zone without the report's meta{_level_hint(path, text)}")


def _level_hint(path: str, text: str) -> str:
    """A pointer to `orv play` when the file is a level rather than a run."""
    try:
        parse_level(text.encode("utf-8", "surrogatepass"), path)
    except LevelError:
        return ""
    return f" (this is a level file: replay it with `orv play {path} --html PAGE`)"


def cmd_view(args) -> int:
    if args.run == "-" and not args.html:
        raise ToolkitError("a run read from standard input (-) needs --html FILE for its page")
    page = args.html or str(Path(args.run).with_suffix(".html"))
    writable(page, "--html")
    start, reports = read_run(args.run)
    viewer = importlib.import_module("orv.viewer")
    recorder = viewer.saved_run(reports, start)
    _write_html(page, Path(args.run).stem, lambda viewer: recorder)
    return 0


def cmd_studio(args) -> int:
    writable(args.html, "--html")
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


def _jobs(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number of workers, found {text!r}") from None
    if not 0 <= value <= 1024:
        raise argparse.ArgumentTypeError(f"expected 0 (one per core) to 1024 workers, found {value}")
    return value


def _kind(text: str) -> str:
    if text.lower() not in {k.lower() for k in KIND_BY_NAME}:
        kinds = ", ".join(sorted({k.kind for k in KIND_BY_NAME.values()}))
        raise argparse.ArgumentTypeError(f"expected an agent kind ({kinds}) or name, found {text!r}")
    return text


class _Version(argparse.Action):
    """--version: the package's version, read only when asked for."""

    def __init__(self, option_strings, dest, **kwargs):
        super().__init__(option_strings, dest, nargs=0, help="print the version and exit")

    def __call__(self, parser, namespace, values, option_string=None):
        print(f"orv {orv.__version__}")
        parser.exit()


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="orv", description="Play, check and view orv levels: numbers in "
                                "nested zones, and the magicians who cast spells on them.")
    p.add_argument("--version", action=_Version)
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")
    colour = argparse.ArgumentParser(add_help=False)
    colour.add_argument("--color", choices=("auto", "always", "never"), default="auto",
                        help="colour the output (auto: on a terminal unless NO_COLOR is set)")

    play = sub.add_parser("play", parents=[colour], help="play a level and tell its story frame by frame",
                          description="Play a level (a file, or a bundled level's name or number; "
                          "the first bundled level when none is given).")
    play.add_argument("level", nargs="?", metavar="LEVEL")
    output = play.add_mutually_exclusive_group()
    output.add_argument("--jsonl", action="store_true", help="print the engine's frame reports, one a line")
    output.add_argument("--changes", action="store_true",
                        help="print the world before frame 1, then each frame's changes (JSON Patch), one a line")
    play.add_argument("--until", type=_frame_count, metavar="N", help="stop after frame N")
    play.add_argument("--save", metavar="FILE", help="save the world where the run stopped as a level")
    play.add_argument("--html", metavar="FILE", help="write a replay page of the run")
    play.add_argument("--place", metavar="ZONE", action="append",
                      help="for a puzzle: the path of the zone to put the next piece into (once for each piece, "
                      "in the level's order; default: where its shortest solution puts them)")
    play.set_defaults(func=cmd_play)

    check = sub.add_parser("check", parents=[colour], help="run levels to the end and say if each is solved",
                           description="Run each level to its end and print a verdict line; of a puzzle, say "
                           "whether some placement of its pieces solves it. Exit status: 0 all solved (or "
                           "solvable), 1 some unsolved, unsolvable or stopped by the frame limit, 2 some invalid.")
    check.add_argument("levels", nargs="*", metavar="LEVEL", help="level files (default: the bundled campaign)")
    check.add_argument("--no-run", action="store_true", help="only check that each file is a valid level")
    check.add_argument("--json", action="store_true",
                       help='print one JSON object a level: {"level", "verdict" (solved, unsolved, limit, '
                       'invalid or valid), "frames", "reasons"}')
    check.set_defaults(func=cmd_check)

    solving = sub.add_parser("solve", help="find how a puzzle's pieces can be placed to solve it",
                             description="Try every placement of a level's pieces (each into one zone that accepts "
                             "pieces), run each to its end and judge it. Prints how many placements solve the "
                             "level and the shortest solution. Exit status: 0 solvable, 1 unsolvable, 2 invalid.")
    solving.add_argument("level", metavar="LEVEL", help="a level file, or a bundled level's name or number")
    solving.add_argument("--first", action="store_true", help="stop at the first solution in the search's order")
    solving.add_argument("--json", action="store_true",
                         help='print one JSON object: {"level", "verdict" (solvable, unsolvable or invalid), '
                         '"placements" (tried), "solutions", "unique", "shortest": {"frames", "zones"} or null}')
    solving.add_argument("--jobs", type=_jobs, default=0, metavar="N", help="workers (default: one per core)")
    solving.set_defaults(func=lambda args: puzzle.command(args, lambda name: load_level(find_level(name))))

    listing = sub.add_parser("list", help="list the bundled levels with their titles")
    listing.set_defaults(func=cmd_list)

    rules = sub.add_parser("rules", help="print the rules of the engine, or those of one agent kind",
                           description="Print the rules reference (docs/rules.md), or its section on one kind.")
    rules.add_argument("kind", nargs="?", metavar="KIND", type=_kind,
                       help="an agent kind as a level file names it (plus, judge, ...) or its display name")
    rules.set_defaults(func=cmd_rules)

    view = sub.add_parser("view", help="write a replay page for a run saved by `orv play --jsonl` or `--changes`")
    view.add_argument("run", metavar="RUN.jsonl")
    view.add_argument("--html", metavar="FILE", help="the page to write (default: RUN.html)")
    view.set_defaults(func=cmd_view)

    studio = sub.add_parser("studio", help="write a page that edits, plays and checks a level in the browser",
                            description="Write one self-contained page with the engine inside: open a level "
                            "file or a bundled level, edit its zones, charges and agents, step or play it, see "
                            "the verdict, and save the level and the run. Needs the web engine, which the package carries "
                            "when it was built with emscripten (or ORV_WEB_ENGINE naming a built orv_web.js).")
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
    except KeyboardInterrupt:  # Ctrl-C: one line, and the status a shell gives an interrupted command
        print("orv: interrupted", file=sys.stderr)
        return 130
    except RecursionError:  # replay pages are built of the run's documents as Python values
        source = getattr(args, "level", None) or getattr(args, "run", None) or "the level"
        print(f"orv: {source}: its world nests too deeply for a replay page (a page holds worlds up to about "
              f"{(sys.getrecursionlimit() - 20) // 2:,} zones deep)", file=sys.stderr)
        return 2
    if out.failure():
        print(f"orv: {out.failure()}", file=sys.stderr)
        return 2
    return status
