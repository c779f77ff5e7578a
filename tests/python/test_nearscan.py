"""Description ranking: exact rules with a stand-in embedding model, meaning with the real one,
and the command-line entry."""

import importlib
import importlib.util
import logging
import os
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import vorlan.nearscan as n

FAKES = Path(__file__).parent / "fake_embedding"
STAGE = Path(n.__file__).parent.parent


@pytest.fixture
def fake(monkeypatch):
    """The stand-in libraries in sys.modules (the light runtime hidden) and an empty model cache."""
    monkeypatch.syspath_prepend(str(FAKES))
    for name in ("sentence_transformers", "torch", "onnxruntime"):
        monkeypatch.delitem(sys.modules, name, raising=False)
    st = importlib.import_module("sentence_transformers")
    importlib.import_module("torch")
    st.constructed.clear()
    st.encode_calls.clear()
    monkeypatch.setattr(n, "_MODEL_CACHE", {})
    yield st
    for name in ("sentence_transformers", "torch"):
        sys.modules.pop(name, None)


def put(root: Path, rel: str, text: str = "", raw: bytes | None = None) -> Path:
    p = root / rel
    p.parent.mkdir(parents=True, exist_ok=True)
    p.write_bytes(raw if raw is not None else text.encode())
    return p


def test_ranking_order_scores_and_records(fake, tmp_path):
    put(tmp_path, "b/ship.txt", "ship ship goods")
    put(tmp_path, "a/diet.txt", "diet plan")
    put(tmp_path, "a-b/ship2.txt", "ship")
    put(tmp_path, "c/pack.txt", "pack ship")
    got = n.rank_problem_descriptions("ship", str(tmp_path))
    assert [Path(r["path"]).relative_to(tmp_path).as_posix() for r in got] == [
        "a-b/ship2.txt", "b/ship.txt", "c/pack.txt", "a/diet.txt"]  # equal scores keep path order
    assert [list(r) for r in got] == [["path", "score", "preview"]] * 4
    assert [round(r["score"], 4) for r in got] == [1.0, 1.0, 0.7071, 0.0]
    assert all(type(r["score"]) is float for r in got)
    (docs, kw), (query, qkw) = fake.encode_calls
    assert query == ["ship"] and len(docs) == 4
    assert kw == qkw == {"convert_to_tensor": True, "normalize_embeddings": True, "show_progress_bar": False}
    assert fake.constructed == ["sentence-transformers/all-MiniLM-L6-v2"]


def test_path_order_is_component_wise_and_case_sensitive(fake, tmp_path):
    for rel in ["a-b/x.txt", "a/b.txt", "B.txt", "a/deep/z.txt", "n.TXT", "m.text"]:
        put(tmp_path, rel, "same")
    got = [Path(r["path"]).relative_to(tmp_path).as_posix() for r in n.rank_problem_descriptions("q", tmp_path)]
    assert got == ["B.txt", "a/b.txt", "a/deep/z.txt", "a-b/x.txt"]
    assert [p.relative_to(tmp_path).as_posix() for p in n._iter_description_files(tmp_path)] == got
    assert all(isinstance(p, Path) for p in n._iter_description_files(str(tmp_path)))


@pytest.mark.parametrize("top_k,count", [(1, 1), (2, 2), (0, 5), (-1, 5), (99, 5)])
def test_top_k(fake, tmp_path, top_k, count):
    for i in range(5):
        put(tmp_path, f"d{i}.txt", "ship " * i + "diet")
    got = n.rank_problem_descriptions(query="ship", models_dir=str(tmp_path), top_k=top_k)
    assert len(got) == count and got[0]["path"].endswith("d4.txt")


