"""The GBNF grammars of model and data files in real grammar-constrained decoding engines:
both load in a reader that holds llama.cpp's line rules (llguidance), and in xgrammar, whose
EBNF is llama.cpp's GBNF, every shipped model and data file is accepted, broken ones are
rejected, and the white space a decoder may emit between two tokens is bounded. Each engine's
tests skip when it cannot be imported.
"""
import re
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
GRAMMARS = REPO / "docs" / "grammars"
MODEL_GBNF = GRAMMARS / "Vorlan_GBNF"
DATA_GBNF = GRAMMARS / "Vorlan_data_GBNF"
DOC = GRAMMARS / "Vorlan grammar.md"
TREE = REPO / "src" / "vorlan" / "qel_models"
CORPUS = REPO / "tests" / "corpus"

# Bounds stated in the grammars' headers.
MAX_BLANK_RUN = 32
MAX_GAP_MARKS = 8
MAX_COMMENT = 120


# ---------------------------------------------------------------- loading

def test_rules_continue_only_after_a_bar_or_inside_parentheses():
    """llama.cpp's line rule, checked without any engine: a line that does not start a rule
    (`name ::=`) continues one only after a line ending in `|` or `::=`, or inside parentheses."""
    for path in (MODEL_GBNF, DATA_GBNF):
        depth, previous = 0, ""
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            code = re.sub(r'"(?:\\.|[^"\\])*"|\[(?:\\.|[^\]\\])*\]|#.*', "", line).strip()
            if code and not re.match(r"[a-z][a-z0-9-]* ::=", code):
                assert depth > 0 or previous.endswith(("|", "::=")), f"{path.name}:{number}: {line}"
            depth += code.count("(") - code.count(")")
            if code:
                previous = code


@pytest.mark.parametrize("path", [MODEL_GBNF, DATA_GBNF], ids=lambda p: p.name)
def test_grammar_loads_in_a_reader_with_llama_cpp_line_rules(path):
    llg = pytest.importorskip("llguidance")
    lark = llg.grammar_from("gbnf", path.read_text(encoding="utf-8"))
    assert llg.LLMatcher.validate_grammar(lark) == ""
    # The same reader refuses a rule continued on a new line without `|`.
    with pytest.raises(ValueError):
        llg.grammar_from("gbnf", 'root ::= "a"\n    "b"\n')


def _xgrammar(path: Path):
    xgr = pytest.importorskip("xgrammar")
    grammar = xgr.Grammar.from_ebnf(path.read_text(encoding="utf-8"), root_rule_name="root")
    compiled = xgr.GrammarCompiler(xgr.TokenizerInfo([]), cache_enabled=False).compile_grammar(grammar)

    def accepts(text: str) -> bool:
        matcher = xgr.GrammarMatcher(compiled, terminate_without_stop_token=True)
        return matcher.accept_string(text) and matcher.is_terminated()

    return accepts


class _ByteVocabulary:
    """The 256 single bytes and an end token: llguidance then matches text byte by byte."""
    tokens = [bytes([b]) for b in range(256)] + [b"<end>"]
    eos_token_id = 256
    bos_token_id = None
    special_token_ids = [256]

    def __call__(self, text):
        return list(text if isinstance(text, bytes) else text.encode("utf-8"))


def _llguidance(path: Path):
    llg = pytest.importorskip("llguidance")
    tokenizer = llg.LLTokenizer(llg.TokenizerWrapper(_ByteVocabulary()))
    grammar = llg.grammar_from("gbnf", path.read_text(encoding="utf-8"))

    def accepts(text: str) -> bool:
        matcher = llg.LLMatcher(tokenizer, grammar, log_level=0)
        return matcher.consume_tokens(list(text.encode("utf-8"))) and matcher.is_accepting()

    return accepts


@pytest.fixture(scope="module")
def model():
    return _xgrammar(MODEL_GBNF)


@pytest.fixture(scope="module")
def data():
    return _xgrammar(DATA_GBNF)


# ---------------------------------------------------------------- accepted files

def _doc_blocks(kind):
    return re.findall(rf"```{kind}\n(.*?)```", DOC.read_text(encoding="utf-8"), re.S)


# Besides syntax faults and unsupported constructs, the grammar rules out a constraint that is
# not a relation with <=, >= or ==.
_CONSTRAINT_FORM = re.compile(r"strict '(<|>|!=)' is not allowed in a constraint|expected a relation")


