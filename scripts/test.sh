#!/usr/bin/env bash
# Sets everything up, then runs the C++ unit tests (CTest) and the Python tests (pytest).
set -euo pipefail
cd "$(dirname "$0")/.."
VORLAN_SKIP_PACKAGE_BUILD=1 bash scripts/setup.sh

echo "test: package build (sdist, wheel, install into a fresh venv)" >&2
bash scripts/check_wheel.sh

echo "test: C++ unit tests" >&2
cmake -S . -B build/ctest -G Ninja -DVORLAN_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/ctest -j "$(nproc)"
ctest --test-dir build/ctest --output-on-failure -j "$(nproc)"

echo "test: compiler fuzzing (60 s)" >&2
bash tests/fuzz/run.sh 60

echo "test: Python tests" >&2
.venv/bin/python -m pytest -q -p no:cacheprovider tests/python
