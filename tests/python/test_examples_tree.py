"""The default example tree: layout of every folder, recorded optima, and compilation."""
import importlib.util
import json
import math
import re
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
TREE = REPO / "src" / "vorlan" / "qel_models"
FOLDERS = sorted(p for p in TREE.iterdir() if p.is_dir())

FAMILIES = [
    "product_mix", "diet", "blending", "transportation", "transshipment", "assignment",
    "knapsack", "bin_packing", "set_cover", "facility_location", "production_planning",
    "workforce_scheduling", "cutting_stock", "min_cost_flow", "shortest_path", "max_flow",
    "cash_planning", "capital_budgeting", "unit_commitment", "vehicle_loading", "crop_planning",
    "staff_rostering", "multicommodity_flow", "lot_sizing", "network_design",
]


def _strip_comments(text: str) -> str:
    return re.sub(r'//[^\n]*|/\*.*?\*/|("(?:[^"\\\n]|\\.)*")', lambda m: m.group(1) or " ", text, flags=re.S)


def _external_names(model: str) -> set[str]:
    """Names the model declares with `= ...` (their values come from the data file)."""
    pat = r"\b([A-Za-z_]\w*)\s*(?:\[[^;=]*\]\s*)*(?:with\b[^;=]*)?=\s*\.\.\.\s*;"
    return set(re.findall(pat, _strip_comments(model)))


def _assigned_names(data: str) -> list[str]:
    stmts = [s.strip() for s in _strip_comments(data).split(";")]
    return [re.match(r"([A-Za-z_]\w*)\s*=", s).group(1) for s in stmts if s]


def _pair(folder: Path):
    txt = next(folder.glob("*.txt"))
    return txt, txt.with_suffix(".mod"), txt.with_suffix(".dat")


def test_tree_is_large_and_covers_the_classic_families():
    names = {p.name for p in FOLDERS}
    assert len(FOLDERS) >= 30
    assert [f for f in FAMILIES if f not in names] == []


@pytest.mark.parametrize("folder", FOLDERS, ids=lambda p: p.name)
def test_folder_layout(folder):
    files = sorted(p.name for p in folder.iterdir())
    txts = [f for f in files if f.endswith(".txt")]
    assert len(txts) == 1, f"{folder.name}: expected one description, found {txts}"
    stem = txts[0][: -len(".txt")]
    assert stem == folder.name, "files are named after their folder"
    assert files == sorted([f"{stem}.txt", f"{stem}.mod", f"{stem}.dat", "solution.json"])
    desc = (folder / txts[0]).read_text(encoding="utf-8").strip()
    assert len(desc) >= 200 and re.search(r"\d", desc), "a description states the problem and its data"


@pytest.mark.parametrize("folder", FOLDERS, ids=lambda p: p.name)
def test_solution_record_matches_the_model_sense(folder):
    rec = json.loads((folder / "solution.json").read_text(encoding="utf-8"))
    _, mod, _ = _pair(folder)
    model = _strip_comments(mod.read_text(encoding="utf-8"))
    # A lexicographic objective records every goal's optimum in priority order as well.
    lexicographic = re.search(r"\blexicographic\s*\(", model) is not None
    assert set(rec) == ({"objective", "objectives", "sense"} if lexicographic else {"objective", "sense"})
    values = [rec["objective"], *rec.get("objectives", [])]
    assert all(isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) for v in values)
    assert rec.get("objectives", [rec["objective"]])[0] == rec["objective"]
    senses = re.findall(r"\b(minimize|maximize)\b", model)
    assert senses == [rec["sense"]]


@pytest.mark.parametrize("folder", FOLDERS, ids=lambda p: p.name)
def test_data_file_assigns_exactly_the_external_names(folder):
    _, mod, dat = _pair(folder)
    assigned = _assigned_names(dat.read_text(encoding="utf-8"))
    assert len(assigned) == len(set(assigned)), "a name is assigned twice"
    assert set(assigned) == _external_names(mod.read_text(encoding="utf-8"))


def _solver_script():
    found = importlib.util.spec_from_file_location("solve_examples", REPO / "scripts" / "solve_examples.py")
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


