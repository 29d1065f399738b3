#!/usr/bin/env bash
# The command line of two builds side by side: `mirvante -j THREADS --json
# FILE` of each, alternately (who goes first alternates by round), after a
# warm-up run of each; per file the median and minimum wall time of each
# build, their ratio, the peak memory of the new build against the bound of
# 10 n^2 doubles + 64 MB, and whether the file is a real molecule or
# far-apart copies (bench/make_copies.py writes "x K copies" in the title).
# Last, the exponent of the new build's median time in the number of basis
# functions, fitted by least squares over the far-apart copies and their
# original (give the 470-function naphthalene among the files for that).
#   bench/side_by_side.sh [-n rounds] [-j threads] old-build new-build file.fchk ...
# Needs /usr/bin/time and bc.  Seconds are only as good as the machine is
# quiet: run it when nothing else does.
set -euo pipefail
rounds=5
threads=2
while getopts "n:j:" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    j) threads=$OPTARG ;;
    *) echo "usage: $0 [-n rounds] [-j threads] old-build new-build file.fchk ..." >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 3 ] || { echo "usage: $0 [-n rounds] [-j threads] old-build new-build file.fchk ..." >&2; exit 2; }
old="$(cd "$1" && pwd)/mirvante"
new="$(cd "$2" && pwd)/mirvante"
shift 2
for p in "$old" "$new"; do
  [ -x "$p" ] || { echo "no program at $p" >&2; exit 2; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
median() { sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

# One run: wall seconds on stdout, peak kB appended to $tmp/peak.
run() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -o "$tmp/time" -f '%M' "$1" -j "$threads" --json "$2" >/dev/null
  t1=$(date +%s.%N)
  tail -1 "$tmp/time" >>"$tmp/peak"
  echo "$t1 - $t0" | bc -l
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; -j $threads; $rounds rounds"
printf '%-28s %-6s %6s %9s %9s %9s %9s %6s %9s %9s\n' file kind nbf old_med old_min new_med new_min ratio peak_MB bound_MB
: >"$tmp/fit"
for f in "$@"; do
  nbf=$(awk '/^Number of basis functions/ {print $NF; exit}' "$f")
  if head -1 "$f" | grep -q ' copies '; then kind=copies; else kind=real; fi
  "$old" -j "$threads" --json "$f" >/dev/null
  "$new" -j "$threads" --json "$f" >/dev/null
  : >"$tmp/old"; : >"$tmp/new"
  for ((r = 1; r <= rounds; r++)); do
    if ((r % 2 == 1)); then order="old new"; else order="new old"; fi
    for who in $order; do
      : >"$tmp/peak"
      if [ "$who" = old ]; then run "$old" "$f" >>"$tmp/old"; else
        run "$new" "$f" >>"$tmp/new"
        cat "$tmp/peak" >>"$tmp/newpeak"
      fi
    done
  done
  om=$(median <"$tmp/old"); nm=$(median <"$tmp/new")
  omin=$(sort -g "$tmp/old" | head -1); nmin=$(sort -g "$tmp/new" | head -1)
  peak=$(sort -g "$tmp/newpeak" | tail -1); rm -f "$tmp/newpeak"
  bound=$(echo "(10 * $nbf * $nbf * 8) / 1048576 + 64" | bc -l)
  printf '%-28s %-6s %6s %9.3f %9.3f %9.3f %9.3f %6.2f %9.1f %9.1f\n' "$(basename "$f" .fchk)" "$kind" "$nbf" \
    "$om" "$omin" "$nm" "$nmin" "$(echo "$nm / $om" | bc -l)" "$(echo "$peak / 1024" | bc -l)" "$bound"
  if [ "$kind" = copies ] || head -1 "$f" | grep -q '^naphthalene'; then
    echo "$nbf $nm" >>"$tmp/fit"
  fi
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$(wc -l <"$tmp/fit")" -ge 2 ]; then
  awk '{x = log($1); y = log($2); n++; sx += x; sy += y; sxx += x * x; sxy += x * y}
       END {printf "new build: time grows as n^%.2f (least squares over %d naphthalene files, %d to %d functions)\n",
            (n * sxy - sx * sy) / (n * sxx - sx * sx), n, min, max}' \
    min="$(sort -g "$tmp/fit" | head -1 | cut -d' ' -f1)" max="$(sort -g "$tmp/fit" | tail -1 | cut -d' ' -f1)" "$tmp/fit"
fi
