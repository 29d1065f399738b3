#!/usr/bin/env bash
# Whole-run benchmark: time the built program on checkpoint files over
# repeated runs (one warm-up first), single thread, and print the median wall
# time and the peak resident memory of each.
#   bench/whole_run.sh [-n runs] [-b build-dir] file.fchk [file.fchk ...]
set -euo pipefail
runs=10
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
printf '%-36s %6s %12s %12s\n' file nbf median_s peak_MB
for f in "$@"; do
  dir=$(mktemp -d)
  cp "$f" "$dir/Test.FChk"
  nbf=$(awk '/^Number of basis functions/ {print $NF; exit}' "$f")
  (cd "$dir" && "$prog" >/dev/null 2>&1) || true   # warm-up
  times=()
  peak=0
  for ((i = 0; i < runs; i++)); do
    # /usr/bin/time gives the peak memory; its %e has only two decimals, so
    # the wall time is taken around it (the wrapper adds well under 1 ms).
    t0=$(date +%s.%N)
    (cd "$dir" && /usr/bin/time -o time.txt -f '%M' "$prog" >/dev/null 2>&1) || true
    t1=$(date +%s.%N)
    out=$(tail -1 "$dir/time.txt")
    times+=("$(echo "$t1 - $t0" | bc -l)")
    kb=${out##* }
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {n=NR; if (n%2) print a[(n+1)/2]; else print (a[n/2]+a[n/2+1])/2}')
  printf '%-36s %6s %12.4f %12.1f\n' "$(basename "$f")" "$nbf" "$median" "$(echo "$peak / 1024" | bc -l)"
  rm -rf "$dir"
done
