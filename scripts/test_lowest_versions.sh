#!/usr/bin/env bash
# Runs the Python tests against the lowest versions the extras in pyproject.toml admit: a
# fresh venv gets the development lock with every package an extra names replaced by that
# extra's lower bound, then the package, then pytest (arguments are passed on; default: the
# whole suite). Slow, so not part of CI; run it after widening a range.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/lowest
rm -rf "$out"
mkdir -p "$out"
python3 - requirements/dev.txt >"$out/requirements.txt" <<'PY'
"""The lock with each extra's packages at their lowest admitted version."""
import re
import sys
import tomllib

extras = tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]
lowest = {}
for reqs in extras.values():
    for req in reqs:
        m = re.match(r"([A-Za-z0-9][A-Za-z0-9._-]*)\s*>=\s*([^,;\s]+)", req)
        if m:
            lowest[m.group(1).lower().replace("_", "-")] = m.group(2)
for line in open(sys.argv[1]):
    name = re.split(r"[=<>!~\[; ]", line.strip(), maxsplit=1)[0].lower().replace("_", "-")
    print(f"{name}=={lowest.pop(name)}" if name in lowest else line.rstrip())
for name, version in lowest.items():
    print(f"{name}=={version}")
PY
echo "lowest: $(grep -c . "$out/requirements.txt") packages; extras at their lower bounds:" >&2
python3 -m venv "$out/venv"
"$out/venv/bin/python" -m pip install -q --disable-pip-version-check -r "$out/requirements.txt"
"$out/venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps -r requirements/grammar-engines.txt
"$out/venv/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps .
"$out/venv/bin/python" -m pip list --disable-pip-version-check 2>/dev/null \
  | grep -i -E '^(numpy|scipy|highspy|openai|ollama|google-generativeai|mcp|matplotlib|ray|torch|sentence-transformers) ' >&2
"$out/venv/bin/python" -m pytest -q -p no:cacheprovider "${@:-tests/python}"
