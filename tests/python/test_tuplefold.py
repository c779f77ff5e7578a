import sys

import pytest

import vorlan.tuplefold as tf
from vorlan.tuplefold import Tuplefold


def el(*items):
    return {"elements": list(items)}


def decl(name, typ, **kw):
    return {"name": name, "type": typ, **kw}


def test_class_shape():
    assert Tuplefold.__bases__ == (object,)
    assert vars(Tuplefold()) == {}


@pytest.mark.parametrize(
    "val,expected",
    [
        (el([1, 2], 3), ((1, 2), 3)),
        ([[1, 2], [3, [4, 5]]], ((1, 2), (3, (4, 5)))),
        ([el("a", "b"), "c"], (("a", "b"), "c")),
        ((1, [2]), (1, (2,))),
        ([], ()),
        ("abc", "abc"),
        (4.5, 4.5),
        (None, None),
    ],
)
def test_to_tuple_recursive(val, expected):
    got = Tuplefold._to_tuple_recursive(val)
    assert got == expected and type(got) is type(expected)


def test_map_without_elements_is_kept_as_the_same_object():
    m = {"value": [1, 2]}
    assert Tuplefold._to_tuple_recursive(m) is m
    assert Tuplefold._to_tuple_recursive([m])[0] is m


def test_converted_members_hash_by_items():
    got = Tuplefold.get_tuple_set("S", {}, {"S": [[1, 2], [1, 2], el("a", [3])]})
    assert len(set(got)) == 2 and ("a", (3,)) in set(got)


# (data_dict, ast) -> expected members; each row is one precedence rule.
D = {"declarations": [decl("S", "set_of_tuples", value=[[9, 9]])]}
PRECEDENCE = [
    pytest.param({"S": [[1, 2], [3, 4]]}, D, [(1, 2), (3, 4)], id="data-list-beats-declaration"),
    pytest.param({"S": {"elements": [el("a", "b"), el("c", "d")]}}, D, [("a", "b"), ("c", "d")], id="data-map-elements"),
    pytest.param({"S": {"value": [[5, 6]]}}, D, [(5, 6)], id="data-map-value"),
    pytest.param({"S": {"elements": [[1]], "value": [[2]]}}, D, [(1,)], id="data-elements-before-value"),
    pytest.param({"S": {"other": 1}}, D, [(9, 9)], id="data-map-without-members-falls-through"),
    pytest.param({"S": ([1, 2],)}, D, [(9, 9)], id="data-tuple-falls-through"),
    pytest.param({"S": 3}, D, [(9, 9)], id="data-scalar-falls-through"),
    pytest.param({"S": None}, D, [(9, 9)], id="data-none-falls-through"),
    pytest.param({"S": {"elements": []}}, D, [], id="data-empty-members-win"),
    pytest.param({}, {"declarations": [decl("S", "set_of_tuples", value=[[1, 7], [2, 8]])]}, [(1, 7), (2, 8)], id="decl-value"),
    pytest.param({}, {"declarations": [decl("S", "set", elements=[[1, 7]], value=[[0]])]}, [(1, 7)], id="decl-elements-before-value"),
    pytest.param({}, {"declarations": [decl("S", "param", value=[[0]]), decl("S", "set", value=[[1]])]}, [(1,)], id="decl-other-type-skipped"),
    pytest.param({}, {"declarations": [decl("S", "set"), decl("S", "set_of_tuples", elements=[el(1, 2)])]}, [(1, 2)], id="decl-without-members-skipped"),
    pytest.param({}, {"declarations": [decl("T", "set", value=[[1]]), {"type": "set", "value": [[2]]}]}, [], id="decl-other-name-or-no-name"),
    pytest.param({}, {"declarations": [{"name": "S", "value": [[1]]}]}, [], id="decl-without-type"),
    pytest.param({}, {}, [], id="no-declarations"),
    pytest.param({"T": [[1]]}, {"declarations": []}, [], id="not-found"),
]


@pytest.mark.parametrize("data,ast,expected", PRECEDENCE)
def test_get_tuple_set_precedence(data, ast, expected):
    got = Tuplefold.get_tuple_set("S", ast, data)
    assert type(got) is list and got == expected


def test_members_keep_order_duplicates_and_scalars():
    got = Tuplefold.get_tuple_set("S", {}, {"S": [[2, 1], 5, "ab", [2, 1], {"k": 1}, [el(1), []]]})
    assert got == [(2, 1), 5, "ab", (2, 1), {"k": 1}, ((1,), ())]


def test_result_is_a_new_list_each_call():
    data = {"S": [1, 2]}
    a = Tuplefold.get_tuple_set("S", {}, data)
    assert a == [1, 2] and a is not data["S"]
    a.append(3)
    assert data["S"] == [1, 2]


@pytest.mark.parametrize(
    "args,err",
    [
        (("S", [], {}), AttributeError),            # AST that is not a map
        (("S", {"declarations": [1]}, {}), AttributeError),  # declaration that is not a map
        ((1, {}, {}), TypeError),                   # set name of the wrong kind
        (("S", {}, {"S": {"elements": "ab"}}), TypeError),   # members as text would split into characters
        (("S", {}, {"S": {"value": {"a": 1}}}), TypeError),
        (("S", {"declarations": [decl("S", "set", value=7)]}, {}), TypeError),
    ],
)
def test_bad_inputs_fail(args, err):
    with pytest.raises(err):
        Tuplefold.get_tuple_set(*args)


def test_element_map_with_text_elements_fails():
    with pytest.raises(TypeError):
        Tuplefold._to_tuple_recursive({"elements": "xy"})


def test_recursion_goes_through_the_class_at_call_time(monkeypatch):
    seen = []
    original = Tuplefold.__dict__["_to_tuple_recursive"].__func__

    def spy(val):
        seen.append(val)
        return original(val)

    monkeypatch.setattr(Tuplefold, "_to_tuple_recursive", staticmethod(spy))
    assert Tuplefold.get_tuple_set("S", {}, {"S": [[1, el(2)]]}) == [(1, (2,))]
    assert seen == [[1, el(2)], 1, el(2), 2]


def test_subclass_override_is_not_used():
    class Sub(Tuplefold):
        @staticmethod
        def _to_tuple_recursive(val):
            return "sub"

    assert Sub.get_tuple_set("S", {}, {"S": [[1]]}) == [(1,)]


def test_deep_nesting_raises_recursion_error():
    v = 1
    for _ in range(100_000):
        v = [v]
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(1_000_000)
    try:
        with pytest.raises(RecursionError):
            Tuplefold._to_tuple_recursive(v)
    finally:
        sys.setrecursionlimit(old)
    assert tf.Tuplefold is Tuplefold
