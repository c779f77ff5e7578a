"""The embedding cache behind description ranking, with the stand-in embedding model: what is
encoded per call, what is noticed on disk, and that scores and order do not change."""
import hashlib
import time
import os
import subprocess
import sys
from pathlib import Path

import pytest

import vorlan.nearscan as n
from test_nearscan import FAKES, STAGE, fake, put  # noqa: F401  (fake is a fixture)

MODEL = "sentence-transformers/all-MiniLM-L6-v2"
REPO = Path(__file__).resolve().parents[2]


@pytest.fixture
def cache(monkeypatch, tmp_path):
    """A fresh cache folder and no shipped embeddings; returns the folder of cache files."""
    monkeypatch.setenv("VORLAN_CACHE_DIR", str(tmp_path / "cache"))
    monkeypatch.delenv("VORLAN_EMBEDDING_CACHE", raising=False)
    monkeypatch.setattr(n, "_SHIPPED_EMBEDDINGS_DIR", str(tmp_path / "shipped"))
    return tmp_path / "cache" / "embeddings"


@pytest.fixture
def tree(tmp_path):
    root = tmp_path / "tree"
    put(root, "a/ship.txt", "ship ship goods")
    put(root, "b/diet.txt", "diet plan")
    put(root, "c/pack.txt", "pack ship")
    return root


def encoded(fake):
    """Texts of each encode call since the last clear, in order."""
    got = [texts for texts, _ in fake.encode_calls]
    fake.encode_calls.clear()
    return got


def digests(*texts):
    return sorted(hashlib.sha256(t.encode()).hexdigest() for t in texts)


def only_file(folder: Path) -> Path:
    files = list(folder.iterdir())
    assert len(files) == 1, files
    return files[0]


def test_second_call_encodes_only_the_query(fake, cache, tree):
    first = n.rank_problem_descriptions("ship", str(tree))
    assert encoded(fake) == [["ship ship goods", "diet plan", "pack ship"], ["ship"]]
    assert n.rank_problem_descriptions("ship", str(tree)) == first
    assert encoded(fake) == [["ship"]]
    info = n._embedding_file_info(only_file(cache))
    assert info["model"] == MODEL and info["dim"] == 5 and info["scope"] == str(tree.resolve())
    assert info["digests"] == digests("ship ship goods", "diet plan", "pack ship")


def test_scores_and_order_match_the_uncached_path(fake, cache, tree, monkeypatch):
    put(tree, "d/tie.txt", "pack ship")  # equal scores keep path order
    cached = [n.rank_problem_descriptions(q, str(tree), top_k=0) for q in ("ship", "pack", "diet ship")]
    monkeypatch.setenv("VORLAN_EMBEDDING_CACHE", "off")
    plain = [n.rank_problem_descriptions(q, str(tree), top_k=0) for q in ("ship", "pack", "diet ship")]
    for a, b in zip(cached, plain):
        assert [(r["path"], r["preview"]) for r in a] == [(r["path"], r["preview"]) for r in b]
        assert [r["score"] for r in a] == pytest.approx([r["score"] for r in b], abs=1e-6)


def test_off_switch_is_the_uncached_path(fake, cache, tree, monkeypatch):
    monkeypatch.setenv("VORLAN_EMBEDDING_CACHE", "off")
    for _ in range(2):
        n.rank_problem_descriptions("ship", str(tree))
        assert encoded(fake) == [["ship ship goods", "diet plan", "pack ship"], ["ship"]]
    assert not cache.exists()


def test_changed_added_and_removed_files_are_noticed(fake, cache, tree):
    n.rank_problem_descriptions("ship", str(tree))
    encoded(fake)
    put(tree, "b/diet.txt", "diet ship")
    put(tree, "d/new.txt", "staff cut")
    (tree / "c" / "pack.txt").unlink()
    got = n.rank_problem_descriptions("ship", str(tree), top_k=0)
    assert encoded(fake) == [["diet ship", "staff cut"], ["ship"]]
    assert [Path(r["path"]).name for r in got] == ["ship.txt", "diet.txt", "new.txt"]
    assert n._embedding_file_info(only_file(cache))["digests"] == digests("ship ship goods", "diet ship", "staff cut")
    # A removal alone encodes nothing new but drops the stale row from the file.
    (tree / "d" / "new.txt").unlink()
    n.rank_problem_descriptions("ship", str(tree))
    assert encoded(fake) == [["ship"]]
    assert n._embedding_file_info(only_file(cache))["digests"] == digests("ship ship goods", "diet ship")


@pytest.mark.parametrize("damage", ["garbage", "truncated", "flipped", "empty", "foreign"])
def test_damaged_or_foreign_cache_file_is_rebuilt(fake, cache, tree, damage):
    want = n.rank_problem_descriptions("ship", str(tree))
    path = only_file(cache)
    good = path.read_bytes()
    if damage == "foreign":  # a valid file for another model, put where this model's file lives
        n.rank_problem_descriptions("ship", str(tree), model_name="other-model")
        other = next(p for p in cache.iterdir() if p != path)
        bad = other.read_bytes()
    else:
        bad = {"garbage": b"not an embedding file", "truncated": good[:-3], "empty": b"",
               "flipped": good[:60] + bytes([good[60] ^ 1]) + good[61:]}[damage]
    path.write_bytes(bad)
    encoded(fake)
    assert n.rank_problem_descriptions("ship", str(tree)) == want
    assert encoded(fake) == [["ship ship goods", "diet plan", "pack ship"], ["ship"]]
    assert n._embedding_file_info(path)["model"] == MODEL  # rewritten whole
    n.rank_problem_descriptions("ship", str(tree))
    assert encoded(fake) == [["ship"]]


