"""Reading model, data and description files the way the language reference asks: UTF-8,
with or without a byte-order mark, falling back to Latin-1 for bytes that are not valid
UTF-8 (so an old file written in a Western European code page still reads, accents intact);
and writing a text file so that a failed write never leaves a truncated one.
"""
from __future__ import annotations

import contextlib
import os
import stat
import tempfile
from pathlib import Path

__all__ = ["decode_text", "open_replacing", "read_text", "write_text_atomic", "write_text_replacing"]

_BOM = b"\xef\xbb\xbf"


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
    """Whole text of the file at ``path``; file-system errors propagate and name the file."""
    with open(path, "rb") as f:
        return decode_text(f.read())


@contextlib.contextmanager
def open_replacing(path: str | os.PathLike, encoding: str | None = None):
    """A text file to write that replaces ``path`` only once it is complete: the text goes to a
    temporary file beside ``path`` that is renamed over it when the block ends without error,
    so a failed or interrupted write never leaves a half-written file where a whole one was.
    A replaced file keeps its permissions; a new one gets those the umask allows."""
    target = Path(path)
    fd, tmp = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".tmp", dir=target.parent)
    try:
        os.chmod(tmp, _mode_for(target))
        with os.fdopen(fd, "w", encoding=encoding) as f:
            yield f
        os.replace(tmp, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(tmp)
        raise


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
