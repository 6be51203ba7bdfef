#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while, each from its seed
# corpus (fuzz/seed_corpus.sh): that they build, start, and find nothing
# quickly. A crashing input is kept in BUILD_DIR as crash-KIND-*.
# Usage: fuzz/smoke.sh [BUILD_DIR] [SECONDS]   (build/fuzz, 20 each)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/fuzz}" && pwd)
seconds=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

targets=("$build"/orvx_fuzz_*)
[ -x "${targets[0]}" ] || { echo "no fuzz targets in $build"; exit 1; }
"$here/fuzz/seed_corpus.sh" "$work/corpus" "$build"
for target in "${targets[@]}"; do
  kind=${target##*/orvx_fuzz_}
  [ -d "$work/corpus/$kind" ] || { echo "no seed corpus for orvx_fuzz_$kind"; exit 1; }
  status=0
  (cd "$work" && "$target" -max_total_time="$seconds" -artifact_prefix="$build/crash-$kind-" \
    "$work/corpus/$kind" >"$work/$kind.log" 2>&1) || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/$kind.log"
    echo "orvx_fuzz_$kind failed (exit $status); its input is in $build/crash-$kind-*"
    exit 1
  fi
  echo "orvx_fuzz_$kind: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/$kind.log" | tail -n 1)"
done
