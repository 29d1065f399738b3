#!/usr/bin/env python3
"""Turn MIRVANTE's JSON Lines (mirvante --json FILE...) into CSV tables.

    mirvante --json inputs/*.fchk | python3 to_csv.py atoms.csv bonds.csv

atoms.csv: one row per atom of every analysed file; bonds.csv: one row per
bond listed in the JSON (order at least --min-bond).  Files that were not
analysed are reported on standard error and left out.
"""
import csv
import json
import sys


def fixed(x):
    """Six decimals, without a sign on a value that rounds to zero."""
    t = f"{x:.6f}"
    return "0.000000" if t == "-0.000000" else t


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: to_csv.py ATOMS.csv BONDS.csv < results.jsonl")
    with open(sys.argv[1], "w", newline="") as fa, open(sys.argv[2], "w", newline="") as fb:
        atoms = csv.writer(fa)
        bonds = csv.writer(fb)
        atoms.writerow(["file", "method", "spin", "atom", "symbol", "population", "charge",
                        "total_valence", "bonded_valence", "free_valence"])
        bonds.writerow(["file", "atom_a", "atom_b", "symbols", "order"])
        for line in sys.stdin:
            r = json.loads(line)
            if r["status"] != "ok":
                print(f"{r['file']}: {r['status']}: {r['error']['message']}", file=sys.stderr)
                continue
            for a in r["atoms"]:
                atoms.writerow([r["file"], r["method"], r["spin"], a["index"], a["symbol"],
                                fixed(a["population"]), fixed(a["charge"]),
                                fixed(a["total_valence"]), fixed(a["bonded_valence"]),
                                fixed(a["free_valence"])])
            sym = {a["index"]: a["symbol"] for a in r["atoms"]}
            for b in r["bonds"]:
                i, j = b["atoms"]
                bonds.writerow([r["file"], i, j, f"{sym[i]}-{sym[j]}", f"{b['order']:.4f}"])


if __name__ == "__main__":
    main()
