"""Progress messages on standard error while a command waits for the LLM."""
from __future__ import annotations

import os
import sys
import threading
import time

from vorlan.cli.terminal import shown


class Progress:
    """Progress messages on standard error: a live status line with elapsed time on a
    terminal, plain timestamped lines otherwise."""

    def __init__(self, stream=None, live: bool | None = None, quiet: bool = False):
        self.stream = stream or sys.stderr
        self.live = self.stream.isatty() if live is None else live
        self.quiet = quiet
        self.start = time.monotonic()
        self.current = ""
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._ticker = None

    def __enter__(self):
        if self.live and not self.quiet:
            self._ticker = threading.Thread(target=self._tick, daemon=True)
            self._ticker.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        if self._ticker:
            self._ticker.join()
        with self._lock:
            if self.live and self.current and not self.quiet:
                self._paint(final=True)
        return False

    def __call__(self, msg: str) -> None:
        if self.quiet:
            return
        with self._lock:
            if self.live:
                if self.current:
                    self._paint(final=True)  # keep the finished step on screen
                self.current = shown(msg, multiline=False)
                self._paint()
            else:
                stamp = time.strftime("%H:%M:%S")
                self.stream.write(f"{stamp} {shown(msg, multiline=False)}\n")
                self.stream.flush()

    def _paint(self, final: bool = False) -> None:
        elapsed = time.monotonic() - self.start
        line = f"[{elapsed:6.1f}s] {self.current}"
        width = _terminal_width(self.stream)
        if len(line) > width - 1:
            line = line[: width - 2] + "\u2026"
        self.stream.write("\r\x1b[K" + line + ("\n" if final else ""))
        self.stream.flush()
        if final:
            self.current = ""

    def _tick(self) -> None:
        while not self._stop.wait(0.25):
            with self._lock:
                if self.current:
                    self._paint()


def _terminal_width(stream) -> int:
    try:
        columns = os.get_terminal_size(stream.fileno()).columns
    except (OSError, ValueError, AttributeError):
        return 100
    return columns if columns > 0 else 100
