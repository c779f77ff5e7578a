"""The GBNF grammar of model files accepts every shipped model and rejects broken ones.

The GBNF text is read by a small reader below and translated rule by rule into a lark
grammar, which a character-level Earley parser (dynamic_complete lexer: every split of the
input is considered, as a constrained decoder does) then runs on real files.
"""
import re
from pathlib import Path

import pytest

lark = pytest.importorskip("lark")

REPO = Path(__file__).resolve().parents[2]
GBNF_PATH = REPO / "docs" / "grammars" / "Vorlan_GBNF"
DOC_PATH = REPO / "docs" / "grammars" / "Vorlan grammar.md"
TREE = REPO / "src" / "vorlan" / "qel_models"

_GBNF_TOKEN = re.compile(
    r"""(?P<ws>\s+)|(?P<comment>\#[^\n]*)|(?P<define>::=)|(?P<name>[A-Za-z][A-Za-z0-9-]*)"""
    r"""|(?P<lit>"(?:\\.|[^"\\])*")|(?P<cls>\[(?:\\.|[^\]\\])*\])|(?P<op>[()|?*+])"""
)
_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", '"': '"', "\\": "\\", "[": "[", "]": "]"}


def read_gbnf(text: str) -> dict[str, list[tuple[str, str]]]:
    """GBNF text -> {rule name: token list}; fails on anything it does not understand."""
    toks, pos = [], 0
    while pos < len(text):
        m = _GBNF_TOKEN.match(text, pos)
        if not m:
            raise ValueError(f"GBNF: cannot read {text[pos:pos + 30]!r}")
        pos = m.end()
        if m.lastgroup not in ("ws", "comment"):
            toks.append((m.lastgroup, m.group()))
    rules: dict[str, list] = {}
    current = None
    for i, (kind, val) in enumerate(toks):
        if kind == "name" and i + 1 < len(toks) and toks[i + 1][0] == "define":
            if val in rules:
                raise ValueError(f"GBNF: rule {val} defined twice")
            current = rules.setdefault(val, [])
        elif kind == "define":
            continue
        elif current is None:
            raise ValueError("GBNF: text before the first rule")
        else:
            current.append((kind, val))
    return rules


def _literal(body: str) -> str:
    out, i = [], 0
    while i < len(body):
        if body[i] == "\\":
            out.append(_ESCAPES[body[i + 1]])
            i += 2
        else:
            out.append(body[i])
            i += 1
    return "".join(out)


def _regex(pattern: str) -> str:
    return "/" + pattern.replace("/", "\\/") + "/"


def _lexical_regexes(rules: dict) -> dict[str, str]:
    """Regex text of every rule built from literals, classes and other such rules only."""
    out: dict[str, str] = {}

    def regex_of(name, stack=()):
        if name in out:
            return out[name]
        if name in stack:
            return None
        parts = []
        for kind, val in rules[name]:
            if kind == "name":
                sub = regex_of(val, stack + (name,))
                if sub is None:
                    return None
                parts.append("(?:" + sub + ")")
            elif kind == "lit":
                parts.append(re.escape(_literal(val[1:-1])))
            elif kind == "cls":
                parts.append(val)
            else:
                parts.append("(?:" if val == "(" else val)
        out[name] = "".join(parts)
        return out[name]

    for n in rules:
        regex_of(n)
    return out


def _starred_group(body):
    """The inner tokens when a body is exactly `( ... )*`, else None."""
    if len(body) < 3 or body[0] != ("op", "(") or body[-1] != ("op", "*") or body[-2] != ("op", ")"):
        return None
    depth = 0
    for i, (kind, val) in enumerate(body[:-1]):
        depth += (kind, val) == ("op", "(")
        depth -= (kind, val) == ("op", ")")
        if depth == 0 and i < len(body) - 2:
            return None
    return body[1:-2]


