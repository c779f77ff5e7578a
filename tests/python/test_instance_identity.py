"""Every output of a compiled instance (QelCompiler.instance(), the one-pass view, the solver
arrays with their names, the export names and the MPS and LP texts) stays byte for byte what
the per-variable storage gave. tests/corpus/instance-digests.json holds one digest of all of
them per pair, recorded by that storage; a pair whose texts changed since has no digest and
is skipped. Record again after an intended change of output:

    .venv/bin/python tests/python/test_instance_identity.py --record
"""
import hashlib
import json
import sys
from pathlib import Path

import pytest

from vorlan import solve as vs
from vorlan import vorlan_core

ROOT = Path(__file__).resolve().parents[2]
DIGESTS = ROOT / "tests" / "corpus" / "instance-digests.json"

# Index sets of every kind in one model: a range, a string set, a tuple set, a sub-range of a
# range, scalars, per-cell bounds (some equal, some not) and a declaration after them.
MIXED = ("""
tuple arc { string a; int b; }
{string} S = ...;
{arc} A = ...;
int lo[1..3] = ...;
dvar int x[i in 1..3][S] in lo[i]..5;
dvar float y[A] in 0..2;
dvar boolean z;
dvar float+ w[2..3][S];
dvar float+ u[s in S] in 1..1;
maximize o: sum(i in 1..3, s in S) x[i][s] + sum(a in A) y[a] - z + sum(i in 2..3, s in S) w[i][s] + sum(s in S) u[s];
subject to {
  forall(i in 2..3) c: sum(s in S) (x[i][s] + w[i][s]) <= 7 * z + i;
  forall(a in A) d: y[a] <= a.b;
}
""", 'S = {"p", "q r"};\nA = {<"a", 1>, <"b", 2>};\nlo = [0, -1, 2];\n')


def pairs():
    out = [("mixed", *MIXED)]
    corpus = sorted((ROOT / "tests" / "corpus" / "valid").glob("*.mod"))
    tree = sorted(p for p in (ROOT / "src" / "vorlan" / "qel_models").glob("**/*.mod") if p.with_suffix(".dat").exists())
    for mod in corpus + tree:
        out.append((f"{mod.parent.name}/{mod.stem}", mod.read_text(encoding="utf-8"),
                    mod.with_suffix(".dat").read_text(encoding="utf-8")))
    return out


def key(model, data):
    return hashlib.sha256((model + "\0" + data).encode()).hexdigest()[:16]


def outputs(model, data, tmp):
    c = vorlan_core.QelCompiler()
    c.compile_model(model, data)
    view = vs.instance_view(c)
    view["variables"] = list(view["variables"])
    view["rows"] = list(view["rows"])
    view["objective"]["terms"] = list(view["objective"]["terms"])
    m = vs.matrices(model, data)
    m = {k: (v.tolist() if hasattr(v, "tolist") else v) for k, v in m.items()}
    texts = []
    for write, name in ((vs.write_mps, "m.mps"), (vs.write_lp, "m.lp")):
        write(c, tmp / name)
        texts.append((tmp / name).read_text())
    return repr((c.instance(), view, m, vs.export_names(model, data), texts))


def digest(model, data, tmp):
    return hashlib.sha256(outputs(model, data, tmp).encode()).hexdigest()


def test_outputs_match_the_recorded_digests(tmp_path):
    recorded = json.loads(DIGESTS.read_text())
    checked = 0
    for name, model, data in pairs():
        want = recorded.get(key(model, data))
        if want is None:
            continue
        assert digest(model, data, tmp_path) == want, name
        checked += 1
    assert checked >= 100


if __name__ == "__main__" and sys.argv[1:] == ["--record"]:
    import tempfile

    with tempfile.TemporaryDirectory() as d:
        DIGESTS.write_text(json.dumps({key(m, t): digest(m, t, Path(d)) for _, m, t in pairs()}, indent=0,
                                      sort_keys=True) + "\n")
