#!/usr/bin/env bash
# A series against the same files analysed as a batch: wall time and peak
# memory of `mirvante --series --json` and `mirvante --json` on N frames,
# measured alternately, and the peak memory of one frame alone.  The frames
# are N copies of one file (default: heptane, 23 atoms); a series keeps of
# each frame only its bond orders and energy, so its peak memory should be
# that of one frame, whatever N.
#   bench/series.sh [-n frames] [-r rounds] [-j jobs] [-b build-dir] [file.fchk]
set -euo pipefail
frames=200
rounds=3
jobs=2
build=build
while getopts "n:r:j:b:" opt; do
  case $opt in
    n) frames=$OPTARG ;;
    r) rounds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    b) build=$OPTARG ;;
    *) echo "usage: $0 [-n frames] [-r rounds] [-j jobs] [-b build-dir] [file.fchk]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
src=${1:-tests/data/c7h16_rhf_sto3g.fchk}
prog="$(cd "$build" && pwd)/mirvante"
[ -x "$prog" ] || { echo "no program at $prog: build first" >&2; exit 2; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for ((i = 0; i < frames; i++)); do cp "$src" "$dir/$(printf 'f%04d' "$i").fchk"; done
run() {  # label, then the program's arguments
  local label=$1
  shift
  local t0 t1 kb
  t0=$(date +%s.%N)
  /usr/bin/time -o "$dir/time.txt" -f '%M' "$prog" "$@" >/dev/null
  t1=$(date +%s.%N)
  kb=$(tail -1 "$dir/time.txt")
  printf '%-8s %6d %10.3f %10.1f\n' "$label" "$#" "$(echo "$t1 - $t0" | bc -l)" \
    "$(echo "$kb / 1024" | bc -l)"
}
printf '%-8s %6s %10s %10s\n' run args seconds peak_MB
run one --json -j "$jobs" "$dir/f0000.fchk"
for ((r = 0; r < rounds; r++)); do
  run batch --json -j "$jobs" "$dir"/f*.fchk
  run series --series --json -j "$jobs" "$dir"/f*.fchk
done