def test_caps_and_previews(fake, tmp_path):
    put(tmp_path, "crlf.txt", raw=b"  line one\r\nline two\rthree\r\n\r\n")
    put(tmp_path, "long.txt", "\n" + "x" * 99_999 + "yz" + "w" * 10)
    put(tmp_path, "bad.txt", raw=b"ship \xff\xfegoods")
    got = {Path(r["path"]).name: r for r in n.rank_problem_descriptions("ship", tmp_path)}
    assert got["crlf.txt"]["preview"] == "line one line two three"
    assert got["bad.txt"]["preview"] == "ship goods"
    assert got["long.txt"]["preview"] == "x" * 300
    ranked = {len(t) for t in fake.encode_calls[0][0]}
    assert 99_999 + 1 - 1 in ranked  # cut at 100000 characters (the leading line break counts), then stripped


def test_empty_and_blank_trees_load_no_model(fake, tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "sentence_transformers", None)  # library missing
    put(tmp_path, "notes.md", "ship")
    put(tmp_path, "x/upper.TXT", "ship")
    assert n.rank_problem_descriptions("ship", str(tmp_path)) == []
    put(tmp_path, "blank.txt", " \n\t ")
    put(tmp_path, "y/empty.txt", "")
    assert n.rank_problem_descriptions("ship", str(tmp_path)) == []
    assert n._MODEL_CACHE == {}


def test_missing_folder(fake, tmp_path):
    with pytest.raises(FileNotFoundError) as info:
        n.rank_problem_descriptions("q", str(tmp_path / "nope"))
    assert str(info.value) == "Models directory not found: " + str(tmp_path / "nope")
    assert n._MODEL_CACHE == {}


def test_relative_and_default_folders(fake, tmp_path, monkeypatch):
    put(tmp_path, "rel/one.txt", "ship")
    monkeypatch.chdir(tmp_path)
    assert [r["path"] for r in n.rank_problem_descriptions("ship", "rel")] == ["rel/one.txt"]
    default = Path(n.__file__).resolve().parent / "qel_models"
    for given in ("", None):
        got = n.rank_problem_descriptions("ship", given, top_k=0)
        assert all(r["path"].startswith(str(default) + os.sep) for r in got)
        assert len(got) == len([p for p in n._iter_description_files(default) if n._read_text(p)])


def test_failed_load_warns_once_and_is_not_retried(fake, tmp_path, caplog):
    put(tmp_path, "a.txt", "ship")
    with caplog.at_level(logging.WARNING):
        for _ in range(3):
            with pytest.raises(RuntimeError):
                n.rank_problem_descriptions("ship", tmp_path, model_name="broken-model")
    assert fake.constructed == ["broken-model"]
    warns = [(r.name, r.levelno, r.getMessage()) for r in caplog.records]
    assert warns == [("root", logging.WARNING,
                      "RAG disabled (embedding model load failed): no such model: broken-model")]
    assert n._MODEL_CACHE == {"broken-model": None}
    assert n._load_model("broken-model") is None


def test_missing_library_is_one_failed_load(fake, monkeypatch, caplog):
    monkeypatch.setitem(sys.modules, "sentence_transformers", None)
    with caplog.at_level(logging.WARNING):
        assert n._load_model("m") is None
        assert n._load_model("m") is None
    assert len(caplog.records) == 1
    assert caplog.records[0].getMessage().startswith("RAG disabled (embedding model load failed): ")


def test_model_is_cached_per_name(fake, tmp_path):
    put(tmp_path, "a.txt", "ship")
    for _ in range(3):
        n.rank_problem_descriptions("ship", tmp_path)
    n.rank_problem_descriptions("ship", tmp_path, model_name="other")
    assert fake.constructed == ["sentence-transformers/all-MiniLM-L6-v2", "other"]
    assert n._load_model("other") is n._MODEL_CACHE["other"]


