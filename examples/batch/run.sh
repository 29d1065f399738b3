#!/usr/bin/env bash
# Analyse every file of inputs/ in one batch and turn the results into two
# CSV tables: atoms.csv (populations, charges, valences) and bonds.csv.
#   examples/batch/run.sh [path/to/mirvante]
# The tables are replaced only when every step succeeded.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
prog="${1:-$here/../../build/mirvante}"
prog="$(cd "$(dirname "$prog")" && pwd)/$(basename "$prog")"
cd "$here"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$prog" --json inputs/*.fchk | python3 to_csv.py "$tmp/atoms.csv" "$tmp/bonds.csv"
mv "$tmp/atoms.csv" atoms.csv
mv "$tmp/bonds.csv" bonds.csv
echo "wrote $here/atoms.csv and $here/bonds.csv"
