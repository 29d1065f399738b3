"""Fragments and multicentre indices through the module: the same numbers as
the command line, atoms counted from 0 in lists, arrays for every field,
and the errors of bad requests."""

import json

import numpy as np
import pytest

import mirvante
from conftest import DATA, command_line_json
from test_matrices import closed_shell

GROUPS = DATA / "groups"


def reference(name):
    return json.loads((GROUPS / f"{name}.ref.json").read_text())


def test_file_fields_are_arrays_of_the_json_numbers():
    path = GROUPS / "nh3bh3_rhf_ccpvdz.fchk"
    # NH3 given as atoms counted from 0; the BH3 atoms form the last fragment.
    r = mirvante.analyse(path, fragments=[[0, 1, 2, 3]], multicenter=[[0, 4], [4, 0, 1]])
    (d,) = command_line_json([path], "--fragments", "1-4", "--multicenter", "1,5;5,1,2")
    assert r.to_dict() == d
    ref = reference("nh3bh3_rest_lowdin")
    np.testing.assert_allclose(r.fragment_bond_orders, ref["fragment_bond_orders"], atol=1e-5)
    assert [a.tolist() for a in r.fragment_atoms] == [[0, 1, 2, 3], [4, 5, 6, 7]]
    assert r.fragment_charges.tolist() == [f["charge"] for f in d["fragments"]]
    assert r.fragment_valences.tolist() == [f["valence"] for f in d["fragments"]]
    assert r.fragment_bond_orders.tolist() == d["fragment_bond_orders"]
    assert r.fragment_spins is None and r.fragment_bond_orders_alpha is None
    assert r.fragment_wiberg_lowdin is None
    assert r.multicenter_index.tolist() == [x["index"] for x in d["multicenter"]]
    assert r.multicenter_normalized.tolist() == [x["normalized"] for x in d["multicenter"]]
    assert [a.tolist() for a in r.multicenter_atoms] == [[0, 4], [4, 0, 1]]
    assert r.multicenter_formula == "closed-shell"
    # The two-atom ring of an SCF density is the bond order.
    assert r.multicenter_index[0] == pytest.approx(r.bond_orders[0, 4], abs=1e-13)


def test_open_shell_through_analyse_many():
    files = [GROUPS / "allyl_uhf_631gs.fchk", GROUPS / "h3plus_rhf_ccpvdz.fchk"]
    results = list(mirvante.analyse_many(files, jobs=2, fragments="auto", multicenter="1,2,3"))
    allyl, h3 = results
    ref = reference("allyl")["multicenter"][0]
    assert allyl.multicenter_index[0] == pytest.approx(ref["index"], abs=1e-9)
    assert allyl.multicenter_formula == "spin-resolved"
    np.testing.assert_allclose(
        allyl.fragment_bond_orders_alpha + allyl.fragment_bond_orders_beta,
        allyl.fragment_bond_orders,
        atol=1e-12,
    )
    assert allyl.fragment_spins.sum() == pytest.approx(1.0, abs=1e-6)
    assert h3.multicenter_index[0] == pytest.approx(8 / 27, abs=1e-8)
    # Without the options the fields are None and the JSON has no such keys.
    plain = mirvante.analyse(files[1])
    assert plain.fragment_bond_orders is None and plain.multicenter_index is None
    assert "fragments" not in plain.to_dict() and "multicenter" not in plain.to_dict()


def test_matrices_give_the_same_groups_as_the_definition():
    S, P, atoms = closed_shell()
    r = mirvante.analyse_matrices(
        S, P, atoms, [6, 8, 1], fragments=[[0], [2, 1]], multicenter="1,2,3;3,2,1"
    )
    W = P @ S
    blocks = lambda a, b: W[np.ix_(atoms == a, atoms == b)]  # noqa: E731
    ring = np.trace(blocks(0, 1) @ blocks(1, 2) @ blocks(2, 0))
    reverse = np.trace(blocks(2, 1) @ blocks(1, 0) @ blocks(0, 2))
    np.testing.assert_allclose(r.multicenter_index, [ring, reverse], rtol=1e-10)
    B = r.bond_orders
    np.testing.assert_allclose(
        r.fragment_bond_orders, [[0.0, B[0, 1] + B[0, 2]], [B[0, 1] + B[0, 2], B[1, 2]]], atol=1e-14
    )
    assert r.fragment_charges.sum() == pytest.approx(r.charges.sum(), abs=1e-12)
    # A spin density splits the bond orders of the fragments by spin (a
    # quarter of P: two unpaired electrons of the eight, as the density
    # check requires a whole number).
    Ps = 0.25 * P
    o = mirvante.analyse_matrices(S, P, atoms, [6, 8, 1], spin_density=Ps, fragments=[[0]])
    np.testing.assert_allclose(
        o.fragment_bond_orders_alpha + o.fragment_bond_orders_beta, o.fragment_bond_orders, atol=1e-12
    )
    assert o.fragment_spins is not None


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"fragments": [[0], [0, 1]]}, ValueError, "fragments '1;1,2': atom 1 is listed twice"),
        ({"fragments": [[-1]]}, ValueError, "-1 is not an atom index"),
        ({"fragments": 3}, TypeError, "fragments must be a str or a list of lists"),
    ],
)
def test_bad_requests_are_refused(kwargs, error, message):
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        mirvante.analyse(DATA / "h2o_rhf_sto3g.fchk", **kwargs)


def test_atoms_beyond_the_molecule():
    with pytest.raises(mirvante.InputError, match="atom 5 is out of range: the molecule has 3"):
        mirvante.analyse(DATA / "h2o_rhf_sto3g.fchk", multicenter=[[0, 4]])
    S, P, atoms = closed_shell()
    with pytest.raises(ValueError, match="fragments: atom 4 is out of range"):
        mirvante.analyse_matrices(S, P, atoms, [6, 8, 1], fragments=[[3]])