def test_concurrent_first_loads_share_one_model(fake, monkeypatch):
    real = fake.SentenceTransformer

    class Slow(real):
        def __init__(self, name):
            time.sleep(0.2)  # releases the GIL while "constructing"
            super().__init__(name)
    monkeypatch.setattr(fake, "SentenceTransformer", Slow)
    got = []
    threads = [threading.Thread(target=lambda: got.append(n._load_model("shared"))) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(got) == 4 and all(m is got[0] for m in got) and got[0] is not None
    assert list(n._MODEL_CACHE) == ["shared"]


def test_offline_flag_only_for_locally_cached_models(fake, tmp_path, monkeypatch):
    snap = tmp_path / "models--org--cached"
    put(snap, "refs/main", "r1")
    put(snap, "snapshots/r1/modules.json", "[]")
    monkeypatch.setenv("HF_HUB_CACHE", str(tmp_path))
    monkeypatch.delenv("HF_HUB_OFFLINE", raising=False)
    n._load_model("org/not-cached")
    assert "HF_HUB_OFFLINE" not in os.environ
    n._load_model("org/cached")
    assert os.environ["HF_HUB_OFFLINE"] == "1"
    monkeypatch.setenv("HF_HUB_OFFLINE", "0")
    n._MODEL_CACHE.clear()
    n._load_model("org/cached")
    assert os.environ["HF_HUB_OFFLINE"] == "0"  # an explicit choice is left alone


@pytest.mark.parametrize("kwargs", [
    {"query": 3}, {"query": None}, {"query": "q", "top_k": True}, {"query": "q", "top_k": 2.0},
    {"query": "q", "top_k": "3"}, {"query": "q", "model_name": None}, {"query": "q", "models_dir": 5},
])
def test_argument_kinds(fake, tmp_path, kwargs):
    kwargs.setdefault("models_dir", str(tmp_path))
    with pytest.raises(TypeError):
        n.rank_problem_descriptions(**kwargs)


def test_read_text(tmp_path):
    p = put(tmp_path, "a.txt", "  hello world")
    assert n._read_text(p, 5) == "hel"
    assert n._read_text(str(p)) == "hello world"
    assert n._read_text(tmp_path / "missing") == "" and n._read_text(tmp_path) == ""
    for bad in (True, 1.5, "5"):
        with pytest.raises(TypeError):
            n._read_text(p, bad)


# Command-line entry, run as its own process.

def run_main(args, tree=None, tmp_path=None, fakes=True):
    pkg = STAGE
    if tree is not None:
        # A relocated copy of the package whose default tree is `tree`.
        pkg = tmp_path / "pkg"
        shutil.copytree(STAGE / "vorlan", pkg / "vorlan", ignore=shutil.ignore_patterns("qel_models"))
        shutil.copytree(tree, pkg / "vorlan" / "qel_models")
    path = os.pathsep.join(([str(FAKES)] if fakes else []) + [str(pkg)])
    code = "import sys, vorlan.nearscan as n; sys.exit(n._main())"
    return subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True,
                          env={**os.environ, "PYTHONPATH": path})


@pytest.mark.parametrize("args", [[], [""], ["  ", "\t"]])
def test_cli_usage(args):
    r = run_main(args)
    assert (r.returncode, r.stdout) == (1, 'Usage: nearscan "your problem description here"\n')


def test_cli_empty_tree(tmp_path):
    (tmp_path / "empty").mkdir()
    r = run_main(["ship", "goods"], tmp_path / "empty", tmp_path)
    assert (r.returncode, r.stdout) == (0, "No descriptions found.\n")


def test_cli_lines(tmp_path):
    tree = tmp_path / "tree"
    for i in range(12):
        put(tree, f"p{i:02d}/d.txt", "ship " * (i % 3) + "diet")
    r = run_main(["  ship", "goods "], tree, tmp_path)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert len(lines) == 10
    root = tmp_path / "pkg" / "vorlan" / "qel_models"
    assert lines[0] == f" 1. {root / 'p02/d.txt'}  score=0.8944"
    assert lines[4] == f" 5. {root / 'p01/d.txt'}  score=0.7071"
    assert lines[9] == f"10. {root / 'p03/d.txt'}  score=0.0000"  # equal scores in path order


