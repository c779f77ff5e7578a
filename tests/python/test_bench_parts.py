"""vorlan.bench without an LLM: reading sets, scoring, the interval, the results file and the
comparison of two runs."""
import json
import os

import pytest

from vorlan.bench import compare_runs, format_comparison, load_dataset, parse_answer, read_results
from vorlan.bench.datasets import DatasetError, safe_component
from vorlan.bench.results import ResultsError, ResultsWriter, latest, prepare_run
from vorlan.bench.runner import _solve, classify_failure
from vorlan.bench.scoring import is_correct, summarize_sets, wilson_interval


@pytest.mark.parametrize("raw, number, no_optimum", [
    ("219816.0", 219816.0, False), (" 1,250 ", 1250.0, False), ("$ 30", 30.0, False), (42, 42.0, False),
    (-3.5, -3.5, False), ("No Best Solution", None, True), ("infeasible.", None, True),
    ("Unbounded", None, True), ("no feasible solution", None, True), ("nan", None, False),
    (float("inf"), None, False), ("about 12", None, False), (None, None, False), (True, None, False),
    ([1], None, False),
])
def test_parse_answer(raw, number, no_optimum):
    assert parse_answer(raw) == (number, no_optimum)


def test_jsonl_and_array_sets_with_both_field_spellings(tmp_path):
    lines = tmp_path / "Lines.jsonl"
    lines.write_text('{"en_question": "q one", "en_answer": "5"}\n\n{"en_question": "q two", "en_answer": '
                     '"No Best Solution"}\n', encoding="utf-8")
    array = tmp_path / "Arr.json"
    array.write_text(json.dumps([{"question": "q", "answer": 7, "id": 11}, {"question": "r", "answer": "x", "id": "b/c"}]))
    a = load_dataset(lines)
    assert [(p.set, p.id, p.answer, p.no_optimum) for p in a] == [("Lines", "1", 5.0, False), ("Lines", "2", None, True)]
    b = load_dataset(array)
    assert [(p.id, p.answer, p.answer_text) for p in b] == [("11", 7.0, "7"), ("b/c", None, "x")]


@pytest.mark.parametrize("text, message", [
    ('{"en_question": "q"}\n', "has no answer field"),
    ('{"en_answer": 1}\n', "has no question"),
    ('{"question": "q", "answer": 1}\n{oops\n', ":2: not a JSON record"),
    ('[1, 2]', "record 1 is not a JSON object"),
    ('{"question": "q", "answer": 1, "id": 3}\n{"question": "r", "answer": 2, "id": "3"}\n', "id '3' occurs twice"),
])
def test_bad_sets_are_refused_with_the_place(tmp_path, text, message):
    f = tmp_path / "bad.jsonl"
    f.write_text(text)
    with pytest.raises(DatasetError, match=message.replace("(", r"\(")):
        load_dataset(f)


@pytest.mark.parametrize("text, expected", [
    ("17", "17"), ("a/b", "a_b-"), ("..", "_-"), ("../../etc", "_.._etc-"), ("", "_-"), (".hidden", "hidden-"),
])
def test_folder_names_from_ids_stay_inside(text, expected):
    name = safe_component(text)
    assert name.startswith(expected) and "/" not in name and name not in (".", "..") and not name.startswith(".")
    assert safe_component("a/b") != safe_component("a_b")


@pytest.mark.parametrize("status, got, want, no_opt, tol, correct", [
    ("optimal", 960.0, 960.0, False, 1e-6, True),
    ("optimal", 960.0005, 960.0, False, 1e-6, True),      # 5.2e-7 relative
    ("optimal", 960.002, 960.0, False, 1e-6, False),
    ("optimal", 0.0000005, 0.0, False, 1e-6, True),       # absolute below |want| = 1
    ("optimal", 0.5, 0.4, False, 0.1, True),
    ("infeasible", None, 5.0, False, 1e-6, False),
    ("infeasible", None, None, True, 1e-6, True),
    ("unbounded", None, None, True, 1e-6, True),
    ("optimal", 3.0, None, True, 1e-6, False),
    ("optimal", 3.0, None, False, 1e-6, False),           # unusable answer text
    ("no_compile", None, 3.0, False, 1e-6, False),
])
def test_correctness(status, got, want, no_opt, tol, correct):
    assert is_correct(status, got, want, no_opt, tol) is correct


@pytest.mark.parametrize("error, kind", [
    (RuntimeError("Failed to parse model response as JSON: x\nResponse: y"), "invalid_reply"),
    (TypeError('Failed to parse model response as JSON: the reply had the wrong shape: "model" must be text'),
     "invalid_reply"),
    (RuntimeError("Empty model response."), "invalid_reply"),
    (RuntimeError("Invalid alignment response JSON: {}"), "invalid_reply"),
    (json.JSONDecodeError("Expecting value", "x", 0), "invalid_reply"),
    (TypeError("Expected dict, got list"), "invalid_reply"),
    (RuntimeError("OpenAI request failed after 3 attempts: rate limit"), "error"),
    (ConnectionError("refused"), "error"),
    (TypeError("unexpected keyword argument 'verify'"), "error"),
])
def test_failures_blame_the_reply_or_the_provider(error, kind):
    assert classify_failure(error) == kind


@pytest.mark.parametrize("solver_status, status", [
    ("optimal", "optimal"), ("feasible", "feasible"), ("infeasible or unbounded", "infeasible_or_unbounded"),
    ("time limit", "limit"), ("limit", "limit"), ("interrupted", "error"), ("error", "solver_error"),
    ("something new", "solver_error"),
])
def test_solver_statuses_become_result_statuses(monkeypatch, solver_status, status):
    from vorlan import solve

    monkeypatch.setattr(solve, "solve", lambda m, d, time_limit=None: {"status": solver_status, "objective": 1.0,
                                                                       "message": "", "values": []})
    assert _solve("m", "d", 5)["status"] == status


