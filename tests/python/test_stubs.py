"""The type stubs (src/vorlan/stubs/*.pyi, installed beside the extension modules) against the
built modules: mypy's stubtest for names, kinds and types, and a check of every function's
parameter names and defaults against the signature line the bindings put in its docstring
(stubtest cannot read signatures of compiled functions). Each failure names the stub file and
the entry to update."""
import ast
import importlib
import inspect
import re
import subprocess
import sys
from pathlib import Path

import pytest

import vorlan

MODULES = ("genloom", "nearscan", "linemit", "tuplefold", "vorlan_core", "solve", "semantic_error")
STUB_DIR = Path(__file__).resolve().parents[2] / "src" / "vorlan" / "stubs"
INSTALLED = Path(vorlan.__file__).resolve().parent
ALLOWLIST = Path(__file__).with_name("stubtest_allowlist.txt")


def test_stubs_and_marker_are_installed():
    missing = [n for n in [*(f"{m}.pyi" for m in MODULES), "py.typed"] if not (INSTALLED / n).is_file()]
    assert not missing, f"not installed beside the modules in {INSTALLED}: {missing}"
    for m in MODULES:
        assert (INSTALLED / f"{m}.pyi").read_text() == (STUB_DIR / f"{m}.pyi").read_text(), (
            f"the installed {m}.pyi differs from src/vorlan/stubs/{m}.pyi: reinstall the package")


