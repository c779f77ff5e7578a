import sys

import pytest

import vorlan.linemit as lm
import vorlan.semantic_error
from vorlan.linemit import SciPyCodeGeneratorBase as Base

FIELDS = ["ast", "data_dict", "scipy_code_lines", "indent_level", "var_names", "var_indices",
          "bounds", "c", "A_eq", "b_eq", "A_ub", "b_ub", "results_varname", "integrality", "tuple_types"]

AST = {
    "declarations": [
        {"name": "I", "type": "set"},
        {"name": "x", "type": "var"},
        {"name": "I", "type": "set_of_tuples"},
        {"name": "I", "type": "set"},
    ]
}


def name(n):
    return {"type": "name", "name": n}


def num(v):
    return {"type": "number", "value": v}


def test_class_shape_and_documentation():
    assert Base.__bases__ == (object,)
    assert Base.__doc__ == "\n    Abstract base class for SciPy code generators.\n    Subclasses must implement the required methods.\n    "
    assert lm.SemanticError is vorlan.semantic_error.SemanticError


def test_new_instance_fields_in_order():
    ast = {"declarations": []}
    g = Base(ast)
    assert list(vars(g)) == FIELDS
    assert g.ast is ast
    assert (g.indent_level, g.results_varname, g.scipy_code_lines, g.tuple_types) == (0, "results", [], {})
    for f in ("var_names", "bounds", "c", "A_eq", "b_eq", "A_ub", "b_ub", "integrality"):
        assert getattr(g, f) == []
    # Containers are fresh per instance.
    assert Base({}).c is not g.c


@pytest.mark.parametrize("given", [None, {}, "missing"])
def test_absent_or_empty_data_dict_is_a_new_map(given):
    empty = {} if given == {} else None
    g = Base({}) if given == "missing" else Base({}, empty)
    assert g.data_dict == {}
    assert g.data_dict is not empty
    g.data_dict["k"] = 1
    assert Base({}).data_dict == {}


def test_given_data_dict_is_kept_and_keywords_work():
    data = {"n": 3}
    assert Base(ast={}, data_dict=data).data_dict is data
    with pytest.raises(TypeError):
        Base()


@pytest.mark.parametrize("level,prefix", [(0, ""), (1, "    "), (2, "        "), (-3, "")])
def test_add_code_line_indents(level, prefix):
    g = Base({})
    g.indent_level = level
    g._add_code_line("x = 1")
    assert g.scipy_code_lines == [prefix + "x = 1"]
    assert g._indent() == prefix


def test_indent_level_of_wrong_kind_and_line_of_wrong_kind():
    g = Base({})
    g.indent_level = 1.5
    with pytest.raises(TypeError):
        g._indent()
    g.indent_level = 0
    with pytest.raises(TypeError):
        g._add_code_line(3)
    assert g.scipy_code_lines == []


@pytest.mark.parametrize(
    "method,msg",
    [
        ("generate_code", "Subclasses must implement generate_code()"),
        ("_build_variables", "Subclasses must implement _build_variables()"),
        ("_build_objective", "Subclasses must implement _build_objective()"),
        ("_build_constraints", "Subclasses must implement _build_constraints()"),
    ],
)
def test_abstract_methods(method, msg):
    with pytest.raises(NotImplementedError) as e:
        getattr(Base({}), method)()
    assert str(e.value) == msg and e.value.args == (msg,)


@pytest.mark.parametrize("finder", ["find_declaration", "_find_decl"])
def test_find_declaration(finder):
    g = Base(AST)
    find = getattr(g, finder)
    assert find("I") is AST["declarations"][0]
    assert find("I", "set_of_tuples") is AST["declarations"][2]
    assert find("x", "set") is None
    assert find("nope") is None
    assert getattr(Base({}), finder)("I") is None


@pytest.mark.parametrize("finder", ["find_declarations", "_find_decls"])
def test_find_declarations(finder):
    g = Base(AST)
    d = AST["declarations"]
    got = getattr(g, finder)("I", "set")
    assert got == [d[0], d[3]] and got[0] is d[0] and got[1] is d[3]
    assert [id(x) for x in getattr(g, finder)("I")] == [id(d[0]), id(d[2]), id(d[3])]
    assert getattr(g, finder)("x", "set") == []


def test_find_declaration_bad_inputs_fail_with_lookup_errors():
    with pytest.raises(AttributeError):
        Base([1]).find_declaration("x")
    with pytest.raises(AttributeError):
        Base({"declarations": ["not a map"]}).find_declarations("x")
    with pytest.raises(TypeError):
        Base(AST).find_declaration(1)


@pytest.mark.parametrize(
    "idx,expected",
    [
        ([1, [2, 3]], (1, (2, 3))),
        ((1, [2, (3, [4])]), (1, (2, (3, (4,))))),
        ([], ()),
        ("ab", "ab"),
        (7, 7),
        (None, None),
        ([{"k": [1]}, "s"], ({"k": [1]}, "s")),
    ],
)
def test_normalize_index(idx, expected):
    got = Base.normalize_index(idx)
    assert got == expected and type(got) is type(expected)
    assert Base({})._normalize_index(idx) == expected


def test_normalize_index_keeps_maps_as_the_same_object():
    m = {"a": 1}
    assert Base.normalize_index(m) is m
    assert Base.normalize_index([m])[0] is m


