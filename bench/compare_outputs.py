#!/usr/bin/env python3
"""The command line of two builds on the same files, output against output.

For every file: the text report and the JSON line of the new build at
-j 1, 2 and 3 must be byte-identical among themselves; against the old
build, the text report must be identical but for the records of X
("Hermiticity control", "Trace") that the new build may leave out, and
every JSON number must agree within --tol (1e-10), hermiticity and trace_x
being allowed to become null.  Exit status 1 when any file differs.

  bench/compare_outputs.py OLD-BUILD NEW-BUILD FILE-OR-FOLDER ...

A folder stands for its *.fchk, *.fch, *.molden and *.molden.input files.
"""
import argparse
import json
import pathlib
import subprocess
import sys

X_RECORDS = ("hermiticity", "trace_x")
SUFFIXES = (".fchk", ".fch", ".molden", ".input")


def run(build, args):
    p = subprocess.run([str(pathlib.Path(build) / "mirvante"), *args], capture_output=True)
    return p.returncode, p.stdout, p.stderr


def numbers_differ(a, b, tol, path=""):
    """The first place where a and b differ beyond tol, or None."""
    if isinstance(a, dict) and isinstance(b, dict):
        for k in a.keys() | b.keys():
            if k in X_RECORDS and b.get(k) is None:
                continue
            if k not in a or k not in b:
                return f"{path}/{k} missing on one side"
            d = numbers_differ(a[k], b[k], tol, f"{path}/{k}")
            if d:
                return d
        return None
    if isinstance(a, list) and isinstance(b, list):
        if len(a) != len(b):
            return f"{path}: {len(a)} against {len(b)} items"
        for i, (u, v) in enumerate(zip(a, b)):
            d = numbers_differ(u, v, tol, f"{path}[{i}]")
            if d:
                return d
        return None
    if isinstance(a, (int, float)) and isinstance(b, (int, float)) and not isinstance(a, bool):
        return None if abs(a - b) <= tol else f"{path}: {a!r} against {b!r}"
    if a != b and path != "/file":
        return f"{path}: {a!r} against {b!r}"
    return None


def without_x_records(text):
    return b"\n".join(l for l in text.split(b"\n")
                      if b"Hermiticity control" not in l and not l.lstrip().startswith(b"Trace"))


def files(paths):
    for p in map(pathlib.Path, paths):
        if p.is_dir():
            yield from sorted(f for f in p.iterdir() if f.suffix in SUFFIXES)
        else:
            yield p


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("paths", nargs="+")
    ap.add_argument("--tol", type=float, default=1e-10)
    o = ap.parse_args()
    bad = 0
    count = 0
    for f in files(o.paths):
        count += 1
        new = {j: (run(o.new, ["-j", str(j), str(f)]), run(o.new, ["-j", str(j), "--json", str(f)]))
               for j in (1, 2, 3)}
        problems = [f"-j {j} differs from -j 1" for j in (2, 3) if new[j] != new[1]]
        (text_new, json_new) = new[1]
        text_old, json_old = run(o.old, [str(f)]), run(o.old, ["--json", str(f)])
        if text_old[0] != text_new[0]:
            problems.append(f"status {text_old[0]} against {text_new[0]}")
        if without_x_records(text_old[1]) != without_x_records(text_new[1]):
            problems.append("text report differs")
        if text_old[2] != text_new[2]:
            problems.append("messages differ")
        try:
            d = numbers_differ(json.loads(json_old[1]), json.loads(json_new[1]), o.tol)
            if d:
                problems.append("JSON " + d)
        except json.JSONDecodeError:
            if json_old[1] != json_new[1]:
                problems.append("JSON output differs")
        if problems:
            bad += 1
            print(f"{f}: " + "; ".join(problems))
    print(f"{count} files, {count - bad} agree, {bad} differ")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
