#!/usr/bin/env bash
# scripts/run.sh on a machine without a display: it must say so and point to
# the demo and the command line, exit with status 1 (not Qt's abort), and
# build nothing, while `--cli` still builds and starts marindo-cli. The script
# runs in a copy of its folder where setup.sh, cmake and both programs are
# stand-ins that only write down that they ran, so nothing is ever built or
# started here, even when the script gets it wrong.
#   bash tests/scripts/RunWithoutDisplayTest.sh SOURCE_DIR
set -euo pipefail

source_dir=$1
work=$(mktemp -d /tmp/marindo-run-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
tree="$work/tree"
log="$work/steps"
failures=0

mkdir -p "$tree/scripts" "$tree/build/dev/src/app" "$tree/build/dev/src/cli" "$work/bin"
cp "$source_dir/scripts/run.sh" "$tree/scripts/run.sh"
stand_in() {
  printf '#!/bin/sh\necho "%s" "$@" >>"%s"\n' "$2" "$log" >"$1"
  chmod +x "$1"
}
stand_in "$tree/scripts/setup.sh" setup
stand_in "$work/bin/cmake" cmake
stand_in "$tree/build/dev/src/app/marindo" "started marindo"
stand_in "$tree/build/dev/src/cli/marindo-cli" "started marindo-cli"

check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "not ok: $what"
    failures=$((failures + 1))
  fi
}

# A display number nothing on this machine serves.
free_display() {
  local number
  for number in $(seq 150 999); do
    if [ ! -e "/tmp/.X11-unix/X$number" ] && ! grep -q "/tmp/\.X11-unix/X$number\$" /proc/net/unix 2>/dev/null; then
      echo ":$number"
      return
    fi
  done
  echo "no free display number" >&2
  exit 1
}

status=0
output=""
# run.sh with the given environment settings (NAME=VALUE) and arguments after
# "--"; DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset unless given.
run_script() {
  local settings=()
  while [ "$1" != "--" ]; do
    settings+=("$1")
    shift
  done
  shift
  : >"$log"
  set +e
  output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH="$work/bin:$PATH" "${settings[@]}" \
    bash "$tree/scripts/run.sh" "$@" 2>&1)
  status=$?
  set -e
}

says() { grep -Fq -- "$1" <<<"$output"; }
steps_are() { [ "$(cat "$log")" = "$1" ]; }

run_script --
echo "--- no DISPLAY, no WAYLAND_DISPLAY:"
echo "$output"
check "exit status 1, no abort (was $status)" test "$status" -eq 1
check "it says that no display was found" says "no display was found"
check "it points to scripts/demo.sh" says "bash scripts/demo.sh"
check "it points to the command line" says "bash scripts/run.sh --cli"
check "nothing was set up, built or started" steps_are ""

display=$(free_display)
run_script DISPLAY="$display" --
echo "--- DISPLAY=$display that nothing serves:"
echo "$output"
check "exit status 1 (was $status)" test "$status" -eq 1
check "it names the display" says "DISPLAY=$display"
check "it points to scripts/demo.sh" says "bash scripts/demo.sh"
check "nothing was set up, built or started" steps_are ""

run_script -- --cli search --unicast 10.20.0.15
echo "--- --cli without a display:"
echo "$output"
check "exit status 0 (was $status)" test "$status" -eq 0
check "marindo-cli is built and started with the arguments" steps_are "setup
cmake --preset dev
cmake --build --preset dev --target marindo-cli
started marindo-cli search --unicast 10.20.0.15"

run_script QT_QPA_PLATFORM=offscreen --
echo "--- QT_QPA_PLATFORM=offscreen without a display:"
echo "$output"
check "exit status 0 (was $status)" test "$status" -eq 0
check "the chosen platform is left to Qt: marindo is built and started" steps_are "setup
cmake --preset dev
cmake --build --preset dev --target marindo
started marindo"

if [ "$failures" -ne 0 ]; then
  echo "FAIL: $failures check(s)"
  exit 1
fi
echo "PASS"
