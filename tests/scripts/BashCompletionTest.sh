#!/usr/bin/env bash
# The bash completion of marindo-cli, as the Debian package installs it: it is
# sourced into this bash and its function is called the way bash calls it
# after TAB, for command lines of each kind, in a folder with a few files.
#   bash tests/scripts/BashCompletionTest.sh SOURCE_DIR
set -euo pipefail

source_dir=$1
work=$(mktemp -d /tmp/marindo-completion-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/logs"
touch "$work/site.json" "$work/pw.txt" "$work/fw.tar"
cd "$work"

# shellcheck source=packaging/bash-completion/marindo-cli
source "$source_dir/packaging/bash-completion/marindo-cli"
failures=0

# What completion offers for the words given, the last one the word at the
# cursor: the offers sorted, one line.
offers() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _marindo_cli marindo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  if [ ${#COMPREPLY[@]} -gt 0 ]; then
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ' -
  else
    echo ""
  fi
}

# LINE|EXPECTED: the words split at spaces ("''" stands for the empty word at
# the cursor), and the sorted offers.
cases=(
  "marindo-cli ap|apply"
  "marindo-cli s|search serve show"
  "marindo-cli ''|apply backup log restore search serve show upgrade"
  "marindo-cli --json --rate 500 sh|show"
  "marindo-cli --password-file show s|search serve show"
  "marindo-cli show all b|basic bells"
  "marindo-cli show 10.0.0.5 ''|all basic bells display ntp system text"
  "marindo-cli show all basic ''|"
  "marindo-cli show --sec|"
  "marindo-cli show a|all"
  "marindo-cli backup ''|all"
  "marindo-cli --p|--parallel --password-file"
  "marindo-cli --t|--trace --transfers"
  "marindo-cli search --u|--unicast"
  "marindo-cli show all --u|"
  "marindo-cli restore site.json --c|--clock"
  "marindo-cli restore site.json --d|--dry-run"
  "marindo-cli apply all site.json --d|--dry-run"
  "marindo-cli show all --d|"
  "marindo-cli search --unicast ''|"
  "marindo-cli --password-file p|pw.txt"
  "marindo-cli --password-file = p|pw.txt"
  "marindo-cli apply all s|site.json"
  "marindo-cli restore ''|fw.tar logs pw.txt site.json"
  "marindo-cli upgrade 10.0.0.5 f|fw.tar"
  "marindo-cli log all ''|logs"
  "marindo-cli -- --j|"
  "marindo-cli show -- all b|basic bells"
  "marindo-cli se|search serve"
  "marindo-cli serve --|--config --forget-after --help --interval --listen --parallel --rate --trace"
  "marindo-cli --trace t|"
  "marindo-cli show --trace pw.txt a|all"
  "marindo-cli backup all --trace s|site.json"
  "marindo-cli serve ''|all"
  "marindo-cli serve --config s|site.json"
  "marindo-cli serve --listen ''|"
  "marindo-cli serve --interval 30 --config=pw.txt a|all"
  "marindo-cli search --li|"
)

for entry in "${cases[@]}"; do
  line=${entry%%|*}
  expected=${entry#*|}
  read -ra words <<<"$line"
  for i in "${!words[@]}"; do
    if [ "${words[i]}" = "''" ]; then words[i]=""; fi
  done
  got=$(offers "${words[@]}")
  if [ "$got" = "$expected" ]; then
    echo "ok: $line -> $got"
  else
    echo "not ok: $line -> \"$got\", expected \"$expected\""
    failures=$((failures + 1))
  fi
done

# Every option the usage texts of marindo-cli name is offered for some
# command, so an option added to the program is not forgotten here.
offered=" $(offers marindo-cli search --) $(offers marindo-cli restore --) $(offers marindo-cli serve --) "
mapfile -t named < <(grep -E '^\s+"' "$source_dir/src/cli/CliArgs.cpp" | grep -o -- '--[a-z][a-z-]*' | sort -u)
if [ ${#named[@]} -eq 0 ]; then
  echo "not ok: no option found in the usage texts of src/cli/CliArgs.cpp"
  failures=$((failures + 1))
fi
for option in "${named[@]}"; do
  if [[ $offered == *" $option "* ]]; then
    echo "ok: $option is offered"
  else
    echo "not ok: $option, named in marindo-cli's usage, is never offered"
    failures=$((failures + 1))
  fi
done

if [ "$(complete -p marindo-cli)" = "complete -F _marindo_cli marindo-cli" ]; then
  echo "ok: the function is bound to marindo-cli"
else
  echo "not ok: marindo-cli has no completion bound: $(complete -p marindo-cli 2>&1)"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "FAIL: $failures check(s)"
  exit 1
fi
echo "PASS"
