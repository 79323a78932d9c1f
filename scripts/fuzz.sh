#!/usr/bin/env bash
# Runs every fuzz target in BUILD for SECONDS each, keeping a corpus per target.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for src in "$root"/tests/fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [[ -d "$root/tests/fuzz/seeds/$name" ]] && seeds=("$root/tests/fuzz/seeds/$name")
  echo "== $name (${seconds}s)"
  if ! "$build/$name" -max_total_time="$seconds" -print_final_stats=0 \
      -artifact_prefix="$build/" "$corpus" "${seeds[@]}" 2>"$build/$name.log"; then
    tail -n 30 "$build/$name.log"
    status=1
  else
    grep -E '^#[0-9]+.*DONE' "$build/$name.log" | tail -n 1 || true
  fi
done
exit $status
