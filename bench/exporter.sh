#!/usr/bin/env bash
# marindo-cli serve in front of a site of 1000 simulated clocks (the test
# LAN's scale mode, 2 % silent): while refreshes run back to back, /metrics is
# scraped without a pause for about 20 s. Prints the scrape latency (p50, p99,
# max; goal p99 < 50 ms), the exporter's peak resident memory (VmHWM; goal
# < 60 MB) and how long its refreshes took. Prints, asserts nothing. Needs
# root (the test LAN); says so and stops otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
seconds=${EXPORTER_BENCH_SECONDS:-20}

cli=$(find "$build" -name CMakeFiles -prune -o -type f -name marindo-cli -perm -u+x -print -quit 2>/dev/null || true)
[ -n "$cli" ] || { echo "bench: build marindo-cli in $build first"; exit 1; }
cli=$(cd "$(dirname "$cli")" && pwd)/marindo-cli
root=$(cd "$build" && pwd)/bench
mkdir -p "$root"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 tools/clocksim/scaleconfig.py --count 1000 --answer-latency-ms 5 --silent-share 0.02 >"$work/site.json"

# Runs inside the tool's namespace: the exporter, then the scraper beside it.
inner=$(cat <<'EOF2'
set -uo pipefail
cli=$1 seconds=$2 work=$TESTLAN_RUN/exporter
mkdir -p "$work"
export MARINDO_SETTINGS=$work/settings.ini
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$cli" serve --interval 1 --listen "127.0.0.1:$port" 2>"$work/exporter.log" &
pid=$!
stop() { kill -TERM "$pid" 2>/dev/null; wait "$pid"; }
trap stop EXIT
# The first refresh of the whole site, then the scrapes while the next ones run.
for _ in $(seq 600); do
  grep -q '^refresh:' "$work/exporter.log" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || { echo "exporter: marindo-cli serve ended: $(cat "$work/exporter.log")"; exit 1; }
  sleep 0.1
done
python3 - "$port" "$seconds" <<'PY'
import http.client, sys, time
port, seconds = int(sys.argv[1]), float(sys.argv[2])
latencies, size, clocks = [], 0, 0
connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
end = time.monotonic() + seconds
while time.monotonic() < end:
    start = time.monotonic()
    try:
        connection.request("GET", "/metrics")
        body = connection.getresponse().read()
    except (OSError, http.client.HTTPException):
        connection.close()
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
        continue
    latencies.append(time.monotonic() - start)
    size = len(body)
    clocks = body.count(b"\nmarindo_clock_up{")
latencies.sort()
def at(share):
    return latencies[min(len(latencies) - 1, int(share * len(latencies)))] * 1000
errors = next((line.split()[1] for line in body.decode().splitlines()
               if line.startswith("marindo_refresh_errors_total ")), "?")
print(f"exporter: marindo_refresh_errors_total {errors} (display queries the silent clocks left unanswered)")
print(f"exporter: {len(latencies)} scrapes in {seconds:.0f} s of a page of {clocks} clocks ({size // 1024} KiB): "
      f"p50 {at(0.50):.1f} ms, p99 {at(0.99):.1f} ms, max {latencies[-1] * 1000:.1f} ms (goal p99 < 50 ms)")
PY
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
echo "exporter: peak resident memory (VmHWM) $((hwm / 1024)) MB (goal < 60 MB)"
stop
trap - EXIT
# "refresh: 1000 clocks, 0 silent, 4.43 s"
awk '/^refresh:/ { n++; t = $(NF - 1); sum += t; if (t > max) max = t; last = $0 }
     END { if (n) printf "exporter: %d refreshes, %.2f s on average, %.2f s at most; the last: %s\n", n, sum / n, max, last }' \
  "$work/exporter.log"
EOF2
)

set +e
TESTLAN_RUN="$root/exporter.run" bash tools/testlan.sh --prefix "exp$(( $$ % 10000 ))" with-lan --scale "$work/site.json" -- \
  bash -c "$inner" inner "$cli" "$seconds" | grep -E '^exporter:'
status=${PIPESTATUS[0]}
set -e
if [ "$status" -eq 77 ]; then echo "bench: skipped, the test LAN cannot run here"; exit 0; fi
exit "$status"
