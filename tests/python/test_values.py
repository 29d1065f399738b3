"""A Result as a value (every field on every Result, read-only arrays,
pickle, from_dict, tables, notebook display), the Löwdin analysis from
Python, the checks of matrices from memory, and the module's command
line."""

import os
import pickle
import subprocess
import sys
import threading

import numpy as np
import pytest

import mirvante
from conftest import DATA, ROOT, command_line_json, run_program, shared_files
from test_matrices import closed_shell, h2_minimal

FILES = shared_files()


def test_lowdin_from_python_is_the_command_lines_for_every_file():
    expected = command_line_json(FILES, "--lowdin")
    results = list(mirvante.analyse_many(FILES, jobs=2, lowdin=True))
    assert len(results) == len(FILES) > 20
    for path, r, d in zip(FILES, results, expected):
        assert r.to_dict() == d, path
        if r.ok:
            assert r.lowdin_charges.tolist() == [a["lowdin_charge"] for a in d["atoms"]], path
            assert r.wiberg_lowdin.tolist() == d["wiberg_lowdin"], path
    one = mirvante.analyse(DATA / "ch3_uhf_631gs.fchk", lowdin=True)
    assert one.to_dict() == command_line_json([str(DATA / "ch3_uhf_631gs.fchk")], "--lowdin")[0]


def some_results():
    """Results of every kind: closed and open shells, correlated, Molden,
    arrays, a failed file."""
    names = ["h2o_rhf_sto3g.fchk", "o2_uhf_631gs.fchk", "h2o_mp2_ccpvdz.fchk", "molden/ch3_uhf_sto3g.molden"]
    results = [mirvante.analyse(DATA / n, lowdin=(k % 2 == 0)) for k, n in enumerate(names)]
    S, P, atoms = closed_shell()
    results.append(mirvante.analyse_matrices(S, P, atoms, [6, 1, 8]))
    results += list(mirvante.analyse_many(["no-such-file.fchk"]))
    return results


DOCUMENTED = mirvante.Result._FIELDS + (
    "index", "atomic_numbers", "symbols", "nuclear_charges", "ghost", "coordinates", "labels",
    "populations", "charges", "total_valence", "bonded_valence", "free_valence", "spin_populations",
    "lowdin_populations", "lowdin_charges", "bond_orders", "wiberg_lowdin", "bonds",
)


def test_every_result_has_every_field_with_its_type_and_arrays_read_only():
    for r in some_results():
        values = {name: getattr(r, name) for name in DOCUMENTED}  # none raises
        d = r.to_dict()
        for name in mirvante.Result._FIELDS:
            assert values[name] == d.get(name), name
        if not r.ok:
            assert all(values[n] is None for n in ("energy", "charge", "multiplicity", "basis", "index", "symbols"))
            assert values["bonds"] == []
            continue
        n = len(d["atoms"])
        assert values["index"].dtype.kind == "i" and values["index"].tolist() == list(range(1, n + 1))
        assert values["atomic_numbers"].dtype.kind == "i"
        assert values["ghost"].dtype == bool and values["ghost"].shape == (n,)
        assert all(isinstance(s, str) for s in values["symbols"])
        assert r.symbol == values["symbols"] and r.atomic_number.tolist() == values["atomic_numbers"].tolist()
        assert values["labels"][0] == f"{values['symbols'][0]}1"
        assert (values["spin_populations"] is None) == (d["atoms"][0]["spin_population"] is None)
        assert (values["wiberg_lowdin"] is None) == (d["wiberg_lowdin"] is None)
        for name, v in values.items():
            if isinstance(v, np.ndarray):
                assert not v.flags.writeable, name
                with pytest.raises(ValueError):
                    v.flat[0] = 1