def _should_accept(mod: Path, side: str) -> bool:
    """Whether the grammar should accept the corpus case's model or data file: true unless the
    case's expected error is a fault of that file's form."""
    if mod.parent.parent.name != "invalid":
        return True
    message = mod.with_suffix(".expect").read_text(encoding="utf-8").splitlines()[1]
    if mod.parent.name not in ("syntax", "unsupported") and not _CONSTRAINT_FORM.search(message):
        return True
    faulty = "data" if message.startswith("data:") else "model"
    return faulty != side


CORPUS_PAIRS = sorted(CORPUS.glob("valid/*.mod")) + sorted(CORPUS.glob("invalid/*/*.mod"))
MODEL_FILES = sorted(TREE.rglob("*.mod")) + sorted((REPO / "examples").rglob("*.mod")) + [
    p for p in CORPUS_PAIRS if _should_accept(p, "model")]
DATA_FILES = sorted(TREE.rglob("*.dat")) + sorted((REPO / "examples").rglob("*.dat")) + [
    p.with_suffix(".dat") for p in CORPUS_PAIRS if _should_accept(p, "data")]


def _file_id(p: Path) -> str:
    return str(p.relative_to(REPO))


def test_the_tree_has_models_and_data():
    assert len([p for p in MODEL_FILES if TREE in p.parents]) >= 30
    assert len([p for p in DATA_FILES if TREE in p.parents]) >= 30


@pytest.mark.parametrize("path", MODEL_FILES, ids=_file_id)
def test_shipped_models_are_accepted(model, path):
    assert model(path.read_text(encoding="utf-8"))


@pytest.mark.parametrize("path", DATA_FILES, ids=_file_id)
def test_shipped_data_files_are_accepted(data, path):
    assert data(path.read_text(encoding="utf-8"))


@pytest.mark.parametrize("kind,index", [("mod", i) for i in range(len(_doc_blocks("mod")))]
                         + [("dat", i) for i in range(len(_doc_blocks("dat")))])
def test_grammar_document_examples_are_accepted(model, data, kind, index):
    accepts = model if kind == "mod" else data
    assert accepts(_doc_blocks(kind)[index])


# ---------------------------------------------------------------- small cases

VALID_MODELS = [  # (model, data)
    ("", ""),
    ("// only a comment\n/* and a block\n comment */", ""),
    ("int n = 3; range R = 1..n; dvar float+ x[R]; minimize sum(i in R) x[i];", ""),
    ("float a = 2.; float b = .5e-3; float c = 6.02E23; string s = \"q\\\"\\n\";", ""),
    ("{int} E = { i | i in 1..10 : i mod 2 == 0 }; setof(int) F = {1, 2, };", ""),
    ("dvar int y in 0..10; subject to { if (1 > 0) { y >= 1; } else y <= 5; };", ""),
    ("dvar boolean b[1..3]; constraints { c[1]: b[1] + b[2] <= 1; forall(i in 1..3 : i > 1) b[i] <= b[i - 1]; }", ""),
    ("execute report { var s = \"}\"; var t = '{'; for (i = 0; i < 3; i++) { writeln(i / 2); } // } \n }", ""),
    ("tuple P { key int a; float b; } {P} S = ...; dvar float z[S];\n"
     "subject to { forall(<a, b> in S) z[<a, b>] >= b; }", "S = { <1, 2.5>, <2, 3> };"),
    ("tuple T { int a; } tuple U { T t; float v; } {U} S = ...; float tot = sum(u in S) u.t.a * u.v;",
     "S = { <<1>, 2>, <<2>, 0.5> };"),
    ("int n = 2; dvar float x[1..n]; subject to { forall(i in 1..n) x[i] >= 1; }\n"
     "{int} used = { i | i in 1..n : x[i] > 0 };", ""),
    ('{string} S = {"a"}; int o = ord(S, "a"); string f = first(S); float m = min(1, 2) + minl(1, 2, 3);', ""),
    ("{int} S = {1, 2}; dvar float x[1..3];\n"
     "subject to { forall(i in 1..3 : i not in S) x[i] == 0; forall(t in 1..3, k in 0..1 : 1 <= t - k <= 3) x[t - k] >= 0; }", ""),
    ("float p = prod(i in 1..3) i; int a = 7 div 2 + 7 mod 2; {int} D = {1} union {2} symdiff {3} diff {4} inter {1};", ""),
    ('string s = 1 > 0 ? "y" : "n"; dvar float x in -5..infinity; assert ok: maxint > 0; minimize x;', ""),
    ("int n = 2; dvar float x;\n"
     "subject to { if (n == 1) x >= 1; else if (!(n == 2) || n > 5 && n < 1) x >= 2; else { x >= 3; } }", ""),
    ("\ufeffint n = ...;", "\ufeffn = 1;"),
    ("dvar float x[1..2]; subject to { cap: { x[1] <= 1; x[2] <= 2; }; forall(i in 1..2) lim: { x[i] >= 0; } }",
     ""),
    ("tuple A { string o; string d; string m; } {string} N = ...; {string} M = ...;\n"
     "{A} S with o, d in N, m in M = ...;", 'N = {a b}; M = {m}; S = {<a b m>};'),
    ("int a[1..3] = [1, 2, 3]; float b[1..2][1..2] = [[1, 2.5], [3, 4]];", ""),
]


