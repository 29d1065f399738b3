"""The matrices of a wave function held by another program, handed to
:func:`mirvante.analyse_matrices`: psi4's Wavefunction, PySCF's Mole with a
density.  Neither program is needed to import mirvante; each adapter uses
only the methods of the object it is given."""

from __future__ import annotations

import numpy as _np

from . import _mirvante

_ATOMIC_NUMBER = {s.upper(): z for z, s in enumerate(_mirvante.element_symbols) if s != "?"}


def _element(symbol):
    """The atomic number of an element symbol ("AG", "Ag", "ghost-H": 1)."""
    text = str(symbol).strip()
    for prefix in ("GHOST-", "GHOST:", "X-"):
        if text.upper().startswith(prefix):
            text = text[len(prefix):]
    letters = "".join(c for c in text if c.isalpha())
    for length in (2, 1):
        z = _ATOMIC_NUMBER.get(letters[:length].upper())
        if z is not None and length <= len(letters):
            return z
    raise ValueError(f"{symbol!r} names no element")


def from_psi4(wfn, **options):
    """Analyse a psi4 Wavefunction: its AO overlap matrix and AO densities
    (so point-group symmetry does not matter), the atom of each basis
    function, the atoms' elements, nuclear charges (less the electrons of an
    effective core) and coordinates.  A restricted closed shell gives its
    total density; spin-unrestricted and restricted open-shell wave
    functions give (Da, Db), whose spin density makes the second bond-order
    term.  ``options`` are those of :func:`mirvante.analyse_matrices`
    (``lowdin``, ``min_bond``, ``jobs``, ...)."""
    import psi4  # the caller holds a psi4 object, so psi4 is importable

    basis = wfn.basisset()
    mol = wfn.molecule()
    overlap = _np.asarray(psi4.core.MintsHelper(basis).ao_overlap())
    da = _np.asarray(wfn.Da_subset("AO"))
    density = 2.0 * da if wfn.same_a_b_dens() else (da, _np.asarray(wfn.Db_subset("AO")))
    atoms = [basis.function_to_center(i) for i in range(basis.nbf())]
    numbers, charges = [], []
    for a in range(mol.natom()):
        if mol.Z(a) == 0.0:  # a ghost atom: basis functions without a nucleus
            numbers.append(0)
            charges.append(0.0)
            continue
        z = int(mol.true_atomic_number(a))
        core = basis.n_ecp_core(mol.label(a)) if basis.has_ECP() else 0
        numbers.append(z)
        charges.append(float(z - core))
    options.setdefault("electrons", int(wfn.nalpha() + wfn.nbeta()))
    options.setdefault("coordinates", _np.asarray(mol.geometry()))
    options.setdefault("nuclear_charges", charges)
    from . import analyse_matrices

    return analyse_matrices(overlap, density, atoms, numbers, **options)


def from_pyscf(mol, dm, **options):
    """Analyse a PySCF Mole and a density in its AO basis: ``dm`` of shape
    (n, n) (a total density) or (2, n, n) (Da and Db of a spin-unrestricted
    or restricted open-shell wave function).  The overlap matrix, the atom
    of each function, the elements, the nuclear charges (less an effective
    core's electrons) and the coordinates come from ``mol``.  ``options``
    as for :func:`mirvante.analyse_matrices`."""
    overlap = _np.asarray(mol.intor_symmetric("int1e_ovlp"))
    slices = _np.asarray(mol.aoslice_by_atom())
    atoms = _np.empty(overlap.shape[0], dtype=int)
    for a, (_, _, first, last) in enumerate(slices):
        atoms[first:last] = a
    charges = [float(q) for q in _np.asarray(mol.atom_charges())]
    numbers = []
    for a in range(mol.natm):
        symbol = mol.atom_pure_symbol(a) if hasattr(mol, "atom_pure_symbol") else mol.atom_symbol(a)
        ghost = charges[a] == 0.0 or str(mol.atom_symbol(a)).upper().startswith(("GHOST", "X-"))
        numbers.append(0 if ghost else _element(symbol))
    dm = _np.asarray(dm, dtype=float)
    density = (dm[0], dm[1]) if dm.ndim == 3 else dm
    options.setdefault("electrons", int(mol.nelectron))
    options.setdefault("coordinates", _np.asarray(mol.atom_coords()))
    options.setdefault("nuclear_charges", charges)
    from . import analyse_matrices

    return analyse_matrices(overlap, density, atoms, numbers, **options)
