"""The compiler's host boundary: error kinds, the shapes of ast/data/instance, and bad
input that must end in a clean error rather than a crash or an exhausted stack."""
import threading

import pytest

from vorlan import semantic_error, vorlan_core

MOD = """tuple Arc { string o; string d; float c; }
{Arc} Arcs = ...;
{string} P = ...;
float cap[P] = ...;
int n = ...;
{Arc} Inline = {<"x", "y", 1>};
dvar float+ f[Arcs];
dvar int k[p in P] in 0..cap[p];
minimize cost: sum(a in Arcs) a.c * f[a] + 2;
subject to {
  forall(a in Arcs) flow: f[a] + f[a] >= 1;
  total: sum(p in P) k[p] <= n;
}
"""
DAT = """Arcs = {<"a", "b", 2.5>, <"b", "c", 1>};
P = {u, v};
cap = #[u: 3, v: 4]#;
n = 5;
"""


def compile_pair(mod, dat):
    comp = vorlan_core.QelCompiler()
    comp.compile_model(mod, dat)
    return comp


def error_of(mod, dat=""):
    with pytest.raises(Exception) as info:
        vorlan_core.QelCompiler().compile_model(mod, dat)
    return info.value


def test_semantic_error_is_the_shared_class():
    assert vorlan_core.SemanticError is semantic_error.SemanticError
    assert isinstance(error_of("int n = m;"), semantic_error.SemanticError)
    assert type(error_of("int n = ;")).__name__ == "VorlanSyntaxError"


def test_ast_shapes():
    decls = {d["name"]: d for d in compile_pair(MOD, DAT).ast["declarations"]}
    assert decls["Arcs"]["type"] == "set_of_tuples"
    assert decls["P"]["type"] == "set" and decls["P"]["elements"] == ["u", "v"]
    assert decls["n"]["type"] == "int" and decls["n"]["value"] == 5
    inline = decls["Inline"]["elements"][0]
    assert inline["type"] == "tuple_literal"
    assert inline["elements"] == [{"type": "string", "value": "x"}, {"type": "string", "value": "y"},
                                  {"type": "number", "value": 1.0}]
    assert decls["f"]["type"] == "dvar" and decls["f"]["dims"] == ["Arcs"]
    assert decls["cost"]["type"] == "objective" and decls["cost"]["sense"] == "minimize"


def test_data_dictionary_values():
    data = compile_pair(MOD, DAT).data
    assert data["Arcs"] == [("a", "b", 2.5), ("b", "c", 1.0)]
    assert data["cap"] == {"u": 3.0, "v": 4.0}
    assert data["n"] == 5


def test_instance_rows_are_merged_and_bounded():
    inst = compile_pair(MOD, DAT).instance()
    names = [v["full_name"] for v in inst["variables"]]
    assert names == ['f["a"]["b"][2.5]', 'f["b"]["c"][1]', 'k["u"]', 'k["v"]']
    assert [(v["lower"], v["upper"], v["integer"]) for v in inst["variables"][2:]] == [(0, 3, True), (0, 4, True)]
    assert inst["objective"]["terms"] == [(0, 2.5), (1, 1.0)]
    assert inst["objective"]["constant"] == 2.0
    flow = [r for r in inst["rows"] if r["label"] == "flow"]
    assert [r["terms"] for r in flow] == [[(0, 2.0)], [(1, 2.0)]]  # f[a] + f[a] merged
    assert flow[0]["index"] == ["a", "b", 2.5] and flow[0]["lower"] == 1.0
    total = [r for r in inst["rows"] if r["label"] == "total"][0]
    assert total["terms"] == [(2, 1.0), (3, 1.0)] and total["upper"] == 5.0


def test_failed_compile_keeps_previous_result():
    comp = compile_pair(MOD, DAT)
    with pytest.raises(semantic_error.SemanticError):
        comp.compile_model(MOD, DAT.replace("n = 5;", ""))
    assert len(comp.instance()["variables"]) == 4


def test_every_independent_problem_reported_capped_at_20():
    mod = "".join(f"int a{i} = zz{i};\n" for i in range(30))
    lines = str(error_of(mod)).splitlines()
    assert len(lines) == 20
    assert lines[0].startswith("model:1:10: 'zz0' is not declared")


def test_both_files_syntax_errors_in_one_message():
    msg = str(error_of("int n = ;", "n = ;"))
    assert msg.splitlines() == ["model:1:9: expected an expression, found ';'",
                                "data:1:5: expected a data value (number, string, <tuple>, {set}, [array] or "
                                "#[keyed array]#), found ';'"]


@pytest.mark.parametrize("mod,dat,fragment", [
    ("int n = " + "(" * 100_000 + "1" + ")" * 100_000 + ";", "", "nesting deeper than 256 levels"),
    ("dvar float x;\nsubject to {" + "{" * 100_000 + "}" * 100_000 + "}", "", "nesting deeper than 256 levels"),
    ("int n = ...;", "n = " + "[" * 100_000 + ";", "nesting deeper than 256 levels"),
    ("int n = " + "-" * 100_000 + "1;", "", "nesting deeper than 256 levels"),
    ("int n = 1;\n/* never closed " + "x" * 1000, "", "model:2:1: unterminated block comment"),
    ('string s = "never closed;\nint n = 1;', "", "model:1:12: unterminated string literal"),
    ("int n = ...;", 'n = "open', "data:1:5: unterminated string literal"),
    ("\x00\x01\x02\xff garbage", "", "model:1:1: unexpected byte 0x00"),
    ("int n = 1;", "\x7f\x80", "data:1:1: unexpected byte 0x7F"),
    # a byte of a Latin-1 file reaches the compiler as the character of the same value
    ("int n = ...;", "n = 1 \x81;", "data:1:7: unexpected character U+0081 (not part of the language)"),
    ("dvar float+ y;\nminimize z: sum(i in 1..10000000000) y;", "",
     "model:2:13: an expression holds more than the limit of terms"),
    # found by fuzzing: a quoted string cut inside a two-byte character
    ('int n = 1 "' + "\u00e9" * 40 + '";', "", "model:1:11: expected ';' to end the declaration, found string"),
])
def test_hostile_input_gives_clean_error(mod, dat, fragment):
    assert fragment in str(error_of(mod, dat))


def test_long_sum_chain_does_not_nest():
    # A flat chain of 200,000 terms is one list, not a 200,000-deep tree.
    mod = "dvar float x;\nminimize " + " + ".join(["x"] * 200_000) + ";"
    assert compile_pair(mod, "").instance()["objective"]["terms"] == [(0, 200_000.0)]


def test_fifty_megabyte_inputs():
    big_comment = "int n = 1;\n//" + "c" * (50 << 20) + "\n"
    assert vorlan_core.QelCompiler().compile_model(big_comment, "") is True
    garbage = "@" * (50 << 20)
    assert "unexpected character '@'" in str(error_of(garbage))
    decls = "int a = 1;\n" * (4 << 20)  # 44 MB of declarations: rejected before the tree grows huge
    assert "model:400001:1: the model text is too large (more than 2000000 tokens)" in str(error_of(decls))
    assert "'a' is already declared at line 1" in str(error_of("int a = 1;\n" * 1000))


def test_compile_releases_the_gil():
    mod = "range R = 1..1000;\ndvar float x[R][R];\nsubject to { forall(i in R, j in R) x[i][j] >= 0; }"
    ticks = []
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.001)

    t = threading.Thread(target=ticker)
    t.start()
    try:
        vorlan_core.QelCompiler().compile_model(mod, "")
    finally:
        stop.set()
        t.join()
    assert len(ticks) > 5
