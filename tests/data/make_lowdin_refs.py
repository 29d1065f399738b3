#!/usr/bin/env python3
"""Reference numbers for spin populations, Lowdin populations and
Wiberg-Lowdin indices of the checkpoint files in tests/data.

For each file the wave function is computed again with psi4 1.3.2 in the
file's own geometry (read from the file, in bohr), charge, multiplicity,
basis and method (those of the file's .ref.json generator, converged
tighter), and two sets of numbers are stored:

- "psi4": psi4's own oeprop output: MULLIKEN_CHARGES, LOWDIN_CHARGES,
  WIBERG_LOWDIN_INDICES and MAYER_INDICES.  psi4 normalises the Cartesian
  components of a d or f shell like their x^l component, so its Lowdin
  numbers belong to the files' convention only for pure-function bases.
- the top-level numbers, computed here with numpy from psi4's AO overlap
  and alpha and beta densities, each Cartesian component first rescaled to
  unit self-overlap (the convention of the checkpoint files; a no-op for
  pure functions): Mulliken spin populations sum_{mu in A} (Ps S)(mu,mu),
  Lowdin populations sum_{mu in A} (S^1/2 P S^1/2)(mu,mu), and
  Wiberg-Lowdin indices 2 sum_{mu in A, nu in B} [(S^1/2 Pa S^1/2)^2 +
  (S^1/2 Pb S^1/2)^2] (Pa = Pb = P/2 for closed shells and for the relaxed
  MP2 density), and "mayer", psi4's bond index 2 sum [(Pa S)(Pa S) +
  (Pb S)(Pb S)] (the bond order of the SCF files; for the MP2 density the
  P S term alone).

Run: PYTHONPATH=/usr/lib/x86_64-linux-gnu /usr/bin/python3 make_lowdin_refs.py NAME...
(NAME without .fchk, looked up in the directory of this script).
"""
import json
import os
import re
import sys

import numpy as np
import psi4

SYMBOLS = ["Gh", "H", "He", "Li", "Be", "B", "C", "N", "O", "F", "Ne", "Na", "Mg", "Al",
           "Si", "P", "S", "Cl", "Ar"]
HERE = os.path.dirname(os.path.abspath(__file__))


def fchk_sections(path):
    """Scalars and arrays of a formatted checkpoint file by label."""
    with open(path) as f:
        lines = f.read().split("\n")
    out = {}
    k = 2
    while k < len(lines):
        line = lines[k]
        m = re.match(r"^(.{40})   ([IRC])(   N=)?\s+(\S+)", line)
        if not m:
            k += 1
            continue
        label, kind, arr, value = m.group(1).strip(), m.group(2), m.group(3), m.group(4)
        if arr:
            n = int(value)
            vals = []
            k += 1
            while len(vals) < n:
                vals += lines[k].split()
                k += 1
            conv = int if kind == "I" else float
            out[label] = [conv(v) for v in vals[:n]]
        else:
            out[label] = int(value) if kind == "I" else float(value)
            k += 1
    return out, lines[1]


def atom_sums(values, atom_of):
    nat = max(atom_of) + 1
    sums = np.zeros(nat)
    for mu, a in enumerate(atom_of):
        sums[a] += values[mu]
    return sums


def block_sums(m, atom_of):
    nat = max(atom_of) + 1
    out = np.zeros((nat, nat))
    for mu, a in enumerate(atom_of):
        for nu, b in enumerate(atom_of):
            out[a, b] += m[mu, nu]
    return out


def sym_power(s, power):
    w, v = np.linalg.eigh(s)
    return (v * w**power) @ v.T


