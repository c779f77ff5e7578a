#!/usr/bin/env bash
# Builds fuzz_compile with clang++ (libFuzzer + ASan + UBSan) in build/fuzz and runs it for a
# bounded time over a seed corpus made from tests/corpus and the example tree. Exits non-zero
# on any crash, leak, sanitizer report or input that runs longer than the timeout.
# Usage: tests/fuzz/run.sh [SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/../.."
secs=${1:-60}
bdir=${VORLAN_FUZZ_BUILD_DIR:-build/fuzz}
san="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
if [ ! -f "$bdir/CMakeCache.txt" ]; then
  cmake -S . -B "$bdir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$san" -DVORLAN_BUILD_FUZZ=ON >/dev/null
fi
cmake --build "$bdir" --target fuzz_compile -j "$(nproc)"

# Seeds: every model/data pair joined by one NUL byte, plus the kept regression inputs.
seeds="$bdir/seeds"
work="$bdir/corpus"
rm -rf "$seeds"; mkdir -p "$seeds" "$work"
n=0
while IFS= read -r mod; do
  dat="${mod%.mod}.dat"
  { cat "$mod"; printf '\0'; [ -f "$dat" ] && cat "$dat"; } >"$seeds/seed$n"
  n=$((n + 1))
done < <(find tests/corpus src/vorlan/qel_models -name '*.mod' | sort)
echo "fuzz: $n seed pairs, ${secs}s budget" >&2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
artifacts="$bdir/artifacts/"
mkdir -p "$artifacts"
# Inputs that once failed (tests/corpus/fuzz-regressions) are read with the seeds, so they
# run before any mutation; one of them failing fails the run at once.
# A fixed seed (VORLAN_FUZZ_SEED=0 for a random one) keeps runs comparable between machines.
if ! "$bdir/tests/fuzz/fuzz_compile" -max_total_time="$secs" -timeout=5 -rss_limit_mb=2048 \
  -seed="${VORLAN_FUZZ_SEED:-1}" \
  -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts" \
  "$work" "$seeds" tests/corpus/fuzz-regressions; then
  echo "fuzz: failure; the input is in $artifacts. Fix it, then keep the input in" \
    "tests/corpus/fuzz-regressions/ under a name that says what it caught." >&2
  exit 1
fi
