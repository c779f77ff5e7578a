#!/usr/bin/env bash
# Development build: compiles the modules into build/dev-NAME and stages the deployed
# package layout in build/dev-NAME/stage (vorlan/ and docs/grammars/ side by side).
# Then: PYTHONPATH=build/dev-NAME/stage .venv/bin/python -m pytest tests/python/...
# Usage: scripts/dev-stage.sh NAME
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/dev-stage.sh NAME}
bdir=build/dev-$name
py=.venv/bin/python
if [ ! -f "$bdir/CMakeCache.txt" ]; then
  cmake -S . -B "$bdir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVORLAN_BUILD_PYTHON=ON -DVORLAN_BUILD_TESTS=ON \
    -DPython_EXECUTABLE="$PWD/$py" -Dpybind11_DIR="$($py -m pybind11 --cmakedir)" >/dev/null
fi
cmake --build "$bdir" -j 2
rm -rf "$bdir/stage"
cmake --install "$bdir" --prefix "$bdir/stage" >/dev/null
echo "staged: $bdir/stage"
