"""The default model on the light runtime (the export checked at set-up) against the embedding
library: equal query embeddings, the same ranking of the bundled examples, and no tensor
library loaded to get there."""
import json
import os
import subprocess
import sys

import pytest

from test_nearscan import QUERIES, STAGE, real_model_available

MODEL = "sentence-transformers/all-MiniLM-L6-v2"

# Ranks and encodes on the light runtime first (noting whether the tensor library got loaded),
# then does the same through the library, forced by the setting, in the same process.
COMPARE = r"""
import json, os, sys
import vorlan.nearscan as n
name, queries = sys.argv[1], json.loads(sys.argv[2])
light = n._load_model(name)
out = {"light_kind": type(light).__name__}
out["light_rank"] = [n.rank_problem_descriptions(q, top_k=0) for q in queries]
out["light_rows"] = light.encode(queries).tolist()
out["torch_loaded"] = "torch" in sys.modules or "sentence_transformers" in sys.modules
os.environ["VORLAN_EMBEDDING_RUNTIME"] = "torch"
n._MODEL_CACHE.clear()
library = n._load_model(name)
out["library_kind"] = type(library).__name__
out["library_rank"] = [n.rank_problem_descriptions(q, top_k=0) for q in queries]
out["library_rows"] = library.encode(queries, normalize_embeddings=True, convert_to_numpy=True).tolist()
print(json.dumps(out))
"""


@pytest.mark.skipif(not real_model_available(), reason="embedding stack or cached model missing")
def test_light_runtime_matches_the_embedding_library(tmp_path):
    import vorlan.nearscan as n
    saved = dict(n._MODEL_CACHE)
    try:
        n._MODEL_CACHE.clear()
        if type(n._load_model(MODEL)).__name__ != "_LightModel":
            pytest.skip("no light-runtime export in the model cache (scripts/install_offline_model.py)")
    finally:
        n._MODEL_CACHE.clear()
        n._MODEL_CACHE.update(saved)
    queries = [*QUERIES, "", "  Crème brûlée für 你好 🙂  ", "cost " * 400]
    env = {**os.environ, "PYTHONPATH": str(STAGE), "HF_HUB_OFFLINE": "1", "VORLAN_CACHE_DIR": str(tmp_path)}
    env.pop("VORLAN_EMBEDDING_RUNTIME", None)
    r = subprocess.run([sys.executable, "-c", COMPARE, MODEL, json.dumps(queries)], capture_output=True, text=True,
                       env=env, timeout=600)
    assert r.returncode == 0, r.stderr
    got = json.loads(r.stdout.splitlines()[-1])
    assert (got["light_kind"], got["library_kind"]) == ("_LightModel", "SentenceTransformer")
    assert not got["torch_loaded"]
    for a, b in zip(got["light_rows"], got["library_rows"]):
        assert sum(x * y for x, y in zip(a, b)) == pytest.approx(1.0, abs=1e-5)
        assert max(abs(x - y) for x, y in zip(a, b)) < 1e-5
    for light, library in zip(got["light_rank"], got["library_rank"]):
        assert [r["path"] for r in light] == [r["path"] for r in library]
        assert [r["score"] for r in light] == pytest.approx([r["score"] for r in library], abs=1e-5)
