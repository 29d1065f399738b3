"""Matrices held in memory through analyse_matrices: known answers,
invariance under the order of the functions, the rejection of bad arrays,
and agreement with the file route on psi4's own wave functions."""

import sys
from pathlib import Path

import numpy as np
import pytest

import mirvante


def h2_minimal(s=0.6):
    """H2 in a minimal basis: the bonding orbital doubly occupied.  W = P S
    has every element 1, so the bond order is 1 and each population 1."""
    S = np.array([[1.0, s], [s, 1.0]])
    P = np.full((2, 2), 1.0 / (1.0 + s))
    return S, P


def closed_shell(seed=7, functions=(3, 4, 2), occupied=4):
    """A closed-shell density over random, well-conditioned S: orbitals
    C = S^-1/2 Q, orthonormal in the metric of S, the first `occupied`
    doubly occupied; basis_atom gives each atom `functions[a]` functions."""
    rng = np.random.default_rng(seed)
    n = sum(functions)
    a = rng.normal(size=(n, n)) * 0.15
    S = np.eye(n) + (a + a.T) / 2
    np.fill_diagonal(S, 1.0)
    w, v = np.linalg.eigh(S)
    assert w.min() > 0.2
    q, _ = np.linalg.qr(rng.normal(size=(n, n)))
    C = v @ np.diag(w**-0.5) @ v.T @ q[:, :occupied]
    P = 2 * C @ C.T
    basis_atom = np.repeat(np.arange(len(functions)), functions)
    return S, P, basis_atom


def test_h2_has_bond_order_one():
    S, P = h2_minimal()
    r = mirvante.analyse_matrices(S, P, [0, 1], [1, 1])
    assert r.status == "ok" and r.electrons == 2 and r.spin == "restricted"
    assert r.bond_orders[0, 1] == pytest.approx(1.0, abs=1e-12)
    assert r.populations == pytest.approx([1.0, 1.0], abs=1e-12)
    assert r.charges == pytest.approx([0.0, 0.0], abs=1e-12)
    assert r.free_valence == pytest.approx([0.0, 0.0], abs=1e-6)
    assert r.bonds == [(0, 1, pytest.approx(1.0, abs=1e-12))]
    assert "BOND ORDER" in r.report().upper()


def test_order_of_the_functions_does_not_matter():
    S, P, atoms = closed_shell()
    ref = mirvante.analyse_matrices(S, P, atoms, [6, 8, 1])
    perm = np.random.default_rng(3).permutation(len(atoms))
    shuffled = mirvante.analyse_matrices(S[np.ix_(perm, perm)], P[np.ix_(perm, perm)], atoms[perm], [6, 8, 1])
    for name in ("bond_orders", "populations", "total_valence", "bonded_valence", "free_valence"):
        np.testing.assert_allclose(getattr(shuffled, name), getattr(ref, name), atol=1e-12, err_msg=name)
    assert ref.electrons == 8 and abs(ref.unpaired_electrons) < 1e-10
    assert ref.bonded_valence == pytest.approx(ref.bond_orders.sum(axis=1), abs=1e-12)


def test_inputs_that_are_not_float64_or_contiguous_give_the_same_numbers():
    S, P, atoms = closed_shell()
    ref = mirvante.analyse_matrices(S, P, atoms, [6, 8, 1])
    fortran = mirvante.analyse_matrices(np.asfortranarray(S), P.T.copy().T, atoms.astype(float), (6, 8, 1))
    big = np.zeros((2 * len(atoms), 2 * len(atoms)))
    big[::2, ::2] = P
    strided = mirvante.analyse_matrices(S.tolist(), big[::2, ::2], list(atoms), [6, 8, 1])
    for r in (fortran, strided):
        assert r.bond_orders.tolist() == ref.bond_orders.tolist()


