"""vorlan bench end to end: a small problem set of our own, a scripted OpenAI-compatible
service on 127.0.0.1 answering with right, wrong, non-compiling, infeasible, unusable and
failing replies, the real client layer, compiler and solver."""
import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import vorlan
from fake_llm_server import PROXY_VARS
from scripted_llm_server import ALIGNED, Fail, ScriptedOpenAI, is_alignment_prompt, pair
from vorlan.bench import BenchConfig, read_results, run_benchmark
from vorlan.cli import main

STAGE = str(Path(vorlan.__file__).resolve().parents[1])

MODEL = """{string} Products = ...;
float profit[Products] = ...;
float hours[Products] = ...;
float capacity = ...;
dvar float+ make[Products];
maximize totalProfit: sum(p in Products) profit[p] * make[p];
subject to {
  workshopHours: sum(p in Products) hours[p] * make[p] <= capacity;
}
"""
OVERSOLD = MODEL.replace("<= capacity;", "<= capacity;\n  orders: sum(p in Products) make[p] >= 1000;")


def data(capacity):
    return f'Products = {{ "tables", "chairs" }};\nprofit = [ 30, 12 ];\nhours = [ 4, 1.5 ];\ncapacity = {capacity};\n'


BROKEN = data(120).replace("capacity = 120;", "capacity 120;")

# id -> (answer, scripted replies). Descriptions carry "case <id>;" so the service can tell them apart.
CASES = {
    "right": ("960", [pair(MODEL, data(120)), ALIGNED]),
    "wrong": ("960", [pair(MODEL, data(100)), ALIGNED]),
    "broken": ("960", [pair(MODEL, BROKEN), pair(MODEL, BROKEN), "The data file has a syntax error."]),
    "oversold": ("960", [pair(OVERSOLD, data(120)), ALIGNED]),
    "none": ("No Best Solution", [pair(OVERSOLD, data(120)), ALIGNED]),
    "down": ("960", [Fail(500, "upstream overloaded")] * 3),
    "garbled": ("960", ["Sorry, I cannot help with that.", "<think>The reply runs out while thinking"]),
    "odd": ("about 960", [pair(MODEL, data(120)), ALIGNED]),
}
# status, objective, correct, iterations, syntax errors?, aligned, LLM calls, error starts with
EXPECTED = {
    "right": ("optimal", 960.0, True, 1, False, True, 2, None),
    "wrong": ("optimal", 800.0, False, 1, False, True, 2, None),
    "broken": ("no_compile", None, False, 2, True, False, 3, None),
    "oversold": ("infeasible", None, False, 1, False, True, 2, None),
    "none": ("infeasible", None, True, 1, False, True, 2, None),
    "down": ("error", None, False, None, False, False, 0, "RuntimeError: OpenAI request failed after 3 attempts"),
    # prose, then a reasoning block cut off: each asked again, no usable reply in the 2 rounds
    "garbled": ("invalid_reply", None, False, None, False, False, 2, "RuntimeError: No usable reply in 2 rounds"),
    "odd": ("optimal", 960.0, False, 1, False, True, 2, None),  # an answer that cannot be scored
}


def description(pid):
    return (f"case {pid}; A workshop builds tables and chairs. A table earns 30 dollars and takes 4 hours, a "
            f"chair earns 12 dollars and takes 1.5 hours; 120 hours are available. Maximise the profit.")


def key(pid):
    return f"case {pid};"


def write_set(path, ids):
    with open(path, "w", encoding="utf-8") as f:
        for pid in ids:
            f.write(json.dumps({"id": pid, "en_question": description(pid), "en_answer": CASES[pid][0]}) + "\n")
    return str(path)


def default_reply(prompt):
    """Right answers for any problem (used where the exact script does not matter)."""
    return ALIGNED if is_alignment_prompt(prompt) else pair(MODEL, data(120))


@pytest.fixture
def service_env(monkeypatch):
    services = []

    def start(scripts=None, default=None, delay=0.0):
        s = ScriptedOpenAI(scripts, default, delay)
        services.append(s)
        for v in PROXY_VARS:
            monkeypatch.delenv(v, raising=False)
        for k, v in s.env().items():
            monkeypatch.setenv(k, v)
        return s

    slept = []
    monkeypatch.setattr(time, "sleep", slept.append)  # the provider's back-off, not waited for here
    yield start
    for s in services:
        s.close()


def scripts_for(ids):
    return {key(pid): list(CASES[pid][1]) for pid in ids}


