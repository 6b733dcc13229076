"""The toolkit's files and streams, attacked in child processes: inputs that are not regular files,
writes that are interrupted or fail, and a standard output that is closed, full or read in part."""

import json
import os
import signal
import socket
import stat
import subprocess
import sys
import textwrap

import pytest

from orv.files import MAX_INPUT, write_atomic

ORV = [sys.executable, "-m", "orv"]


def orv(*args, **options):
    if "stdout" not in options:
        options["capture_output"] = True
    options.setdefault("stdin", None if "input" in options else subprocess.DEVNULL)
    return subprocess.run(ORV + [str(a) for a in args], text=True, timeout=120, **options)


def make_input(kind, path):
    """The hostile input `kind` at `path` (or the device it names); the words of its refusal."""
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "socket":
        with socket.socket(socket.AF_UNIX) as bound:
            bound.bind(str(path))  # the file stays after the socket closes
    elif kind == "folder":
        path.mkdir()
    elif kind == "huge":
        with open(path, "wb") as sparse:
            sparse.truncate(MAX_INPUT + 1)
        return path, f"a file of {MAX_INPUT + 1:,} bytes, more than the {MAX_INPUT:,} bytes (1 GiB)"
    else:
        return kind, "a character device, not a regular file"
    return path, {"fifo": "a named pipe", "socket": "a socket", "folder": "a folder"}[kind] + ", not a regular file"


@pytest.mark.parametrize("kind", ["fifo", "socket", "folder", "huge", "/dev/zero", "/dev/null"])
@pytest.mark.parametrize("command", ["check", "play", "view"])
def test_inputs_that_are_not_regular_files_are_refused_in_one_line(tmp_path, command, kind):
    path, words = make_input(kind, tmp_path / kind)
    done = orv(command, path, *(["--html", tmp_path / "page.html"] if command == "view" else []))
    said = done.stdout if command == "check" else done.stderr
    assert done.returncode == 2 and "Traceback" not in done.stderr
    assert len(said.splitlines()) == 1 and str(path) in said and words in said, said


def test_a_dash_reads_standard_input(tmp_path):
    level = json.dumps({"id": "r", "charges": [{"magnitude": 2, "polarity": "positive", "visual_id": "a"}]})
    assert orv("check", "-", input=level).stdout == "-: solved in 1 frame\n"
    run = orv("play", "1", "--jsonl").stdout
    assert orv("view", "-", "--html", tmp_path / "page.html", input=run).returncode == 0
    assert orv("view", "-", input=run).stderr == "orv: a run read from standard input (-) needs --html FILE for its page\n"


@pytest.mark.parametrize("how, status, said", [
    ("SIGTERM", -signal.SIGTERM, ""),
    ("Ctrl-C", 130, "orv: interrupted\n"),
    ("file too large", 2, "orv: --save {target}: cannot write the level (File too large)\n"),
    ("nothing", 0, "Saved the world after frame 11 to {target}.\n"),
])
def test_a_saved_level_is_whole_or_the_old_file_stays_and_no_temporary_file(tmp_path, how, status, said):
    target = tmp_path / "level.json"
    target.write_text("the old content\n")
    target.chmod(0o640)
    done = subprocess.run([sys.executable, "-c", textwrap.dedent("""
        import os, resource, signal, sys
        from orv.cli import main
        how, real_fsync = sys.argv[1], os.fsync
        def fsync(handle):  # just before the rename
            if how == "SIGTERM":
                os.kill(os.getpid(), signal.SIGTERM)
            if how == "Ctrl-C":
                raise KeyboardInterrupt
            real_fsync(handle)
        os.fsync = fsync
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        if how == "file too large":
            resource.setrlimit(resource.RLIMIT_FSIZE, (200, resource.RLIM_INFINITY))
        sys.exit(main(["play", "10", "--save", sys.argv[2]]))
    """), how, target], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=120)
    assert done.returncode == status and said.format(target=target) in done.stderr, done.stderr
    assert (target.read_text() == "the old content\n") is (how != "nothing")
    assert stat.S_IMODE(target.stat().st_mode) == 0o640 and os.listdir(tmp_path) == ["level.json"]


def test_writes_go_through_links_and_never_replace_what_is_not_a_regular_file(tmp_path):
    (tmp_path / "real.json").write_text("old")
    (tmp_path / "link.json").symlink_to(tmp_path / "real.json")
    write_atomic(tmp_path / "link.json", "new")
    write_atomic(tmp_path / ("n" * 255), "a name as long as a folder takes")
    assert (tmp_path / "link.json").is_symlink() and (tmp_path / "real.json").read_text() == "new"
    assert sorted(os.listdir(tmp_path)) == ["link.json", "n" * 255, "real.json"]
    write_atomic("/dev/null", b"discarded")
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)
    with pytest.raises(OSError, match="No space left"):
        write_atomic("/dev/full", "lost")
    assert orv("play", "01", "--html", "/dev/stdout").stdout.rstrip().endswith("</html>")


def test_a_reader_that_leaves_ends_the_output_and_the_files_are_still_written_whole(tmp_path):
    glass = {"id": "hourglass", "charges": [{"magnitude": 1, "polarity": "negative", "visual_id": "sand"}],
             "agents": [{"name": "abs", "visual_id": f"p{i}"} for i in range(1001)]}
    level = tmp_path / "endless.json"  # 1,000 frames: the output fills a pipe many times over
    level.write_text(json.dumps({"id": "desert", "sub_environments": [glass]}))
    for extra in ([], ["--jsonl"]):
        whole = orv("play", level, *extra, "--html", tmp_path / "whole.html", "--save", tmp_path / "whole.json")
        child = subprocess.Popen(ORV + ["play", str(level), *extra, "--html", str(tmp_path / "cut.html"), "--save",
                                        str(tmp_path / "cut.json")], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        child.stdout.readline()  # `| head -1`
        child.stdout.close()
        assert child.wait(timeout=120) == 0 and child.stderr.read().decode() == whole.stderr.replace("whole", "cut")
        for suffix in (".html", ".json"):
            assert (tmp_path / f"cut{suffix}").read_text() == (tmp_path / f"whole{suffix}").read_text()
    quiet = subprocess.run(f"{sys.executable} -m orv play {level} | head -1", shell=True, capture_output=True, timeout=120)
    assert quiet.stderr == b"" and len(quiet.stdout.splitlines()) == 1


def test_a_standard_output_that_fails_is_one_line_and_status_2(tmp_path):
    with open("/dev/full", "w") as full:
        checked = orv("check", "--json", "01", stdout=full, stderr=subprocess.PIPE)
        played = orv("play", "01", "--save", tmp_path / "s.json", stdout=full, stderr=subprocess.PIPE)
    failure = "orv: cannot write to standard output (No space left on device)\n"
    assert (checked.returncode, checked.stderr) == (2, failure)
    assert played.returncode == 2 and played.stderr.endswith(failure) and (tmp_path / "s.json").stat().st_size > 0
    closed = subprocess.run(["sh", "-c", 'exec "$@" >&-', "sh", *ORV, "play", "01", "--html", str(tmp_path / "p.html")],
                            capture_output=True, text=True, timeout=120)
    assert closed.returncode == 0 and (tmp_path / "p.html").stat().st_size > 0 and "Traceback" not in closed.stderr
