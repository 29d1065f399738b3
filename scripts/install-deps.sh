#!/usr/bin/env bash
# Install the Debian packages MIRVANTE needs when they are missing:
#   scripts/install-deps.sh            to build the program (CLI11, nlohmann::json,
#                                      zlib, liblzma, OpenBLAS)
#   scripts/install-deps.sh --tests    also what the test suite and CI use
#                                      (GoogleTest, Python, Chromium and fonts
#                                      for the drawing check, clang with
#                                      libFuzzer for the fuzzing run)
set -euo pipefail
packages=(cmake g++ libcli11-dev nlohmann-json3-dev zlib1g-dev liblzma-dev libopenblas-dev)
if [ "${1:-}" = "--tests" ]; then
  packages+=(libgtest-dev python3 chromium fonts-liberation clang libclang-rt-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
