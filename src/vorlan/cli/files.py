"""File handling shared by the commands: reading inputs (UTF-8 or Latin-1) and checking
output locations before any paid LLM call, so a run never loses a file it was not asked to
replace and never fails only after the request because it cannot write its result."""
from __future__ import annotations

import codecs
import contextlib
import locale
import os
import sys
import tempfile
from pathlib import Path

from vorlan.cli.errors import CliError
from vorlan.textfile import decode_text, max_input_bytes, read_bytes, read_text, write_text_atomic

__all__ = ["check_output_file", "decode_text", "library_readable", "read_input", "read_text", "same_file",
           "write_text_atomic"]


def read_input(source: str) -> str:
    """Text of a file, or of standard input for "-", decoded like every input file."""
    if source == "-":
        limit = max_input_bytes()
        raw = sys.stdin.buffer.read(limit + 1)
        if len(raw) > limit:
            raise CliError(f"standard input is over the input limit of {limit} bytes",
                           "set VORLAN_MAX_INPUT_BYTES to read more")
        return decode_text(raw)
    return read_text(source)


def same_file(a: str, b: str) -> bool:
    """Whether two paths name one file, existing or not (symbolic links followed)."""
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.normcase(os.path.realpath(a)) == os.path.normcase(os.path.realpath(b))


def check_output_file(path: str, overwrite: bool, fix: str = "choose another location or pass --overwrite") -> None:
    """Fail unless ``path`` can be written: not a directory, inside a writable directory (or
    one that can be created there), and not an existing file unless ``overwrite``."""
    p = Path(path)
    if p.is_dir():
        raise CliError(f"cannot write {path}: it is a directory", fix)
    if p.exists() and not overwrite:
        raise CliError(f"refusing to overwrite {path}", fix)
    parent = p.absolute().parent
    while not parent.exists() and parent != parent.parent:
        parent = parent.parent
    if not parent.is_dir():
        raise CliError(f"cannot write {path}: {parent} is not a directory")
    if not os.access(parent, os.W_OK | os.X_OK) or (p.exists() and not os.access(p, os.W_OK)):
        raise CliError(f"cannot write {path}: permission denied")


def _library_reads_as_is(raw: bytes) -> bool:
    """Whether the library, which opens files in the platform's default encoding, reads these
    bytes as the same text decode_text gives."""
    if raw.startswith(b"\xef\xbb\xbf") or codecs.lookup(locale.getpreferredencoding(False)).name != "utf-8":
        return False
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


@contextlib.contextmanager
def library_readable(*paths: str):
    """Paths the library can read as the text of ``paths``: each file itself when it is plain
    UTF-8, otherwise a decoded copy in a temporary folder that is removed afterwards. Reading
    here also reports a missing or unreadable file before any LLM call."""
    with contextlib.ExitStack() as stack:
        folder = None
        result = []
        for i, path in enumerate(paths):
            raw = read_bytes(path)
            if _library_reads_as_is(raw):
                result.append(path)
                continue
            if folder is None:
                folder = stack.enter_context(tempfile.TemporaryDirectory(prefix="vorlan-"))
            copy = Path(folder) / f"{i}-{Path(path).name}"
            copy.write_text(decode_text(raw), encoding=locale.getpreferredencoding(False))
            result.append(str(copy))
        yield result
