"""Series through the module: the command line's JSON object, the arrays
counted from 0, the plot, frames left out, and the errors of `bonds`."""

import json
import os
from pathlib import Path

import numpy as np
import pytest

import mirvante
from conftest import DATA, run_program

WATERS = [str(DATA / f) for f in ("h2o_rhf_sto3g.fchk", "h2o_mp2_ccpvdz.fchk", "h2o_b3lyp_ccpvdz.fchk")]


def _series_dir():
    d = os.environ.get("MIRVANTE_SERIES")
    if d and Path(d).is_dir():
        return Path(d)
    extra = os.environ.get("MIRVANTE_EXTRA_FCHK")
    beside = Path(extra).resolve().parent / "series" if extra else None
    return beside if beside and beside.is_dir() else None


def test_arrays_and_to_dict_are_the_command_lines_series():
    s = mirvante.series(WATERS, jobs=2)
    out, status = run_program("--series", "--json", *WATERS)
    assert status == 0
    expected = json.loads(out)
    assert s.to_dict() == expected
    d = expected["series"]
    assert s.files == WATERS
    assert s.bonds == [(i - 1, j - 1) for i, j in d["bonds"]] == [(0, 1), (0, 2)]
    assert s.bond_orders.shape == (2, 3)
    assert s.bond_orders.tolist() == d["bond_orders"]
    assert s.energies.tolist() == d["energies"]
    assert s.events == []
    assert s.skipped == []
    assert s.report() == run_program("--series", *WATERS)[0]
    assert "<polyline class=\"bond-line\"" in s.svg()


def test_requested_bonds_count_from_zero():
    s = mirvante.series(WATERS[:2], bonds=[(2, 1), (0, 1)])
    assert s.bonds == [(1, 2), (0, 1)]
    assert s.to_dict()["series"]["bonds"] == [[2, 3], [1, 2]]
    assert s.bond_orders[0].max() < 0.1  # the H-H pair, followed although small


@pytest.mark.parametrize(
    "bonds, message",
    [
        ([(0, 0)], "names the same atom twice"),
        ([(0, 1), (1, 0)], "is given twice"),
        ([(-1, 1)], "atoms are whole numbers from 0"),
        ([(0, 1.5)], "atoms are whole numbers from 0"),
        ([(0,)], "is not a pair"),
        ([], "at least one pair"),
        ([(0, 7)], "--bonds 1-8: the molecule has 3 atoms"),
    ],
)
def test_bad_bonds_raise_value_error(bonds, message):
    with pytest.raises(ValueError, match=message):
        mirvante.series(WATERS, bonds=bonds)


def test_one_path_instead_of_a_list_is_refused():
    with pytest.raises(TypeError, match="a list of files"):
        mirvante.series(WATERS[0])


def test_frames_with_other_atoms_are_skipped_and_named():
    other = str(DATA / "ch2o_rhf_ccpvdz.fchk")
    s = mirvante.series([WATERS[0], other, "no-such-file.fchk", WATERS[1]])
    assert s.files == [WATERS[0], WATERS[1]]
    assert [e.file for e in s.skipped] == [other, "no-such-file.fchk"]
    assert s.skipped[0].message.startswith("not a frame of the series, skipped: it has 4 atoms")
    with pytest.raises(mirvante.InputError, match="no frame of the series"):
        mirvante.series(["no-such-file.fchk"])


def test_shared_scan_against_its_reference():
    folder = _series_dir()
    if folder is None:
        pytest.skip("MIRVANTE_SERIES (or MIRVANTE_EXTRA_FCHK) not set")
    ref = json.loads((folder / "h2_diss.ref.json").read_text())
    s = mirvante.series([folder / f for f in ref["files"]])
    want = ref["series"]
    assert np.allclose(s.bond_orders, want["bond_orders"], atol=1e-5, rtol=0)
    assert np.allclose(s.energies, want["energies"], atol=1e-5, rtol=0)
    assert [(e["frame"] + 1, [a + 1 for a in e["atoms"]], e["kind"]) for e in s.events] == [
        (e["frame"], e["atoms"], e["kind"]) for e in want["events"]
    ]
