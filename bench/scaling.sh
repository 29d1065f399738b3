#!/usr/bin/env bash
# Whole runs of the command line on files of growing size, with -j 1 and
# -j 2 alternately: the median wall time and peak memory of each, and the
# exponent of the time in the number of basis functions fitted from the
# smallest file upwards.
#   bench/scaling.sh [-n runs] [-b build-dir] file.fchk ...
# The files should be given from the smallest to the largest.  Larger files
# with known answers: bench/make_copies.py (K copies of a molecule).
set -euo pipefail
runs=3
build=build
while getopts "n:b:" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    b) build=$OPTARG ;;
    *) echo "usage: $0 [-n runs] [-b build-dir] file.fchk ..." >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { echo "usage: $0 [-n runs] [-b build-dir] file.fchk ..." >&2; exit 2; }
prog="$(cd "$build" && pwd)/mirvante"
[ -x "$prog" ] || { echo "no program at $prog: build first" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
median() { sort -g | awk '{a[NR]=$1} END {n=NR; if (n%2) print a[(n+1)/2]; else print (a[n/2]+a[n/2+1])/2}'; }
printf '%-34s %6s %10s %10s %10s\n' file nbf j1_s j2_s peak_MB
declare -a sizes times
for f in "$@"; do
  nbf=$(awk '/^Number of basis functions/ {print $NF; exit}' "$f")
  "$prog" --json -j 2 "$f" >/dev/null  # warm-up: the file in the page cache
  : >"$tmp/j1"; : >"$tmp/j2"; peak=0
  for ((i = 0; i < runs; i++)); do
    for j in 1 2; do
      t0=$(date +%s.%N)
      /usr/bin/time -o "$tmp/time" -f '%M' "$prog" --json -j "$j" "$f" >/dev/null
      t1=$(date +%s.%N)
      echo "$t1 - $t0" | bc -l >>"$tmp/j$j"
      kb=$(tail -1 "$tmp/time"); [ "$kb" -gt "$peak" ] && peak=$kb
    done
  done
  m1=$(median <"$tmp/j1"); m2=$(median <"$tmp/j2")
  printf '%-34s %6s %10.3f %10.3f %10.1f\n' "$(basename "$f")" "$nbf" "$m1" "$m2" "$(echo "$peak / 1024" | bc -l)"
  sizes+=("$nbf"); times+=("$m1")
done
if [ ${#sizes[@]} -ge 2 ]; then
  last=$((${#sizes[@]} - 1))
  echo "exponent (-j 1, ${sizes[0]} to ${sizes[$last]} functions): $(echo "l(${times[$last]} / ${times[0]}) / l(${sizes[$last]} / ${sizes[0]})" | bc -l | cut -c1-5)"
fi