def test_to_dict_describes_the_arrays():
    S, P, atoms = closed_shell()
    xyz = np.arange(9.0).reshape(3, 3)
    r = mirvante.analyse_matrices(S, P, atoms, [6, 8, 1], coordinates=xyz, nuclear_charges=[4.0, 6.0, 1.0])
    d = r.to_dict()
    assert d["status"] == "ok" and d["basis_functions"] == 9 and d["electrons"] == 8
    assert [a["xyz_bohr"] for a in d["atoms"]] == xyz.tolist()
    assert r.charges == pytest.approx(np.array([4.0, 6.0, 1.0]) - r.populations)
    assert d["bond_orders"] == r.bond_orders.tolist()
    assert "<svg" in r.svg()


def test_an_atom_without_functions_takes_part_with_zeros():
    S, P = h2_minimal()
    r = mirvante.analyse_matrices(S, P, [0, 2], [1, 0, 1])
    assert r.bond_orders.shape == (3, 3)
    assert r.bond_orders[0, 2] == pytest.approx(1.0, abs=1e-12)
    assert r.bond_orders[1].tolist() == [0.0, 0.0, 0.0] and r.populations[1] == 0.0


def test_spin_density_gives_the_spin_term():
    # H2+ like: one alpha electron in the bonding orbital.
    S, P = h2_minimal(0.5)
    Pa = P / 2
    r = mirvante.analyse_matrices(S, Pa, [0, 1], [1, 1], spin_density=Pa)
    assert r.spin_density_used is True and r.spin == "unrestricted"
    assert (r.electrons, r.alpha_electrons, r.beta_electrons) == (1, 1, 0)
    # W = Pa S and R = Pa S have every element 1/2: 1/4 + 1/4.
    assert r.bond_orders[0, 1] == pytest.approx(0.5, abs=1e-12)


def test_overlap_that_is_not_positive_definite_is_refused():
    S = np.array([[1.0, 1.0], [1.0, 1.0]])
    P = np.eye(2)
    with pytest.raises(mirvante.RefusedError) as caught:
        mirvante.analyse_matrices(S, P, [0, 1], [1, 1])
    assert caught.value.code is not None and caught.value.message


S2, P2 = h2_minimal()
NAN = np.array([[1.0, np.nan], [np.nan, 1.0]])
BAD = [
    # arguments replaced, the error message expected
    ({"overlap": np.eye(3)}, r"overlap must be 2 by 2 .* not 3 by 3"),
    ({"density": np.ones((2, 3))}, r"density must be 2 by 2 .* not 2 by 3"),
    ({"overlap": np.ones(4)}, r"overlap must be a 2-dimensional array"),
    ({"overlap": NAN}, r"overlap element \[1, 0\] is not finite: nan"),
    ({"density": np.array([[1.0, 0.2], [0.3, 1.0]])}, r"density is not symmetric: element \[1, 0\]"),
    ({"spin_density": np.full((2, 2), np.inf)}, r"spin_density element \[0, 0\] is not finite"),
    ({"basis_atom": [0, 2]}, r"basis_atom\[1\] is 2, not an atom: atoms are counted from 0 to 1"),
    ({"basis_atom": [-1, 0]}, r"basis_atom\[0\] is -1"),
    ({"basis_atom": [0, 0.5]}, r"basis_atom\[1\] is not an integer: 0.5"),
    ({"basis_atom": [0]}, r"basis_atom must have one entry per basis function \(2, the order of overlap\), not 1"),
    ({"basis_atom": [[0, 1]]}, r"basis_atom must be a 1-dimensional array"),
    ({"basis_atom": []}, r"basis_atom is empty"),
    ({"atomic_numbers": []}, r"atomic_numbers is empty"),
    ({"atomic_numbers": [1, 119]}, r"atomic_numbers\[1\] is 119, not an element"),
    ({"atomic_numbers": ["H", "H"]}, r"atomic_numbers must be an array of numbers"),
    ({"coordinates": np.zeros((3, 3))}, r"coordinates must be 2 by 3"),
    ({"coordinates": np.zeros((2, 2))}, r"coordinates must be an array of shape \(atoms, 3\)"),
    ({"coordinates": [[0, 0, 0], [0, 0, np.nan]]}, r"coordinates element \[1, 2\] is not finite"),
    ({"nuclear_charges": [1.0]}, r"nuclear_charges must have one value per atom \(2\), not 1"),
    ({"nuclear_charges": [1.0, np.inf]}, r"nuclear_charges\[1\] is not finite"),
    ({"min_bond": np.nan}, r"min_bond must be a finite number"),
    ({"jobs": 0}, r"jobs must be from 1 to 4096, not 0"),
]