def test_models_and_trees_have_separate_files(fake, cache, tree, tmp_path):
    other = tmp_path / "other"
    put(other, "x.txt", "ship ship goods")
    n.rank_problem_descriptions("ship", str(tree))
    n.rank_problem_descriptions("ship", str(other))
    n.rank_problem_descriptions("ship", str(tree), model_name="second-model")
    assert len(list(cache.iterdir())) == 3
    encoded(fake)
    n.rank_problem_descriptions("ship", str(other))
    assert encoded(fake) == [["ship"]]


def test_unusable_cache_folder_still_ranks(fake, monkeypatch, tree, tmp_path):
    blocker = put(tmp_path, "not-a-folder", "x")
    monkeypatch.setenv("VORLAN_CACHE_DIR", str(blocker))
    monkeypatch.setattr(n, "_SHIPPED_EMBEDDINGS_DIR", str(tmp_path / "none"))
    for _ in range(2):
        assert Path(n.rank_problem_descriptions("ship", str(tree))[0]["path"]).name == "ship.txt"
        assert encoded(fake) == [["ship ship goods", "diet plan", "pack ship"], ["ship"]]


def test_shipped_embeddings_spare_the_encoding(fake, cache, tree, tmp_path):
    shipped = tmp_path / "shipped"
    assert n._write_shipped_embeddings(tree, shipped / n._shipped_file_name(MODEL)) == 3
    info = n._embedding_file_info(shipped / n._shipped_file_name(MODEL))
    assert info["scope"] == "" and info["revision"] == n._model_revision(MODEL)
    want = n.rank_problem_descriptions("ship", str(tree))
    assert encoded(fake) == [["ship ship goods", "diet plan", "pack ship"], ["ship"]]  # the writer's batch
    # A copy of the tree elsewhere is served from the shipped file; only new texts are encoded.
    copy = tmp_path / "copy"
    put(copy, "a/ship.txt", "ship ship goods")
    put(copy, "z/extra.txt", "cut cut")
    got = n.rank_problem_descriptions("ship", str(copy), top_k=0)
    assert encoded(fake) == [["cut cut"], ["ship"]]
    assert got[0]["score"] == want[0]["score"]


def test_cached_rows_of_another_width_are_encoded_again(fake, cache, tree, monkeypatch):
    n.rank_problem_descriptions("ship", str(tree))
    encoded(fake)
    monkeypatch.setattr(fake, "KEYWORDS", fake.KEYWORDS + ["plan"])  # the "model" now gives 6 numbers
    got = n.rank_problem_descriptions("plan", str(tree))
    assert encoded(fake) == [["plan"], ["ship ship goods", "diet plan", "pack ship"]]
    assert Path(got[0]["path"]).name == "diet.txt"
    assert n._embedding_file_info(only_file(cache))["dim"] == 6


def test_concurrent_processes_share_the_cache_safely(tree, tmp_path):
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(FAKES), str(STAGE)]),
           "VORLAN_CACHE_DIR": str(tmp_path / "cache")}
    code = ("import json, sys, vorlan.nearscan as n\n"
            "for _ in range(5): r = n.rank_problem_descriptions('ship', sys.argv[1])\n"
            "print(json.dumps(r))")
    procs = [subprocess.Popen([sys.executable, "-c", code, str(tree)], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True) for _ in range(4)]
    outs = [p.communicate(timeout=120) for p in procs]
    assert all(p.returncode == 0 for p in procs), [e for _, e in outs]
    assert len({o for o, _ in outs}) == 1
    files = list((tmp_path / "cache" / "embeddings").iterdir())
    assert len(files) == 1 and n._embedding_file_info(files[0]) is not None  # no temporary file left


def test_shipped_embeddings_match_the_bundled_tree():
    # Ranking the bundled tree on a fresh install encodes nothing but the query only while the
    # shipped file holds exactly the tree's descriptions: scripts/build_example_embeddings.py.
    shipped = REPO / "src" / "vorlan" / "nearscan" / "data" / n._shipped_file_name(MODEL)
    info = n._embedding_file_info(shipped)
    assert info is not None and (info["model"], info["scope"], info["dim"]) == (MODEL, "", 384)
    tree = REPO / "src" / "vorlan" / "qel_models"
    texts = [t for t in (n._read_text(p) for p in n._iter_description_files(tree)) if t]
    assert info["digests"] == digests(*texts), "run scripts/build_example_embeddings.py"


def test_rankers_of_one_tree_take_turns_to_encode(fake, cache, tree, monkeypatch):
    # A second ranking that starts while the first encodes the tree waits for its rows
    # instead of encoding the same texts again.
    import threading
    inside = threading.Event()
    plain = fake.embed

    def slow(text):
        inside.set()
        time.sleep(0.2)
        return plain(text)

    monkeypatch.setattr(fake, "embed", slow)
    got = []
    first = threading.Thread(target=lambda: got.append(n.rank_problem_descriptions("ship", str(tree))))
    first.start()
    assert inside.wait(10)
    got.append(n.rank_problem_descriptions("ship", str(tree)))
    first.join()
    batches = sorted(encoded(fake), key=len)
    assert batches == [["ship"], ["ship"], ["ship ship goods", "diet plan", "pack ship"]]
    assert got[0] == got[1]
