"""Files through the module: the same results as the command line, in
order, from any number of threads, and the documented errors."""

import json
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import mirvante
from conftest import DATA, ROOT, command_line_json, run_program, shared_files

FILES = shared_files()


@pytest.fixture(scope="module")
def batch():
    """Each shared file through analyse_many (two files at once) and the
    command line's JSON for it."""
    return list(zip(mirvante.analyse_many(FILES, jobs=2), command_line_json(FILES)))


def test_to_dict_is_the_command_lines_json_for_every_file(batch):
    assert len(batch) == len(FILES) > 20
    for path, (result, expected) in zip(FILES, batch):
        assert result.to_dict() == expected, path
        assert result.status == expected["status"], path
        assert result.file == path


def test_arrays_are_the_json_numbers(batch):
    complete = [(r, d) for r, d in batch if d["status"] == "ok"]
    assert len(complete) > 20
    for r, d in complete:
        atoms = d["atoms"]
        for attribute, field in [
            ("populations", "population"),
            ("charges", "charge"),
            ("total_valence", "total_valence"),
            ("bonded_valence", "bonded_valence"),
            ("free_valence", "free_valence"),
            ("nuclear_charges", "nuclear_charge"),
        ]:
            values = getattr(r, attribute)
            assert values.shape == (len(atoms),)
            assert values.tolist() == [a[field] for a in atoms], (d["file"], attribute)
        assert r.bond_orders.tolist() == d["bond_orders"]
        assert r.bonds == [(b["atoms"][0] - 1, b["atoms"][1] - 1, b["order"]) for b in d["bonds"]]
        assert r.symbols == [a["symbol"] for a in atoms]
        assert r.coordinates.tolist() == [a["xyz_bohr"] for a in atoms]
        assert r.unpaired_electrons == d["unpaired_electrons"]
        assert r.error is None


def test_failed_files_carry_their_error(batch):
    failed = [(r, d) for r, d in batch if d["status"] != "ok"]
    assert failed, "the broken files of tests/data/bad must fail"
    for r, d in failed:
        assert not r.ok and r.bond_orders is None and r.populations is None
        e = r.error
        assert isinstance(e, mirvante.InputError if d["status"] == "error" else mirvante.RefusedError)
        assert (e.code, e.message, e.line) == (
            d["error"]["code"],
            d["error"]["message"],
            d["error"].get("line"),
        )
        with pytest.raises(mirvante.Error):
            r.svg()


def test_one_thread_gives_the_same_results_in_the_same_order(batch):
    some = FILES[:12]
    one = [r.to_dict() for r in mirvante.analyse_many(some, jobs=1)]
    assert one == [r.to_dict() for r, _ in batch[:12]]


@pytest.mark.parametrize(
    "name", ["h2o_rhf_sto3g.fchk", "ch2_rohf_631gs.fchk", "o2_uhf_631gs.fchk", "h2o_mp2_ccpvdz.fchk"]
)
def test_report_and_drawing_are_the_command_lines(tmp_path, name):
    path = str(DATA / name)
    r = mirvante.analyse(path)
    report, status = run_program(path)
    assert status == 0 and r.report() == report
    svg = tmp_path / "x.svg"
    run_program("--svg", svg, "--min-bond", "0.3", path)
    assert mirvante.analyse(path, min_bond=0.3).svg() == svg.read_text()


def test_min_bond_filters_the_bond_list():
    path = str(DATA / "c7h16_rhf_sto3g.fchk")
    (expected,) = command_line_json([path], "--min-bond", "0.99")
    r = mirvante.analyse(path, min_bond=0.99)
    assert r.to_dict() == expected
    assert r.bonds and all(order >= 0.99 for _, _, order in r.bonds)
    assert len(r.bonds) < len(mirvante.analyse(path).bonds)


def test_arrays_are_read_only_views_that_outlive_the_result():
    r = mirvante.analyse(ROOT / "examples" / "water" / "Test.FChk", jobs=1)
    b, q = r.bond_orders, r.populations
    with pytest.raises(ValueError):
        b[0, 1] = 1.0
    expected = r.to_dict()["bond_orders"]
    del r
    assert b.tolist() == expected and np.isclose(q.sum(), 10.0)


def test_four_threads_at_once_get_the_results_of_separate_runs():
    names = ["c7h16_rhf_sto3g.fchk", "ch2_rohf_631gs.fchk", "o2_uhf_631gs.fchk", "h2o_mp2_ccpvdz.fchk"]
    paths = [str(DATA / n) for n in names]
    alone = {p: mirvante.analyse(p, jobs=1).to_dict() for p in paths}
    start = threading.Barrier(4)

    def work(p):
        start.wait()  # the four analyses begin together
        return [mirvante.analyse(p, jobs=2).to_dict() for _ in range(3)]

    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(work, paths))
    for p, runs in zip(paths, results):
        assert runs == [alone[p]] * 3, p


