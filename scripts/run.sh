#!/usr/bin/env bash
# Builds the tool under the dev preset and starts it; `--cli ARGS...` starts
# the command-line front end with ARGS instead.
# Its searches broadcast on every Ethernet and wireless network of this
# machine: start it only where that is wanted.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset dev
if [ "${1:-}" = "--cli" ]; then
  shift
  cmake --build --preset dev --target marindo-cli
  exec build/dev/src/cli/marindo-cli "$@"
fi
cmake --build --preset dev --target marindo
exec build/dev/src/app/marindo "$@"
