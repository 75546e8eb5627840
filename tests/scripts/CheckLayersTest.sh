#!/usr/bin/env bash
# The layer check passes on the tree and catches an upward include and a Qt
# header in the core, and a form's widget header from above, on a small
# fixture.
set -u
project=$1
checker=$project/scripts/check-layers.py
fail=0

if ! python3 "$checker" "$project"; then
  echo "FAIL: the source tree crosses its layers"; fail=1
fi

fixture=$(mktemp -d)
trap 'rm -rf "$fixture"' EXIT
mkdir -p "$fixture/src/link" "$fixture/src/settings" "$fixture/src/pages" "$fixture/src/maint"
printf '#include "settings/BasicSettings.h"\n' >"$fixture/src/link/Up.cpp"
printf '#include <QString>\n' >"$fixture/src/settings/Qt.cpp"
printf '#include "settings/BasicSettings.h"\n#include <QWidget>\n' >"$fixture/src/pages/Fine.cpp"
printf '<ui>\n   <header>app/Window.h</header>\n</ui>\n' >"$fixture/src/maint/Form.ui"
output=$(python3 "$checker" "$fixture")
status=$?
expect() {
  if ! grep -qF -- "$1" <<<"$output"; then echo "FAIL: no line with: $1"; fail=1; fi
}
[ $status -eq 1 ] || { echo "FAIL: status $status on a fixture that breaks the layers"; fail=1; }
expect "link/Up.cpp:1: link/ includes settings/"
expect "settings/Qt.cpp:1: settings/ is Qt-free but includes #include <QString>"
expect "maint/Form.ui:2: maint/ includes app/"
expect "3 include(s) cross the layers"
if grep -q "pages/Fine.cpp" <<<"$output"; then echo "FAIL: an allowed include was reported"; fail=1; fi
exit $fail
