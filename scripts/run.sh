#!/usr/bin/env bash
# Sets everything up, then runs the main job: `vorlan solve` on the sample description, with
# whichever LLM provider the environment configures (OPENAI_API_KEY, GEMINI_API_KEY, or a
# reachable local Ollama server). With none configured it says how to configure one and
# compiles the bundled sample pair with `vorlan check` instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
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
  exec "$vorlan" solve -f examples/sample/description.txt -o build/sample-run
fi
cat >&2 <<'MSG'
run: no LLM provider is configured, so `vorlan solve` cannot run. Configure one of:
  export OPENAI_API_KEY=<your key>                      # OpenAI
  export GEMINI_API_KEY=<your key>                      # Google Gemini
  ollama serve & ollama pull llama3.1                   # a local Ollama server
then run this script again. Meanwhile, the bundled sample pair is compiled instead:
MSG
exec "$vorlan" check examples/sample/sample.mod examples/sample/sample.dat
