#!/usr/bin/env python3
"""Analyse a folder tree of wave-function files on a Dask cluster, for
datasets of many thousands of conformers.

    python3 examples/python/dataset_dask.py TREE OUT [--table] [--chunk N]
        [--workers N] [--scheduler-file FILE] [--lowdin] [--min-bond X]

Every file under TREE that mirvante reads (.fchk, .molden, .mwfn, ... and
their .gz and .xz copies) is analysed.  The files are cut into partitions
of --chunk files; each partition is one task, which a worker analyses with
mirvante.analyse_many and writes to OUT as one file of its own:

- part-NNNNNN.jsonl: the JSON object of each file, one per line (default);
- part-NNNNNN.csv.gz with --table: one row per atom (file, atom label,
  element, charge, valences, ...), compressed; a file that failed has one
  row with its status and error message and no atom.

Failures are recorded, never fatal.  A partition is written to a temporary
name and renamed when complete, and the run resumes: files already in OUT
(analysed or failed) are skipped, so a run that was stopped goes on where
it stopped when started again.

Without --scheduler-file the script starts a LocalCluster on this machine
(--workers processes, one thread each).  On a cluster, start a scheduler
and workers there (dask-jobqueue, or `dask scheduler --scheduler-file
FILE` and `dask worker --scheduler-file FILE` in a Slurm job) and give the
same FILE here; OUT must be on a file system the workers share.
"""

import argparse
import csv
import gzip
import io
import json
import os
import sys
from pathlib import Path

SUFFIXES = (".fchk", ".fch", ".molden", ".molf", ".mwfn", ".wfn", ".wfx")
ATOM_COLUMNS = (
    "file", "status", "atom", "symbol", "atomic_number", "charge", "population",
    "total_valence", "bonded_valence", "free_valence", "spin_population", "lowdin_charge", "error",
)


def wave_function_files(tree):
    """The files under TREE that look like wave-function files, sorted."""
    out = []
    for p in sorted(Path(tree).rglob("*")):
        name = p.name.lower()
        for packed in (".gz", ".xz"):
            if name.endswith(packed):
                name = name[: -len(packed)]
        if p.is_file() and name.endswith(SUFFIXES):
            out.append(str(p))
    return out


def done_files(out):
    """The files recorded in the complete partitions of OUT, and the number
    of the next partition."""
    done, last = set(), -1
    for part in sorted(Path(out).glob("part-*")):
        if ".tmp" in part.name:
            continue
        last = max(last, int(part.name[5:11]))
        if part.name.endswith(".jsonl"):
            with open(part, encoding="utf-8") as f:
                done.update(json.loads(line)["file"] for line in f if line.strip())
        else:
            with gzip.open(part, "rt", encoding="utf-8", newline="") as f:
                done.update(row["file"] for row in csv.DictReader(f))
    return done, last + 1


def atom_rows(d):
    """The rows of one file's JSON object in the per-atom table."""
    if d["status"] != "ok":
        return [{"file": d["file"], "status": d["status"], "error": d["error"]["message"]}]
    return [
        {
            "file": d["file"],
            "status": "ok",
            "atom": f"{a['symbol']}{a['index']}",
            "symbol": a["symbol"],
            "atomic_number": a["atomic_number"],
            "charge": repr(a["charge"]),
            "population": repr(a["population"]),
            "total_valence": repr(a["total_valence"]),
            "bonded_valence": repr(a["bonded_valence"]),
            "free_valence": repr(a["free_valence"]),
            "spin_population": "" if a["spin_population"] is None else repr(a["spin_population"]),
            "lowdin_charge": "" if a["lowdin_charge"] is None else repr(a["lowdin_charge"]),
        }
        for a in d["atoms"]
    ]


def analyse_partition(number, files, out, table, options):
    """One task: analyse FILES and write partition NUMBER of OUT.  Runs on
    a worker; returns (files analysed, files failed)."""
    import mirvante

    records = [r.to_dict() for r in mirvante.analyse_many(files, jobs=1, **options)]
    final = Path(out) / (f"part-{number:06d}" + (".csv.gz" if table else ".jsonl"))
    temporary = final.with_name(final.name + ".tmp")
    if table:
        text = io.StringIO()
        writer = csv.DictWriter(text, fieldnames=ATOM_COLUMNS, lineterminator="\n")
        writer.writeheader()
        for d in records:
            writer.writerows(atom_rows(d))
        with gzip.open(temporary, "wt", encoding="utf-8") as f:
            f.write(text.getvalue())
    else:
        with open(temporary, "w", encoding="utf-8") as f:
            for d in records:
                f.write(json.dumps(d) + "\n")
    os.replace(temporary, final)
    failed = sum(d["status"] != "ok" for d in records)
    return len(records) - failed, failed


def run(tree, out, *, table=False, chunk=64, workers=2, scheduler_file=None, **options):
    """Analyse what is left to do of TREE into OUT; returns (analysed,
    failed, skipped)."""
    from dask.distributed import Client, LocalCluster

    Path(out).mkdir(parents=True, exist_ok=True)
    done, first = done_files(out)
    todo = [f for f in wave_function_files(tree) if f not in done]
    parts = [todo[k : k + chunk] for k in range(0, len(todo), chunk)]
    if scheduler_file:
        client, cluster = Client(scheduler_file=scheduler_file), None
    else:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
    try:
        futures = [
            client.submit(analyse_partition, first + k, files, str(out), table, options, pure=False)
            for k, files in enumerate(parts)
        ]
        counts = client.gather(futures)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    return sum(c[0] for c in counts), sum(c[1] for c in counts), len(done)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("tree")
    p.add_argument("out")
    p.add_argument("--table", action="store_true", help="one compressed per-atom table per partition")
    p.add_argument("--chunk", type=int, default=64, help="files per partition (default 64)")
    p.add_argument("--workers", type=int, default=2, help="local worker processes (default 2)")
    p.add_argument("--scheduler-file", help="a running Dask cluster's scheduler file")
    p.add_argument("--lowdin", action="store_true")
    p.add_argument("--min-bond", type=float, default=0.1)
    a = p.parse_args()
    analysed, failed, skipped = run(
        a.tree, a.out, table=a.table, chunk=a.chunk, workers=a.workers,
        scheduler_file=a.scheduler_file, lowdin=a.lowdin, min_bond=a.min_bond,
    )
    print(f"{analysed} analysed, {failed} failed, {skipped} done before")
    return 0


if __name__ == "__main__":
    sys.exit(main())