def gbnf_to_lark(rules: dict) -> str:
    """lark grammar of the same language. Purely lexical rules become one regex terminal each
    (a rule that can match nothing becomes an optional terminal of its non-empty form), which
    keeps the character-level Earley parse fast without changing the accepted language."""

    def rname(n):
        return "start" if n == "root" else "g_" + n.replace("-", "_")

    lexical = _lexical_regexes(rules)
    lines = []
    for name, body in rules.items():
        if name in lexical and name != "root":
            rx = lexical[name]
            term = "T_" + name.replace("-", "_").upper()
            if re.fullmatch(rx, ""):
                inner = _starred_group(body)
                if inner is not None:
                    lines.append(f"{term}: {_regex('(?:' + rx[3:-2] + ')+')}")
                    lines.append(f"{rname(name)}: {term}?")
                    continue
            else:
                lines.append(f"{term}: {_regex(rx)}")
                lines.append(f"{rname(name)}: {term}")
                continue
        parts = []
        for kind, val in body:
            if kind == "name":
                if val not in rules:
                    raise ValueError(f"GBNF: rule {val} is used but not defined")
                parts.append(rname(val))
            elif kind == "lit":
                text = _literal(val[1:-1])
                if not text:
                    raise ValueError("GBNF: empty literal")
                parts.append(_regex(re.escape(text)))
            elif kind == "cls":
                parts.append(_regex(val))
            else:
                parts.append(val)
        lines.append(f"{rname(name)}: {' '.join(parts)}")
    return "\n".join(lines) + "\n"


@pytest.fixture(scope="module")
def rules():
    return read_gbnf(GBNF_PATH.read_text(encoding="utf-8"))


@pytest.fixture(scope="module")
def parser(rules):
    return lark.Lark(gbnf_to_lark(rules), parser="earley", lexer="dynamic_complete", start="start")


def accepts(parser, text: str) -> bool:
    try:
        parser.parse(text)
        return True
    except lark.exceptions.LarkError:
        return False


def test_every_rule_is_reachable_from_root(rules):
    seen, todo = set(), ["root"]
    while todo:
        r = todo.pop()
        if r not in seen:
            seen.add(r)
            todo += [v for k, v in rules[r] if k == "name"]
    assert set(rules) - seen == set()


MODELS = sorted(TREE.glob("*/*.mod")) + [REPO / "examples" / "sample" / "sample.mod"]


@pytest.mark.parametrize("path", MODELS, ids=lambda p: p.parent.name)
def test_example_models_are_accepted(parser, path):
    parser.parse(path.read_text(encoding="utf-8"))


def _doc_model_blocks():
    text = DOC_PATH.read_text(encoding="utf-8")
    return re.findall(r"```mod\n(.*?)```", text, re.S)


def test_grammar_document_has_model_examples():
    assert len(_doc_model_blocks()) >= 10


@pytest.mark.parametrize("index", range(len(_doc_model_blocks())))
def test_grammar_document_model_blocks_are_accepted(parser, index):
    parser.parse(_doc_model_blocks()[index])