def run(name, generator):
    ck, line2 = fchk_sections(os.path.join(HERE, name + ".fchk"))
    z = ck["Atomic numbers"]
    xyz = np.array(ck["Current cartesian coordinates"]).reshape(-1, 3)
    geom = ["%d %d" % (ck["Charge"], ck["Multiplicity"]), "units bohr", "no_reorient",
            "no_com", "symmetry c1"]
    for zi, (x, y, zz) in zip(z, xyz):
        geom.append("%s %.12f %.12f %.12f" % (SYMBOLS[zi], x, y, zz))
    psi4.core.clean()
    psi4.core.clean_options()
    psi4.set_output_file(os.path.join("/tmp", name + ".psi4.out"), False)
    psi4.geometry("\n".join(geom))
    opts = {"basis": generator["basis"], "reference": generator["reference"],
            "scf_type": generator["scf_type"], "freeze_core": generator["freeze_core"],
            "e_convergence": 1e-12, "d_convergence": 1e-10, "maxiter": 200}
    psi4.set_options(opts)
    if generator["method"] == "mp2":
        # The relaxed MP2 density (density-fitted, as the file's generator).
        energy, wfn = psi4.properties("mp2", properties=["dipole"], return_wfn=True)
    else:
        energy, wfn = psi4.energy(generator["method"], return_wfn=True)
    psi4.oeprop(wfn, "MULLIKEN_CHARGES", "LOWDIN_CHARGES", "WIBERG_LOWDIN_INDICES",
                "MAYER_INDICES", title="REF")

    basis = wfn.basisset()
    atom_of = [basis.function_to_center(mu) for mu in range(basis.nbf())]
    s = np.asarray(wfn.S())
    da = np.asarray(wfn.Da())
    db = np.asarray(wfn.Db())
    # Each function rescaled to unit self-overlap: chi' = chi / sqrt(S(mu,mu)).
    c = np.sqrt(np.diag(s))
    s = s / np.outer(c, c)
    da = da * np.outer(c, c)
    db = db * np.outer(c, c)
    p, ps = da + db, da - db
    half = sym_power(s, 0.5)
    charges = np.array(ck["Nuclear charges"])
    spin = atom_sums(np.diag(ps @ s), atom_of)
    gross = atom_sums(np.diag(p @ s), atom_of)
    lowdin = atom_sums(np.diag(half @ p @ half), atom_of)
    xa, xb = half @ da @ half, half @ db @ half
    wiberg = 2.0 * block_sums(xa * xa + xb * xb, atom_of)
    np.fill_diagonal(wiberg, 0.0)
    mayer = 2.0 * block_sums((da @ s) * (da @ s).T + (db @ s) * (db @ s).T, atom_of)
    np.fill_diagonal(mayer, 0.0)

    def arr(key):
        return np.asarray(wfn.array_variable(key)).tolist()

    restricted = generator["reference"] in ("rhf", "rks")
    if restricted:
        # The total density only: a closed shell has no spin density.
        da = db = 0.5 * (da + db)
    return {
        "file": name + ".fchk",
        "how": "psi4 1.3.2 recomputed the wave function in the file's geometry "
               "(bohr), charge, multiplicity, basis and method; numbers from psi4's AO "
               "overlap and alpha/beta densities with every function rescaled to unit "
               "self-overlap (numpy, make_lowdin_refs.py); 'psi4' holds oeprop's own output",
        "psi4_options": opts,
        "method": generator["method"],
        "energy": energy,
        "nalpha": wfn.nalpha(),
        "nbeta": wfn.nbeta(),
        "puream": basis.has_puream(),
        "gross_populations": gross.tolist(),
        "mulliken_charges": (charges - gross).tolist(),
        "spin_populations": None if restricted else spin.tolist(),
        "lowdin_populations": lowdin.tolist(),
        "lowdin_charges": (charges - lowdin).tolist(),
        "wiberg_lowdin": wiberg.tolist(),
        "mayer": mayer.tolist(),
        "psi4": {
            "MULLIKEN_CHARGES": arr("MULLIKEN_CHARGES")[0],
            "LOWDIN_CHARGES": arr("LOWDIN_CHARGES")[0],
            "WIBERG_LOWDIN_INDICES": arr("WIBERG_LOWDIN_INDICES"),
            "MAYER_INDICES": arr("MAYER_INDICES"),
        },
    }


def main():
    psi4.set_memory("1 GB")
    psi4.set_num_threads(1)
    for name in sys.argv[1:]:
        with open(os.path.join(HERE, name + ".ref.json")) as f:
            generator = json.load(f)["generator"]
        ref = run(name, generator)
        with open(os.path.join(HERE, name + ".lowdin.json"), "w") as f:
            json.dump(ref, f, indent=1)
            f.write("\n")
        print(name, ref["energy"])


if __name__ == "__main__":
    main()