@pytest.fixture(scope="module")
def solver():
    pytest.importorskip("scipy")
    return _solver_script()


@pytest.mark.parametrize("folder", FOLDERS, ids=lambda p: p.name)
def test_recorded_optimum_is_reproduced_by_the_independent_formulation(solver, folder):
    _, _, dat = _pair(folder)
    assert folder.name in solver.EXAMPLES, "every example has a second formulation"
    value, sense, *goals = solver.EXAMPLES[folder.name](solver.parse_dat(dat.read_text(encoding="utf-8")))
    rec = json.loads((folder / "solution.json").read_text(encoding="utf-8"))
    assert sense == rec["sense"]
    assert value == pytest.approx(rec["objective"], rel=1e-7, abs=1e-6)
    assert (goals[0] if goals else None) == (pytest.approx(rec["objectives"]) if goals else rec.get("objectives"))


@pytest.fixture(scope="module")
def compiler():
    core = pytest.importorskip("vorlan.vorlan_core")
    return core.QelCompiler


@pytest.mark.parametrize("folder", FOLDERS, ids=lambda p: p.name)
def test_example_pair_compiles(compiler, folder):
    _, mod, dat = _pair(folder)
    compiler().compile_model(mod.read_text(encoding="utf-8"), dat.read_text(encoding="utf-8"))


def test_compiler_rejects_a_broken_example(compiler):
    # Guards against the compile test passing because nothing is checked at all.
    _, mod, dat = _pair(TREE / "transportation")
    broken = mod.read_text(encoding="utf-8").replace("ship[w][s] <= supply[w];", "ship[w][s] <= supply[w]")
    with pytest.raises(Exception):
        compiler().compile_model(broken, dat.read_text(encoding="utf-8"))


# The grammar reference teaches only what the compiler accepts: its model fragments, read in
# order, form one valid model, and its data block is a valid data file.
DOC = REPO / "docs" / "grammars" / "Vorlan grammar.md"
DOC_FRAGMENT_DATA = """
nbPeriods = 3; Products = { "bread", "cake", "pin" };
demand = [[1, 2, 3], [4, 5, 6], [7, 8, 9]]; cost = [1, 2, 3]; stockLevels = [0, 1, 2, 3];
reaches = [{1}, {2}, {1, 2}]; Nodes = {A, B, C};
Arcs = { <A, B, 2.5, 40>, <B, C, 1, 30> };
flowCost = #[ <"A", "B", 2.5, 40>: 7, <B, C, 1, 30>: 3 ]#;
"""
DOC_DATA_MODEL = """
int nbPeriods = ...; float rate = ...; {string} Products = ...;
tuple Arc { key string orig; key string dest; float cost; float cap; }
{Arc} Arcs = ...;
float demand[{"bread", "cake"}][1..3] = ...; float cost[{"bread", "cake"}] = ...;
float flowCost[Arcs] = ...; {int} reaches[1..2] = ...; int big[1..3] = ...;
float limits[1..3] = ...; int penalty[{"Amy", "Bea"}][1..2] = ...;
"""


def _doc_blocks(kind):
    return re.findall(rf"```{kind}\n(.*?)```", DOC.read_text(encoding="utf-8"), re.S)


# Blocks holding an objective; a model takes one of them and every other block.
_OBJECTIVE_BLOCKS = [i for i, f in enumerate(_doc_blocks("mod")[:-1])  # the last is the complete example
                     if re.search(r"^(minimize|maximize)\b", f, re.M)]


@pytest.mark.parametrize("objective", _OBJECTIVE_BLOCKS)
def test_grammar_document_fragments_compile(compiler, objective):
    frags = _doc_blocks("mod")[:-1]
    model = "\n".join(f for i, f in enumerate(frags) if i == objective or i not in _OBJECTIVE_BLOCKS)
    compiler().compile_model(model, DOC_FRAGMENT_DATA)


def test_grammar_document_complete_example_and_data_block_compile(compiler):
    mods, dats = _doc_blocks("mod"), _doc_blocks("dat")
    compiler().compile_model(mods[-1], dats[-1])
    compiler().compile_model(DOC_DATA_MODEL, dats[0])
