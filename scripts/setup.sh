#!/usr/bin/env bash
# Sets up everything the project needs on a fresh clone: the system packages for the
# C++ build, a virtual environment with pinned dependencies, and the package itself.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev)
# clang++ with the libFuzzer runtime for tests/fuzz/run.sh
command -v clang++ >/dev/null || need+=(clang)
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a" >/dev/null || need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing system packages: ${need[*]}" >&2
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

if [ ! -x .venv/bin/python ]; then
  echo "setup: creating .venv" >&2
  python3 -m venv .venv
fi
echo "setup: installing pinned Python dependencies" >&2
.venv/bin/pip install -q --disable-pip-version-check -r requirements/dev.txt
.venv/bin/pip install -q --disable-pip-version-check --no-deps -r requirements/grammar-engines.txt
echo "setup: placing the default embedding model in the local model cache" >&2
.venv/bin/python scripts/install_offline_model.py
# scripts/test.sh installs the wheel it builds and checks instead (VORLAN_SKIP_PACKAGE_BUILD=1).
if [ "${VORLAN_SKIP_PACKAGE_BUILD:-}" != 1 ]; then
  echo "setup: building and installing vorlan" >&2
  .venv/bin/pip install -q --disable-pip-version-check --no-build-isolation --no-deps --force-reinstall .
fi