VALID_SNIPPETS = [  # (model, data)
    ("", ""),
    ("// only a comment\n/* and a block\n comment */", ""),
    ("int n = 3; range R = 1..n; dvar float+ x[R]; minimize sum(i in R) x[i];", ""),
    ("float a = 2.; float b = .5e-3; float c = 6.02E23; string s = \"q\\\"\\n\";", ""),
    ("{int} E = { i | i in 1..10 : i mod 2 == 0 };", ""),
    ("dvar int y in 0..10; subject to { if (1 > 0) { y >= 1; } else y <= 5; };", ""),
    ("dvar boolean b[1..3]; constraints { c[1]: b[1] + b[2] <= 1; forall(i in 1..3 : i > 1) b[i] <= b[i - 1]; }", ""),
    ("execute report { var s = \"}\"; for (i = 0; i < 3; i++) { writeln(i); } // } \n }", ""),
    ("tuple P { key int a; float b; } {P} S = ...; dvar float z[S];\n"
     "subject to { forall(<a, b> in S) z[<a, b>] >= b; }", "S = { <1, 2.5>, <2, 3> };"),
    ("tuple T { int a; } tuple U { T t; float v; } {U} S = ...; float tot = sum(u in S) u.t.a * u.v;",
     "S = { <<1>, 2>, <<2>, 0.5> };"),
    ("int n = 2; dvar float x[1..n]; subject to { forall(i in 1..n) x[i] >= 1; }\n"
     "{int} used = { i | i in 1..n : x[i] > 0 };  // evaluated after the solve", ""),
    ('setof(string) S = {"a"}; {int} E = {}; int o = ord(S, "a"); string f = first(S); string i1 = item(S, 0);', ""),
    ('{string} A = {"a"}; float d[A, 1..2] = ...; dvar float x[A, 1..2]; subject to { x["a", 1] >= d["a"][2]; }',
     "d = [[1, 2]];"),
    ("{int} S = {1, 2}; dvar float x[1..3];\n"
     "subject to { forall(i in 1..3 : i not in S) x[i] == 0; forall(t in 1..3, k in 0..1 : 1 <= t - k <= 3) x[t - k] >= 0; }", ""),
    ("float m = minl(1, 2, 3) + maxl(4, 5) + abs(-2) + floor(2.5) + pow(2, 3) + card(asSet(1..4));", ""),
    ("float p = prod(i in 1..3) i; float q = min(i in 1..3) i * 2; int a = 7 div 2 + 7 mod 2; int m = maxint;", ""),
    ("{int} A = {1}; {int} B = A union {2}; {int} C = B inter {2}; {int} D = B symdiff A diff {5};", ""),
    ("dvar int+ y[1..2]; dexpr int t = sum(i in 1..2) y[i]; maximize t; subject to { t <= 4; }", ""),
    ('string s = 1 > 0 ? "y" : "n"; dvar float x in -5..infinity; minimize x;', ""),
    ("int n = 2; dvar float x;\n"
     "subject to { if (n == 1) x >= 1; else if (!(n == 2) || n > 5 && n < 1) x >= 2; else { x >= 3; } }", ""),
]


@pytest.mark.parametrize("text,data", VALID_SNIPPETS)
def test_small_valid_models(parser, text, data):
    parser.parse(text)


@pytest.fixture(scope="module")
def compiler():
    return pytest.importorskip("vorlan.vorlan_core").QelCompiler


@pytest.mark.parametrize("text,data", VALID_SNIPPETS)
def test_small_valid_models_compile(compiler, text, data):
    compiler().compile_model(text, data)


INVALID = {
    "missing semicolon": "int n = 3\nfloat x = 1;",
    "unterminated block comment": "int n = 3; /* never closed",
    "unbalanced constraint block": "dvar float x; subject to { x >= 1;",
    "strict inequality in a constraint": "dvar float x; subject to { x < 3; }",
    "logical implication between constraints": "dvar float x; dvar float y; subject to { x >= 1 => y >= 1; }",
    "old constraint assignment form": "dvar float x[1..2]; ct = forall(i in 1..2) x[i] >= 0;",
    "include directive": 'include "other.mod";',
    "dvar without a name": "dvar float+ ;",
    "number glued to a name": "float 2x = 1;",
    "raw line break in a string": 'string s = "a\nb";',
    "objective without expression": "minimize;",
    "inline array literal": "float x[1..3] = [1, 2, 3];",
    "two objectives in one statement": "dvar float x; minimize x maximize x;",
}


@pytest.mark.parametrize("text", INVALID.values(), ids=INVALID.keys())
def test_invalid_models_are_rejected(parser, text):
    assert not accepts(parser, text)


@pytest.mark.parametrize("text", INVALID.values(), ids=INVALID.keys())
def test_invalid_models_are_rejected_by_the_compiler_too(compiler, text):
    with pytest.raises(Exception):
        compiler().compile_model(text, "")
