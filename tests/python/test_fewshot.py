"""Few-shot gathering over a temporary example tree."""

import logging
from pathlib import Path

import pytest

import vorlan.genloom as g


def put(root: Path, rel: str, text="x", raw: bytes | None = None) -> Path:
    p = root / rel
    p.parent.mkdir(parents=True, exist_ok=True)
    p.write_bytes(raw if raw is not None else text.encode())
    return p


@pytest.fixture
def tree(tmp_path):
    for name in ("alpha", "beta", "gamma"):
        put(tmp_path, f"{name}/{name}.txt", f"  {name} problem\n")
        put(tmp_path, f"{name}/{name}.mod", f"// {name} model")
        put(tmp_path, f"{name}/{name}.dat", f"{name}_n = 1;")
    return tmp_path


@pytest.fixture
def ranking(monkeypatch):
    """Replaces rag_rank by one that returns the given paths and records its arguments."""
    calls = []

    def install(paths):
        def fake(**kw):
            calls.append(kw)
            return [{"path": str(p), "score": 0.5, "preview": ""} if p is not None else {"score": 0.1} for p in paths]
        monkeypatch.setattr(g, "rag_rank", fake)
        return calls
    return install


def test_missing_folder_gives_no_examples_and_two_messages(tmp_path, caplog):
    msgs = []
    with caplog.at_level(logging.DEBUG, logger="vorlan.genloom"):
        assert g._gather_few_shots("ship goods", models_dir=str(tmp_path / "none"), progress=msgs.append) == []
    assert msgs == ["Retrieving few-shot examples (k=3)", "Few-shot retrieval failed; continuing without examples"]
    assert [r.getMessage() for r in caplog.records] == [
        "Few-shot retrieval skipped: Models directory not found: " + str(tmp_path / "none")]


def test_three_hits_in_ranking_order(tree, ranking):
    order = [tree / "gamma/gamma.txt", tree / "alpha/alpha.txt", tree / "beta/beta.txt"]
    calls = ranking(order)
    msgs = []
    got = g._gather_few_shots("problem", 3, str(tree), msgs.append)
    assert calls == [{"query": "problem", "models_dir": str(tree), "top_k": 3}]
    assert msgs[1] == "Found 3 few-shot candidates: ['gamma.txt', 'alpha.txt', 'beta.txt']"
    assert [list(r) for r in got] == [["description", "model", "data", "desc_path", "model_path", "data_path"]] * 3
    assert got[0] == {
        "description": "gamma problem", "model": "// gamma model", "data": "gamma_n = 1;",
        "desc_path": str(order[0]), "model_path": str(tree / "gamma/gamma.mod"),
        "data_path": str(tree / "gamma/gamma.dat"),
    }
    assert [r["description"] for r in got] == ["gamma problem", "alpha problem", "beta problem"]


def test_default_models_dir_is_passed_as_none(ranking):
    calls = ranking([])
    msgs = []
    assert g._gather_few_shots("p", progress=msgs.append) == []
    assert calls == [{"query": "p", "models_dir": None, "top_k": 3}]
    assert msgs == ["Retrieving few-shot examples (k=3)", "Found 0 few-shot candidates: []"]


def test_unusable_hits_are_skipped(tree, ranking, caplog):
    put(tree, "nomod/nomod.txt", "has no model")
    put(tree, "nomod/nomod.dat", "d")
    put(tree, "blank/blank.txt", " \n\t ")
    put(tree, "blank/blank.mod", "m")
    put(tree, "blank/blank.dat", "d")
    put(tree, "emptymod/e.txt", "desc")
    put(tree, "emptymod/e.mod", "   ")
    put(tree, "emptymod/e.dat", "d")
    ranking([tree / "nomod/nomod.txt", None, tree / "blank/blank.txt", tree / "emptymod/e.txt",
             tree / "missing/gone.txt", tree / "beta/beta.txt"])
    with caplog.at_level(logging.DEBUG, logger="vorlan.genloom"):
        got = g._gather_few_shots("p", 3, str(tree), None)
    assert [r["description"] for r in got] == ["beta problem"]
    skipped = [r.getMessage() for r in caplog.records if r.getMessage().startswith("Skipping")]
    assert skipped == ["Skipping example due to error: 'path'"]


@pytest.mark.parametrize("k,count", [(1, 1), (2, 2), (0, 1), (-4, 1), (10, 3)])
def test_k_caps_the_examples(tree, ranking, k, count):
    ranking([tree / "alpha/alpha.txt", tree / "beta/beta.txt", tree / "gamma/gamma.txt"])
    assert len(g._gather_few_shots("p", k, str(tree))) == count


def test_failing_ranking_and_callback(tree, monkeypatch):
    def broken(**kw):
        raise RuntimeError("encoder exploded")
    monkeypatch.setattr(g, "rag_rank", broken)

    def bad_progress(msg):
        raise ValueError("ui gone")
    assert g._gather_few_shots("p", 2, str(tree), bad_progress) == []


@pytest.mark.parametrize("args", [(5,), (None,), ("p", "3"), ("p", 2.0)])
def test_argument_kinds(args):
    with pytest.raises(TypeError):
        g._gather_few_shots(*args)


def test_pairing_falls_back_per_kind(tmp_path):
    d = put(tmp_path, "f/q.txt")
    put(tmp_path, "f/p.mod")
    put(tmp_path, "f/a.mod")
    put(tmp_path, "f/b.dat")
    mod, dat = g._find_pair_in_folder(d)
    assert (mod, dat) == (tmp_path / "f/a.mod", tmp_path / "f/b.dat")
    assert isinstance(mod, Path) and isinstance(dat, Path)
    x = put(tmp_path, "h/x.txt")
    put(tmp_path, "h/x.mod")
    put(tmp_path, "h/y.dat")
    assert g._find_pair_in_folder(str(x)) == (tmp_path / "h/x.mod", tmp_path / "h/y.dat")
    lone = put(tmp_path, "l/only.txt")
    assert g._find_pair_in_folder(lone) == (None, None)


def test_pairing_relative_path_keeps_pathlib_form(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    put(tmp_path, "k.txt")
    put(tmp_path, "k.mod")
    put(tmp_path, "k.dat")
    assert [str(p) for p in g._find_pair_in_folder("k.txt")] == ["k.mod", "k.dat"]


def test_safe_read_text(tmp_path):
    assert g._safe_read_text(put(tmp_path, "a.txt", "  hello world"), 5) == "hel"
    assert g._safe_read_text(put(tmp_path, "b.txt", raw=b"\n caf\xc3\xa9\xff\r\nbar \n")) == "caf\u00e9\nbar"
    assert g._safe_read_text(tmp_path / "missing.txt") == ""
    assert g._safe_read_text(tmp_path) == ""
    assert g._safe_read_text(12345) == ""
    with pytest.raises(TypeError):
        g._safe_read_text(tmp_path / "a.txt", "5")
