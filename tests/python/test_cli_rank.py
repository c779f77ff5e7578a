"""`vorlan rank` and the nearscan entry with the stand-in embedding model: argument checks, what
is said about unusable example folders, and output that is safe to show on a terminal."""
import os
import subprocess
import sys

import pytest

from test_nearscan import FAKES, STAGE, put, run_main


def rank(args, tmp_path, fakes=FAKES):
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(fakes), str(STAGE)]),
           "VORLAN_CACHE_DIR": str(tmp_path / "cache")}
    return subprocess.run([sys.executable, "-m", "vorlan", "rank", *args], capture_output=True, text=True, env=env,
                          timeout=120)


@pytest.fixture
def tree(tmp_path):
    put(tmp_path / "tree", "a/ship.txt", "ship ship goods")
    put(tmp_path / "tree", "b/diet.txt", "diet plan")
    return tmp_path / "tree"


@pytest.mark.parametrize("k", ["0", "-5", "two"])
def test_result_count_below_one_is_refused(tree, tmp_path, k):
    r = rank(["ship", "--dir", str(tree), "-k", k], tmp_path)
    assert r.returncode == 2 and "at least 1" in r.stderr and r.stdout == ""


@pytest.mark.parametrize("layout, message", [
    ("missing", "no such folder: "),
    ("file", " is a file, not a folder (fix: pass the folder that holds the example descriptions"),
    ("empty", "no problem descriptions (*.txt files) under "),
    ("blank", "every problem description under "),
])
def test_unusable_example_folders_are_named(tmp_path, layout, message):
    target = tmp_path / "x"
    if layout == "file":
        put(tmp_path, "x", "ship")
    elif layout == "empty":
        put(target, "notes.md", "ship")
    elif layout == "blank":
        put(target, "a.txt", "  \n ")
    r = rank(["ship", "--dir", str(target)], tmp_path)
    assert r.returncode == 1 and message in r.stderr and "embedding model" not in r.stderr
    assert len(r.stderr.strip().splitlines()) == 1


def test_missing_embedding_library_says_how_to_install(tree, tmp_path):
    blocker = tmp_path / "blocker"
    put(blocker, "sentence_transformers.py", "raise ImportError('no sentence_transformers here')")
    put(blocker, "onnxruntime.py", "raise ImportError('no onnxruntime here')")
    r = rank(["ship", "--dir", str(tree)], tmp_path, fakes=blocker)
    assert r.returncode == 1
    assert "embedding model could not be loaded" in r.stderr and "pip install 'vorlan[rag]'" in r.stderr


def test_output_is_printable(tmp_path):
    tree = tmp_path / "tree"
    put(tree, "a/\x1b[2Jodd.txt", raw=b"ship \x1b]0;title\x07 goods \x00\x9b done")
    r = rank(["ship", "--dir", str(tree), "-k", "1"], tmp_path)
    assert r.returncode == 0, r.stderr
    assert not any(c in r.stdout for c in "\x1b\x07\x00\x9b")
    assert "\\x1b[2Jodd.txt" in r.stdout and "ship \\x1b]0;title\\x07 goods \\x00" in r.stdout


def test_nearscan_entry_help_and_printable_paths(tmp_path):
    r = run_main(["--help"])
    assert r.returncode == 0 and r.stdout.startswith('Usage: nearscan "your problem description here"\n')
    tree = tmp_path / "tree"
    put(tree, "x/\x07bell.txt", "ship")
    r = run_main(["ship"], tree, tmp_path)
    assert r.returncode == 0 and "\x07" not in r.stdout and "\\x07bell.txt  score=1.0000" in r.stdout
