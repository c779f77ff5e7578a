"""`vorlan run`: one compile, time limit and Ctrl-C on a model that takes minutes, the statuses a
solver can end in, one clean JSON object, and exports that never leave a truncated file."""
import json
import signal
import subprocess
import sys
import time

import pytest

import vorlan.milpgen as mg
from test_cli import GOOD_DATA, GOOD_MODEL, base_env, run, service, solve_replies  # noqa: F401 (fixture)
from test_solve import market_split

pytest.importorskip("highspy")


@pytest.fixture
def hard(tmp_path):
    model, data = market_split()
    (tmp_path / "hard.mod").write_text(model)
    (tmp_path / "hard.dat").write_text(data)
    return str(tmp_path / "hard.mod"), str(tmp_path / "hard.dat")


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


def test_time_limit_reports_the_best_solution_and_bound(hard):
    t0 = time.monotonic()
    r = run(["run", *hard, "--time-limit", "1"])
    assert time.monotonic() - t0 < 30
    assert r.returncode == 1, r.stderr
    lines = r.stdout.splitlines()
    assert lines[0] == "status: time limit" and lines[1].startswith("objective: ") and lines[2].startswith("bound: ")
    assert "best solution found:" in lines


def test_ctrl_c_stops_a_long_solve_promptly(hard):
    proc = subprocess.Popen([sys.executable, "-m", "vorlan", "run", *hard, "--json"], env=base_env(),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(4)  # compiled and deep in branch-and-bound by now
    t0 = time.monotonic()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=30)
    assert time.monotonic() - t0 < 10
    assert proc.returncode == 130, err
    record = json.loads(out)  # stdout is exactly one JSON object
    assert record["status"] == "interrupted" and record["bound"] is not None
    assert record["objective"] is None or record["objective"] >= record["bound"]
    assert "interrupted" in err


@pytest.mark.parametrize("model, data, status, code", [
    ("dvar float+ x;\nsubject to { c: x >= 1; }\n", "", "feasible", 0),
    ("dvar float+ x;\nmaximize o: x;\nsubject to { c: x >= 1; }\n", "", "unbounded", 2),
    (GOOD_MODEL, GOOD_DATA, "optimal", 0),
])
def test_statuses_and_json(tmp_path, model, data, status, code):
    args = [write(tmp_path, "m.mod", model)] + ([write(tmp_path, "m.dat", data)] if data else [])
    text = run(["run", *args])
    assert text.returncode == code and text.stdout.startswith(f"status: {status}\n")
    assert ("objective:" in text.stdout) == (status != "feasible")
    r = run(["run", *args, "--json"])
    assert r.returncode == code
    record = json.loads(r.stdout)
    assert record["status"] == status
    if status == "optimal":
        assert record["objective"] == pytest.approx(960) and {"name": 'make["chairs"]', "value": 80.0} in record["values"]
    else:
        assert record["objective"] is None


def test_compile_errors_are_one_json_object_too(tmp_path):
    r = run(["run", write(tmp_path, "m.mod", "dvar float+ x\nminimize o: x;"), "--json"])
    assert r.returncode == 1
    record = json.loads(r.stdout)
    assert record["status"] == "compile error" and record["errors"][0].startswith("compile errors in")


def test_solve_json_verify_prints_only_the_record(service, tmp_path):
    service.texts = solve_replies(first_bad=False)
    r = run(["solve", "Tables and chairs.", "-o", str(tmp_path / "o"), "--no-few-shot", "--verify", "--json"],
            env=base_env(**service.env()))
    assert r.returncode == 0, r.stderr
    stats = json.loads(r.stdout)
    assert stats["solve"]["status"] == "optimal" and stats["solve"]["objective"] == pytest.approx(960)


def test_a_failed_export_leaves_the_previous_file(tmp_path, monkeypatch):
    m, d = write(tmp_path, "m.mod", GOOD_MODEL), write(tmp_path, "m.dat", GOOD_DATA)
    script = tmp_path / "m.py"
    script.write_text("previous script")

    def fails_half_way(self, stream):
        stream.write("x = 1\n" * 1000)
        raise OSError("disk full")
    monkeypatch.setattr(mg.ScipyMilpGenerator, "write_code", fails_half_way)
    assert mg.run_file(m, d, emit_script=str(script)) == 1
    assert script.read_text() == "previous script"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["m.dat", "m.mod", "m.py"]


@pytest.mark.parametrize("n", [3, 3000])  # dense and sparse matrices
def test_written_script_is_the_generated_one(tmp_path, n):
    # write_script keeps the rows packed, generate_script as dicts: same text either way
    from vorlan.vorlan_core import QelCompiler
    compiler = QelCompiler()
    compiler.compile_model(f"range I = 1..{n};\ndvar float+ x[I];\ndvar int y in 0..4;\n"
                           "minimize o: sum(i in I) x[i] + y;\n"
                           f"subject to {{ forall(i in I) lo: x[i] + x[(i mod {n}) + 1] >= 1; eq: y == 2;\n"
                           "rg: 1 <= x[1] + 2 * x[2] - y <= 5; }\n", "")
    mg.write_script(compiler, tmp_path / "s.py", "cycle")
    assert (tmp_path / "s.py").read_text() == mg.generate_script(compiler, "cycle")


DEXPR_MODEL = """tuple Link { key string a; key string b; float cost; }
{Link} Links = ...;
dvar float+ flow[Links] in 0..10;
dexpr float spend = sum(l in Links) l.cost * flow[l];
dexpr float carried[<a, b, c> in Links] = 2 * flow[<a, b, c>] + 1;
maximize sum(l in Links) flow[l] - spend;
subject to { sum(l in Links) flow[l] <= 15; }
"""
DEXPR_DATA = 'Links = { <"A", "B", 0.5>, <"B", "C", 2> };\n'


def test_dexpr_values_are_reported_after_solving(tmp_path):
    # Only A->B pays (profit 1 - 0.5 per unit, bound 10): spend 5, carried 21 and 1.
    model, data = write(tmp_path, "d.mod", DEXPR_MODEL), write(tmp_path, "d.dat", DEXPR_DATA)
    r = run(["run", model, data])
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    table = [line.split() for line in lines[next(i for i, x in enumerate(lines) if x.startswith("expression")):]]
    assert table == [["expression", "value"], ["spend", "5"], ['carried[<"A","B">]', "21"], ['carried[<"B","C">]', "1"]]
    record = json.loads(run(["run", model, data, "--json"]).stdout)
    assert record["expressions"] == [{"name": "spend", "value": 5.0}, {"name": 'carried[<"A","B">]', "value": 21.0},
                                     {"name": 'carried[<"B","C">]', "value": 1.0}]
