#!/usr/bin/env bash
# Run the built program on every example and compare what it gives with the
# stored results: the report (report.txt), standard error (stderr.txt) and
# the exit status (status.txt).
#
#   examples/run_all.sh [path/to/mirvante]      (default: ./build/mirvante)
#
# Each example runs in a temporary copy of its directory, so the scratch
# file Tmp never lands in examples/.  The reports must agree character for
# character, except for the value of the "Hermiticity control" record, which
# is rounding noise (its order of magnitude depends on the machine's
# arithmetic, not on the wave function).  One line per example; the exit
# status is 0 when every example agrees and 1 otherwise.
set -uo pipefail

prog="${1:-./build/mirvante}"
if [ ! -x "$prog" ]; then
  echo "run_all.sh: no program at $prog (build it first, or give its path)" >&2
  exit 2
fi
prog="$(cd "$(dirname "$prog")" && pwd)/$(basename "$prog")"
here="$(cd "$(dirname "$0")" && pwd)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The report with the value of the hermiticity check blanked out.
comparable() {
  sed 's/^\(  Hermiticity control=\).*$/\1 (rounding noise)/' "$1"
}

failed=0
count=0
for dir in "$here"/*/; do
  dir="${dir%/}"
  name="$(basename "$dir")"
  [ -f "$dir/Test.FChk" ] || continue
  count=$((count + 1))
  run="$work/$name"
  mkdir -p "$run"
  cp "$dir/Test.FChk" "$run/Test.FChk"
  (cd "$run" && "$prog" >stdout.txt 2>stderr.txt </dev/null)
  echo "$?" >"$run/status.txt"

  diffs=()
  cmp -s <(comparable "$run/stdout.txt") <(comparable "$dir/report.txt") || diffs+=("report")
  cmp -s "$run/stderr.txt" "$dir/stderr.txt" || diffs+=("stderr")
  cmp -s "$run/status.txt" "$dir/status.txt" || diffs+=("status $(cat "$run/status.txt")")
  if [ ${#diffs[@]} -eq 0 ]; then
    printf '%-16s ok     (status %s)\n' "$name" "$(cat "$run/status.txt")"
  else
    failed=1
    printf '%-16s DIFFERS: %s\n' "$name" "${diffs[*]}"
    if [[ " ${diffs[*]} " == *" report "* ]]; then
      diff -u "$dir/report.txt" "$run/stdout.txt" | head -20 | sed 's/^/    /'
    fi
  fi
done

if [ "$count" -eq 0 ]; then
  echo "run_all.sh: no example directories found in $here" >&2
  exit 2
fi
exit "$failed"
