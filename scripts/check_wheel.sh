#!/usr/bin/env bash
# Builds the package as a user's pip would and checks the installed result: an sdist, a wheel
# built from it in an isolated build environment (JSON headers taken from the build
# requirement, not the system, so a machine without them is what is tried), the wheel with the
# `solve` extra installed into a fresh virtual environment without the development
# requirements, then the installed `vorlan` run on the sample pair from outside the source tree.
# A package file the wheel forgets (grammars, examples, embeddings, stubs) fails here. The
# checked wheel is then installed into .venv, where the tests run against it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build/wheel-check
rm -rf "$out"
mkdir -p "$out"

echo "wheel: building the sdist and a wheel from it" >&2
.venv/bin/python -m build --outdir "$out/dist" \
  -Ccmake.define.CMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON . >"$out/build.log" 2>&1 \
  || { tail -n 40 "$out/build.log" >&2; exit 1; }
grep -q "JSON headers from the Python package nlohmann-json" "$out/build.log" \
  || { echo "wheel: the build did not take the JSON headers from its build requirement" >&2; exit 1; }
wheel=$(ls "$out"/dist/*.whl)
ls "$out"/dist/*.tar.gz >/dev/null

echo "wheel: installing $(basename "$wheel") into a fresh venv" >&2
python3 -m venv "$out/venv"
# The lock file only constrains versions; it installs nothing the wheel does not ask for.
"$out/venv/bin/python" -m pip install -q --disable-pip-version-check -c requirements/dev.txt "$wheel[solve]"

cd "$out"  # away from the source tree, so only the installed package can be imported
venv/bin/vorlan --version
venv/bin/vorlan check "$root/examples/sample/sample.mod" "$root/examples/sample/sample.dat"
venv/bin/vorlan run "$root/examples/sample/sample.mod" "$root/examples/sample/sample.dat"
venv/bin/python - <<'PY'
"""Every data file the package needs at run time is in the installed wheel."""
import sys
from pathlib import Path

import vorlan
from vorlan import genloom, nearscan

pkg = Path(vorlan.__file__).resolve().parent
need = [pkg / "py.typed", *(pkg / f"{m}.pyi" for m in ("genloom", "nearscan", "solve", "vorlan_core")),
        Path(nearscan._shipped_embeddings_dir()) / nearscan._shipped_file_name("sentence-transformers/all-MiniLM-L6-v2")]
missing = [str(p) for p in need if not p.is_file()]
if not any((pkg / "qel_models").rglob("*.mod")):
    missing.append(str(pkg / "qel_models"))
for mode in genloom.Grammar:  # the grammar documents every prompt carries
    try:
        genloom._get_grammar_implementation(mode)
    except Exception as e:
        missing.append(f"grammar {mode.name}: {e}")
if missing:
    sys.exit("wheel: missing from the installed package: " + ", ".join(missing))
print(f"wheel: installed package complete ({pkg})")
PY
cd "$root"
.venv/bin/python -m pip install -q --disable-pip-version-check --no-deps --force-reinstall "$wheel"
