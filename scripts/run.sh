#!/usr/bin/env bash
# Builds the tool under the dev preset and starts it.
# Its searches broadcast on every Ethernet and wireless network of this
# machine: start it only where that is wanted.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset dev
cmake --build --preset dev --target marindo
exec build/dev/src/app/marindo "$@"
