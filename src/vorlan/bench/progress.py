"""Live progress of a benchmark run on standard error: one status line that redraws itself
on a terminal (done/total, accuracy so far, errors, ETA), or one line per finished problem
otherwise."""
from __future__ import annotations

import sys
import threading
import time

from vorlan.cli.terminal import shown


def format_duration(seconds: float) -> str:
    seconds = max(0, int(round(seconds)))
    h, rest = divmod(seconds, 3600)
    m, s = divmod(rest, 60)
    if h:
        return f"{h}h{m:02d}m"
    if m:
        return f"{m}m{s:02d}s"
    return f"{s}s"


class RunProgress:
    def __init__(self, total: int, stream=None, live: bool | None = None, quiet: bool = False):
        self.stream = stream or sys.stderr
        self.live = (self.stream.isatty() if live is None else live) and not quiet
        self.quiet = quiet
        self.total = total
        self.done = self.correct = self.errors = self.unscored = 0
        self.start = time.monotonic()
        self._lock = threading.Lock()
        self._drawn = False

    def status(self) -> str:
        parts = [f"{self.done}/{self.total}"]
        if self.done > self.unscored:
            parts.append(f"accuracy {100.0 * self.correct / (self.done - self.unscored):.1f}%")
        if self.unscored:
            parts.append(f"{self.unscored} unscored")
        if self.errors:
            parts.append(f"{self.errors} error{'s' if self.errors != 1 else ''}")
        elapsed = time.monotonic() - self.start
        parts.append(f"elapsed {format_duration(elapsed)}")
        if 0 < self.done < self.total:
            parts.append(f"ETA {format_duration(elapsed / self.done * (self.total - self.done))}")
        return " \u00b7 ".join(parts)

    def finished(self, record: dict) -> None:
        with self._lock:
            self.done += 1
            self.correct += bool(record.get("correct"))
            self.errors += record.get("status") == "error"
            self.unscored += bool(record.get("unscored"))
            if self.quiet:
                return
            if self.live:
                if record.get("status") == "error":
                    self._line(f"{record['set']}/{record['id']}: error: {record.get('error') or ''}")
                self._draw()
            else:
                seconds = record.get("seconds")
                took = f" in {seconds:.1f}s" if isinstance(seconds, (int, float)) else ""
                if record.get("status") == "error":
                    verdict = f"error{took}: {record.get('error') or ''}"
                else:
                    score = "unscored" if record.get("unscored") else "correct" if record.get("correct") else "wrong"
                    verdict = f"{record.get('status')}, {score}{took}"
                line = shown(f"{record['set']}/{record['id']}: {verdict}", multiline=False)
                self.stream.write(f"{line} [{self.status()}]\n")
                self.stream.flush()

    def note(self, text: str) -> None:
        with self._lock:
            if not self.quiet:
                self._line(text)
                if self.live:
                    self._draw()

    def tick(self) -> None:
        if self.live:
            with self._lock:
                self._draw()

    def close(self) -> None:
        with self._lock:
            if self.live and self._drawn:
                self.stream.write("\n")
                self.stream.flush()
                self._drawn = False

    def _line(self, text: str) -> None:
        if self.live and self._drawn:
            self.stream.write("\r\x1b[K")
        self.stream.write(shown(text, multiline=False) + "\n")
        self.stream.flush()
        self._drawn = False

    def _draw(self) -> None:
        self.stream.write("\r\x1b[K" + self.status())
        self.stream.flush()
        self._drawn = True