def test_tuple_key_rules():
    g = Base({})
    assert g._tuple_key([name("i"), num(3)], {"i": 5}) == (5, 3)
    assert g._tuple_key([name("i"), num(3)]) == ("i", 3)
    assert g._tuple_key([name("i"), 4, "t"], {}) == ("i", 4, "t")
    lit = {"type": "tuple_literal", "elements": [{"type": "string", "value": "a"}, name("j")]}
    assert g._tuple_key([lit], {"j": 2}) == (("a", 2),)
    other = {"type": "other", "value": 1}
    untyped = {"value": 1}
    got = g._tuple_key([other, untyped])
    assert got[0] is other and got[1] is untyped
    # The value bound in env is used as is, even a falsy one.
    assert g._tuple_key([name("i")], {"i": 0}) == (0,)


@pytest.mark.parametrize("element,err", [({"type": "name"}, KeyError), ({"type": "number"}, KeyError),
                                         ({"type": "tuple_literal"}, KeyError)])
def test_tuple_key_missing_required_entry(element, err):
    with pytest.raises(err):
        Base({})._tuple_key([element])


def test_error_factories():
    e = Base._unsupported_operator_error("binary", "^")
    assert type(e) is vorlan.semantic_error.SemanticError and e.args == ("Unsupported binary operator: '^'",)
    e = Base._unsupported_type_error("expression", 3.5)
    assert str(e) == "Unsupported expression type: 3.5"
    assert str(Base({})._unsupported_type_error(["a"], {"k": 1})) == "Unsupported ['a'] type: {'k': 1}"


def test_error_factories_use_the_current_module_binding(monkeypatch):
    class Other(Exception):
        pass

    monkeypatch.setattr(lm, "SemanticError", Other)
    assert type(Base._unsupported_type_error("a", "b")) is Other


class Recording(Base):
    """Overrides every operation the base class calls through the object."""

    def __init__(self, ast, data_dict=None):
        super().__init__(ast, data_dict)
        self.calls = []

    def _indent(self):
        return ">" * self.indent_level

    def find_declaration(self, name, decl_type=None):
        self.calls.append(("one", name, decl_type))
        return "found"

    def find_declarations(self, name, decl_type=None):
        self.calls.append(("all", name, decl_type))
        return ["found"]

    @staticmethod
    def normalize_index(idx):
        return ("sub", idx)

    def _tuple_key(self, elements, env=None):
        if elements == ["inner"]:
            return "overridden"
        return super()._tuple_key(elements, env)

    def generate_code(self):
        self._build_variables()
        return "\n".join(self.scipy_code_lines)

    def _build_variables(self):
        self.indent_level += 1
        self._add_code_line("x = 0")


def test_subclass_overrides_are_reached_through_the_object():
    g = Recording({})
    assert g.generate_code() == ">x = 0"
    assert g._find_decl("I", "set") == "found"
    assert g._find_decls("I") == ["found"]
    assert g.calls == [("one", "I", "set"), ("all", "I", None)]
    assert g._normalize_index([1]) == ("sub", [1])
    lit = {"type": "tuple_literal", "elements": ["inner"]}
    assert g._tuple_key([lit, num(1)]) == ("overridden", 1)


def test_normalize_index_recursion_stays_in_the_base_class():
    # The subclass override is not used for nested items...
    assert Recording.normalize_index([[1]]) == ("sub", [[1]])
    assert Base.normalize_index([[1]]) == ((1,),)

    # ...but a replacement on the base class itself is, looked up at call time.
    original = Base.__dict__["normalize_index"]
    seen = []

    def spy(idx):
        seen.append(idx)
        return original.__func__(idx)

    try:
        Base.normalize_index = staticmethod(spy)
        assert Base.normalize_index([[1], 2]) == ((1,), 2)
        assert seen == [[[1], 2], [1], 1, 2]
    finally:
        Base.normalize_index = original


def test_fields_are_plain_attributes():
    g = Base({})
    g.c = [1.0, 2.0]
    g.indent_level += 2
    g.scipy_code_lines = lines = []
    g._add_code_line("y")
    assert lines == ["        y"] and g.c == [1.0, 2.0]
    g.extra = "ok"
    assert "extra" in vars(g)


def _deep(n, leaf):
    v = leaf
    for _ in range(n):
        v = [v]
    return v


@pytest.mark.parametrize("op", ["normalize", "tuple_key"])
def test_deep_nesting_raises_recursion_error(op):
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(1_000_000)
    try:
        with pytest.raises(RecursionError):
            if op == "normalize":
                Base.normalize_index(_deep(100_000, 1))
            else:
                e = []
                for _ in range(100_000):
                    e = [{"type": "tuple_literal", "elements": e}]
                Base({})._tuple_key(e)
    finally:
        sys.setrecursionlimit(old)
    # Moderate depth still works.
    expected = 1
    for _ in range(500):
        expected = (expected,)
    assert Base.normalize_index(_deep(500, 1)) == expected


def test_readme_generator_example_runs(capsys):
    import pathlib
    import re

    text = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text(encoding="utf-8")
    section = text.split("## Writing a code generator", 1)[1]
    code, printed = re.findall(r"```(?:python)?\n(.*?)```", section, re.S)[:2]
    exec(compile(code, "README.md", "exec"), {})
    assert capsys.readouterr().out == printed
