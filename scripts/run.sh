#!/usr/bin/env bash
# Sets everything up, then runs the main job: `vorlan solve` on the sample description, with
# whichever LLM provider the environment configures (OPENAI_API_KEY, GEMINI_API_KEY, or a
# reachable local Ollama server). With none configured it says that no generation ran and how
# to configure a provider, then runs the rest of the path on the bundled sample pair: compile
# (`vorlan check`), then solve and print the optimum (`vorlan run`).
set -euo pipefail
cd "$(dirname "$0")/.."
# VORLAN_SKIP_SETUP=1 reuses an existing set-up (the tests run this script that way).
[ "${VORLAN_SKIP_SETUP:-}" = 1 ] || bash scripts/setup.sh
vorlan=.venv/bin/vorlan
provider=$(.venv/bin/python -c '
import sys
from vorlan.cli import CliError, detect_provider
try:
    print(detect_provider())
except CliError:
    sys.exit(1)
') || provider=""
if [ -n "$provider" ]; then
  echo "run: solving examples/sample/description.txt with provider $provider" >&2
  # build/sample-run belongs to this script, so its previous pair may be replaced.
  exec "$vorlan" solve -f examples/sample/description.txt -o build/sample-run --overwrite
fi
cat >&2 <<'MSG'
run: no LLM provider is configured, so no generation ran: `vorlan solve` needs one of
  export OPENAI_API_KEY=<your key>                      # OpenAI
  export GEMINI_API_KEY=<your key>                      # Google Gemini
  ollama serve & ollama pull llama3.1                   # a local Ollama server
Configure one and run this script again. Meanwhile, the steps after generation run on the
bundled sample pair (examples/sample/sample.mod, sample.dat):
MSG
echo "run: 1. compile" >&2
"$vorlan" check examples/sample/sample.mod examples/sample/sample.dat
echo "run: 2. solve and print the optimum" >&2
exec "$vorlan" run examples/sample/sample.mod examples/sample/sample.dat
