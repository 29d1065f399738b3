"""Shared helpers of the Python module's tests: the files to analyse and
the command line to compare with."""

import json
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"


def program():
    exe = os.environ.get("MIRVANTE_PROGRAM", str(ROOT / "build" / "mirvante"))
    if not Path(exe).is_file():
        pytest.skip(f"the program {exe} is not built (MIRVANTE_PROGRAM names it)")
    return exe


def run_program(*args):
    """The command line's standard output and status."""
    p = subprocess.run([program(), *map(str, args)], capture_output=True, text=True)
    return p.stdout, p.returncode


def command_line_json(paths, *options):
    """The command line's JSON objects for the files, in order."""
    out, _ = run_program("--json", "-j", "2", *options, *paths)
    lines = out.splitlines()
    assert len(lines) == len(paths)
    return [json.loads(line) for line in lines]


def _from_env(variable, pattern):
    d = os.environ.get(variable)
    return sorted(str(p) for p in Path(d).rglob(pattern)) if d and Path(d).is_dir() else []


def shared_files():
    """Every checkpoint file the suite knows: the bundled fixtures, the
    hand-made broken ones, the examples, and the shared directories named
    by MIRVANTE_BEYOND, MIRVANTE_EXTRA_FCHK, MIRVANTE_MOLDEN and MIRVANTE_WFX
    when set; the .wfn, .wfx and .mwfn twins of tests/data/wfx."""
    files = sorted(str(p) for p in DATA.glob("*.fchk"))
    files += sorted(str(p) for p in (DATA / "bad").glob("*"))
    files += sorted(str(p) for p in (ROOT / "examples").glob("*/Test.FChk"))
    files += _from_env("MIRVANTE_BEYOND", "*.fchk")
    files += _from_env("MIRVANTE_EXTRA_FCHK", "*.fchk")
    files += _from_env("MIRVANTE_MOLDEN", "*.molden*")
    for pattern in ("*.wfn", "*.wfx", "*.mwfn"):
        files += sorted(str(p) for p in (DATA / "wfx").glob(pattern))
        files += _from_env("MIRVANTE_WFX", pattern)
    return [f for f in files if not f.endswith(".json")]
