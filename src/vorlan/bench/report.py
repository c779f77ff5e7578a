"""The summary of a run: a console table per set and DIR/report.html with the same table,
charts (accuracy per set, iterations) and the failed problems linked to their transcripts."""
from __future__ import annotations

import base64
import html
import io
import math
import time
from pathlib import Path
from urllib.parse import quote

from vorlan.bench.datasets import safe_component
from vorlan.bench.scoring import Summary

CI_NOTE = "accuracy: share of problems whose final pair solves to the published optimum; [95% CI]: Wilson score interval"
EXEC_NOTE = "exec: pairs that compile and solve to a verdict (optimal, feasible, infeasible or unbounded)"
UNSCORED_NOTE = ("unscored: published answer neither a number nor a no-optimum phrase; "
                 "left out of accuracy and its interval")
ROUNDS_NOTE = "rounds: problems that needed each kind of round after the first generation"

HEADERS = ("set", "problems", "accuracy [95% CI]", "exec", "errors", "unscored", "iterations mean/median",
           "time/problem", "tokens in/out", "cost")
# Short names of the round kinds in the rounds line.
_ROUND_SHORT = {"syntax revision": "syntax", "solve revision": "solve", "alignment revision": "alignment",
                "reply repair": "repair"}


def _pct(x: float) -> str:
    return f"{100.0 * x:.1f}%"


def _tokens(n: int | None) -> str:
    if n is None:
        return "n/a"  # the provider reported no count
    if n >= 1_000_000:
        return f"{n / 1e6:.2f}M"
    if n >= 10_000:
        return f"{n / 1e3:.1f}k"
    return str(n)


def row_cells(s: Summary) -> list[str]:
    its = "-" if s.mean_iterations is None else f"{s.mean_iterations:.2f} / {s.median_iterations:g}"
    secs = "-" if s.mean_seconds is None else f"{s.mean_seconds:.1f} s"
    toks = "n/a" if s.input_tokens is None and s.output_tokens is None else \
        f"{_tokens(s.input_tokens)} / {_tokens(s.output_tokens)}"
    cost = "-" if s.cost is None else f"${s.cost:.2f}"
    return [s.name, str(s.n), f"{_pct(s.accuracy)} [{_pct(s.ci_low)}, {_pct(s.ci_high)}]",
            _pct(s.execution_rate), str(s.errors), str(s.unscored), its, secs, toks, cost]


def rounds_text(s: Summary) -> str:
    """"syntax 3 · solve 1": problems of the set that needed each kind of round; "-" for none."""
    parts = [f"{_ROUND_SHORT.get(k, k)} {n}" for k, n in s.rounds.items()]
    return " \u00b7 ".join(parts) if parts else "-"


def format_table(summaries: list[Summary]) -> str:
    rows = [list(HEADERS)] + [row_cells(s) for s in summaries]
    widths = [max(len(r[i]) for r in rows) for i in range(len(HEADERS))]
    lines = []
    for k, r in enumerate(rows):
        cells = [r[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(r[1:], widths[1:])]
        lines.append("  ".join(cells).rstrip())
        if k == 0:
            lines.append("  ".join("-" * w for w in widths))
    notes = ["", CI_NOTE, EXEC_NOTE]
    if any(s.unscored for s in summaries):
        notes.append(UNSCORED_NOTE)
    if any(s.rounds for s in summaries):
        notes += ["", "rounds needed (problems): " + "; ".join(f"{s.name}: {rounds_text(s)}" for s in summaries)]
    return "\n".join(lines + notes)


# ------------------------------------------------------------------------------ charts

def _png(fig) -> str:
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=100, bbox_inches="tight")
    return base64.b64encode(buf.getvalue()).decode("ascii")


def _share(x) -> float:
    """A share in [0, 1]; 0 for a missing or non-finite one (a set with nothing scored)."""
    return min(1.0, max(0.0, x)) if isinstance(x, (int, float)) and math.isfinite(x) else 0.0


def _arm(upper, lower) -> float:
    """Length in percent of one error-bar arm. The interval's bounds can sit a rounding error
    inside the share itself at 0% and 100%, which would make an arm negative."""
    return max(0.0, 100 * (_share(upper) - _share(lower)))