def test_pickle_and_from_dict_give_the_same_values():
    for r in some_results():
        for copy in (pickle.loads(pickle.dumps(r)), mirvante.Result.from_dict(r.to_dict(), r.report())):
            assert copy.to_dict() == r.to_dict()
            assert copy.report() == r.report()
            assert copy.ok == r.ok and repr(copy) == repr(r)
            for name in DOCUMENTED:
                a, b = getattr(copy, name), getattr(r, name)
                if isinstance(b, np.ndarray):
                    assert np.array_equal(a, b, equal_nan=b.dtype.kind == "f"), name
                else:
                    assert a == b, name
        if r.ok:
            assert pickle.loads(pickle.dumps(r)).svg() == r.svg()
        else:
            e = pickle.loads(pickle.dumps(r.error))
            assert (type(e), e.message, e.code, e.file) == (type(r.error), r.error.message, r.error.code, r.error.file)
    with pytest.raises(TypeError):
        mirvante.Result.from_dict({"file": "x"})


def test_tables_and_notebook_display():
    r = mirvante.analyse(DATA / "o2_uhf_631gs.fchk", lowdin=True)
    html = r._repr_html_()
    assert "O1" in html and "o2_uhf_631gs.fchk" in html and "<table>" in html
    assert r._repr_svg_() == r.svg()
    failed = next(mirvante.analyse_many(["no-such-file.fchk"]))
    assert failed._repr_svg_() is None and "no-such-file.fchk" in failed._repr_html_()
    try:
        import pandas  # noqa: F401
    except ImportError:
        pytest.skip("pandas is not installed")
    atoms = r.to_dataframe()
    assert atoms.index.tolist() == ["O1", "O2"]
    assert atoms["charge"].tolist() == r.charges.tolist()
    assert atoms["spin_population"].tolist() == r.spin_populations.tolist()
    bonds = r.to_dataframe("bonds")
    assert bonds[["atom1", "atom2"]].values.tolist() == [["O1", "O2"]]
    assert bonds["order"][0] == r.bond_orders[0, 1] and bonds["wiberg_lowdin"][0] == r.wiberg_lowdin[0, 1]


def test_to_dataframe_without_pandas_says_what_it_needs(monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError, match="needs pandas"):
        mirvante.analyse(DATA / "h2_rhf_sto3g.fchk").to_dataframe()


# Densities that a file would be refused for: the same refusal from memory.
S2, P2 = h2_minimal()
REFUSED = [
    # density, options, the message expected
    (3 * P2, {}, r"natural occupations outside \[-0.1, 2.1\]"),
    (10 * closed_shell()[1], {}, r"natural occupations outside"),
    (P2, {"electrons": 3}, r"The density holds 2.000000 electrons \(trace of P S\), not 3"),
    (1.3 * P2, {}, r"holds 2.600000 electrons .* not a whole number of at least one"),
    (0 * P2, {}, r"holds 0.000000 electrons"),
    ((P2 / 2, P2 / 2 * 1.5), {}, r"holds 2.500000 electrons"),
]


@pytest.mark.parametrize("density, options, message", REFUSED)
def test_matrices_are_checked_as_a_files_density_is(density, options, message):
    S = S2 if np.shape(density[0] if isinstance(density, tuple) else density)[0] == 2 else closed_shell()[0]
    atoms = [0, 1] if S.shape[0] == 2 else closed_shell()[2]
    numbers = [1] * (max(atoms) + 1)
    with pytest.raises(mirvante.RefusedError, match=message):
        mirvante.analyse_matrices(S, density, atoms, numbers, **options)