@pytest.mark.parametrize("change, message", BAD)
def test_bad_arrays_raise_value_error(change, message):
    args = {"overlap": S2, "density": P2, "basis_atom": [0, 1], "atomic_numbers": [1, 1], **change}
    with pytest.raises(ValueError, match=message):
        mirvante.analyse_matrices(
            args.pop("overlap"), args.pop("density"), args.pop("basis_atom"), args.pop("atomic_numbers"), **args
        )


# psi4 in this process: its S and SCF density against its own fchk file of
# the same wave function, read by the file route.
def psi4_or_skip():
    sys.path.append("/usr/lib/x86_64-linux-gnu")
    try:
        import psi4
    except ImportError:
        pytest.skip("psi4 is not installed")
    return psi4


MOLECULES = [
    # name, geometry (Angstrom), charge, multiplicity, reference, basis
    ("water", "O 0 0 0.117\nH 0 0.757 -0.467\nH 0 -0.757 -0.467", 0, 1, "rhf", "cc-pvdz"),
    ("hydroxyl", "O 0 0 0\nH 0 0 0.97", 0, 2, "uhf", "6-31g*"),
    ("methylene", "C 0 0 0.1\nH 0 0.98 -0.5\nH 0 -0.98 -0.5", 0, 3, "rohf", "6-31g*"),
]


@pytest.mark.parametrize("name, geometry, charge, mult, reference, basis", MOLECULES, ids=[m[0] for m in MOLECULES])
def test_psi4_matrices_agree_with_its_fchk_file(tmp_path, monkeypatch, name, geometry, charge, mult, reference, basis):
    psi4 = psi4_or_skip()
    monkeypatch.chdir(tmp_path)  # psi4 leaves timer.dat in the working directory
    psi4.core.be_quiet()
    psi4.core.clean()
    psi4.core.set_output_file(str(tmp_path / "psi4.out"), False)
    mol = psi4.geometry(f"{charge} {mult}\n{geometry}\nsymmetry c1\nno_reorient\nno_com")
    psi4.set_options(
        {"basis": basis, "reference": reference, "scf_type": "pk", "e_convergence": 1e-10, "d_convergence": 1e-10}
    )
    energy, wfn = psi4.energy("scf", return_wfn=True, molecule=mol)
    S = np.asarray(wfn.S())
    Pa, Pb = np.asarray(wfn.Da()), np.asarray(wfn.Db())
    bs = wfn.basisset()
    atoms = [bs.function_to_center(i) for i in range(bs.nbf())]
    Z = [int(mol.Z(a)) for a in range(mol.natom())]
    xyz = np.asarray(mol.geometry())
    # psi4's file of an open shell holds the spin density, which the file
    # route then uses for the second term.
    spin = None if reference == "rhf" else Pa - Pb
    fchk = tmp_path / f"{name}.fchk"
    psi4.fchk(wfn, str(fchk))
    psi4.core.clean()

    from_file = mirvante.analyse(fchk)
    from_arrays = mirvante.analyse_matrices(S, Pa + Pb, atoms, Z, spin_density=spin, coordinates=xyz)
    assert from_arrays.spin_density_used == from_file.spin_density_used
    assert from_arrays.electrons == from_file.electrons
    assert from_file.to_dict()["energy"] == pytest.approx(energy, abs=1e-8)
    for field in ("bond_orders", "populations", "total_valence", "bonded_valence", "free_valence"):
        np.testing.assert_allclose(getattr(from_arrays, field), getattr(from_file, field), rtol=0, atol=1e-8, err_msg=field)
    assert from_arrays.unpaired_electrons == pytest.approx(from_file.unpaired_electrons, abs=1e-7)
    assert np.abs(from_arrays.bond_orders).max() > 0.5
    if reference == "rohf":
        # For a restricted open shell the square-root term is the spin term.
        square_root = mirvante.analyse_matrices(S, Pa + Pb, atoms, Z)
        assert not square_root.spin_density_used
        np.testing.assert_allclose(square_root.bond_orders, from_file.bond_orders, rtol=0, atol=1e-8)


