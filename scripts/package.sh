#!/usr/bin/env bash
# Builds the Debian package of marindo from a configured build tree (default
# build/ci) and prints the path of the .deb.
#   bash scripts/package.sh [BUILD_TREE]
# The package lands in BUILD_TREE/package/. CPack builds the tree's default
# targets first, as `cmake --install` expects; in a tree built already that
# costs nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

tree=${1:-build/ci}
if [ ! -f "$tree/CMakeCache.txt" ]; then
  echo "package: $tree is not a configured build tree (cmake --preset ci first)" >&2
  exit 1
fi

# Re-runs the configuration too when the CMake files changed since.
cmake --build "$tree" --target marindo marindo-cli marindo_icons marindo_man_pages >&2
if [ ! -f "$tree/CPackConfig.cmake" ]; then
  echo "package: $tree has no CPack configuration; it must be built with MARINDO_BUILD_GUI=ON" >&2
  exit 1
fi

out="$tree/package"
rm -f "$out"/marindo_*.deb
cpack --config "$tree/CPackConfig.cmake" -B "$out" >&2

debs=("$out"/marindo_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package: cpack made no single marindo_*.deb in $out" >&2
  exit 1
fi
realpath "${debs[0]}"
