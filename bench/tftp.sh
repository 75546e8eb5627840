#!/usr/bin/env bash
# TFTP throughput on the test LAN: a 4 MiB file uploaded to and downloaded
# from Debian's tftpd-hpa, once with our client and once with the tftp-hpa
# client, in the same run. Prints both times and their ratio (ours / theirs).
# Needs root (the test LAN); says so and stops otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

calc() { python3 -c "print('%.3f' % ($1))"; }

inside() {
  # In the tool's namespace. tftpd-hpa serves a second address of the
  # simulated clock's namespace, so both clients cross the LAN's bridge.
  local build=$1 server=10.213.0.51 namespace="${TESTLAN_PREFIX}-c-tftp"
  local root work
  root=$(mktemp -d)
  work=$(mktemp -d)
  mkdir -p "$root/usr/tftpfile"
  head -c $((4 * 1024 * 1024)) /dev/urandom >"$root/usr/tftpfile/bench.bin"
  cp "$root/usr/tftpfile/bench.bin" "$work/upload.bin"
  chmod -R a+rwX "$root"
  ip -n "$namespace" addr add "$server/16" dev eth0
  ip netns exec "$namespace" in.tftpd --foreground --listen --address "$server:69" --secure --create \
    --user root --umask 000 "$root" &
  local tftpd=$!
  trap "kill $tftpd 2>/dev/null || true; rm -rf '$root' '$work'" EXIT
  sleep 0.5

  local start ours_up theirs_up ours_down theirs_down
  ours_up=$("$build/bench/tftp_bench" upload "$server" "$work/upload.bin")
  start=$(date +%s.%N)
  (cd "$work" && tftp -m binary "$server" -c put upload.bin theirs.bin)
  theirs_up=$(calc "$(date +%s.%N) - $start")
  ours_down=$("$build/bench/tftp_bench" download "$server" bench.bin "$work")
  start=$(date +%s.%N)
  (cd "$work" && tftp -m binary "$server" -c get /usr/tftpfile/bench.bin theirs-down.bin)
  theirs_down=$(calc "$(date +%s.%N) - $start")

  cmp -s "$work/${server}bench.bin" "$root/usr/tftpfile/bench.bin" || { echo "bench: our download differs"; return 1; }
  cmp -s "$root/upload.bin" "$work/upload.bin" || { echo "bench: our upload differs"; return 1; }
  echo "tftp upload 4 MiB: ours $ours_up s, tftp-hpa $theirs_up s, ratio $(calc "$ours_up / $theirs_up")"
  echo "tftp download 4 MiB: ours $ours_down s, tftp-hpa $theirs_down s, ratio $(calc "$ours_down / $theirs_down")"
}

if [ "${1:-}" = --inside ]; then
  inside "$2"
  exit
fi

build=$(cd "${1:-build/ci}" && pwd)
[ -x "$build/bench/tftp_bench" ] || { echo "bench: build $build/bench/tftp_bench first"; exit 1; }
config=$(mktemp --suffix=.json)
echo '{"clocks": [{"name": "tftp", "ip": "10.213.0.50"}]}' >"$config"
status=0
TESTLAN_RUN="$build/bench/tftp.run" bash tools/testlan.sh --prefix "t$(( $$ % 100000 ))" with-lan "$config" -- \
  bash "$PWD/bench/tftp.sh" --inside "$build" || status=$?
rm -f "$config"
if [ "$status" -eq 77 ]; then echo "bench: skipped, the test LAN cannot run here"; exit 0; fi
exit "$status"
