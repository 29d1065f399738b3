#!/usr/bin/env bash
# Analyse every file of inputs/ in one batch and turn the results into two
# CSV tables: atoms.csv (populations, charges, valences) and bonds.csv.
#   examples/batch/run.sh [path/to/mirvante]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
prog="${1:-$here/../../build/mirvante}"
cd "$here"
"$prog" --json inputs/*.fchk | python3 to_csv.py atoms.csv bonds.csv
echo "wrote $here/atoms.csv and $here/bonds.csv"
