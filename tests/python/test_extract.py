import json
import random
import re
import time
import types

import pytest

import vorlan.genloom as g

FENCE_RE = re.compile(r"```(?:json)?\s*(\{.*\})\s*```", re.DOTALL)


def reference_extract(text):
    """The extraction rules written with the host's own re, for comparison."""
    m = FENCE_RE.search(text)
    if m:
        return m.group(1)
    start = text.find("{")
    if start == -1:
        return text
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return text[start : i + 1]
    return text


@pytest.mark.parametrize("seed", range(8))
def test_extract_agrees_with_host_regex_on_random_texts(seed):
    rnd = random.Random(seed)
    alphabet = ["`", "```", "j", "json", "s", "o", "n", "{", "}", " ", "\n", "x", "\u3000", "\u00e9", "\t"]
    for _ in range(20000):
        text = "".join(rnd.choice(alphabet) for _ in range(rnd.randint(0, 18)))
        assert g.extract_json_from_markdown(text) == reference_extract(text), repr(text)


@pytest.mark.parametrize(
    "text, expected",
    [
        ('Here:\n```json\n{"model": "m", "data": "d"}\n```\nDone.', '{"model": "m", "data": "d"}'),
        ('```\n{"a": 1}\n```', '{"a": 1}'),
        ('```JSON\n{"a": 1}\n```', '{"a": 1}'),
        ('```json\n{"a":1}\n```\nmore\n```json\n{"b":2}\n```', '{"a":1}\n```\nmore\n```json\n{"b":2}'),
        ('before {"a": {"b": []}} after', '{"a": {"b": []}}'),
        ('say {"a": "}"} now', '{"a": "}'),
        ("open { never closed", "open { never closed"),
        ("nothing here", "nothing here"),
        ('```json {"s": "```"} ```', '{"s": "```"}'),
        ('ünïcödé → ```json\n{"k": "ñ"}\n``` ✓', '{"k": "ñ"}'),
    ],
)
def test_extract_cases(text, expected):
    assert g.extract_json_from_markdown(text) == expected


def test_extract_returns_the_same_object_when_nothing_found():
    s = "no braces at all " * 3
    assert g.extract_json_from_markdown(s) is s


def test_extract_keeps_lone_surrogates():
    text = '\ud800 prose {"a": "\udfff"} \udc00'
    assert g.extract_json_from_markdown(text) == '{"a": "\udfff"}'


def test_extract_rejects_non_text():
    with pytest.raises(TypeError):
        g.extract_json_from_markdown(b"{}")


FENCED_TAIL = '```json\n{"model": "x", "data": "y"}\n```'


@pytest.mark.parametrize(
    "text, expected",
    [
        ("word " * 2_000_000 + FENCED_TAIL, '{"model": "x", "data": "y"}'),
        ("{" * 100_000, None),
        ("``` {" * 100_000, None),  # quadratic for a backtracking matcher
        ("}```" * 100_000 + "```{", None),
        ("\u00e9" * 1_000_000 + '{"a": "\u65e5"}' + "\u00e9" * 1_000_000, '{"a": "\u65e5"}'),
    ],
    ids=["10MB-prose-then-fence", "unbalanced-opens", "fence-opens", "closes-before-open", "non-ascii-prose"],
)
def test_extract_adversarial_inputs(text, expected):
    t0 = time.perf_counter()
    got = g.extract_json_from_markdown(text)
    assert got == (text if expected is None else expected)
    assert time.perf_counter() - t0 < 5.0


# ---- _json_loads_relaxed -------------------------------------------------------------


@pytest.mark.parametrize(
    "text, expected",
    [
        ('\n  {"model": "m", "data": "d"}  \n', {"model": "m", "data": "d"}),
        ("null", None),
        ('Sure! ```json\n{"aligned": true, "assessment": "ok"}\n``` Hope it helps.', {"aligned": True, "assessment": "ok"}),
        ('{"n": [0, -1, 1.5, 2e3, 123456789012345678901234567890, -18446744073709551617]}',
         {"n": [0, -1, 1.5, 2000.0, 123456789012345678901234567890, -18446744073709551617]}),
        ('{"b": 1, "a": 2, "b": 3}', {"b": 3, "a": 2}),
        ('{"s": "\\u00e9\\ud83d\\ude00\\n", "e": {}, "l": [[], {}]}', {"s": "é😀\n", "e": {}, "l": [[], {}]}),
        ('x {"a": {"b": null}} y', {"a": {"b": None}}),
    ],
)
def test_loads_values(text, expected):
    got = g._json_loads_relaxed(text)
    assert got == expected
    if isinstance(expected, dict):
        assert list(got) == list(expected)  # document order
        assert all(type(a) is type(b) for a, b in zip(got.get("n", []), expected.get("n", [])))