def test_cli_missing_tree_fails(tmp_path):
    pkg = tmp_path / "pkg"
    shutil.copytree(STAGE / "vorlan", pkg / "vorlan", ignore=shutil.ignore_patterns("qel_models"))
    r = subprocess.run([sys.executable, "-c", "import sys, vorlan.nearscan as n; sys.exit(n._main())", "q"],
                       capture_output=True, text=True, env={**os.environ, "PYTHONPATH": str(pkg)})
    assert r.returncode == 1 and "Models directory not found: " in r.stderr


# The real embedding model, loaded offline.

def real_model_available():
    """The embedding stack is installed and the default model is in the local hub cache."""
    if importlib.util.find_spec("sentence_transformers") is None:
        return False
    env = os.environ
    cache = (Path(env["HF_HUB_CACHE"]) if env.get("HF_HUB_CACHE")
             else Path(env["HF_HOME"]) / "hub" if env.get("HF_HOME")
             else Path(env["XDG_CACHE_HOME"]) / "huggingface" / "hub" if env.get("XDG_CACHE_HOME")
             else Path.home() / ".cache" / "huggingface" / "hub")
    return (cache / "models--sentence-transformers--all-MiniLM-L6-v2" / "refs" / "main").is_file()


@pytest.mark.skipif(not real_model_available(), reason="embedding stack or cached model missing (scripts/install_offline_model.py)")
def test_real_model_ranks_transportation_first(tmp_path):
    texts = {
        "transportation": "A company has three warehouses and four retail stores. Each warehouse can supply a "
                          "limited number of units and each store needs a given amount. The cost to move one unit "
                          "differs by route. Decide how much to send along each route at minimum total cost.",
        "diet": "Pick quantities of foods so that daily protein, calorie and vitamin needs are met as cheaply "
                "as possible.",
        "knapsack": "Choose which items to take in a bag of limited weight so the total value is largest.",
        "rostering": "Assign nurses to day and night shifts over a week so every shift is covered and each nurse "
                     "gets two days off.",
        "cutting": "Cut standard paper rolls into narrower rolls to satisfy orders while wasting as little as possible.",
    }
    for name, text in texts.items():
        put(tmp_path, f"{name}/{name}.txt", text)
    code = (
        "import json, sys, vorlan.nearscan as n\n"
        "r = n.rank_problem_descriptions('We need to ship goods from our warehouses to the stores at the least "
        "cost.', sys.argv[1])\n"
        "print(json.dumps(r))\n"
    )
    env = {**os.environ, "PYTHONPATH": str(STAGE), "HF_HUB_OFFLINE": "1", "no_proxy": "", "https_proxy": "http://127.0.0.1:9"}
    r = subprocess.run([sys.executable, "-c", code, str(tmp_path)], capture_output=True, text=True, env=env,
                       timeout=300)
    assert r.returncode == 0, r.stderr
    import json
    got = json.loads(r.stdout.splitlines()[-1])
    assert Path(got[0]["path"]).parent.name == "transportation"
    assert got[0]["score"] > got[1]["score"] + 0.1
    assert all(-1.0 <= x["score"] <= 1.0 for x in got)


