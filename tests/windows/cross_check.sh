#!/usr/bin/env bash
# cross_check.sh LINUX_KORVELLA WINDOWS_KORVELLA RUN_WINDOWS...
# Runs both builds on the same random files (sizes around the 8 MiB chunk and a
# few small ones; RUN_WINDOWS... runs a Windows program) and expects the same
# bytes: standard output, exit status and the log. Exits 77 (skipped) when there
# is no Linux build. On a difference the files are kept for a look.
set -euo pipefail
linux=$1 windows=$2
shift 2
if [[ ! -x $linux ]]; then
  echo "no Linux build at $linux"
  exit 77
fi
work=$(mktemp -d)
mkdir "$work/files" "$work/linux" "$work/windows"

random() { head -c "$2" /dev/urandom >"$work/files/$1"; }
# A copy of FROM with COUNT random bytes written over it at random places.
edited() {
  cp "$work/files/$2" "$work/files/$1"
  local size i
  size=$(stat -c %s "$work/files/$1")
  for ((i = 0; i < $3; i++)); do
    head -c 1 /dev/urandom |
      dd of="$work/files/$1" bs=1 seek=$((((RANDOM << 15) | RANDOM) % size)) conv=notrunc status=none
  done
}
random m1 8388607
random m 8388608
random p1 8388609
edited m_edit m 1000
edited p1_edit p1 20
random one 1
random three 3
random k 4097
edited k_edit k 3
head -c 5000 /dev/zero >"$work/files/zeros"
head -c 5000 /dev/zero | tr '\0' '\377' >"$work/files/ones"
: >"$work/files/empty"

pairs=(
  "m m_edit" "m m1" "m p1" "p1 p1_edit" "m1 p1_edit" "m ./m"
  "one three" "three k" "k k_edit" "zeros ones" "one empty"
)
failed=0
for pair in "${pairs[@]}"; do
  read -r a b <<<"$pair"
  linuxStatus=0 windowsStatus=0
  (cd "$work/linux" && "$linux" "../files/$a" "../files/$b") >"$work/out.linux" ||
    linuxStatus=$?
  (cd "$work/windows" && "$@" "$windows" "../files/$a" "../files/$b") >"$work/out.windows" ||
    windowsStatus=$?
  if cmp -s "$work/out.linux" "$work/out.windows" && [[ $linuxStatus == "$windowsStatus" ]]; then
    echo "same: $a $b (status $linuxStatus)"
  else
    echo "DIFFERENT: $a $b: status $linuxStatus and $windowsStatus"
    diff <(cat -A "$work/out.linux") <(cat -A "$work/out.windows") || true
    failed=1
  fi
done
if cmp "$work/linux/korvella.log" "$work/windows/korvella.log"; then
  echo "same logs: $(wc -l <"$work/linux/korvella.log") lines"
else
  failed=1
fi
if ((failed)); then
  echo "files kept in $work"
else
  rm -rf "$work"
fi
exit $failed
