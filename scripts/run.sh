#!/usr/bin/env bash
# Builds the tool under the dev preset and starts it; `--cli ARGS...` starts
# the command-line front end with ARGS instead.
# Its searches broadcast on every Ethernet and wireless network of this
# machine: start it only where that is wanted.
set -euo pipefail
cd "$(dirname "$0")/.."

# Why the windows cannot open here, or nothing when they can. Without a
# display Qt aborts the program (status 134) with advice to reinstall it,
# which helps nobody; this is found out before anything is built. A chosen
# QT_QPA_PLATFORM (offscreen, vnc, ...) is the caller's business.
no_display_reason() {
  if [ -n "${QT_QPA_PLATFORM:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    return 0
  fi
  if [ -z "${DISPLAY:-}" ]; then
    echo "no display was found (DISPLAY and WAYLAND_DISPLAY are not set)"
    return 0
  fi
  # A display of this machine (:N) is served on a socket, named in the file
  # system or abstract; a remote one is left for Qt to try.
  if [[ $DISPLAY =~ ^(unix)?:([0-9]+)(\.[0-9]+)?$ ]]; then
    local number=${BASH_REMATCH[2]}
    if [ ! -S "/tmp/.X11-unix/X$number" ] &&
      ! grep -Eq "[ @]/tmp/\.X11-unix/X$number\$" /proc/net/unix 2>/dev/null; then
      echo "no display was found: no X server serves DISPLAY=$DISPLAY"
    fi
  fi
}

if [ "${1:-}" != "--cli" ]; then
  reason=$(no_display_reason)
  if [ -n "$reason" ]; then
    cat >&2 <<MESSAGE
run: $reason, so marindo's windows cannot open.
  bash scripts/demo.sh                   a tour of the windows on simulated clocks:
                                         without a display it runs them under Xvfb
                                         and prints the paths of its screenshots
  bash scripts/run.sh --cli COMMAND ...  marindo-cli, the command line, which needs
                                         no display (--cli --help lists its commands)
MESSAGE
    exit 1
  fi
fi

bash scripts/setup.sh
cmake --preset dev
if [ "${1:-}" = "--cli" ]; then
  shift
  cmake --build --preset dev --target marindo-cli
  exec build/dev/src/cli/marindo-cli "$@"
fi
cmake --build --preset dev --target marindo
exec build/dev/src/app/marindo "$@"
