"""Text that came from an LLM, a provider or a data file, made safe to print: control
characters (terminal escape sequences, carriage returns, bidirectional overrides) are shown
as escapes instead of acting on the terminal, and credentials in URLs are hidden."""
from __future__ import annotations

__all__ = ["shown"]

# White space that moves the cursor or breaks a line, besides the newline and tab.
_BREAKS = frozenset("\r\x0b\x0c\x1c\x1d\x1e\x1f\x85\u2028\u2029")


def _kept(c: str, multiline: bool) -> bool:
    if c.isprintable():
        return True
    if c in "\n\t":
        return multiline
    return c.isspace() and c not in _BREAKS  # other spaces (no-break, ideographic) print as spaces


def _escape(c: str) -> str:
    code = ord(c)
    if code < 0x100:
        return f"\\x{code:02x}"
    return f"\\u{code:04x}" if code < 0x10000 else f"\\U{code:08x}"


def shown(text: object, multiline: bool = True) -> str:
    """``text`` as it may be printed: with ``multiline``, line breaks and tabs stay; every
    other non-printable character (other than a plain space) becomes an escape such as \\x1b."""
    s = str(text)
    if not s.isprintable() or "://" in s:
        s = "".join(c if _kept(c, multiline) else _escape(c) for c in s)
        if "://" in s:
            from vorlan.genloom import redact_urls

            s = redact_urls(s)
    return s
