"""Reading model, data and description files the way the language reference asks: UTF-8,
with or without a byte-order mark, falling back to Latin-1 for bytes that are not valid
UTF-8 (so an old file written in a Western European code page still reads, accents intact);
and writing a text file so that a failed write never leaves a truncated one.
"""
from __future__ import annotations

import contextlib
import os
import signal
import stat
import tempfile
import threading
from pathlib import Path

__all__ = ["InputRefused", "decode_text", "max_input_bytes", "open_replacing", "read_bytes", "read_text",
           "write_text_atomic", "write_text_replacing"]

_BOM = b"\xef\xbb\xbf"

# Largest input file read, in bytes, unless the environment sets VORLAN_MAX_INPUT_BYTES: far
# above any real model, data file or description, far below what exhausts a machine.
MAX_INPUT_BYTES = 1 << 30


class InputRefused(ValueError):
    """An input that is not a regular file, or one over the size limit; nothing was read."""


def max_input_bytes() -> int:
    """The size limit of input files: VORLAN_MAX_INPUT_BYTES when set to a positive whole
    number, else MAX_INPUT_BYTES."""
    value = os.environ.get("VORLAN_MAX_INPUT_BYTES", "").strip()
    if value.isdigit() and int(value) > 0:
        return int(value)
    return MAX_INPUT_BYTES


def read_bytes(path: str | os.PathLike) -> bytes:
    """Whole content of the regular file at ``path``. A device, pipe, socket or folder, and a
    file over max_input_bytes(), are refused (InputRefused) before anything is read; the file
    is opened without waiting for a writer, so a named pipe cannot hang the caller."""
    limit = max_input_bytes()
    fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0))
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode):
            raise InputRefused(f"{os.fspath(path)} is not a regular file (a device, pipe or folder); "
                               f"give a model, data or description file")
        if info.st_size > limit:
            raise InputRefused(f"{os.fspath(path)} is {info.st_size} bytes, over the input limit of {limit} "
                               f"(set VORLAN_MAX_INPUT_BYTES to read larger files)")
    except BaseException:
        os.close(fd)
        raise
    with os.fdopen(fd, "rb") as f:
        raw = f.read(limit + 1)
    if len(raw) > limit:  # grew while being read
        raise InputRefused(f"{os.fspath(path)} is over the input limit of {limit} bytes "
                           f"(set VORLAN_MAX_INPUT_BYTES to read larger files)")
    return raw


def decode_text(raw: bytes) -> str:
    """Text of a file's bytes: UTF-8 (a leading byte-order mark dropped), else Latin-1.
    Line ends become "\\n", as when a file is opened in text mode."""
    if raw.startswith(_BOM):
        raw = raw[len(_BOM):]
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        text = raw.decode("latin-1")
    return text.replace("\r\n", "\n").replace("\r", "\n")


def read_text(path: str | os.PathLike) -> str:
    """Whole text of the file at ``path`` (read by read_bytes); file-system errors propagate
    and name the file."""
    return decode_text(read_bytes(path))


@contextlib.contextmanager
def open_replacing(path: str | os.PathLike, encoding: str | None = None):
    """A text file to write that replaces ``path`` only once it is complete: the text goes to a
    temporary file beside ``path`` that is renamed over it when the block ends without error,
    so a failed or interrupted write never leaves a half-written file where a whole one was.
    A replaced file keeps its permissions; a new one gets those the umask allows."""
    target = Path(path)
    with termination_raises():
        fd, tmp = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".tmp", dir=target.parent)
        try:
            os.chmod(tmp, _mode_for(target))
            with os.fdopen(fd, "w", encoding=encoding) as f:
                yield f
            os.replace(tmp, target)
        except OSError as e:
            with contextlib.suppress(OSError):
                os.unlink(tmp)
            if e.filename is None:  # e.g. a full disk: say which file could not be written
                raise OSError(e.errno, e.strerror, os.fspath(path)) from e
            raise
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(tmp)
            raise


@contextlib.contextmanager
def termination_raises():
    """Within the block, SIGTERM raises SystemExit(143) in the main thread instead of ending
    the process at once, so the block's clean-up (removing a temporary file) runs. Elsewhere
    (other threads, no signal support) the block runs as it is."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def stop(signum, frame):
        raise SystemExit(128 + signum)

    try:
        previous = signal.signal(signal.SIGTERM, stop)
    except (ValueError, OSError, AttributeError):
        yield
        return
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)


def write_text_replacing(path: str | os.PathLike, text: str, encoding: str | None = None) -> None:
    """Write ``text`` to ``path`` through open_replacing."""
    with open_replacing(path, encoding) as f:
        f.write(text)


def write_text_atomic(path: str | os.PathLike, text: str) -> None:
    """Write ``text`` to ``path`` (creating its folder) through a temporary file beside it, so an
    interrupted write never leaves a half-written file where a whole one was."""
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    write_text_replacing(path, text)


def _mode_for(target: Path) -> int:
    """The existing file's permissions, or those a new file gets under the current umask."""
    try:
        return stat.S_IMODE(target.stat().st_mode)
    except FileNotFoundError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask
