#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each one for a bounded time from
# its seed corpus. Fails on any crash. The whole run takes FUZZ_TOTAL_SECONDS
# (default 180), shared equally by the targets; FUZZ_SECONDS sets the time of
# each target instead.
set -euo pipefail
cd "$(dirname "$0")/.."

sources=(tests/fuzz/*Fuzz.cpp)
[ -e "${sources[0]}" ] || { echo "fuzz: no targets in tests/fuzz"; exit 1; }
total="${FUZZ_TOTAL_SECONDS:-180}"
seconds="${FUZZ_SECONDS:-$(( total / ${#sources[@]} ))}"
(( seconds > 0 )) || seconds=1

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
for source in "${sources[@]}"; do
  stem=$(basename "$source" .cpp)
  seeds="tests/fuzz/corpus/$stem"
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "fuzz: $stem for ${seconds}s"
  if ! "build/fuzz/tests/fuzz/$stem" -max_total_time="$seconds" -max_len=4096 \
       -artifact_prefix="build/fuzz/$stem-" -print_final_stats=1 "$work" \
       >"build/fuzz/$stem.log" 2>&1; then
    echo "fuzz: $stem FAILED; see build/fuzz/$stem.log"
    tail -40 "build/fuzz/$stem.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units' "build/fuzz/$stem.log" || true
  fi
  rm -rf "$work"
done
exit $status