INVALID_MODELS = {
    "missing semicolon": "int n = 3\nfloat x = 1;",
    "unterminated block comment": "int n = 3; /* never closed",
    "unbalanced constraint block": "dvar float x; subject to { x >= 1;",
    "strict inequality in a constraint": "dvar float x; subject to { x < 3; }",
    "logical implication between constraints": "dvar float x; dvar float y; subject to { x >= 1 => y >= 1; }",
    "conjunction of constraints": "dvar float x; subject to { x >= 1 && x <= 2; }",
    "old constraint assignment form": "dvar float x[1..2]; subject to { ct = forall(i in 1..2) x[i] >= 0; }",
    "include directive": 'include "other.mod";',
    "dvar without a name": "dvar float+ ;",
    "range on a boolean": "dvar boolean b in 0..5;",
    "number glued to a name": "float 2x = 1;",
    "raw line break in a string": 'string s = "a\nb";',
    "unknown escape in a string": 'string s = "a\\qb";',
    "unknown function": "float c = cost(1);",
    "objective without expression": "minimize;",
    "two objectives in one statement": "dvar float x; minimize x maximize x;",
    "keyword glued to a name": "dvar float x; minimizex;",
    "line comment runs to the line end": "int n = 1 // ;\n",
    "block comment closed early": "/* a **/ int n */ int m = 1;",
    "single quotes outside execute": "string s = 'a';",
}


@pytest.mark.parametrize("text,data_text", VALID_MODELS)
def test_small_valid_models(model, data, text, data_text):
    assert model(text) and data(data_text)


@pytest.mark.parametrize("text", INVALID_MODELS.values(), ids=INVALID_MODELS.keys())
def test_small_invalid_models(model, text):
    assert not model(text)


# The compiler agrees on every case above, so the cases test the grammar, not a typo.
@pytest.fixture(scope="module")
def compiler():
    return pytest.importorskip("vorlan.vorlan_core").QelCompiler


@pytest.mark.parametrize("text,data_text", VALID_MODELS)
def test_small_valid_models_compile(compiler, text, data_text):
    compiler().compile_model(text, data_text)


@pytest.mark.parametrize("text", INVALID_MODELS.values(), ids=INVALID_MODELS.keys())
def test_small_invalid_models_fail_to_compile(compiler, text):
    with pytest.raises(Exception):
        compiler().compile_model(text, "")


VALID_DATA = [
    "",
    "\ufeffn = 1;",
    "n = 3; ; rate = -0.05; big = +infinity; lim = -maxint; e = 1e-3; f = .5; g = 2.;",
    'P = { "bread", "cake" }; Q = { bread cake }; R = {}; S = { 1 2 3, };',
    'Arcs = { <"a", "b", 2.5>, <b c 1> }; T = { <<1>, 2> };',
    "d = [ [10, 12, 9], [4, 5, 6] ]; sets = [ {1, 2}, {3} ]; e = [];",
    'cap = #[ "bread": 40, cake: 12, ]#; k = #[ <"a", "b">: 7 ]#; n = #[ a: #[ x: 1 ]#, b: [1, 2] ]#;',
]

INVALID_DATA = {
    "arithmetic in a value": "n = 1 + 2;",
    "missing semicolon": "n = 1\nm = 2;",
    "missing equals": "n 3;",
    "two commas in a row": "s = {1,, 2};",
    "leading comma": "s = [, 1];",
    "keyed entry without colon": 'c = #[ "a" 40 ]#;',
    "unclosed set": "s = {1, 2;",
    "unclosed keyed array": "c = #[ a: 1 ;",
    "sign before a word": "n = -a;",
    "value glued to a word": "s = {1a};",
    "name of a datum in a value": "n = m * 2;",
    "external reader": 'n from DBRead(db, "SELECT n");',
    "unterminated string": 's = {"abc};',
}