def charts(summaries: list[Summary], rows: list[dict]) -> dict[str, str]:
    """Base64 PNGs: "accuracy" (per set, with the interval as error bars) and "iterations"
    (histogram). Built on matplotlib's object interface, so no global backend is chosen."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    sets = [s for s in summaries if s.name != "all" or len(summaries) == 1]
    fig = Figure(figsize=(max(4.0, 1.2 * len(sets) + 2), 3.2))
    FigureCanvasAgg(fig)
    ax = fig.add_subplot()
    acc = [100 * _share(s.accuracy) for s in sets]
    err = [[_arm(s.accuracy, s.ci_low) for s in sets], [_arm(s.ci_high, s.accuracy) for s in sets]]
    bars = ax.bar([s.name for s in sets], acc, yerr=err, capsize=4, color="#4878a8")
    ax.bar_label(bars, labels=[f"{a:.1f}%" for a in acc], padding=3)
    ax.set_ylim(0, 100)
    ax.set_ylabel("accuracy (%)")
    ax.set_title("Accuracy per set (95% Wilson interval)")
    ax.tick_params(axis="x", labelrotation=20)
    out = {"accuracy": _png(fig)}

    its = [r["iterations"] for r in rows if isinstance(r.get("iterations"), int)]
    fig = Figure(figsize=(5, 3.2))
    FigureCanvasAgg(fig)
    ax = fig.add_subplot()
    if its:
        top = max(its)
        ax.hist(its, bins=[x - 0.5 for x in range(1, top + 2)], color="#6a9f58", rwidth=0.85)
        ax.set_xticks(range(1, top + 1))
        ax.set_xlim(0.5, max(top, 5) + 0.5)
    ax.set_xlabel("iterations of the repair loop")
    ax.set_ylabel("problems")
    ax.set_title("Iterations per problem")
    out["iterations"] = _png(fig)
    return out


# ------------------------------------------------------------------------------ HTML

_STYLE = """body{font-family:system-ui,sans-serif;margin:2em;color:#222}
table{border-collapse:collapse;margin:1em 0}th,td{border:1px solid #ccc;padding:4px 8px}
td.n{text-align:right}th{background:#f0f0f0}.note{color:#555;font-size:90%}
img{margin:0.5em 1em 0.5em 0;vertical-align:top}code{font-size:90%}"""


def _esc(x) -> str:
    return html.escape("" if x is None else str(x))


def _num(x) -> str:
    """A number with at most 10 significant digits; anything else as text."""
    if isinstance(x, float):
        return _esc(f"{x:.10g}")
    return _esc(x)


def _problem_note(r: dict) -> str:
    """The error of a problem, else the stated values its final model no longer uses as stated."""
    if r.get("error"):
        return str(r["error"])
    devs = r.get("deviations") or []
    return ("deviations: " + "; ".join(str(d) for d in devs)) if devs else ""


def _link(set_name: str, pid: str) -> str:
    return f"{quote(safe_component(set_name))}/{quote(safe_component(pid))}/transcript.txt"


def render_html(summaries: list[Summary], rows: list[dict], title: str, settings: dict | None = None) -> str:
    parts = [f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>{_esc(title)}</title>",
             f"<style>{_STYLE}</style></head><body>", f"<h1>{_esc(title)}</h1>"]
    if settings:
        shown = ", ".join(f"{_esc(k)}={_esc('default' if v is None else v)}" for k, v in settings.items())
        parts.append(f"<p class='note'>{shown}; written {_esc(time.strftime('%Y-%m-%d %H:%M'))}</p>")
    parts.append("<table><tr>" + "".join(f"<th>{_esc(h)}</th>" for h in HEADERS + ("rounds",)) + "</tr>")
    for s in summaries:
        cells = row_cells(s) + [rounds_text(s)]
        parts.append("<tr><td>" + _esc(cells[0]) + "</td>" + "".join(f"<td class='n'>{_esc(c)}</td>" for c in cells[1:])
                     + "</tr>")
    parts.append(f"</table><p class='note'>{_esc(CI_NOTE)}<br>{_esc(EXEC_NOTE)}<br>{_esc(UNSCORED_NOTE)}<br>"
                 f"{_esc(ROUNDS_NOTE)}</p>")
    try:
        pngs = charts(summaries, rows)
    except ImportError:
        parts.append("<p class='note'>Charts need matplotlib: pip install 'vorlan[bench]'</p>")
    else:
        for name, data in pngs.items():
            parts.append(f"<img alt='{_esc(name)}' src='data:image/png;base64,{data}'>")
    failed = [r for r in rows if not r.get("correct") and not r.get("unscored")]
    parts.append(f"<h2>Problems not solved ({len(failed)})</h2>")
    if failed:
        parts.append("<table><tr><th>set</th><th>id</th><th>status</th><th>expected</th><th>got</th>"
                     "<th>iterations</th><th>error</th><th>transcript</th></tr>")
        for r in failed:
            parts.append(
                f"<tr><td>{_esc(r['set'])}</td><td>{_esc(r['id'])}</td><td>{_esc(r.get('status'))}</td>"
                f"<td class='n'>{_num(r.get('expected'))}</td><td class='n'>{_num(r.get('objective'))}</td>"
                f"<td class='n'>{_esc(r.get('iterations'))}</td><td>{_esc(_problem_note(r)[:300])}</td>"
                f"<td><a href='{_esc(_link(r['set'], r['id']))}'>transcript</a></td></tr>")
        parts.append("</table>")
    parts.append("</body></html>")
    return "\n".join(parts) + "\n"


def write_html(path: Path, summaries: list[Summary], rows: list[dict], title: str,
               settings: dict | None = None) -> None:
    from vorlan.bench.results import write_text_atomic

    write_text_atomic(path, render_html(summaries, rows, title, settings))
