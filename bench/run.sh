#!/usr/bin/env bash
# Times korvella against cmp and cat on the same files, alternating, and prints
# medians, ratios and peak memory.
#   bench/run.sh [-s SIZE_MIB] [-n RUNS] [-k KORVELLA] [-o OTHER_KORVELLA]
# SIZE_MIB defaults to 1024, RUNS to 5, KORVELLA to build/release/src/korvella.
# OTHER_KORVELLA (optional) is timed too, e.g. an older build to compare with.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size=1024 runs=5 korvella="$here/../build/release/src/korvella" other=""
while getopts "s:n:k:o:" opt; do
  case $opt in
    s) size=$OPTARG ;; n) runs=$OPTARG ;; k) korvella=$OPTARG ;; o) other=$OPTARG ;;
    *) sed -n '2,6p' "$0"; exit 2 ;;
  esac
done
exec python3 "$here/bench.py" "$size" "$runs" "$(realpath "$korvella")" ${other:+"$(realpath "$other")"}
