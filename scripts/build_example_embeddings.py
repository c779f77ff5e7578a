#!/usr/bin/env python3
"""Write the embeddings of the bundled example tree for the default embedding model.

The file (src/vorlan/nearscan/data/<model>.emb) is installed with the package, so ranking the
bundled examples encodes only the query on a fresh install. Run it after changing any example
description (a test fails until then):

    .venv/bin/python scripts/build_example_embeddings.py [--check]

--check only reports whether the file matches the tree. Needs the embedding library and the
model in the local model cache (scripts/install_offline_model.py).
"""
import hashlib
import os
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
TREE = REPO / "src" / "vorlan" / "qel_models"
MODEL = "sentence-transformers/all-MiniLM-L6-v2"


def tree_digests(n) -> list[str]:
    texts = (n._read_text(p) for p in n._iter_description_files(TREE))
    return sorted(hashlib.sha256(t.encode("utf-8", "surrogatepass")).hexdigest() for t in texts if t)


def main(argv: list[str]) -> int:
    os.environ.setdefault("HF_HUB_OFFLINE", "1")
    from vorlan import nearscan as n

    out = REPO / "src" / "vorlan" / "nearscan" / "data" / n._shipped_file_name(MODEL)
    want = tree_digests(n)
    if "--check" not in argv:
        count = n._write_shipped_embeddings(TREE, out, MODEL)
        print(f"{out.relative_to(REPO)}: {count} descriptions", file=sys.stderr)
    info = n._embedding_file_info(out)
    if info is None or info["digests"] != want or info["revision"] != n._model_revision(MODEL):
        print(f"{out.relative_to(REPO)} does not match the example tree or the installed model", file=sys.stderr)
        return 1
    print(f"{out.relative_to(REPO)} matches the tree ({len(want)} descriptions, model revision "
          f"{info['revision']})", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
