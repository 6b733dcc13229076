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

from orv.files import MAX_INPUT

ORV = [sys.executable, "-m", "orv"]
OLD = "the old content\n"


def orv(*args, timeout=120, **options):
    if "stdout" not in options:
        options["capture_output"] = True
    return subprocess.run(ORV + [str(a) for a in args], text=True, timeout=timeout,
                          stdin=options.pop("stdin", subprocess.DEVNULL), **options)


def python(script, *args):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script), *map(str, args)], capture_output=True,
                          text=True, timeout=120)


@pytest.fixture
def hostile(tmp_path):
    """Makes the input `kind` and returns its path and the words that name it in a refusal."""
    made = []

    def make(kind):
        path = tmp_path / f"{kind}.json"
        if kind == "fifo":
            os.mkfifo(path)
            return path, "a named pipe, not a regular file"
        if kind == "socket":
            made.append(socket.socket(socket.AF_UNIX))
            made[-1].bind(str(path))
            return path, "a socket, not a regular file"
        if kind == "folder":
            path.mkdir()
            return path, "a folder, not a regular file"
        if kind == "huge":
            with open(path, "wb") as sparse:
                sparse.truncate(MAX_INPUT + 1)
            return path, f"a file of {MAX_INPUT + 1:,} bytes, more than the {MAX_INPUT:,} bytes (1 GiB)"
        return kind, "a character device, not a regular file"  # a device path such as /dev/zero

    yield make
    for item in made:
        item.close()


@pytest.mark.parametrize("kind", ["fifo", "socket", "folder", "huge", "/dev/zero", "/dev/null"])
@pytest.mark.parametrize("command", [["check"], ["check", "--json"], ["play"], ["view"]])
def test_inputs_that_are_not_regular_files_are_refused_in_one_line(hostile, tmp_path, command, kind):
    path, words = hostile(kind)
    done = orv(*command, path, *(["--html", tmp_path / "page.html"] if command == ["view"] else []), timeout=30)
    said = done.stdout if command[0] == "check" else done.stderr
    assert done.returncode == 2 and "Traceback" not in done.stderr
    assert len(said.splitlines()) == 1 and str(path) in said and words in said, said
    if command == ["check", "--json"]:
        assert json.loads(said)["verdict"] == "invalid"


def test_a_dash_reads_standard_input(tmp_path):
    level = json.dumps({"id": "r", "charges": [{"magnitude": 2, "polarity": "positive", "visual_id": "a"}]})
    assert orv("check", "-", input=level, stdin=None).stdout == "-: solved in 1 frame\n"
    run = orv("play", "1", "--jsonl").stdout
    page = tmp_path / "page.html"
    assert orv("view", "-", "--html", page, input=run, stdin=None).returncode == 0 and page.stat().st_size > 0
    refused = orv("view", "-", input=run, stdin=None)
    assert (refused.returncode, refused.stderr) == (2, "orv: a run read from standard input (-) needs --html FILE "
                                                       "for its page\n")


# A child writes OLD and then new text over it with write_atomic, failing as `how` says.
WRITE = """
import os, resource, signal, sys
from orv import files
target, how = sys.argv[1], sys.argv[2]
with open(target, "w") as old:
    old.write("the old content\\n")
os.chmod(target, 0o640)
real_fsync = os.fsync
def fsync(handle):
    if how == "SIGTERM":
        os.kill(os.getpid(), signal.SIGTERM)
    if how == "KeyboardInterrupt":
        raise KeyboardInterrupt
    real_fsync(handle)
os.fsync = fsync
if how == "file too large":
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, resource.RLIM_INFINITY))
try:
    files.write_atomic(target, "new " * (1 << 16))
except KeyboardInterrupt:
    print("KeyboardInterrupt")
except OSError as err:
    print(f"OSError {err.filename}: {err.strerror}")
else:
    print("written")
"""


