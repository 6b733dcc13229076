"""Files and streams of the toolkit: every file it writes, every input it reads, its standard output
and the assets shipped in the package. Writes are whole or not at all; inputs are checked before
reading; a failed standard output ends quietly.

- `write_atomic(path, data)` writes to a temporary file beside the target and renames it over the
  target once the data is complete and on disk, so an interrupted or failed write (Ctrl-C, SIGTERM,
  SIGHUP, a full disk) leaves the old file as it was and no temporary file behind.
- `read_bytes(path)` and `read_text(path)` read `-` from standard input and refuse, in words, anything
  but a regular file (a named pipe, a device, a socket, a folder) before reading it, and a file larger
  than `MAX_INPUT` bytes with its size; `InputRefused` is an OSError whose text is that refusal.
- `guarded_stdout()` stands between the commands and standard output: once the reader closes the pipe
  (`orv play | head`) or a write fails (a full disk), what follows is dropped and the command goes on
  with the rest of its work; `fault` keeps the error.
"""

from __future__ import annotations

import contextlib
import errno
import os
import secrets
import signal
import stat
import sys
import threading
from importlib import resources
from pathlib import Path

MAX_INPUT = 1 << 30  # bytes: the largest input the toolkit reads (1 GiB)

# Signals whose default action ends the process; while a file is written they raise instead, so the
# temporary file is removed before the process ends as the signal asked.
_ENDING_SIGNALS = (signal.SIGTERM, signal.SIGHUP)

_KINDS = ((stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a named pipe"), (stat.S_ISCHR, "a character device"),
          (stat.S_ISBLK, "a block device"), (stat.S_ISSOCK, "a socket"))


class ToolkitError(Exception):
    """A fault in a file given to the toolkit; the command line prints it without a traceback."""


def asset(folder: str, name: str) -> str:
    """The text of a file shipped in the package's `folder` (viewer, studio)."""
    return (resources.files("orv") / folder / name).read_text(encoding="utf-8")


# ---------------------------------------------------------------- writing


def writable(path: str, option: str) -> None:
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


class _Ended(SystemExit):
    """A signal that ends the process arrived while a file was written."""

    def __init__(self, signum: int):
        super().__init__(128 + signum)
        self.signum = signum


def _raise_ended(signum, _frame):
    raise _Ended(signum)


@contextlib.contextmanager
def _ending_signals_raise():
    """Makes the signals of _ENDING_SIGNALS that would end the process at once raise _Ended instead
    (only the main thread can set handlers; a handler the program set itself is left alone)."""
    replaced = {}
    if threading.current_thread() is threading.main_thread():
        for signum in _ENDING_SIGNALS:
            if signal.getsignal(signum) == signal.SIG_DFL:
                replaced[signum] = signal.signal(signum, _raise_ended)
    try:
        yield
    finally:
        for signum, handler in replaced.items():
            signal.signal(signum, handler)


def write_atomic(path, data: str | bytes) -> Path:
    """Writes `data` (text is written as UTF-8) to `path` whole or not at all; returns `path`.

    The data goes to a temporary file in the same folder, which is flushed to disk and renamed over
    the target; a target that exists keeps its permissions, and one that cannot be written is refused
    with PermissionError as an ordinary write would refuse it. A target that exists and is not a regular
    file (/dev/null, a named pipe, a terminal) is written straight into, since renaming over it would
    replace the device or pipe itself. Any failure raises after removing the temporary file; SIGTERM
    and SIGHUP then end the process as they would have.
    """
    payload = data.encode("utf-8") if isinstance(data, str) else bytes(data)
    try:
        found = os.stat(path)
    except OSError:  # none yet (or none that can be looked at: the write says why)
        found = None
    if found is not None and not stat.S_ISREG(found.st_mode):
        with open(path, "wb") as out:  # /dev/stdout included, whatever it leads to
            out.write(payload)
        return Path(path)
    if found is not None and not os.access(path, os.W_OK):  # a file kept read-only stays as it is
        raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), str(path))
    target = Path(os.path.realpath(path))  # a symbolic link is followed, so the link stays
    temporary: Path | None = None
    handle = -1
    try:
        with _ending_signals_raise():
            try:
                while handle < 0:
                    temporary = target.with_name(f".orv-{secrets.token_hex(6)}.tmp")  # short: any name fits
                    with contextlib.suppress(FileExistsError):
                        handle = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
                _write_all(handle, payload)
                if found is not None:
                    os.fchmod(handle, stat.S_IMODE(found.st_mode))
                os.fsync(handle)
                os.close(handle)
                handle = -1
                assert temporary is not None
                os.replace(temporary, target)
            except BaseException as err:
                if handle >= 0:
                    os.close(handle)
                if temporary is not None:
                    with contextlib.suppress(FileNotFoundError):
                        os.unlink(temporary)
                if isinstance(err, OSError) and err.errno is not None:  # named by the file asked for
                    raise OSError(err.errno, err.strerror, str(path)) from None
                raise
    except _Ended as ended:
        signal.raise_signal(ended.signum)  # the default action is back: this ends the process
        raise
    _sync_folder(target.parent)
    return Path(path)


