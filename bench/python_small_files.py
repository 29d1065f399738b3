#!/usr/bin/env python3
"""Time mirvante.analyse on small files with the default thread count, one
thread and two threads, alternating the three in every round, and print
the medians (milliseconds per file).

    PYTHONPATH=build/python python3 bench/python_small_files.py [FILE...] [--rounds N]

Default files: the water and methylene examples and h2o_rhf_sto3g.
"""

import argparse
import statistics
import time
from pathlib import Path

import mirvante

ROOT = Path(__file__).resolve().parents[1]
DEFAULT = [
    ROOT / "examples" / "water" / "Test.FChk",
    ROOT / "examples" / "methylene-rohf" / "Test.FChk",
    ROOT / "tests" / "data" / "h2o_rhf_sto3g.fchk",
]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("files", nargs="*", default=[str(f) for f in DEFAULT])
    p.add_argument("--rounds", type=int, default=200)
    a = p.parse_args()
    settings = {"default": None, "jobs=1": 1, "jobs=2": 2}
    for f in a.files:
        times = {k: [] for k in settings}
        for _ in range(a.rounds):
            for name, jobs in settings.items():
                t = time.perf_counter()
                mirvante.analyse(f, jobs=jobs)
                times[name].append(time.perf_counter() - t)
        print(f"{Path(f).parent.name}/{Path(f).name}: " + ", ".join(
            f"{k} {1000 * statistics.median(v):.3f} ms" for k, v in times.items()))


if __name__ == "__main__":
    main()
