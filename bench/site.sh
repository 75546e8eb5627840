#!/usr/bin/env bash
# marindo-cli on whole sites of the test LAN, at the default number of clocks
# in flight beside one clock at a time. A LAN of 1000 clocks (80 ms to store a
# change, 2 % silent, 1 % dropping their first request): backup, restore,
# search, upgrade. A routed site of 1000 clocks behind a router: backup of
# their address list, a /22 and a /16 swept. Where one clock at a time would
# take minutes it runs on a tenth of the clocks and is printed scaled, marked
# so. Prints, asserts nothing. Needs root (the test LAN); says so and stops
# otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}

cli=$(find "$build" -name CMakeFiles -prune -o -type f -name marindo-cli -perm -u+x -print -quit 2>/dev/null || true)
[ -n "$cli" ] || { echo "bench: build marindo-cli in $build first"; exit 1; }
cli=$(cd "$(dirname "$cli")" && pwd)/marindo-cli
root=$(cd "$build" && pwd)/bench
mkdir -p "$root"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs inside the tool's namespace. Each case: "site: CASE  default W: T s
# (exit S)  W=1: T s", plus the peak memory where it matters.
common=$(cat <<'EOF2'
set -uo pipefail
cli=$1 bench=$2 work=$TESTLAN_RUN/site
mkdir -p "$work"
printf 'Tulip@KVX\n' >"$work/password.txt"
chmod 600 "$work/password.txt"
export MARINDO_SETTINGS=$work/settings.ini
rm -f "$MARINDO_SETTINGS"
reset() { python3 "$bench/../tools/clocksim/clocksimctl.py" --socket "$TESTLAN_RUN/scale.ctl" reset >/dev/null; }
# timed NAME ARGS...: runs marindo-cli, leaves NAME.out/.err, sets secs, status and rss.
timed() {
  local name=$1; shift
  reset
  read -r secs status rss < <(python3 "$bench/timed.py" "$work/$name.out" "$work/$name.err" -- \
    "$cli" --password-file "$work/password.txt" "$@")
}
line() {  # case, default seconds, default status, W=1 text
  printf 'site: %-58s default W: %6.2f s (exit %s)   W=1: %s\n' "$1" "$2" "$3" "$4"
}
scaled() {  # seconds of a tenth, times ten
  awk -v t="$1" 'BEGIN { printf "%.1f s (a tenth of the clocks, %.2f s, times ten)", t * 10, t }'
}
count() { python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(len(d[sys.argv[2]]))' "$@" 2>/dev/null || echo 0; }
EOF2
)

lan=$(cat <<'EOF2'
timed search --json search
line "discovery of 1000 clocks: $(count "$work/search.out" clocks) found" "$secs" "$status" "the same (one broadcast search)"

timed backup backup all
backup_secs=$secs backup_status=$status backup_rss=$rss
cp "$work/backup.out" "$work/site.json"
timed backup1 --parallel 1 backup 10.213.1.1-10.213.1.100
line "backup all, 1000 clocks, $(count "$work/site.json" clocks) saved" "$backup_secs" "$backup_status" "$(scaled "$secs")"
echo "site: marindo-cli peak memory, backup of 1000 clocks: $((backup_rss / 1024)) MB"

python3 - "$work/site.json" "$work/tenth.json" <<'PY'
import json, sys
site = json.load(open(sys.argv[1]))
site["clocks"] = site["clocks"][:100]
json.dump(site, open(sys.argv[2], "w"))
PY
timed restore restore "$work/site.json"
restore_secs=$secs restore_status=$status
timed restore1 --parallel 1 restore "$work/tenth.json"
line "restore, the same clocks ($(grep -c 'Modify success!' "$work/restore.out") with a success)" \
  "$restore_secs" "$restore_status" "$(scaled "$secs")"

head -c 1048576 /dev/urandom >"$work/firmware.tar"
timed upgrade upgrade 10.213.1.1-10.213.1.100 "$work/firmware.tar"
upgrade_secs=$secs upgrade_status=$status
timed upgrade1 --parallel 1 --transfers 1 upgrade 10.213.1.1-10.213.1.10 "$work/firmware.tar"
line "upgrade of 100 clocks with 1 MiB ($(grep -c 'Upgrade success' "$work/upgrade.out") succeeded)" \
  "$upgrade_secs" "$upgrade_status" "$(scaled "$secs")"
EOF2
)

routed=$(cat <<'EOF2'
list=$(python3 -c 'import json, sys; print(",".join(c["ip"] for c in json.load(open(sys.argv[1]))["clocks"]))' "$3")
tenth=$(echo "$list" | cut -d, -f1-100)
timed routed backup "$list"
routed_secs=$secs routed_status=$status
timed routed1 --parallel 1 backup "$tenth"
line "backup of 1000 routed clocks by address list, $(count "$work/routed.out" clocks) saved" "$routed_secs" "$routed_status" "$(scaled "$secs")"

timed sweep22 --json search 10.220.0.0/22
line "a /22 swept, $(count "$work/sweep22.out" clocks) of 250 found" "$secs" "$status" \
  "the same (a sweep is paced by --rate)"
timed sweep16 --json search 10.220.0.0/16
line "a /16 swept at 10000/s, $(count "$work/sweep16.out" clocks) of 1000 found" "$secs" "$status" \
  "the same (a sweep is paced by --rate)"
echo "site: marindo-cli peak memory, /16 sweep: $((rss / 1024)) MB"
EOF2
)

# The LAN site: 1000 clocks at consecutive addresses of 10.213.1.0 on.
python3 tools/clocksim/scaleconfig.py --count 1000 --modify-latency-ms 80 --silent-share 0.02 \
  --drop-first-share 0.01 >"$work/lan.json"
# The routed site: 250 clocks in 10.220.0.0/22 and 750 more over the rest of the /16.
python3 tools/clocksim/scaleconfig.py --count 250 --spread-over 10.220.0.0/22 --modify-latency-ms 80 >"$work/near.json"
python3 tools/clocksim/scaleconfig.py --count 750 --spread-over 10.220.128.0/17 --modify-latency-ms 80 >"$work/far.json"
python3 - "$work/near.json" "$work/far.json" "$work/routed.json" <<'PY'
import json, sys
near, far = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
for index, clock in enumerate(far["clocks"]):
    clock["name"], clock["serial"] = f"r{index + 1}", f"ROUTE{index + 1:05d}"
near["clocks"] += far["clocks"]
near["prefix"] = 16
json.dump(near, open(sys.argv[3], "w"))
PY

run_site() {  # run folder name, testlan options..., -- script
  local name=$1; shift
  local options=()
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  set +e
  TESTLAN_RUN="$root/$name.run" bash tools/testlan.sh --prefix "$name$(( $$ % 10000 ))" with-lan "${options[@]}" -- \
    bash -c "$common"$'\n'"$1" inner "$cli" "$PWD/bench" "$2" | grep -E '^site:'
  local status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -eq 77 ]; then echo "bench: skipped, the test LAN cannot run here"; exit 0; fi
  return "$status"
}

run_site sitelan --scale "$work/lan.json" -- "$lan" ""
run_site sitert --scale --routed "$work/routed.json" -- "$routed" "$work/routed.json"
