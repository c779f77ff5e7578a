"""Reading model, data and description files the way the language reference asks: UTF-8,
with or without a byte-order mark, falling back to Latin-1 for bytes that are not valid
UTF-8 (so an old file written in a Western European code page still reads, accents intact).
"""
from __future__ import annotations

import os

__all__ = ["decode_text", "read_text"]

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
