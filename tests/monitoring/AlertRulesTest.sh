#!/usr/bin/env bash
# The alert rules the package installs, checked by promtool (Debian's
# prometheus package): their syntax and queries, then their unit tests in
# marindo-alerts-test.yml.
#   bash tests/monitoring/AlertRulesTest.sh SOURCE_DIR
# Exit status: 0 PASS, 1 FAIL, 77 skipped (promtool missing; the reason is
# printed).
set -euo pipefail

source_dir=$1
rules="$source_dir/packaging/prometheus/marindo-alerts.yml"
tests="$source_dir/tests/monitoring/marindo-alerts-test.yml"

if ! command -v promtool >/dev/null 2>&1; then
  echo "alert rules: SKIP: promtool is missing (bash scripts/setup.sh installs prometheus)"
  exit 77
fi

promtool check rules "$rules"
promtool test rules "$tests"