ADAPTED = [
    # name, geometry (Angstrom), charge, multiplicity, reference, symmetry
    ("water c2v", "O 0 0 0.117\nH 0 0.757 -0.467\nH 0 -0.757 -0.467", 0, 1, "rhf", ""),
    ("water c1", "O 0 0 0.117\nH 0 0.757 -0.467\nH 0 -0.757 -0.467", 0, 1, "rhf", "symmetry c1"),
    ("hydroxyl uhf", "O 0 0 0\nH 0 0 0.97", 0, 2, "uhf", ""),
    ("methylene uhf c1", "C 0 0 0.1\nH 0 0.98 -0.5\nH 0 -0.98 -0.5", 0, 3, "uhf", "symmetry c1"),
    ("methylene rohf c2v", "C 0 0 0.1\nH 0 0.98 -0.5\nH 0 -0.98 -0.5", 0, 3, "rohf", ""),
    ("methylene rohf c1", "C 0 0 0.1\nH 0 0.98 -0.5\nH 0 -0.98 -0.5", 0, 3, "rohf", "symmetry c1"),
]


@pytest.mark.parametrize("name, geometry, charge, mult, reference, symmetry", ADAPTED, ids=[m[0] for m in ADAPTED])
def test_from_psi4_agrees_with_psi4s_own_indices(tmp_path, monkeypatch, name, geometry, charge, mult, reference, symmetry):
    psi4 = psi4_or_skip()
    monkeypatch.chdir(tmp_path)
    psi4.core.be_quiet()
    psi4.core.clean()
    psi4.core.set_output_file(str(tmp_path / "psi4.out"), False)
    mol = psi4.geometry(f"{charge} {mult}\n{geometry}\n{symmetry}")
    psi4.set_options(
        {"basis": "cc-pvdz", "reference": reference, "scf_type": "pk", "e_convergence": 1e-10, "d_convergence": 1e-10}
    )
    _, wfn = psi4.energy("scf", return_wfn=True, molecule=mol)
    psi4.oeprop(wfn, "MAYER_INDICES", "LOWDIN_CHARGES", "MULLIKEN_CHARGES")
    r = mirvante.from_psi4(wfn, lowdin=True)
    assert (r.electrons, r.format) == (wfn.nalpha() + wfn.nbeta(), "arrays")
    assert r.spin == ("restricted" if reference == "rhf" else "unrestricted")
    mayer = np.asarray(wfn.array_variable("MAYER_INDICES"))
    np.fill_diagonal(mayer, 0.0)
    np.testing.assert_allclose(r.bond_orders, mayer, rtol=0, atol=1e-10)
    np.testing.assert_allclose(r.charges, np.asarray(wfn.array_variable("MULLIKEN_CHARGES")).ravel(), rtol=0, atol=1e-10)
    np.testing.assert_allclose(r.lowdin_charges, np.asarray(wfn.array_variable("LOWDIN_CHARGES")).ravel(), rtol=0, atol=1e-10)
    np.testing.assert_allclose(r.coordinates, np.asarray(mol.geometry()), rtol=0, atol=1e-12)
    psi4.core.clean()