@pytest.mark.parametrize("k, n, low, high", [
    (5, 10, 0.2366, 0.7634), (0, 10, 0.0, 0.2775), (10, 10, 0.7225, 1.0), (2, 7, 0.0822, 0.6411), (0, 0, 0.0, 1.0),
])
def test_wilson_interval_matches_published_values(k, n, low, high):
    lo, hi = wilson_interval(k, n)
    assert (round(lo, 4), round(hi, 4)) == (low, high)


def test_summary_counts_errors_apart_and_prices_tokens():
    rows = [
        {"set": "A", "id": "1", "status": "optimal", "correct": True, "iterations": 1, "seconds": 2.0,
         "input_tokens": 1000, "output_tokens": 100},
        {"set": "A", "id": "2", "status": "infeasible", "correct": False, "iterations": 3, "seconds": 4.0,
         "input_tokens": 3000, "output_tokens": 300},
        {"set": "A", "id": "3", "status": "error", "correct": False, "iterations": None, "seconds": 1.0},
        {"set": "B", "id": "1", "status": "no_compile", "correct": False, "iterations": 5, "seconds": 3.0},
    ]
    a, b, total = summarize_sets(rows, price_in=2.0, price_out=10.0, order=["A", "B"])
    assert (a.n, a.correct, a.executed, a.errors, a.wrong) == (3, 1, 2, 1, 1)
    assert (a.mean_iterations, a.median_iterations, a.mean_seconds) == (2.0, 2.0, 7.0 / 3)
    assert (a.input_tokens, a.output_tokens) == (4000, 400) and a.cost == pytest.approx(0.012)
    assert (b.n, b.executed, b.input_tokens, b.cost) == (1, 0, None, None)
    assert (total.name, total.n, total.correct, total.median_iterations) == ("all", 4, 1, 3.0)


# ------------------------------------------------------------------------ results file

def test_writer_appends_whole_lines_and_drops_a_cut_line(tmp_path):
    path = tmp_path / "results.jsonl"
    with ResultsWriter(path) as w:
        w.append({"set": "A", "id": "1", "objective": float("nan"), "note": "é"})
    with open(path, "ab") as f:
        f.write(b'{"set": "A", "id": "2", "obj')       # a line cut short by a crash
    assert [r["id"] for r in read_results(path)] == ["1"]
    with ResultsWriter(path) as w:                     # reopening cuts the partial line off
        w.append({"set": "A", "id": "3"})
    text = path.read_text(encoding="utf-8")
    assert text.count("\n") == 2 and text.endswith("\n") and '"objective": null' in text
    assert [r["id"] for r in read_results(path)] == ["1", "3"]


def test_latest_line_of_a_problem_wins():
    rows = [{"set": "A", "id": "1", "status": "error"}, {"set": "A", "id": "2", "status": "optimal"},
            {"set": "A", "id": "1", "status": "optimal"}]
    assert [(r["id"], r["status"]) for r in latest(rows)] == [("1", "optimal"), ("2", "optimal")]


def test_run_folder_is_not_overwritten_and_resumes_only_with_the_same_settings(tmp_path):
    settings = {"provider": "openai", "model": "m", "tolerance": 1e-6}
    assert prepare_run(tmp_path, settings, resume=False) == []
    with ResultsWriter(tmp_path / "results.jsonl") as w:
        w.append({"set": "A", "id": "1"})
    with pytest.raises(ResultsError, match="already holds results; pass --resume"):
        prepare_run(tmp_path, settings, resume=False)
    with pytest.raises(ResultsError, match="model 'm' -> 'other'"):
        prepare_run(tmp_path, dict(settings, model="other"), resume=True)
    assert [r["id"] for r in prepare_run(tmp_path, settings, resume=True)] == ["1"]


# ------------------------------------------------------------------------ comparison

def _run_dir(path, rows):
    path.mkdir()
    with open(path / "results.jsonl", "w") as f:
        for r in rows:
            f.write(json.dumps(r) + "\n")
    return str(path)


def test_compare_lists_what_each_run_solved_alone(tmp_path):
    a = _run_dir(tmp_path / "a", [{"set": "S", "id": str(i), "correct": i in (1, 2, 10)} for i in (1, 2, 3, 10)]
                 + [{"set": "T", "id": "x", "correct": True}])
    b = _run_dir(tmp_path / "b", [{"set": "S", "id": str(i), "correct": i in (2, 3)} for i in (1, 2, 3)]
                 + [{"set": "S", "id": "3", "correct": False}, {"set": "S", "id": "3", "correct": True}])
    s, t = compare_runs(a, b)
    assert (s.name, s.n1, s.correct1, s.n2, s.correct2, s.only1, s.only2, s.not_shared) == \
        ("S", 4, 3, 3, 2, ["1"], ["3"], 1)
    assert (t.n1, t.n2, t.only1, t.not_shared) == (1, 0, [], 1)
    text = format_comparison([s, t], "a", "b")
    assert "  A accuracy: 75.0% [30.1%, 95.4%] (3/4)" in text
    assert "  solved by A only (1): 1\n  solved by B only (1): 3" in text
    assert "  B accuracy: -" in text


def test_compare_needs_results(tmp_path):
    os.makedirs(tmp_path / "empty")
    with pytest.raises(ResultsError, match="holds no results.jsonl"):
        compare_runs(tmp_path / "empty", tmp_path / "empty")