def test_two_spin_densities_give_spin_populations_and_the_report_of_a_file():
    S, P = h2_minimal(0.5)
    Pa = P / 2
    both = mirvante.analyse_matrices(S, (Pa, np.zeros((2, 2))), [0, 1], [1, 1], lowdin=True, electrons=1)
    stacked = mirvante.analyse_matrices(S, np.stack([Pa, np.zeros((2, 2))]), [0, 1], [1, 1], lowdin=True)
    given = mirvante.analyse_matrices(S, Pa, [0, 1], [1, 1], spin_density=Pa, lowdin=True)
    assert both.to_dict() == stacked.to_dict() == given.to_dict()
    assert both.spin_populations.tolist() == pytest.approx([0.5, 0.5], abs=1e-12)
    assert both.lowdin_charges.sum() == pytest.approx(1.0, abs=1e-12)
    d = both.to_dict()
    assert (d["format"], d["energy"], d["title"], d["method"]) == ("arrays", None, None, None)
    report = both.report()
    assert "ATOMIC CHARGES AND SPIN POPULATIONS" in report and "BONDS WITH ORDER >= 0.1" in report
    assert "Spin populations of the spin density given;" in report
    with pytest.raises(ValueError, match="not both"):
        mirvante.analyse_matrices(S, (Pa, Pa), [0, 1], [1, 1], spin_density=Pa)


class FakeMole:
    """The methods of a PySCF Mole that from_pyscf uses, over hand-made
    arrays in PySCF's layout: O with 3 functions, H and H with 2 each."""

    def __init__(self):
        self.S, self.P, _ = closed_shell(functions=(3, 2, 2), occupied=5)
        self.natm = 3
        self.nelectron = 10

    def intor_symmetric(self, name):
        assert name == "int1e_ovlp"
        return self.S

    def aoslice_by_atom(self):
        return np.array([[0, 2, 0, 3], [2, 3, 3, 5], [3, 4, 5, 7]])

    def atom_charges(self):
        return np.array([8, 1, 1])

    def atom_symbol(self, a):
        return ["O", "H1", "H2"][a]

    def atom_pure_symbol(self, a):
        return ["O", "H", "H"][a]

    def atom_coords(self):
        return np.arange(9.0).reshape(3, 3)


def test_from_pyscf_takes_the_moles_arrays():
    mol = FakeMole()
    r = mirvante.from_pyscf(mol, mol.P, lowdin=True)
    expected = mirvante.analyse_matrices(
        mol.S, mol.P, [0, 0, 0, 1, 1, 2, 2], [8, 1, 1], coordinates=mol.atom_coords(), lowdin=True
    )
    assert r.to_dict() == expected.to_dict() and r.symbols == ["O", "H", "H"]
    uhf = mirvante.from_pyscf(mol, np.stack([mol.P / 2, mol.P / 2]))
    assert uhf.spin == "unrestricted"
    np.testing.assert_allclose(uhf.bond_orders, r.bond_orders, atol=1e-12)


def test_analyse_many_refuses_a_single_path():
    for single in (str(DATA / "h2_rhf_sto3g.fchk"), DATA / "h2_rhf_sto3g.fchk", b"x.fchk"):
        with pytest.raises(TypeError, match="iterable of paths"):
            mirvante.analyse_many(single)


def test_version_and_the_command_line_of_the_module():
    assert mirvante.__version__.count(".") == 2
    path = str(DATA / "o2_uhf_631gs.fchk")
    p = subprocess.run([sys.executable, "-m", "mirvante", "--json", path, "x.fchk"], capture_output=True, text=True)
    out, status = run_program("--json", path, "x.fchk")
    assert (p.stdout, p.returncode) == (out, status) and status == 1
    assert "x.fchk" in p.stderr


def test_analyse_is_interrupted_at_once(tmp_path):
    # A file that never ends: the analysis waits for its bytes until the
    # interrupt; the writer then lets the abandoned read finish.
    fifo = tmp_path / "slow.fchk"
    os.mkfifo(fifo)
    import _thread
    import signal

    def release():  # lets the read end, interrupted or not
        with open(fifo, "w"):
            pass

    # Python's own handler, also where the interrupt was ignored at start
    # (a background job), so that interrupt_main reaches the main thread.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    timer = threading.Timer(0.3, _thread.interrupt_main)
    safety = threading.Timer(30, release)  # a hang becomes a failure
    timer.start()
    safety.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            mirvante.analyse(fifo)
        assert safety.is_alive()
    finally:
        signal.signal(signal.SIGINT, previous)
        timer.cancel()
        if safety.is_alive():
            safety.cancel()
            release()
