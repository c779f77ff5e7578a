"""Grammar reference texts per mode, read from beside the module's own file."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import vorlan.genloom as g

STAGE = Path(g.__file__).parent.parent


def make_layout(root: Path, grammar: bytes | None = None, gbnf: bytes | None = None, code: bytes | None = None):
    """A package folder with a fake module file; returns that file's path text."""
    (root / "vorlan").mkdir(parents=True)
    if grammar is not None or gbnf is not None:
        (root / "docs" / "grammars").mkdir(parents=True)
    if grammar is not None:
        (root / "docs" / "grammars" / "Vorlan grammar.md").write_bytes(grammar)
    if gbnf is not None:
        (root / "docs" / "grammars" / "Vorlan_GBNF").write_bytes(gbnf)
    if code is not None:
        (root / "vorlan" / "vorlan_core.cpp").write_bytes(code)
    return str(root / "vorlan" / "genloom.so")


@pytest.fixture
def layout(tmp_path, monkeypatch):
    def build(**files):
        monkeypatch.setattr(g, "__file__", make_layout(tmp_path, **files))
        return tmp_path
    return build


def test_staged_package_modes():
    assert g._get_grammar_implementation(g.Grammar.NONE) == ""
    md = (STAGE / "docs" / "grammars" / "Vorlan grammar.md").read_text(encoding="utf-8")
    assert g._get_grammar_implementation(g.Grammar.BNF) == md == g._read_vorlan_grammar()
    code = (STAGE / "vorlan" / "vorlan_core.cpp").read_text(encoding="utf-8")
    assert code and g._get_grammar_implementation(g.Grammar.CODE) == code == g._read_vorlan_code()
    assert g._read_vorlan_GBNF() == (STAGE / "docs" / "grammars" / "Vorlan_GBNF").read_text(encoding="utf-8")


def test_bnf_reads_markdown_never_gbnf_with_newlines_normalised(layout):
    layout(grammar=b"  # Grammar\r\nline\rend\n\n", gbnf=b"root ::= x\n", code=b"int main(){}\r\n")
    assert g._get_grammar_implementation(g.Grammar.BNF) == "  # Grammar\nline\nend\n\n"
    assert g._read_vorlan_GBNF() == "root ::= x\n"
    assert g._get_grammar_implementation(g.Grammar.CODE) == "int main(){}\n"


def test_empty_document_gives_empty_text(layout):
    layout(grammar=b"")
    assert g._get_grammar_implementation(g.Grammar.BNF) == ""


def test_missing_documents_name_their_path(layout):
    root = layout()
    with pytest.raises(FileNotFoundError) as info:
        g._get_grammar_implementation(g.Grammar.BNF)
    assert info.value.filename == os.path.join(str(root), "docs", "grammars", "Vorlan grammar.md")
    with pytest.raises(FileNotFoundError) as info:
        g._get_grammar_implementation(g.Grammar.CODE)
    assert info.value.filename == os.path.join(str(root), "vorlan", "vorlan_core.cpp")
    assert g._get_grammar_implementation(g.Grammar.NONE) == ""


def test_undecodable_document_is_decode_error(layout):
    layout(grammar=b"ok \xe2\x82 bad")
    with pytest.raises(UnicodeDecodeError) as info:
        g._get_grammar_implementation(g.Grammar.BNF)
    assert (info.value.start, info.value.reason) == (3, "invalid continuation byte")


def test_relative_module_path_is_not_made_absolute(tmp_path, monkeypatch):
    make_layout(tmp_path, grammar=b"rel")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setattr(g, "__file__", "vorlan/genloom.so")
    assert g._read_vorlan_grammar() == "rel"
    seen = []
    monkeypatch.setattr(g, "_read_file", lambda path: seen.append(path) or "x")
    g._read_vorlan_grammar()
    g._read_vorlan_code()
    assert seen == ["docs/grammars/Vorlan grammar.md", "vorlan/vorlan_core.cpp"]


@pytest.mark.parametrize("mode,text", [("CODE", "CODE"), ("BNF", "BNF"), (2, "2"), (None, "None")])
def test_invalid_modes(mode, text):
    with pytest.raises(ValueError) as info:
        g._get_grammar_implementation(mode)
    assert str(info.value) == "Invalid mode: " + text


def test_read_file_errors(tmp_path):
    with pytest.raises(FileNotFoundError) as info:
        g._read_file(str(tmp_path / "nope.md"))
    assert info.value.filename == str(tmp_path / "nope.md")
    with pytest.raises(IsADirectoryError):
        g._read_file(str(tmp_path))
    p = tmp_path / "b.md"
    p.write_bytes(b"\xef\xbb\xbfbom\r\n")
    assert g._read_file(path=str(p)) == "\ufeffbom\n"


def test_relocated_package_without_documents(tmp_path):
    # A copy of the staged package with no docs/ beside it: NONE still works, BNF names the path.
    shutil.copytree(STAGE / "vorlan", tmp_path / "vorlan")
    code = (
        "import vorlan.genloom as g\n"
        "print(repr(g._get_grammar_implementation(g.Grammar.NONE)))\n"
        "try:\n"
        "    g._get_grammar_implementation(g.Grammar.BNF)\n"
        "except FileNotFoundError as e:\n"
        "    print(e.filename)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env={**os.environ, "PYTHONPATH": str(tmp_path)}, cwd=tmp_path).stdout.split("\n")
    assert out[0] == "''"
    assert out[1] == os.path.join(str(tmp_path), "docs", "grammars", "Vorlan grammar.md")
