#!/usr/bin/env bash
# The tool as a new operator sees it, on a machine with no clocks: a test LAN
# of network namespaces with three simulated clocks (one with a humiture
# sensor, one with a bell schedule, one newer model with a log to download),
# and marindo started inside the LAN with a settings file of its own. The
# login password is the default one, Tulip@KVX. Everything is torn down when
# the window closes.
#
# With a display, marindo opens on it. Without one, it runs under Xvfb, a
# guide logs in, searches, clicks clocks and visits every tab, and the paths
# of the screenshots are printed.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  # The test LAN needs root.
  exec sudo --preserve-env=DISPLAY,XAUTHORITY,WAYLAND_DISPLAY bash "$0" "$@"
fi

bash scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target marindo marindo_tour

work=$(mktemp -d /tmp/marindo-demo.XXXXXX)
export MARINDO_SETTINGS="$work/Tessaly.ini"
export TESTLAN_RUN="$work/lan"
prefix="demo$(( $$ % 100000 ))"
lan=(bash tools/testlan.sh --prefix "$prefix" with-lan tools/demo/clocks.json --)

if [ -n "${DISPLAY:-}" ]; then
  echo "demo: starting marindo on $DISPLAY; log in with the password Tulip@KVX"
  "${lan[@]}" env DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" MARINDO_SETTINGS="$MARINDO_SETTINGS" \
    "$PWD/build/dev/src/app/marindo"
  exit 0
fi

display=":$(( 90 + $$ % 9 ))"
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

shots="$work/screenshots"
mkdir -p "$shots"
echo "demo: no display; touring marindo under Xvfb $display"
"${lan[@]}" env DISPLAY="$display" QT_QPA_PLATFORM=xcb MARINDO_SETTINGS="$MARINDO_SETTINGS" \
  "$PWD/build/dev/tools/demo/marindo_tour" "$shots"
echo "demo: screenshots in $shots"