@pytest.mark.parametrize("text", VALID_DATA)
def test_small_valid_data(data, text):
    assert data(text)


@pytest.mark.parametrize("text", INVALID_DATA.values(), ids=INVALID_DATA.keys())
def test_small_invalid_data(data, text):
    assert not data(text)


def test_llguidance_agrees_on_data_files(data):
    """llguidance turns every rule built from literals and character classes into one greedy
    token, so a GBNF holds there only when no such rule can swallow what another reading
    needs. The data grammar is written that way (the model grammar is not: `1..n` would lex
    as `1.` and `.n`)."""
    other = _llguidance(DATA_GBNF)
    texts = [p.read_text(encoding="utf-8") for p in DATA_FILES] + VALID_DATA + list(INVALID_DATA.values())
    texts += [d for _, d in _gaps(MAX_GAP_MARKS, "\n") + _gaps(MAX_GAP_MARKS + 1, "  // c\n")]
    assert [t for t in texts if other(t) != data(t)] == []


# Faults the grammar does not express: a reserved word is a valid name or type word to it, and
# it does not bound a number's size.
NOT_GRAMMATICAL = {"int_overflow", "keyword_as_name", "range_not_range", "using_cp"}
CORPUS_FAULTS = [p for p in CORPUS_PAIRS if p.stem not in NOT_GRAMMATICAL
                 and not (_should_accept(p, "model") and _should_accept(p, "data"))]


@pytest.mark.parametrize("mod", CORPUS_FAULTS, ids=lambda p: f"{p.parent.name}/{p.stem}")
def test_corpus_syntax_faults_are_rejected(model, data, mod):
    if not _should_accept(mod, "model"):
        assert not model(mod.read_text(encoding="utf-8"))
    else:
        assert not data(mod.with_suffix(".dat").read_text(encoding="utf-8"))


# ---------------------------------------------------------------- bounded white space

def _gaps(n_marks: int, mark: str) -> list[tuple[str, str]]:
    """(model, data) texts with one gap of n_marks copies of mark, between items and inside
    a statement."""
    gap = mark * n_marks
    return [
        (f"int n = 1;{gap}int m = 2;", f"n = 1;{gap}m = 2;"),
        (f"int n ={gap}1;", f"n ={gap}1;"),
        (f"dvar float x; subject to {{ x{gap}>= 1; }}", f"s = {{ 1{gap}2 }};"),
    ]


GAP_MARKS = {"line breaks": "\n", "CR LF line breaks": "\r\n", "comment lines": "  // note\n",
             "block comments": " /* note */"}


@pytest.mark.parametrize("mark", GAP_MARKS.values(), ids=GAP_MARKS.keys())
@pytest.mark.parametrize("position", range(3))
def test_gap_of_line_breaks_and_comments_is_bounded(model, data, mark, position):
    ok_mod, ok_dat = _gaps(MAX_GAP_MARKS, mark)[position]
    long_mod, long_dat = _gaps(MAX_GAP_MARKS + 1, mark)[position]
    assert model(ok_mod) and data(ok_dat)
    assert not model(long_mod) and not data(long_dat)


@pytest.mark.parametrize("blank", [" ", "\t"])
def test_run_of_blanks_is_bounded(model, data, blank):
    ok, long = blank * MAX_BLANK_RUN, blank * (MAX_BLANK_RUN + 1)
    assert model(f"int n ={ok}1;") and data(f"n ={ok}1;")
    assert not model(f"int n ={long}1;") and not data(f"n ={long}1;")
    assert model(f"int n = 1;\n{ok}\n{ok}int m = 2;")


@pytest.mark.parametrize("opening", ["//", "/*"])
def test_comment_length_is_bounded(model, data, opening):
    def comment(length):
        if opening == "//":
            return "//" + "c" * (length - 2) + "\n"
        return "/*" + "c" * (length - 4) + "*/"

    ok, long = comment(MAX_COMMENT), comment(MAX_COMMENT + 1)
    assert model(f"int n = 1; {ok}") and data(f"n = 1; {ok}")
    assert not model(f"int n = 1; {long}") and not data(f"n = 1; {long}")


# ---------------------------------------------------------------- installed beside the package

def test_installed_package_ships_both_grammars():
    genloom = pytest.importorskip("vorlan.genloom")
    installed = Path(genloom.__file__).parent.parent / "docs" / "grammars"
    for source in (MODEL_GBNF, DATA_GBNF):
        assert (installed / source.name).read_bytes() == source.read_bytes()
