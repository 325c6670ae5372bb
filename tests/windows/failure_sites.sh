#!/usr/bin/env bash
# failure_sites.sh KORVELLA_EXE ADDR2LINE OBJDUMP RUN_WINDOWS...
# Provokes two failures of korvella.exe (RUN_WINDOWS... runs a Windows program)
# and checks each report: its locations are offsets in korvella.exe, the same in
# every run, and name the check that found the failure, then main, then the C
# start-up code that called main, and nothing more.
set -euo pipefail
exe=$1 addr2line=$2 objdump=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
base=$(("0x$("$objdump" -p "$exe" | awk '$1 == "ImageBase" {print $2}')"))
failed=0

# check NAME FUNCTION... < korvella's output
check() {
  local name=$1
  shift
  local want=("$@") got=() line
  while IFS= read -r line; do
    line=${line%$'\r'}
    [[ $line =~ ^(Runtime\ error\ [0-9]+\ at\ |\ \ )\$([0-9A-F]{8})$ ]] || continue
    got+=("$("$addr2line" -f -C -e "$exe" "$(printf '0x%x' $((base + 0x${BASH_REMATCH[2]})))" |
      head -n 1)")
  done
  # The first two lines are the location twice.
  local expected=("${want[0]}" "${want[@]}")
  if [[ ${got[*]} != "${expected[*]}" ]]; then
    echo "FAILED $name: the locations name (${got[*]}), not (${expected[*]})"
    failed=1
  else
    echo "ok $name: ${got[*]}"
  fi
}

mkdir "$work/log"
printf abc >"$work/log/a"
printf abc >"$work/log/b"
mkdir "$work/log/korvella.log"
cd "$work/log"
status=0
"$@" "$exe" a b >"$work/first" || status=$?
"$@" "$exe" a b >"$work/second" || true
if [[ $status != 5 ]]; then
  echo "FAILED a log that is a directory: status $status, not 5"
  failed=1
fi
if ! cmp -s "$work/first" "$work/second"; then
  echo "FAILED the locations differ from run to run"
  failed=1
fi
check "a log that is a directory" 'korvella::AppendLogLine()' main __tmainCRTStartup <"$work/first"

status=0
printf x | "$@" "$exe" "" b >"$work/pipe" || status=$?
if [[ $status != 156 ]]; then
  echo "FAILED a pipe as standard input: status $status, not 156"
  failed=1
fi
check "a pipe as standard input" 'korvella::OpenInputs()' main __tmainCRTStartup <"$work/pipe"
exit $failed
