#!/usr/bin/env bash
# Times korvella against cmp and cat on the same files, alternating, and prints
# medians, ratios and peak memory.
#   bench/run.sh [-s SIZE_MIB] [-n RUNS] [-k KORVELLA] [-o OTHER_KORVELLA]... [-d DIR]
# SIZE_MIB defaults to 1024, RUNS to 5, KORVELLA to build/release/src/korvella.
# Each OTHER_KORVELLA (optional, repeatable) is timed too, e.g. an older build.
# DIR keeps the test files between runs (made there when missing); by default they
# go to a temporary directory that is removed at the end.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size=1024 runs=5 korvella="$here/../build/release/src/korvella" others=() dir=""
while getopts "s:n:k:o:d:" opt; do
  case $opt in
    s) size=$OPTARG ;; n) runs=$OPTARG ;; k) korvella=$OPTARG ;; o) others+=("$(realpath "$OPTARG")") ;; d) dir=$OPTARG ;;
    *) sed -n '2,8p' "$0"; exit 2 ;;
  esac
done
export KORVELLA_BENCH_DIR="$dir"
exec python3 "$here/bench.py" "$size" "$runs" "$(realpath "$korvella")" ${others[@]+"${others[@]}"}
