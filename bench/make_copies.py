#!/usr/bin/env python3
"""Make a large checkpoint file with exactly known answers.

    bench/make_copies.py IN.fchk K OUT.fchk [--spacing BOHR]

The molecule of IN.fchk is copied K times along x, the copies SPACING bohr
apart (default 40).  Gaussian basis functions that far apart do not overlap
(exp(-a b / (a + b) R^2) is below 1e-30 for every exponent of the usual
basis sets), so the orbitals and densities of the copies are the monomer's,
block by block: every copy must give the monomer's populations, bond orders
and valences, and every bond order between copies must be zero.
"""
import argparse
import re
import sys


def parse(path):
    """The sections of a formatted checkpoint file: {label: (type, value)}; scalar
    value or list; plus the title and calculation lines."""
    lines = open(path).read().split("\n")
    title, calc = lines[0], lines[1]
    sections = {}
    order = []
    k = 2
    head = re.compile(r"^(\S.{0,39}?)\s+([IRCLH])\s+(N=)?\s*(\S+)\s*$")
    while k < len(lines):
        m = head.match(lines[k])
        k += 1
        if not m:
            continue
        label, typ, isarr, val = m.group(1).strip(), m.group(2), m.group(3), m.group(4)
        if isarr:
            n = int(val)
            vals = []
            while len(vals) < n and k < len(lines):
                vals.extend(lines[k].split())
                k += 1
            conv = int if typ == "I" else (float if typ == "R" else str)
            sections[label] = (typ, [conv(v.replace("D", "E")) for v in vals[:n]] if typ in "IR" else vals)
        else:
            sections[label] = (typ, int(val) if typ == "I" else (float(val) if typ == "R" else val))
        order.append(label)
    return title, calc, sections, order


def emit_scalar(out, label, typ, v):
    if typ == "I":
        out.append(f"{label:<40}   I     {v:>12d}")
    else:
        out.append(f"{label:<40}   R     {v:>22.15E}")


def emit_array(out, label, typ, vals):
    out.append(f"{label:<40}   {typ}   N={len(vals):>12d}")
    if typ == "I":
        for i in range(0, len(vals), 6):
            out.append("".join(f"{v:>12d}" for v in vals[i:i + 6]))
    else:
        for i in range(0, len(vals), 5):
            out.append("".join(f"{v:>16.8E}" for v in vals[i:i + 5]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("infile")
    ap.add_argument("copies", type=int)
    ap.add_argument("outfile")
    ap.add_argument("--spacing", type=float, default=40.0)
    a = ap.parse_args()
    K = a.copies
    title, calc, s, order = parse(a.infile)
    nat = s["Number of atoms"][1]
    nbf = s["Number of basis functions"][1]
    nsh = s["Number of contracted shells"][1]
    npr = s["Number of primitive shells"][1]
    out = [f"{title.strip()} x {K} copies {a.spacing:g} bohr apart"[:80], calc]
    for lab in ["Number of atoms", "Charge", "Multiplicity", "Number of electrons",
                "Number of alpha electrons", "Number of beta electrons", "Number of basis functions",
                "Number of independent functions", "Number of contracted shells",
                "Highest angular momentum", "Largest degree of contraction",
                "Number of primitive shells"]:
        if lab not in s:
            continue
        typ, v = s[lab]
        if lab in ("Multiplicity", "Highest angular momentum", "Largest degree of contraction"):
            pass
        elif lab == "Charge":
            v = v * K
        else:
            v = v * K
        emit_scalar(out, lab, typ, v)
    emit_scalar(out, "SCF Energy", "R", s["SCF Energy"][1] * K)
    emit_scalar(out, "Total Energy", "R", s["Total Energy"][1] * K)
    emit_array(out, "Atomic numbers", "I", s["Atomic numbers"][1] * K)
    emit_array(out, "Nuclear charges", "R", s["Nuclear charges"][1] * K)
    xyz = s["Current cartesian coordinates"][1]
    allxyz = []
    for c in range(K):
        for i in range(nat):
            p = xyz[3 * i:3 * i + 3]
            allxyz += [p[0] + c * a.spacing, p[1], p[2]]
    emit_array(out, "Current cartesian coordinates", "R", allxyz)
    emit_array(out, "Shell types", "I", s["Shell types"][1] * K)
    emit_array(out, "Number of primitives per shell", "I", s["Number of primitives per shell"][1] * K)
    emit_array(out, "Shell to atom map", "I",
               [m + c * nat for c in range(K) for m in s["Shell to atom map"][1]])
    emit_array(out, "Primitive exponents", "R", s["Primitive exponents"][1] * K)
    emit_array(out, "Contraction coefficients", "R", s["Contraction coefficients"][1] * K)
    if "P(S=P) Contraction coefficients" in s:
        emit_array(out, "P(S=P) Contraction coefficients", "R",
                   s["P(S=P) Contraction coefficients"][1] * K)
    sxyz = s["Coordinates of each shell"][1]
    allsxyz = []
    for c in range(K):
        for i in range(nsh):
            p = sxyz[3 * i:3 * i + 3]
            allsxyz += [p[0] + c * a.spacing, p[1], p[2]]
    emit_array(out, "Coordinates of each shell", "R", allsxyz)
    emit_array(out, "Alpha Orbital Energies", "R", s["Alpha Orbital Energies"][1] * K)
    # Orbitals: copy c's orbital j is column c*nbf + j, non-zero in block c only.
    mo = s["Alpha MO coefficients"][1]
    nmo = len(mo) // nbf
    big = []
    zeros = [0.0] * nbf
    for c in range(K):
        for j in range(nmo):
            col = mo[j * nbf:(j + 1) * nbf]
            big += zeros * c + col + zeros * (K - 1 - c)
    emit_array(out, "Alpha MO coefficients", "R", big)
    emit_scalar(out, "Total Energy", "R", s["Total Energy"][1] * K) if False else None
    # Every total density (and spin density) block-diagonal, lower triangle row by row.
    for lab in order:
        if not (lab.startswith("Total ") and lab.endswith("Density")) and not (
                lab.startswith("Spin ") and lab.endswith("Density")):
            continue
        tri = s[lab][1]
        full = {}
        k = 0
        for i in range(nbf):
            for j in range(i + 1):
                full[(i, j)] = tri[k]
                k += 1
        packed = []
        for c in range(K):
            for i in range(nbf):
                packed += [0.0] * (c * nbf)
                packed += [full[(i, j)] for j in range(i + 1)]
        emit_array(out, lab, "R", packed)
    open(a.outfile, "w").write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