def _write_all(handle: int, payload: bytes) -> None:
    view = memoryview(payload)
    while view:
        view = view[os.write(handle, view):]


def _sync_folder(folder: Path) -> None:
    """Puts the rename on disk too; some file systems cannot sync a folder, and the file is whole anyway."""
    with contextlib.suppress(OSError):
        handle = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            os.fsync(handle)
        finally:
            os.close(handle)


# ---------------------------------------------------------------- reading


class InputRefused(OSError):
    """An input the toolkit does not read; its text says what it is, as a reader's error would."""


def _refuse_kind(mode: int) -> None:
    for test, kind in _KINDS:
        if test(mode):
            raise InputRefused(f"{kind}, not a regular file; give a file, or - for standard input")
    if not stat.S_ISREG(mode):
        raise InputRefused("not a regular file; give a file, or - for standard input")


def _refuse_size(size: int) -> None:
    if size > MAX_INPUT:
        raise InputRefused(f"a file of {size:,} bytes, more than the {MAX_INPUT:,} bytes (1 GiB) the toolkit reads")


def _read_bounded(stream) -> bytearray:
    """All of `stream`, read a MiB at a time and refused as soon as it passes MAX_INPUT bytes."""
    data = bytearray()
    while chunk := stream.read(1 << 20):
        data += chunk
        if len(data) > MAX_INPUT:
            raise InputRefused(f"more than the {MAX_INPUT:,} bytes (1 GiB) the toolkit reads")
    return data


def read_bytes(path) -> bytearray:
    """The bytes of the file `path`, or of standard input for `-`.

    Raises InputRefused for what is not a regular file (checked before the file is opened, and again
    on what was opened, without waiting for a writer) and for a file larger than MAX_INPUT bytes;
    OSError as the system raises it for the rest (no such file, permission denied).
    """
    if str(path) == "-":
        if sys.stdin is None:
            raise InputRefused("standard input, which is closed")
        return _read_bounded(sys.stdin.buffer)
    _refuse_kind(os.stat(path).st_mode)
    handle = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    try:
        found = os.fstat(handle)
        _refuse_kind(found.st_mode)
        _refuse_size(found.st_size)
        os.set_blocking(handle, True)
        with open(handle, "rb", buffering=0, closefd=False) as stream:
            return _read_bounded(stream)
    finally:
        os.close(handle)


def read_text(path) -> str:
    """The text of `path` (see read_bytes) as UTF-8, line ends made "\\n" as text files read in Python;
    UnicodeDecodeError for bytes that are not UTF-8. A packaged resource that is no file path is read
    as it comes."""
    if not isinstance(path, (str, os.PathLike)):
        return path.read_text(encoding="utf-8")
    text = read_bytes(path).decode("utf-8")
    return text.replace("\r\n", "\n").replace("\r", "\n") if "\r" in text else text


# ---------------------------------------------------------------- standard output


def silence(stream) -> None:
    """Points the descriptor of `stream` (standard output) at /dev/null, so that the interpreter's
    last flush of what is still buffered cannot fail again after a write to it failed."""
    with contextlib.suppress(OSError, ValueError, AttributeError):
        handle = stream.fileno()
        devnull = os.open(os.devnull, os.O_WRONLY)
        try:
            os.dup2(devnull, handle)
        finally:
            os.close(devnull)


class GuardedOutput:
    """A text stream in front of another (standard output): once a write or a flush fails, with the
    pipe closed by its reader or any other error, the rest is dropped and `fault` keeps the error."""

    def __init__(self, stream):
        self.stream = stream  # None when the process started with standard output closed
        self.fault: OSError | None = None

    def write(self, text: str) -> int:
        self._guarded(lambda: self.stream.write(text))
        return len(text)

    def flush(self) -> None:
        self._guarded(lambda: self.stream.flush())

    def isatty(self) -> bool:
        return self.stream is not None and self.fault is None and self.stream.isatty()

    def __getattr__(self, name):  # the rest of the stream's interface (encoding, fileno, ...)
        return getattr(self.stream, name)

    def _guarded(self, call) -> None:
        if self.stream is None or self.fault is not None:
            return
        try:
            call()
        except OSError as err:
            self.fault = err
            silence(self.stream)

    def failure(self) -> str | None:
        """What went wrong with the output, in a line, unless it was only its reader leaving."""
        if self.fault is None or isinstance(self.fault, BrokenPipeError):
            return None
        return f"cannot write to standard output ({self.fault.strerror or self.fault})"


@contextlib.contextmanager
def guarded_stdout():
    """Puts a GuardedOutput in place of sys.stdout for the block and flushes it at the end."""
    out = GuardedOutput(sys.stdout)
    sys.stdout = out
    try:
        yield out
    finally:
        out.flush()
        sys.stdout = out.stream
