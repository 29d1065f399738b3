#!/usr/bin/env bash
# Install the Debian packages MIRVANTE needs when they are missing:
#   scripts/install-deps.sh            to build the program (CLI11, nlohmann::json,
#                                      zlib, liblzma, OpenBLAS)
#   scripts/install-deps.sh --tests    also what the test suite and CI use
#                                      (GoogleTest, Python, Chromium and fonts
#                                      for the drawing check, clang with
#                                      libFuzzer for the fuzzing run), the
#                                      Python module's and psi4 for its tests
#   scripts/install-deps.sh --python   also what the Python module needs
#                                      (pybind11, numpy; pip, setuptools,
#                                      wheel and venv to install it offline)
set -euo pipefail
packages=(cmake g++ libcli11-dev nlohmann-json3-dev zlib1g-dev liblzma-dev libopenblas-dev)
python=(python3 python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pip
  python3-setuptools python3-wheel python3-venv)
for option in "$@"; do
  case "$option" in
    --tests)
      packages+=(libgtest-dev chromium fonts-liberation clang libclang-rt-dev python3-pytest psi4
        python3-pandas python3-distributed
        "${python[@]}")
      ;;
    --python) packages+=("${python[@]}") ;;
    *)
      echo "usage: $0 [--tests] [--python]" >&2
      exit 2
      ;;
  esac
done
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