def test_analyse_raises_the_documented_errors(tmp_path):
    empty = tmp_path / "empty.fchk"
    empty.write_text("")
    cases = ["no-such-file.fchk", str(DATA), str(empty)] + [
        f for f in FILES if "/bad/" in f
    ]
    expected = command_line_json(cases)
    for path, d in zip(cases, expected):
        if d["status"] == "ok":
            continue
        with pytest.raises(mirvante.Error) as caught:
            mirvante.analyse(path)
        e = caught.value
        kind = mirvante.InputError if d["status"] == "error" else mirvante.RefusedError
        assert type(e) is kind, path
        assert (e.file, e.code, e.line, e.message) == (
            path,
            d["error"]["code"],
            d["error"].get("line"),
            d["error"]["message"],
        )
        assert e.message in str(e)
    assert sum(d["status"] != "ok" for d in expected) >= 3


def test_analyse_many_goes_on_after_a_failed_file():
    paths = [str(DATA / "h2_rhf_sto3g.fchk"), "no-such-file.fchk", str(DATA / "ne_rhf_631gs.fchk")]
    results = list(mirvante.analyse_many(paths, jobs=2))
    assert [r.status for r in results] == ["ok", "error", "ok"]
    assert isinstance(results[1].error, mirvante.InputError)
    assert results[1].error.file == "no-such-file.fchk"


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"jobs": 0}, ValueError),
        ({"jobs": 5000}, ValueError),
        ({"jobs": 1.5}, TypeError),
        ({"min_bond": float("nan")}, ValueError),
        ({"density": "  "}, ValueError),
        ({"density": 2}, TypeError),
    ],
)
def test_bad_arguments(kwargs, error):
    with pytest.raises(error):
        mirvante.analyse(DATA / "h2_rhf_sto3g.fchk", **kwargs)


@pytest.mark.parametrize("kind", ["SCF", "MP2", "CC"])
def test_density_is_chosen_as_the_command_line_chooses_it(kind):
    path = str(DATA / "h2o_mp2_ccpvdz.fchk")
    (expected,) = command_line_json([path], "--density", kind)
    (many,) = mirvante.analyse_many([path], density=kind)
    assert many.to_dict() == expected
    if expected["status"] == "ok":
        assert mirvante.analyse(path, density=kind).to_dict() == expected
        assert expected["density"] == f"Total {kind} Density"
    else:
        with pytest.raises(mirvante.RefusedError) as caught:
            mirvante.analyse(path, density=kind)
        assert caught.value.message == expected["error"]["message"]


def test_abandoned_batch_ends_cleanly():
    paths = [str(DATA / "c7h16_rhf_sto3g.fchk")] * 20
    it = mirvante.analyse_many(paths, jobs=2)
    first = next(it)
    assert first.ok
    del it  # the files under way finish; the others are not started


def test_fields_of_the_json_object_are_attributes():
    r = mirvante.analyse(DATA / "o2_uhf_631gs.fchk")
    d = r.to_dict()
    for key in ("status", "method", "electrons", "spin", "density", "spin_density_used", "trace_x"):
        assert getattr(r, key) == d[key]
    assert isinstance(r.bond_orders, np.ndarray) and r.bond_orders.shape == (2, 2)
    with pytest.raises(AttributeError):
        r.no_such_field
    assert json.loads(json.dumps(d)) == d


def test_screen_example_lists_the_shortest_and_strongest_bonds(tmp_path):
    import shutil
    import subprocess
    import sys

    for name in ["h2_rhf_sto3g.fchk", "n2_rhf_ccpvtz.fchk", "h2o_rhf_sto3g.fchk"]:
        shutil.copy(DATA / name, tmp_path / name)
    (tmp_path / "notes.txt").write_text("not a wave function\n")
    p = subprocess.run(
        [sys.executable, str(ROOT / "examples" / "python" / "screen.py"), str(tmp_path), "--top", "1", "-j", "2"],
        capture_output=True,
        text=True,
        check=True,
    )
    lines = p.stdout.splitlines()
    assert lines[0] == "3 of 4 files analysed, 4 bonds of order >= 0.5"
    shortest = lines[lines.index("Shortest bonds:") + 2].split()
    strongest = lines[lines.index("Strongest bonds:") + 2].split()
    assert shortest[2:] == ["H1-H2", "h2_rhf_sto3g.fchk"] and float(shortest[0]) == pytest.approx(0.74, abs=1e-3)
    n2 = mirvante.analyse(DATA / "n2_rhf_ccpvtz.fchk").bond_orders[0, 1]
    assert strongest[2:] == ["N1-N2", "n2_rhf_ccpvtz.fchk"] and float(strongest[1]) == pytest.approx(n2, abs=1e-4)
    assert lines[-1].startswith("  notes.txt: ")
