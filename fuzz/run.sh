#!/usr/bin/env bash
# Build the fuzz target with clang's libFuzzer and the address and
# undefined-behaviour sanitizers, then run it for a given time.
#   fuzz/run.sh [seconds] [extra libFuzzer options...]
# The working corpus is fuzz/corpus-work (seeded from the small fixtures, the
# Molden files of tests/data/molden, the .wfn, .wfx and .mwfn files of
# tests/data/wfx and the hand-made files of tests/data/bad); crashing inputs land in
# fuzz/findings and belong, once fixed, in tests/data/bad/ as regression
# cases (NAME.fchk, run by the end-to-end corruption tests).  The dictionary
# fuzz/checkpoint.dict holds the labels and values of checkpoint files.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"
shift || true
root="$PWD"
build="$root/fuzz/build"
mkdir -p "$build" "$root/fuzz/corpus-work" "$root/fuzz/findings"
srcs=$(ls src/core/*.cpp src/checkpoint/*.cpp src/integrals/*.cpp src/analysis/*.cpp \
           src/report/*.cpp src/app/pipeline.cpp)
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Isrc $srcs fuzz/fuzz_checkpoint.cpp -o "$build/fuzz_checkpoint" -lz -llzma
# Seeds: the fixtures small enough to mutate quickly, and the kept inputs.
for f in tests/data/*.fchk tests/data/molden/*.molden tests/data/wfx/*.wfn tests/data/wfx/*.wfx \
  tests/data/wfx/*.mwfn tests/data/bad/*; do
  [ -f "$f" ] || continue
  [ "$(stat -c %s "$f")" -le 300000 ] || continue
  cp -n "$f" "$root/fuzz/corpus-work/" 2>/dev/null || true
done
cd "$build"
./fuzz_checkpoint -max_total_time="$secs" -max_len=300000 -timeout=20 -rss_limit_mb=4096 \
  -dict="$root/fuzz/checkpoint.dict" -artifact_prefix="$root/fuzz/findings/" "$@" \
  "$root/fuzz/corpus-work"