@pytest.mark.parametrize(
    "text, kind",
    [("[1, 2]", "list"), ('"s"', "str"), ("7", "int"), ("7.5", "float"), ("true", "bool"), ('["{"]', "list")],
)
def test_loads_other_top_level_kinds_raise_type_error(text, kind):
    with pytest.raises(TypeError) as ei:
        g._json_loads_relaxed(text)
    assert str(ei.value) == f"Expected dict, got {kind}"


@pytest.mark.parametrize(
    "text",
    [
        '```json\n{"a": 1}\n```\n```json\n{"b": 2}\n```',  # span across two blocks
        'say {"a": "}"} now',  # cut at the brace inside the string
        "{'a': 1}",
        '{"a": 1,}',
        '{"a": NaN}',
        "",
        "plain prose",
        '{"a": /* c */ 1}',
        '{"a": 1e400}',  # out of double range: an error, not a silent inf
    ],
)
def test_loads_parse_errors_are_json_decode_errors(text):
    with pytest.raises(json.JSONDecodeError) as ei:
        g._json_loads_relaxed(text)
    err = ei.value
    assert isinstance(err, ValueError)
    assert 0 <= err.pos <= len(err.doc)
    assert err.msg and "json.exception" not in err.msg


def test_loads_error_position_counts_code_points():
    with pytest.raises(json.JSONDecodeError) as ei:
        g._json_loads_relaxed('{"ééé": x}')
    assert ei.value.doc[ei.value.pos] == "x"


def test_loads_deep_nesting_is_an_error_not_a_crash():
    deep = "[" * 200_000 + "]" * 200_000
    with pytest.raises(json.JSONDecodeError, match="nesting"):
        g._json_loads_relaxed('{"a": ' + deep + "}")
    ok = '{"a": ' + "[" * 5000 + "]" * 5000 + "}"
    assert isinstance(g._json_loads_relaxed(ok)["a"], list)


def test_loads_large_fenced_reply():
    body = {"model": "x" * 1_000_000, "data": "é" * 1000}
    text = "Prose. " * 100_000 + "```json\n" + json.dumps(body) + "\n```"
    assert g._json_loads_relaxed(text) == body


# ---- _coalesce_response_text ---------------------------------------------------------

NS = types.SimpleNamespace


@pytest.mark.parametrize(
    "resp, expected",
    [
        (NS(output_text="direct", output=[]), "direct"),
        (NS(output_text="", output=[NS(content=[NS(text="ab"), NS(text="cd")])]), "abcd"),
        (NS(output=[NS(content=[NS(text="")])]), ""),
        (NS(output=[NS(content=[{"text": "map"}, {"text": 3}, {"type": "x"}, NS(text=None)])]), "map"),
        (NS(output=[NS(content=None, text="item-level"), NS(content=[NS(text="b")])]), "item-levelb"),
        (NS(output=[NS(content=[NS(kind="refusal")])]), ""),
        (NS(output=[]), ""),
        (NS(), ""),
        (object(), ""),
        # a non-text piece abandons the joined form; the first block's text is used instead
        (NS(output=[NS(content=[NS(text="first"), NS(text=5)])]), "first"),
    ],
)
def test_coalesce(resp, expected):
    assert g._coalesce_response_text(resp) == expected


def test_coalesce_propagates_interrupts():
    class Boom:
        @property
        def output(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        g._coalesce_response_text(Boom())


def test_loads_with_surrogates_and_non_ascii_around_the_object():
    text = '\udcff héllo → ```json\n{"model": "ñ", "data": "日本"}\n``` \ud800'
    assert g._json_loads_relaxed(text) == {"model": "ñ", "data": "日本"}


@pytest.mark.parametrize("text", ['{"a": "\ud800"}', '{"a": "\\ud800"}'])
def test_loads_rejects_lone_surrogates_inside_strings(text):
    # strict UTF-8 text: a lone surrogate, raw or escaped, is not a valid string value
    with pytest.raises(json.JSONDecodeError):
        g._json_loads_relaxed(text)


def reference_loads(text):
    try:
        v = json.loads(text)
        if v is None or isinstance(v, dict):
            return v
    except Exception:
        pass
    v = json.loads(reference_extract(text))
    if v is None or isinstance(v, dict):
        return v
    raise TypeError("Expected %s, got %.200s" % ("dict", type(v).__name__))


def outcome(fn, text):
    try:
        return ("value", fn(text))
    except (json.JSONDecodeError, TypeError) as e:
        return (type(e).__name__, str(e) if isinstance(e, TypeError) else None)


@pytest.mark.parametrize("seed", range(4))
def test_loads_agrees_with_host_json_on_random_texts(seed):
    rnd = random.Random(seed)
    pieces = ['{', '}', '[', ']', '"a"', '"b"', ':', ',', '1', '-2.5e3', 'null', 'true', ' ', '\n', '```json', '```', 'x',
              '"}"', '"\\u00e9"', ' 12345678901234567890123']  # (1e400-style overflow is an error here)
    for _ in range(5000):
        text = "".join(rnd.choice(pieces) for _ in range(rnd.randint(0, 12)))
        assert outcome(g._json_loads_relaxed, text) == outcome(reference_loads, text), repr(text)
