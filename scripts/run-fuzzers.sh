#!/usr/bin/env bash
# Runs every fuzz target in BUILD_DIR for SECONDS each, starting from its seed corpus in
# tests/fuzz/corpus/<target> (copied, so the tree stays clean). Any crash, leak or
# sanitizer report fails the run.
set -euo pipefail
build=${1:?build dir}
seconds=${2:-20}
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shopt -s nullglob
found=0
for target in "$build"/bin/fuzz_*; do
  case "$target" in *_replay) continue ;; esac
  [ -x "$target" ] || continue
  name=$(basename "$target")
  found=1
  corpus="$work/$name"
  mkdir -p "$corpus"
  if [ -d "$src/tests/fuzz/corpus/$name" ]; then cp -r "$src/tests/fuzz/corpus/$name/." "$corpus/"; fi
  dict=()
  if [ -f "$src/tests/fuzz/$name.dict" ]; then dict=(-dict="$src/tests/fuzz/$name.dict"); fi
  echo "== $name for ${seconds}s"
  "$target" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/" "$corpus" 2>&1 | tail -n 12
  # The replay build of the same target must accept the whole corpus as well.
  "${target}_replay" "$corpus"
done
[ "$found" = 1 ] || echo "no fuzz targets built"
