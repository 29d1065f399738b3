#!/usr/bin/env python3
"""Screen a folder of wave-function files: the shortest and the strongest
bonds over all of them.

    python3 examples/python/screen.py FOLDER [--top N] [--min-bond X] [-j N]

Every file of FOLDER that the command line reads is analysed, several at a
time; files that cannot be analysed are listed at the end with the reason.
Distances are in angstrom.
"""

import argparse
import sys
from pathlib import Path

import numpy as np

import mirvante

BOHR = 0.529177210903  # angstrom


def bonds_of(result):
    """(distance in angstrom, order, label) of every listed bond."""
    xyz, symbols = result.coordinates, result.symbols
    for i, j, order in result.bonds:
        d = float(np.linalg.norm(xyz[i] - xyz[j])) * BOHR
        yield d, order, f"{symbols[i]}{i + 1}-{symbols[j]}{j + 1}"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("folder", type=Path)
    ap.add_argument("--top", type=int, default=5, help="bonds shown in each list (5)")
    ap.add_argument("--min-bond", type=float, default=0.5, help="smallest bond order counted (0.5)")
    ap.add_argument("-j", "--jobs", type=int, default=None, help="files analysed at once")
    args = ap.parse_args(argv)

    files = sorted(p for p in args.folder.iterdir() if p.is_file() and not p.name.endswith(".json"))
    rows, failed = [], []
    for path, r in zip(files, mirvante.analyse_many(files, jobs=args.jobs, min_bond=args.min_bond)):
        if not r.ok:
            failed.append((path.name, r.error))
            continue
        rows += [(d, order, label, path.name) for d, order, label in bonds_of(r)]

    print(f"{len(files) - len(failed)} of {len(files)} files analysed, {len(rows)} bonds of order >= {args.min_bond}")
    for title, key in [("Shortest bonds", lambda b: (b[0], -b[1])), ("Strongest bonds", lambda b: (-b[1], b[0]))]:
        print(f"\n{title}:")
        print(f"  {'distance/A':>10}  {'order':>7}  {'bond':<10} file")
        for d, order, label, name in sorted(rows, key=key)[: args.top]:
            print(f"  {d:10.4f}  {order:7.4f}  {label:<10} {name}")
    if failed:
        print("\nNot analysed:")
        for name, error in failed:
            print(f"  {name}: {error.message}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
