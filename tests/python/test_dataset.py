"""The dataset example on a Dask LocalCluster of two workers: the records
are analyse_many's, failures are recorded, and a second run resumes."""

import csv
import gzip
import json
import os
import shutil
import sys
from pathlib import Path

import pytest

import mirvante
from conftest import DATA, ROOT

sys.path.insert(0, str(ROOT / "examples" / "python"))

# The cluster's worker processes would start under the sanitizers' preloaded
# runtime too, which the interpreter is not built for.
pytestmark = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="Dask workers under the sanitizers"
)


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    root = tmp_path_factory.mktemp("tree")
    for k, name in enumerate(["h2_rhf_sto3g.fchk", "o2_uhf_631gs.fchk", "h2o_mp2_ccpvdz.fchk", "ne_rhf_631gs.fchk"]):
        (root / f"set{k % 2}").mkdir(exist_ok=True)
        shutil.copy(DATA / name, root / f"set{k % 2}" / name)
    shutil.copy(DATA / "molden" / "ch3_uhf_sto3g.molden", root / "ch3.molden")
    (root / "set0" / "broken.fchk").write_text("not a wave function\n")
    (root / "notes.txt").write_text("not one of ours\n")
    return root


def test_dataset_on_two_workers_agrees_with_analyse_many_and_resumes(tree, tmp_path):
    pytest.importorskip("dask.distributed")
    import dataset_dask

    files = dataset_dask.wave_function_files(tree)
    assert len(files) == 6 and not any(f.endswith(".txt") for f in files)
    out = tmp_path / "jsonl"
    assert dataset_dask.run(tree, out, chunk=2, workers=2, lowdin=True) == (5, 1, 0)
    records = [json.loads(line) for part in sorted(out.glob("part-*.jsonl")) for line in part.open()]
    expected = [r.to_dict() for r in mirvante.analyse_many(files, lowdin=True)]
    assert sorted(records, key=lambda d: d["file"]) == sorted(expected, key=lambda d: d["file"])
    assert len(list(out.glob("part-*"))) == 3

    # A new file is the only work of the next run.
    shutil.copy(DATA / "h2o_rhf_sto3g.fchk", tree / "h2o.fchk")
    assert dataset_dask.run(tree, out, chunk=2, workers=2, lowdin=True) == (1, 0, 6)
    assert len(list(out.glob("part-*"))) == 4


def test_table_has_one_row_per_atom_and_one_per_failure(tree, tmp_path):
    pytest.importorskip("dask.distributed")
    import dataset_dask

    out = tmp_path / "table"
    analysed, failed, _ = dataset_dask.run(tree, out, table=True, chunk=4, workers=2)
    rows = []
    for part in sorted(out.glob("part-*.csv.gz")):
        with gzip.open(part, "rt", newline="") as f:
            rows += list(csv.DictReader(f))
    files = dataset_dask.wave_function_files(tree)
    results = {r.file: r for r in mirvante.analyse_many(files)}
    assert failed == 1 and analysed == len(files) - 1
    for f, r in results.items():
        mine = [row for row in rows if row["file"] == f]
        if not r.ok:
            assert [row["status"] for row in mine] == [r.status] and mine[0]["error"] == r.error.message
            continue
        assert [row["atom"] for row in mine] == r.labels
        assert [float(row["charge"]) for row in mine] == r.charges.tolist()