def check_line(row, service):
    status, objective, correct, iterations, has_errors, aligned, calls, error = EXPECTED[row["id"]]
    assert (row["status"], row["objective"], row["correct"], row["iterations"], bool(row["syntax_errors"]),
            row["aligned"], row["llm_calls"]) == (status, objective, correct, iterations, has_errors, aligned, calls)
    answer = CASES[row["id"]][0]
    assert row["expected"] == (960.0 if answer == "960" else answer)
    assert row["unscored"] == (row["id"] == "odd")
    assert (row["error"] or "").startswith(error or "") and (error is None) == (row["error"] is None)
    served = service.served.get(key(row["id"]), [])
    assert row["input_tokens"] == (sum(i for i, _ in served) if served else None)
    assert row["output_tokens"] == (sum(o for _, o in served) if served else None)
    assert isinstance(row["seconds"], float) and row["seconds"] >= 0


def test_command_scores_every_kind_of_reply_and_writes_the_report(service_env, tmp_path, capsys):
    service = service_env(scripts_for(CASES))
    dataset = write_set(tmp_path / "Shop.jsonl", CASES)
    out = tmp_path / "run"
    status = main(["bench", dataset, "--provider", "openai", "--model", "m", "-j", "4", "--out", str(out),
                   "--no-few-shot", "--iterations", "2", "--price-in", "2", "--price-out", "8", "-q"])
    printed = capsys.readouterr().out
    assert status == 1  # one provider failure: the run is not complete
    rows = read_results(out / "results.jsonl")
    assert sorted(r["id"] for r in rows) == sorted(CASES)
    for row in rows:
        check_line(row, service)
    by_id = {r["id"]: r for r in rows}
    assert [r["kind"] for r in by_id["broken"]["rounds"]] == ["generation", "syntax revision"]
    assert by_id["broken"]["rounds"][1]["compile_errors"] == 1 and by_id["right"]["rounds"][0]["aligned"] is True
    # 2 of the 7 scored correct; Wilson interval [8.2%, 64.1%]; executed: right, wrong, oversold, none, odd
    table = printed.splitlines()
    assert table[0].split()[:3] == ["set", "problems", "accuracy"]
    cells = table[2].split()
    assert cells[:9] == ["Shop", "8", "28.6%", "[8.2%,", "64.1%]", "62.5%", "1", "1", "1.17"] and cells[10] == "1"
    assert "Wilson score interval" in printed and f"report:  {out / 'report.html'}" in printed
    assert "unscored: published answer neither a number" in printed
    assert "rounds needed (problems): Shop: syntax 1" in printed
    # the problem folder holds the pair, the statistics and the full transcript
    folder = out / "Shop" / "broken"
    assert (folder / "model.dat").read_text() == BROKEN and (folder / "model.mod").read_text() == MODEL
    stats = json.loads((folder / "statistics.json").read_text())
    assert stats["pipeline"]["iterations"] == 2 and stats["result"]["status"] == "no_compile"
    transcript = (folder / "transcript.txt").read_text()
    assert transcript.count("## LLM call ") == 3 and "The data file has a syntax error." in transcript
    assert "case broken;" in transcript and "Syntax/semantic errors found" in transcript
    html = (out / "report.html").read_text()
    assert "Problems not solved (5)" in html and "href='Shop/down/transcript.txt'" in html
    assert "28.6% [8.2%, 64.1%]" in html
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        assert "Charts need matplotlib" in html
    else:
        assert html.count("src='data:image/png;base64,") == 2


def test_resume_keeps_finished_results_and_runs_failed_requests_again(service_env, tmp_path):
    dataset = write_set(tmp_path / "Shop.jsonl", CASES)
    out = tmp_path / "run"
    config = BenchConfig(provider="openai", model="m", iterations=2, few_shot=False)
    first = service_env(scripts_for(["right", "down"]))
    report = run_benchmark([dataset], config, out, ids=["right", "down"], jobs=2)
    assert sorted((r["id"], r["status"]) for r in report.rows) == [("down", "error"), ("right", "optimal")]
    first.close()

    again = dict(scripts_for(CASES), **{key("down"): [pair(MODEL, data(120)), ALIGNED]})
    second = service_env(again)
    with pytest.raises(Exception, match="already holds results"):
        run_benchmark([dataset], config, out, jobs=3)
    report = run_benchmark([dataset], config, out, jobs=3, resume=True)
    assert (report.skipped, report.ran) == (1, 7)
    assert key("right") not in second.served  # not asked again
    by_id = {r["id"]: r for r in report.rows}
    assert len(by_id) == 8 and by_id["down"]["status"] == "optimal" and by_id["down"]["correct"]
    lines = read_results(out / "results.jsonl")
    assert [r["id"] for r in lines[:2]] == sorted(["right", "down"], key=[r["id"] for r in lines[:2]].index)
    assert len(lines) == 9  # the failed line stays; the later one counts
    with pytest.raises(Exception, match=r"other settings \(model 'm' -> 'n'\)"):
        run_benchmark([dataset], BenchConfig(provider="openai", model="n", iterations=2, few_shot=False), out,
                      resume=True)


