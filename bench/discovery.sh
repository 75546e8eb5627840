#!/usr/bin/env bash
# Discovery at scale on the test LAN: 250 and 1000 simulated clocks in one
# namespace answer the broadcast search. Prints what was found and how long
# the search took. Needs root (the test LAN); says so and stops otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
bench="$build/bench/discovery_bench"
[ -x "$bench" ] || { echo "bench: build $bench first"; exit 1; }

status=0
for count in 250 1000; do
  config=$(mktemp --suffix=.json)
  python3 tools/clocksim/scaleconfig.py --count "$count" >"$config"
  # The LAN script's status, not grep's: 77 says the LAN cannot run here.
  set +e
  TESTLAN_RUN="$build/bench/scale$count.run" \
    bash tools/testlan.sh --prefix "b$count$(( $$ % 100000 ))" with-lan --scale "$config" -- "$PWD/$bench" "$count" \
    | grep -E '^(discovery|message):'
  status=${PIPESTATUS[0]}
  set -e
  rm -f "$config"
  if [ "$status" -eq 77 ]; then echo "bench: skipped, the test LAN cannot run here"; exit 0; fi
  [ "$status" -eq 0 ] || break
done
exit "$status"
