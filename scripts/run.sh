#!/usr/bin/env bash
# Sets everything up, then runs the main job on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec .venv/bin/python -c '
import pathlib, sys
from vorlan.vorlan_core import QelCompiler
root = pathlib.Path("examples/sample")
model, data = (root / "sample.mod").read_text(), (root / "sample.dat").read_text()
QelCompiler().compile_model(model, data)
print("examples/sample: model and data compile")
'