@pytest.mark.parametrize("how, status, said", [
    ("SIGTERM", -signal.SIGTERM, ""),
    ("KeyboardInterrupt", 0, "KeyboardInterrupt\n"),
    ("file too large", 0, "OSError {target}: File too large\n"),
    ("nothing", 0, "written\n"),
])
def test_a_write_is_whole_or_leaves_the_old_file_and_no_temporary_file(tmp_path, how, status, said):
    target = tmp_path / "level.json"
    done = python(WRITE, target, how)
    assert (done.returncode, done.stdout) == (status, said.format(target=target)), done.stderr
    assert target.read_text() == ("new " * (1 << 16) if how == "nothing" else OLD)
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    assert os.listdir(tmp_path) == ["level.json"]


def test_writes_go_through_links_and_never_replace_a_device(tmp_path):
    from orv.files import write_atomic

    real = tmp_path / "real.json"
    real.write_text(OLD)
    (tmp_path / "link.json").symlink_to(real)
    write_atomic(tmp_path / "link.json", "new")
    assert (tmp_path / "link.json").is_symlink() and real.read_text() == "new"
    write_atomic(tmp_path / ("n" * 250), "a name as long as the folder takes")
    assert (tmp_path / ("n" * 250)).read_text() == "a name as long as the folder takes"
    write_atomic("/dev/null", b"discarded")
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)
    with pytest.raises(OSError, match="No space left"):
        write_atomic("/dev/full", "lost")
    piped = orv("play", "01", "--html", "/dev/stdout")
    assert piped.returncode == 0 and piped.stdout.rstrip().endswith("</html>")


@pytest.mark.parametrize("option", ["--save", "--html"])
def test_sigterm_while_a_command_writes_leaves_the_old_file(tmp_path, option):
    target = tmp_path / "out"
    target.write_text(OLD)
    done = python("""
        import os, signal, sys
        os.fsync = lambda handle: os.kill(os.getpid(), signal.SIGTERM)
        from orv.cli import main
        sys.exit(main(sys.argv[1:]))
    """, "play", "10", option, target)
    assert done.returncode == -signal.SIGTERM and "Traceback" not in done.stderr
    assert target.read_text() == OLD and os.listdir(tmp_path) == ["out"]


def endless_level(tmp_path):
    """A level of 1,000 frames, so its narration fills a pipe's buffer many times over."""
    glass = {"id": "hourglass", "charges": [{"magnitude": 1, "polarity": "negative", "visual_id": "sand"}],
             "agents": [{"name": "abs", "visual_id": f"p{i}"} for i in range(1001)]}
    (tmp_path / "endless.json").write_text(json.dumps({"id": "desert", "sub_environments": [glass]}))
    return tmp_path / "endless.json"


@pytest.mark.parametrize("jsonl", [False, True])
def test_a_reader_that_leaves_ends_the_narration_and_the_files_are_still_written_whole(tmp_path, jsonl):
    level = endless_level(tmp_path)
    extra = ["--jsonl"] if jsonl else []
    whole = orv("play", level, *extra, "--html", tmp_path / "whole.html", "--save", tmp_path / "whole.json")
    child = subprocess.Popen(ORV + ["play", str(level), *extra, "--html", str(tmp_path / "cut.html"), "--save",
                                    str(tmp_path / "cut.json")], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    child.stdout.readline()  # `| head -1`
    child.stdout.close()
    err = child.stderr.read()
    assert child.wait(timeout=120) == 0 and whole.returncode == 0
    assert err == whole.stderr.replace("whole", "cut") and "Traceback" not in err
    for suffix in (".html", ".json"):
        assert (tmp_path / f"cut{suffix}").read_text() == (tmp_path / f"whole{suffix}").read_text()
    quiet = subprocess.run(f"{sys.executable} -m orv play {level} | head -1", shell=True, capture_output=True,
                           text=True, timeout=120)
    assert quiet.stderr == "" and len(quiet.stdout.splitlines()) == 1


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
