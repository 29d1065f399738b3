#!/usr/bin/env bash
# Whole-run timing of two builds of the program on one file, alternating:
# each round runs both (who goes first alternates), after one warm-up run of
# each, and the median and minimum wall time of each build are printed.
#   bench/compare_whole_run.sh [-n rounds] [-j threads] old-build-dir new-build-dir file.fchk
# Both programs run as `mirvante -j THREADS --json FILE`, output discarded.
set -euo pipefail
rounds=5
threads=2
while getopts "n:j:" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    j) threads=$OPTARG ;;
    *) echo "usage: $0 [-n rounds] [-j threads] old-build new-build file.fchk" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 3 ] || { echo "usage: $0 [-n rounds] [-j threads] old-build new-build file.fchk" >&2; exit 2; }
old="$(cd "$1" && pwd)/mirvante"
new="$(cd "$2" && pwd)/mirvante"
file=$3
for p in "$old" "$new"; do
  [ -x "$p" ] || { echo "no program at $p" >&2; exit 2; }
done
cmp -s <("$old" -j "$threads" --json "$file") <("$new" -j "$threads" --json "$file") ||
  echo "warning: the two builds print different reports for $file" >&2

# Wall time in seconds of one run.
run() {
  local t0 t1
  t0=$(date +%s.%N)
  "$1" -j "$threads" --json "$file" >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
results=$(mktemp)
for ((r = 1; r <= rounds; r++)); do
  if ((r % 2 == 1)); then order="old new"; else order="new old"; fi
  for who in $order; do
    if [ "$who" = old ]; then echo "old $(run "$old")"; else echo "new $(run "$new")"; fi
  done >>"$results"
done
median() { sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
printf '%-6s %10s %10s\n' build median_s min_s
for who in old new; do
  printf '%-6s %10.3f %10.3f\n' "$who" "$(awk -v w=$who '$1 == w {print $2}' "$results" | median)" \
    "$(awk -v w=$who '$1 == w {print $2}' "$results" | sort -g | head -1)"
done
rm -f "$results"
