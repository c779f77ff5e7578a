"""Expansion shortcuts must give exactly the instance of the general evaluation path.

Each shape is compiled twice: as written, and wrapped in `(... + 0)`, which defeats the
one-term and iterator-position shortcuts (the sum then adds a general linear value)."""
import pytest

from vorlan import vorlan_core

HEAD = """tuple Arc { string o; string d; }
{string} S = {"a", "b", "c"};
{string} T = {"c", "a"};
{Arc} Arcs = {<"a", "b">, <"b", "c">};
range R = 2..4;
int n = 3;
float c[s in S] = s == "a" ? 1.5 : (s == "b" ? -2 : 0);
int k[r in R][s in S] = 10 * r + ord(S, s);
dvar float x[S];
dvar float+ y[R][S];
dvar int z[Arcs];
dvar float w[1..n];
dexpr float d[s in S] = 2 * x[s];
"""

SHAPES = [
    "sum(s in S) x[s]",
    "sum(s in S) c[s] * x[s]",
    "sum(s in S) x[s] * c[s]",
    "sum(s in S) 0 * x[s]",
    "sum(s in T) x[s]",                      # a different set over the same strings
    "sum(s in S, t in S) x[t]",              # the same variable many times
    "sum(r in R, s in S) k[r][s] * y[r][s]",
    "sum(s in S, r in R) y[r][s] * k[r][s]",
    "sum(r in 2..3, s in S) y[r][s]",        # an iterator over another range
    "sum(i in 1..n) w[i]",
    "sum(i in 1..n) w[n + 1 - i] * i",
    "sum(a in Arcs) z[a]",
    "sum(<o, d> in Arcs) z[<o, d>]",
    "sum(s in S : c[s] != 0) x[s]",
    "sum(s in S) d[s]",
    "sum(r in R) sum(s in S) (r - 1) * y[r][s]",
]


def compile_objective(expr):
    c = vorlan_core.QelCompiler()
    c.compile_model(HEAD + f"minimize obj: {expr};\nsubject to {{ bound: {expr} <= 100; }}\n", "")
    inst = c.instance()
    return inst["objective"], inst["rows"]


@pytest.mark.parametrize("expr", SHAPES)
def test_shortcut_matches_general_path(expr):
    general = expr.replace(") ", ") (", 1) + " + 0)" if expr.startswith("sum(") else expr
    fast_obj, fast_rows = compile_objective(expr)
    slow_obj, slow_rows = compile_objective(general)
    assert fast_obj["terms"] == slow_obj["terms"]
    assert fast_obj["constant"] == slow_obj["constant"]
    assert [(r["terms"], r["lower"], r["upper"]) for r in fast_rows] == \
        [(r["terms"], r["lower"], r["upper"]) for r in slow_rows]


@pytest.mark.parametrize("expr, fragment", [
    ("sum(s in S) x[s] * x[s]", "non-linear term"),
    ("sum(s in S) y[5][s]", "index out of range: 5 is not in"),
    ("sum(s in S) x[s][s]", "has 1 dimension but"),
    ("sum(s in S) c[s] * \"a\"", "expected a number after '*'"),
    ("sum(s in S) \"a\" * x[s]", "expected a number before '*'"),
])
def test_shortcut_keeps_general_errors(expr, fragment):
    with pytest.raises(vorlan_core.SemanticError, match=fragment.replace("[", r"\[").replace("*", r"\*")):
        vorlan_core.QelCompiler().compile_model(HEAD + f"minimize {expr};\n", "")


def test_long_range_is_exported_unlisted():
    c = vorlan_core.QelCompiler()
    c.compile_model("range Big = 1..maxint;\nrange Small = 1..3;\n{int} S = 1..5000000;\n"
                    "dvar float x;\nminimize x;\n", "")
    assert c.data["Big"] == range(1, 2**31)
    assert c.data["Small"] == [1, 2, 3]
    assert c.data["S"] == range(1, 5000001)
    decl = {d["name"]: d for d in c.ast["declarations"]}
    assert decl["S"]["elements"] == range(1, 5000001)