@pytest.mark.parametrize("argv, message", [
    (["--compare", "a"], "expected 2 arguments"),
    (["-j", "0", "x.jsonl"], "must be at least 1"),
    (["--tolerance", "-1", "x.jsonl"], "must be a finite number of at least 0"),
])
def test_usage_errors(argv, message, capsys):
    with pytest.raises(SystemExit) as e:
        main(["bench", *argv])
    assert e.value.code == 2 and message in capsys.readouterr().err


@pytest.mark.parametrize("argv, message", [
    ([], "no benchmark set given"),
    (["{set}", "--ids", "right,nope,zz"], "no set holds the id(s) nope, zz"),
    (["{set}", "--price-in", "1"], "give both --price-in and --price-out"),
    (["{set}", "--ids", " , "], "--ids names no problem"),
    (["{missing}"], "no such file"),
])
def test_bad_requests_fail_before_any_work(argv, message, tmp_path, capsys, service_env):
    service = service_env({})
    dataset = write_set(tmp_path / "Shop.jsonl", ["right"])
    args = [a.format(set=dataset, missing=str(tmp_path / "nope.jsonl")) for a in argv]
    assert main(["bench", *args, "--provider", "openai", "--model", "m", "--out", str(tmp_path / "o")]) == 1
    assert message in capsys.readouterr().err and service.requests == 0


def test_compare_command(service_env, tmp_path, capsys):
    dataset = write_set(tmp_path / "Shop.jsonl", ["right", "wrong"])
    service_env(scripts_for(["right", "wrong"]))
    config = BenchConfig(provider="openai", model="m", few_shot=False)
    run_benchmark([dataset], config, tmp_path / "a")
    service_env(default=default_reply)  # now both are answered right
    run_benchmark([dataset], config, tmp_path / "b")
    assert main(["bench", "--compare", str(tmp_path / "a"), str(tmp_path / "b")]) == 0
    out = capsys.readouterr().out
    assert "  A accuracy: 50.0% [9.5%, 90.5%] (1/2)" in out and "  B accuracy: 100.0% [34.2%, 100.0%] (2/2)" in out
    assert "solved by A only (0): -\n  solved by B only (1): wrong" in out


def _env(service):
    env = {k: v for k, v in os.environ.items() if k not in PROXY_VARS}
    env.update(service.env(), PYTHONPATH=STAGE)
    return env


