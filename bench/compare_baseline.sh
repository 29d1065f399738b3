#!/usr/bin/env bash
# Old-versus-new timing of the dense kernels.  Builds the kernels of an
# earlier commit (by default f1bd19c, the last one before the kernels were
# blocked and threaded) with the same dense benchmarks, then runs the
# baseline and the current build in turn, one benchmark at a time, for a
# number of rounds (who goes first alternates), and prints the median wall
# time of each.  The baseline's tables are raised to order 2000, since its
# kernels size their static work arrays by them; nothing else changes.
# A commit that has the threaded kernels already (src/core/parallel.h) is
# built as it is, with its own dense benchmarks, and compared thread count
# for thread count.
#   bench/compare_baseline.sh [-r rounds] [-c commit] [-b build-dir] [-f regex] [-n program]
# -n names the current benchmark program in the build's bench/ (mv_bench, or
# mv_bench_avx2 to time the AVX2 variant of the current kernels).
# The current build must have been configured with -DMIRVANTE_BENCH=ON.
set -euo pipefail
rounds=5
commit=f1bd19c
build=build
filter='BM_(MatMul|Spectral|Sdiag|SdiagValues)/'
program=mv_bench
while getopts "r:c:b:f:n:" opt; do
  case $opt in
    r) rounds=$OPTARG ;;
    c) commit=$OPTARG ;;
    b) build=$OPTARG ;;
    f) filter=$OPTARG ;;
    n) program=$OPTARG ;;
    *) echo "usage: $0 [-r rounds] [-c commit] [-b build-dir] [-f regex] [-n program]" >&2; exit 2 ;;
  esac
done
repo=$(git rev-parse --show-toplevel)
new="$(cd "$build" && pwd)/bench/$program"
[ -x "$new" ] || { echo "no benchmark program at $new: build with -DMIRVANTE_BENCH=ON" >&2; exit 2; }

# The baseline, built once per commit next to the current build.
base="$(cd "$build" && pwd)/baseline-$commit"
old="$base/dense_bench"
if [ ! -x "$old" ] && git -C "$repo" cat-file -e "$commit:src/core/parallel.h" 2>/dev/null; then
  rm -rf "$base"
  mkdir -p "$base/src"
  git -C "$repo" archive "$commit" | tar -x -C "$base/src"
  cmake -S "$base/src" -B "$base/build" -DCMAKE_BUILD_TYPE=Release -DMIRVANTE_TESTS=OFF \
    -DMIRVANTE_BENCH=ON >/dev/null
  cmake --build "$base/build" --target mv_bench -j2 >/dev/null
  cp "$base/build/bench/mv_bench" "$old"
elif [ ! -x "$old" ]; then
  rm -rf "$base"
  mkdir -p "$base/src"
  git -C "$repo" archive "$commit" | tar -x -C "$base/src"
  sed -i 's/\(kMaxBf = \)500;/\12000;/; s/\(kLd = \)500;/\12000;/' "$base/src/src/tables.h"
  cmake -S "$base/src" -B "$base/build" -DCMAKE_BUILD_TYPE=Release -DMIRVANTE_TESTS=OFF >/dev/null
  cmake --build "$base/build" --target mv_analysis -j2 >/dev/null
  g++ -std=c++20 -O3 -DNDEBUG -DMV_BENCH_BASELINE -I "$base/src/src" "$repo/bench/dense_bench.cpp" \
    "$base/build/libmv_analysis.a" "$base/build/libmv_checkpoint.a" "$base/build/libmv_base.a" \
    -lbenchmark_main -lbenchmark -pthread -o "$old"
fi

# Wall time in ms of one benchmark (exact name) of one program.
time_of() {
  "$1" --benchmark_filter="^$2\$" --benchmark_min_time=0.3 --benchmark_format=csv 2>/dev/null |
    awk -F, -v name="\"$2\"" '$1 == name { print $3 }'
}

mapfile -t names < <("$new" --benchmark_list_tests --benchmark_filter="$filter")
mapfile -t baseNames < <("$old" --benchmark_list_tests --benchmark_filter="$filter")
results=$(mktemp)
for ((r = 1; r <= rounds; r++)); do
  for name in "${names[@]}"; do
    inBase=0
    for b in "${baseNames[@]}"; do [ "$b" = "$name" ] && inBase=1; done
    if ((r % 2 == 1)); then order="old new"; else order="new old"; fi
    for who in $order; do
      if [ "$who" = old ]; then
        [ $inBase = 1 ] || continue
        echo "$name old $(time_of "$old" "$name")" >>"$results"
      else
        echo "$name new $(time_of "$new" "$name")" >>"$results"
      fi
    done
  done
done

# Median and minimum over the rounds (on a shared machine the minimum shows
# what the code does when it has the cores to itself).
median() { sort -g | awk '{a[NR]=$1} END {if (NR == 0) print "-"; else if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
minimum() { sort -g | head -1; }
times() { awk -v n="$1" -v w="$2" '$1 == n && $2 == w {print $3}' "$results"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || a == "" || b == 0) print "-"; else printf "%.2f", a / b }'; }
printf '%-42s %10s %10s %8s %10s %10s %8s\n' benchmark old_med new_med speedup old_min new_min speedup
for name in "${names[@]}"; do
  # The 2-thread runs are compared with the baseline's single thread.
  base=$name
  [ -n "$(times "$base" old)" ] || base=${name/threads:2/threads:1}
  om=$(times "$base" old | median)
  o1=$(times "$base" old | minimum)
  nm=$(times "$name" new | median)
  n1=$(times "$name" new | minimum)
  printf '%-42s %10.1f %10.1f %8s %10.1f %10.1f %8s\n' "${name%/real_time}" "$om" "$nm" \
    "$(ratio "$om" "$nm")" "$o1" "$n1" "$(ratio "$o1" "$n1")"
done
rm -f "$results"
