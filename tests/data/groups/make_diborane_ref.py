"""Diborane, RHF/6-31G* (Cartesian d), D2h, fixed geometry (B-B 1.763 A,
B-Hb 1.314 A, B-Ht 1.184 A): the checkpoint file b2h6_rhf_631gs.fchk and the
reference numbers of b2h6.ref.json, computed with numpy from psi4's own
density and overlap matrices (the Mulliken-type quantities do not depend on
the normalisation of the functions).  Run with psi4 1.3.2:
    PYTHONPATH=/usr/lib/x86_64-linux-gnu /usr/bin/python3 make_diborane_ref.py
"""
import json

import numpy as np
import psi4

GEOMETRY = """
0 1
B   0.0      0.0      0.8815
B   0.0      0.0     -0.8815
H   0.9745   0.0      0.0
H  -0.9745   0.0      0.0
H   0.0      1.0355   1.4555
H   0.0     -1.0355   1.4555
H   0.0      1.0355  -1.4555
H   0.0     -1.0355  -1.4555
symmetry c1
no_reorient
no_com
"""
RINGS = "1,3,2;2,3,1;1,2;1,2,3;1,5,6"
FRAGMENTS = "1,5,6;2,7,8"

psi4.set_memory("500 MB")
psi4.core.set_output_file("b2h6.out", False)
psi4.geometry(GEOMETRY)
psi4.set_options({"basis": "6-31g*", "scf_type": "pk", "e_convergence": 1e-10,
                  "d_convergence": 1e-8, "puream": False})
_, wfn = psi4.energy("scf", return_wfn=True)
psi4.fchk(wfn, "b2h6_rhf_631gs.fchk")

S = np.asarray(wfn.S())
P = np.asarray(wfn.Da()) + np.asarray(wfn.Db())
bs = wfn.basisset()
atom = np.array([bs.function_to_center(i) for i in range(bs.nbf())])
nat = atom.max() + 1
Z = np.array([wfn.molecule().Z(a) for a in range(nat)])
W = P @ S


def block(a, b):
    return W[np.ix_(atom == a, atom == b)]


def index(ring):
    r = [a - 1 for a in ring]
    m = np.eye(int((atom == r[0]).sum()))
    for k in range(len(r)):
        m = m @ block(r[k], r[(k + 1) % len(r)])
    return float(np.trace(m))


q = np.array([np.trace(block(a, a)) for a in range(nat)])
B = np.array([[np.sum(block(a, b) * block(b, a).T) for b in range(nat)] for a in range(nat)])
valence = 2 * q - np.diag(B)
np.fill_diagonal(B, 0.0)
groups = [[int(x) - 1 for x in g.split(",")] for g in FRAGMENTS.split(";")]
rest = [a for a in range(nat) if all(a not in g for g in groups)]
groups.append(rest)
F = np.zeros((len(groups), len(groups)))
for f, g in enumerate(groups):
    for h, k in enumerate(groups):
        F[f, h] = sum(B[a, b] for a in g for b in k if (f != h or a < b))
out = {
    "case": "b2h6",
    "description": "diborane: the B-H-B three-centre bonds (both directions), the B-B pair, a "
                   "terminal BH2 ring; fragments BH2, BH2 and the bridging hydrogens",
    "options": ["--json", "--multicenter", RINGS, "--fragments", FRAGMENTS],
    "file": "b2h6_rhf_631gs.fchk",
    "multicenter": [],
    "fragments": [{"atoms": [a + 1 for a in g], "charge": float(sum(Z[a] - q[a] for a in g)),
                   "spin": None, "valence": float(sum(valence[a] for a in g))} for g in groups],
    "fragment_bond_orders": F.tolist(),
}
for ring in [[int(x) for x in r.split(",")] for r in RINGS.split(";")]:
    i = index(ring)
    out["multicenter"].append({"atoms": ring, "index": i,
                               "normalized": float(np.sign(i) * abs(i) ** (1 / len(ring)))})
with open("b2h6.ref.json", "w") as f:
    json.dump(out, f, indent=1)