def test_ctrl_c_keeps_every_finished_result_and_resume_completes_the_run(tmp_path):
    service = ScriptedOpenAI(default=default_reply, delay=0.3)
    try:
        dataset = write_set(tmp_path / "Shop.jsonl", CASES)
        out = tmp_path / "run"
        argv = [sys.executable, "-m", "vorlan", "bench", dataset, "--provider", "openai", "--model", "m",
                "--no-few-shot", "--out", str(out)]
        proc = subprocess.Popen(argv, env=_env(service), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        results = out / "results.jsonl"
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not (results.exists() and results.read_bytes().count(b"\n") >= 1):
            time.sleep(0.05)
        proc.send_signal(signal.SIGINT)
        stdout, stderr = proc.communicate(timeout=60)
        assert proc.returncode == 130, stderr
        assert "finishing 1 running problem(s)" in stderr and "continue with --resume" in stderr
        done = read_results(results)
        assert 1 <= len(done) < len(CASES) and results.read_bytes().endswith(b"\n")
        assert stdout.splitlines()[2].split()[:2] == ["Shop", str(len(done))]
        resumed = subprocess.run(argv + ["--resume", "-j", "4"], env=_env(service), capture_output=True, text=True,
                                 timeout=120)
        assert resumed.returncode == 0, resumed.stderr
        assert f"resuming: {len(done)} problem(s) already done" in resumed.stderr
        assert sorted(r["id"] for r in read_results(results)) == sorted(CASES)
    finally:
        service.close()


def test_two_problems_on_a_local_ray_runtime(service_env, tmp_path):
    ray = pytest.importorskip("ray")
    service = service_env(scripts_for(["right", "wrong"]))
    dataset = write_set(tmp_path / "Shop.jsonl", ["right", "wrong"])
    ray.init(num_cpus=1, include_dashboard=False, log_to_driver=False)
    try:
        report = run_benchmark([dataset], BenchConfig(provider="openai", model="m", few_shot=False),
                               tmp_path / "run", jobs=2, ray="auto")
    finally:
        ray.shutdown()
    for row in read_results(tmp_path / "run" / "results.jsonl"):
        check_line(row, service)
    assert sorted(r["id"] for r in report.rows) == ["right", "wrong"]
    assert (tmp_path / "run" / "Shop" / "right" / "transcript.txt").is_file()


def test_live_status_line_on_a_terminal(tmp_path):
    import pty

    service = ScriptedOpenAI(default=default_reply)
    try:
        dataset = write_set(tmp_path / "Shop.jsonl", ["right", "wrong"])
        master, slave = pty.openpty()
        proc = subprocess.Popen([sys.executable, "-m", "vorlan", "bench", dataset, "--provider", "openai",
                                 "--model", "m", "--no-few-shot", "--out", str(tmp_path / "run")],
                                env=_env(service), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=slave)
        os.close(slave)
        chunks = []
        while True:
            try:
                data = os.read(master, 65536)
            except OSError:
                break
            if not data:
                break
            chunks.append(data)
        os.close(master)
        assert proc.wait(timeout=120) == 0
    finally:
        service.close()
    screen = b"".join(chunks).decode()
    assert "\r\x1b[K1/2 \u00b7 accuracy 100.0%" in screen and "ETA" in screen
    assert "\r\x1b[K2/2 \u00b7 accuracy 100.0% \u00b7 elapsed" in screen and "Shop/right:" not in screen


def test_verify_runs_the_solver_inside_the_repair_loop(service_env, tmp_path, capsys):
    # infeasible first pair: the verification stage sends it back, the second pair is right
    service = service_env({key("right"): [pair(OVERSOLD, data(120)), pair(MODEL, data(120)), ALIGNED]})
    dataset = write_set(tmp_path / "Shop.jsonl", ["right"])
    out = tmp_path / "run"
    assert main(["bench", dataset, "--provider", "openai", "--model", "m", "--verify", "--no-few-shot",
                 "--out", str(out), "-q"]) == 0
    [row] = read_results(out / "results.jsonl")
    assert (row["status"], row["correct"], row["iterations"], row["llm_calls"]) == ("optimal", True, 2, 3)
    stats = json.loads((out / "Shop" / "right" / "statistics.json").read_text())
    assert stats["pipeline"]["solve"]["status"] == "optimal"
    assert json.loads((out / "run.json").read_text())["verify"] is True
    assert len(service.served[key("right")]) == 3


@pytest.mark.parametrize("command", [["bench", "SET"], ["solve", "Make tables.", "-o", "OUT", "--verify"]])
def test_commands_that_solve_refuse_without_the_solver_before_any_call(monkeypatch, tmp_path, capsys, command):
    import importlib.util

    real = importlib.util.find_spec
    monkeypatch.setattr(importlib.util, "find_spec", lambda name, *a: None if name == "highspy" else real(name, *a))
    monkeypatch.delenv("OPENAI_API_KEY", raising=False)  # the solver check comes first
    monkeypatch.chdir(tmp_path)
    dataset = write_set(tmp_path / "Shop.jsonl", ["right"])
    argv = [{"SET": dataset, "OUT": str(tmp_path / "o")}.get(a, a) for a in command]
    assert main([*argv, "--provider", "openai", "--model", "m", "-q"]) == 1
    err = capsys.readouterr().err
    assert "needs the solver, which is not installed (fix: pip install 'vorlan[solve]')" in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["Shop.jsonl"]


@pytest.mark.parametrize("kinds, status", [
    (["wrong", "oversold", "broken"], 0),  # every answer wrong: 0% (its interval once broke the chart)
    (["right"] * 7, 0),  # 100%
    (["right"], 0),  # one problem
    (["down"] * 3, 1),  # every request failed
    (["garbled"] * 3, 0),  # no reply to score
])
def test_every_run_prints_the_table_and_writes_the_report(service_env, tmp_path, capsys, kinds, status):
    ids = [f"{kind}-{i}" for i, kind in enumerate(kinds)]
    service_env({key(pid): list(CASES[kind][1]) for pid, kind in zip(ids, kinds)})
    dataset = tmp_path / "Edge.jsonl"
    dataset.write_text("".join(json.dumps({"id": pid, "en_question": description(pid), "en_answer": CASES[kind][0]})
                               + "\n" for pid, kind in zip(ids, kinds)), encoding="utf-8")
    out = tmp_path / "run"
    argv = ["bench", str(dataset), "--provider", "openai", "--model", "m", "--iterations", "2", "--no-few-shot",
            "--out", str(out)]
    assert main(argv) == status
    table = capsys.readouterr().out
    assert table.splitlines()[0].startswith("set ") and "Edge" in table
    page = (out / "report.html").read_text(encoding="utf-8")
    assert page.count("data:image/png;base64,") == 2
