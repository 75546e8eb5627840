#!/usr/bin/env bash
# marindo-cli at site scale on the test LAN: 250 simulated clocks in one
# namespace; a backup of every clock, then the restore of that backup. Prints
# how long each took in all and per clock, and the restore's exit status.
# Needs root (the test LAN); says so and stops otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
count=250

cli=$(find "$build" -name CMakeFiles -prune -o -type f -name marindo-cli -perm -u+x -print -quit 2>/dev/null || true)
[ -n "$cli" ] || { echo "bench: build marindo-cli in $build first"; exit 1; }
cli=$(cd "$(dirname "$cli")" && pwd)/marindo-cli

run="$(cd "$build" && pwd)/bench/cli$count.run"
config=$(mktemp --suffix=.json)
trap 'rm -f "$config"' EXIT
python3 tools/clocksim/scaleconfig.py --count "$count" >"$config"

# Runs inside the tool's namespace: times both commands and prints the results.
inner=$(cat <<'EOF'
set -uo pipefail
cli=$1 count=$2 work=$TESTLAN_RUN/cli
mkdir -p "$work"
printf 'Tulip@KVX\n' >"$work/password.txt"
chmod 600 "$work/password.txt"
export MARINDO_SETTINGS=$work/settings.ini
rm -f "$MARINDO_SETTINGS"

seconds() { date +%s.%N; }
report() {  # command, clocks, start, end
  awk -v what="$1" -v n="$2" -v a="$3" -v b="$4" 'BEGIN {
    t = b - a; per = n > 0 ? t * 1000 / n : 0
    printf "cli: %s %d clocks in %.1f s, %.0f ms per clock\n", what, n, t, per }'
}

start=$(seconds)
"$cli" --password-file "$work/password.txt" backup all >"$work/site.json" 2>"$work/backup.err"
backup_status=$?
end=$(seconds)
saved=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))["clocks"]))' "$work/site.json" 2>/dev/null || echo 0)
report backup "$saved" "$start" "$end"
echo "cli: backup exit status $backup_status, $saved of $count clocks saved"

start=$(seconds)
"$cli" --password-file "$work/password.txt" restore "$work/site.json" >"$work/restore.out" 2>"$work/restore.err"
restore_status=$?
end=$(seconds)
report restore "$saved" "$start" "$end"
echo "cli: restore exit status $restore_status, $(grep -c 'Modify success!' "$work/restore.out" || true) result lines with a success"
[ "$restore_status" -eq 0 ] || sed -n '1,5p' "$work/restore.err" | sed 's/^/cli: stderr: /'

# The simulator rewrites its state file of every clock before it answers a
# modify; that wait is the simulator's, not the program's.
python3 - "$TESTLAN_RUN/scale.record.jsonl" "$start" "$end" <<'PY'
import json, sys
path, start, end = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
lines = [json.loads(line) for line in open(path, encoding="utf-8")]
lines = [line for line in lines if line.get("proto") == "clock" and start <= line["t"] <= end]
modify = (6, 7, 8, 9, 11)
waits = [b["t"] - a["t"] for a, b in zip(lines, lines[1:]) if b.get("code") in modify]
count = sum(1 for line in lines if line.get("code") in modify)
print(f"cli: restore sent {count} modifies; {sum(waits):.1f} s of the run passed before the simulator "
      f"had answered and recorded them ({1000 * sum(waits) / max(len(waits), 1):.0f} ms each)")
PY
exit 0
EOF
)

set +e
TESTLAN_RUN="$run" bash tools/testlan.sh --prefix "cli$(( $$ % 100000 ))" with-lan --scale "$config" -- \
  bash -c "$inner" inner "$cli" "$count" | grep -E '^cli:'
status=${PIPESTATUS[0]}
set -e
if [ "$status" -eq 77 ]; then echo "bench: skipped, the test LAN cannot run here"; exit 0; fi
exit "$status"
