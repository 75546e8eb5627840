#!/usr/bin/env bash
# The site view's refresh of 1000 simulated clocks in one namespace: how long
# it takes and the longest the window's event loop went without running
# (goal: under 100 ms). Needs root (the test LAN); says so and stops
# otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
bench="$build/bench/siteview_bench"
[ -x "$bench" ] || { echo "bench: build $bench first"; exit 1; }

count=1000
config=$(mktemp --suffix=.json)
trap 'rm -f "$config"' EXIT
python3 tools/clocksim/scaleconfig.py --count "$count" --answer-latency-ms 5 >"$config"
set +e
TESTLAN_RUN="$build/bench/siteview.run" \
  bash tools/testlan.sh --prefix "sv$(( $$ % 100000 ))" with-lan --scale "$config" -- "$PWD/$bench" "$count" \
  | grep -E '^(siteview|message):'
status=${PIPESTATUS[0]}
set -e
if [ "$status" -eq 77 ]; then echo "bench: skipped, the test LAN cannot run here"; exit 0; fi
exit "$status"
