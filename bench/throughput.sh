#!/usr/bin/env bash
# Batch throughput of the command-line mode: files per second and peak
# memory for a batch of N copies of one small checkpoint file, with -j 1 and
# -j 2, measured alternately.
#   bench/throughput.sh [-n files] [-r rounds] [-b build-dir] [file.fchk]
set -euo pipefail
files=2000
rounds=3
build=build
while getopts "n:r:b:" opt; do
  case $opt in
    n) files=$OPTARG ;;
    r) rounds=$OPTARG ;;
    b) build=$OPTARG ;;
    *) echo "usage: $0 [-n files] [-r rounds] [-b build-dir] [file.fchk]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
src=${1:-tests/data/h2o_rhf_sto3g.fchk}
prog="$(cd "$build" && pwd)/mirvante"
[ -x "$prog" ] || { echo "no program at $prog: build first" >&2; exit 2; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for ((i = 0; i < files; i++)); do cp "$src" "$dir/f$i.fchk"; done
printf '%-6s %6s %10s %10s %10s\n' jobs files seconds files/s peak_MB
for ((r = 0; r < rounds; r++)); do
  for j in 1 2; do
    t0=$(date +%s.%N)
    /usr/bin/time -o "$dir/time.txt" -f '%M' "$prog" --json -j "$j" "$dir"/f*.fchk >/dev/null
    t1=$(date +%s.%N)
    kb=$(tail -1 "$dir/time.txt")
    s=$(echo "$t1 - $t0" | bc -l)
    printf '%-6s %6d %10.3f %10.0f %10.1f\n' "$j" "$files" "$s" "$(echo "$files / $s" | bc -l)" \
      "$(echo "$kb / 1024" | bc -l)"
  done
done