def test_stubtest_finds_no_difference(tmp_path):
    pytest.importorskip("mypy")
    r = subprocess.run([sys.executable, "-m", "mypy.stubtest", *(f"vorlan.{m}" for m in MODULES),
                        "--allowlist", str(ALLOWLIST), "--mypy-config-file", str(tmp_path / "none.ini")],
                       cwd=tmp_path, capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, (
        "the stubs in src/vorlan/stubs/ no longer match the built modules. stubtest names each entry "
        "('error: vorlan.<module>.<name> ...'); update src/vorlan/stubs/<module>.pyi:\n" + r.stdout + r.stderr)


TYPICAL_USE = """
from vorlan import genloom, nearscan, vorlan_core
from vorlan.linemit import SciPyCodeGeneratorBase
from vorlan.tuplefold import Tuplefold

stats = genloom.generative_solve("p", "m.mod", "m.dat", return_statistics=True, temperature=0.5)
reveal_type(stats["iterations"])
reveal_type(genloom.generative_solve("p", "m.mod", "m.dat", mode=genloom.Grammar.CODE, stop=["x"]))
reveal_type(nearscan.rank_problem_descriptions("q", top_k=2)[0]["score"])
compiler = vorlan_core.QelCompiler()
compiler.compile_model("m", "d")
Tuplefold.get_tuple_set("S", compiler.ast, compiler.data)

class Lines(SciPyCodeGeneratorBase):
    def generate_code(self) -> str:
        self._add_code_line("x = 1")
        return "\\n".join(self.scipy_code_lines)

genloom.generative_solve("p", "m.mod", 3)
"""


def test_typical_use_type_checks(tmp_path):
    api = pytest.importorskip("mypy.api")
    (tmp_path / "use.py").write_text(TYPICAL_USE)
    out, _, status = api.run([str(tmp_path / "use.py"), "--no-incremental", "--config-file", ""])
    notes = re.findall(r'Revealed type is "([^"]+)"', out)
    assert notes == ["int", "str", "float"], out
    errors = [line for line in out.splitlines() if ": error:" in line]
    assert len(errors) == 1 and "use.py:19:" in errors[0] and "generative_solve" in errors[0], out


# ------------------------------------------------------ signatures of compiled functions

_SIGNATURE = re.compile(r"^(\w+)\((.*)\) -> .*$")


def _split_params(text):
    """Top-level comma split of a signature's parameter list."""
    parts, depth, current, quote = [], 0, "", None
    for ch in text:
        if quote:
            quote = None if ch == quote else quote
        elif ch in "'\"":
            quote = ch
        elif ch in "([{<":
            depth += 1
        elif ch in ")]}>":
            depth -= 1
        elif ch == "," and depth == 0:
            parts.append(current.strip())
            current = ""
            continue
        current += ch
    return [p for p in parts + [current.strip()] if p]


def _runtime_params(obj):
    """[(name, default text or None)] from the binding's docstring signature, or None."""
    line = (getattr(obj, "__doc__", None) or "").split("\n", 1)[0]
    match = _SIGNATURE.match(line)
    if not match:
        return None
    params = []
    for p in _split_params(match.group(2)):
        name, _, rest = p.partition(":")
        default = rest.split(" = ", 1)[1] if " = " in rest else None
        if name.strip() not in ("self", "*args", "**kwargs"):
            params.append((name.strip(), default))
    return params


def _same_default(stub_node, runtime_text):
    enum_member = re.fullmatch(r"<(\w+)\.(\w+): .*>", runtime_text)
    if enum_member:
        return ast.unparse(stub_node) == f"{enum_member[1]}.{enum_member[2]}"
    if isinstance(stub_node, ast.Constant) and stub_node.value is Ellipsis:
        return True
    try:
        return ast.literal_eval(stub_node) == ast.literal_eval(runtime_text)
    except ValueError:
        return ast.unparse(stub_node) == runtime_text


def _stub_functions(module):
    """{qualified name: (ast.arguments, line)} of a stub file; the first overload stands for all."""
    tree = ast.parse((STUB_DIR / f"{module}.pyi").read_text())
    found = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            found.setdefault(node.name, (node.args, node.lineno))
        elif isinstance(node, ast.ClassDef):
            for sub in node.body:
                if isinstance(sub, ast.FunctionDef):
                    found.setdefault(f"{node.name}.{sub.name}", (sub.args, sub.lineno))
    return found


def _stub_params(args):
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    pairs = list(zip(positional, defaults)) + list(zip(args.kwonlyargs, args.kw_defaults))
    return [(a.arg, d) for a, d in pairs if a.arg != "self"]


def _runtime_functions(module):
    m = importlib.import_module(f"vorlan.{module}")
    for name, value in vars(m).items():
        if inspect.isclass(value) and value.__module__ == m.__name__:
            for attr, member in vars(value).items():
                yield f"{name}.{attr}", getattr(value, attr, member)
        elif callable(value) and not inspect.isclass(value):
            yield name, value


@pytest.mark.parametrize("module", MODULES)
def test_stub_signatures_match_the_bindings(module):
    stubs = _stub_functions(module)
    problems = []
    for name, obj in _runtime_functions(module):
        params = _runtime_params(obj)
        if params is None or name.rsplit(".", 1)[-1] != (obj.__doc__ or "").split("(", 1)[0]:
            continue  # no binding signature, or a function bound from another module under a new name
        if name not in stubs:
            if not name.rsplit(".", 1)[-1].startswith("_"):  # module-internal ones may go without
                problems.append(f"{name}{tuple(p for p, _ in params)} has no stub")
            continue
        stub_args, line = stubs[name]
        stub = _stub_params(stub_args)
        if [p for p, _ in stub] != [p for p, _ in params]:
            problems.append(f"line {line}: {name}: the module has parameters {[p for p, _ in params]}, "
                            f"the stub {[p for p, _ in stub]}")
            continue
        for (pname, sdefault), (_, rdefault) in zip(stub, params):
            if (sdefault is None) != (rdefault is None) or (
                    rdefault is not None and not _same_default(sdefault, rdefault)):
                shown = "none" if sdefault is None else ast.unparse(sdefault)
                problems.append(f"line {line}: {name}: default of {pname} is {rdefault or 'none'} in the module, "
                                f"{shown} in the stub")
    assert not problems, f"update src/vorlan/stubs/{module}.pyi:\n  " + "\n  ".join(problems)


@pytest.mark.parametrize("module", MODULES)
def test_public_functions_and_classes_say_what_they_do(module):
    m = importlib.import_module(f"vorlan.{module}")
    undocumented = []
    for name, value in vars(m).items():
        if name.startswith("_") or not callable(value):
            continue
        doc = (value.__doc__ if inspect.isclass(value) else inspect.getdoc(value)) or ""
        text = doc.split("\n\n", 1)[-1] if _SIGNATURE.match(doc.split("\n", 1)[0]) else doc
        if not text.strip():
            undocumented.append(name)
    assert not undocumented, f"vorlan.{module}: give these a docstring in the binding: {undocumented}"