# Rankings of the bundled tree with the real model and an empty cache folder: once with the
# cache (and the shipped embeddings), once on the uncached path, counting what is encoded.
BUNDLED_CHECK = r"""
import json, os, sys
import vorlan.nearscan as n
name = "sentence-transformers/all-MiniLM-L6-v2"
model = n._load_model(name)
sizes = []

class Counting:
    def encode(self, texts, **kw):
        sizes.append(len(texts))
        return model.encode(texts, **kw)

n._MODEL_CACHE[name] = Counting()
queries = json.loads(sys.argv[1])
cached = [n.rank_problem_descriptions(q, top_k=0) for q in queries]
encoded = list(sizes)
os.environ["VORLAN_EMBEDDING_CACHE"] = "off"
plain = [n.rank_problem_descriptions(q, top_k=0) for q in queries]
print(json.dumps({"encoded": encoded, "cached": cached, "plain": plain, "revision": n._model_revision(name)}))
"""
# Short word problems of our own; they must find the everyday examples, not network models.
WORD_PROBLEMS = [
    "A bakery makes muffins and scones. Each muffin earns $1.20 and each scone $0.90. Muffins need 10 minutes of "
    "oven time and scones 6 minutes, and the oven is free for 8 hours a day. The bakery wants at least twice as many "
    "scones as muffins. How many of each should it bake to maximize profit?",
    "A school must take 230 pupils to a museum. Minibuses have 15 seats and cost $120; coaches have 50 seats and "
    "cost $300, and only 4 coaches are available. How many of each should be hired to carry everyone at the least "
    "cost?",
    "Two breakfast cereals are mixed for a bowl that needs at least 8 g of fibre and 12 g of protein. Cereal A costs "
    "$0.40 per 100 g with 6 g fibre and 7 g protein; cereal B costs $0.30 per 100 g with 3 g fibre and 10 g "
    "protein. How much of each gives the cheapest bowl?",
    "An investor splits $50,000 between a bond fund paying 4% and a stock fund expected to earn 9%. At least 40% "
    "must be in bonds and at most $25,000 in stocks. How much should go into each fund to maximize the yearly return?",
    "A shop needs 90 hours of work per day. Full-time staff work 8 hours at $22 an hour and part-time staff 4 hours "
    "at $16 an hour; part-timers may cover at most 30% of the hours. How many of each should be scheduled at least "
    "cost?",
]
QUERIES = [
    "We need to ship goods from our warehouses to the stores at the least cost.",
    "Choose which projects to fund over three years within each year's budget.",
    *WORD_PROBLEMS,
]


@pytest.fixture(scope="module")
def bundled(tmp_path_factory):
    if not real_model_available():
        pytest.skip("embedding stack or cached model missing (scripts/install_offline_model.py)")
    import json
    env = {**os.environ, "PYTHONPATH": str(STAGE), "HF_HUB_OFFLINE": "1", "no_proxy": "",
           "https_proxy": "http://127.0.0.1:9", "VORLAN_CACHE_DIR": str(tmp_path_factory.mktemp("cache"))}
    r = subprocess.run([sys.executable, "-c", BUNDLED_CHECK, json.dumps(QUERIES)], capture_output=True, text=True,
                       env=env, timeout=600)
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout.splitlines()[-1])


def test_fresh_install_encodes_only_the_query_for_the_bundled_tree(bundled):
    assert bundled["encoded"] == [1] * len(QUERIES)
    shipped = n._embedding_file_info(Path(n.__file__).resolve().parent / "nearscan_data" /
                                     n._shipped_file_name("sentence-transformers/all-MiniLM-L6-v2"))
    assert shipped["revision"] == bundled["revision"]


def test_cached_ranking_equals_the_uncached_one(bundled):
    for cached, plain in zip(bundled["cached"], bundled["plain"]):
        assert [r["path"] for r in cached] == [r["path"] for r in plain]
        assert [r["preview"] for r in cached] == [r["preview"] for r in plain]
        assert [r["score"] for r in cached] == pytest.approx([r["score"] for r in plain], abs=1e-6)


def everyday_examples() -> set[str]:
    """Folders of the short everyday word problems: those formulated in everyday_formulations.py."""
    found = importlib.util.spec_from_file_location(
        "everyday_formulations", Path(__file__).resolve().parents[2] / "scripts" / "everyday_formulations.py")
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return set(mod.FORMULATIONS)


def test_short_word_problems_retrieve_everyday_examples(bundled):
    everyday = everyday_examples()
    assert len(everyday) >= 40
    for query, ranked in zip(QUERIES, bundled["cached"]):
        if query in WORD_PROBLEMS:
            top = [Path(r["path"]).parent.name for r in ranked[:3]]
            assert set(top) <= everyday, (query, top)
