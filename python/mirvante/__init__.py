"""Mulliken populations, bond orders and valences of a wave function.

The same analysis as the ``mirvante`` command line, importable::

    import mirvante
    r = mirvante.analyse("water.fchk")
    print(r.bond_orders)

- :func:`analyse` reads any file the command line reads;
- :func:`analyse_many` analyses many files, several at a time;
- :func:`analyse_matrices` takes an overlap matrix and a density already in
  memory (from psi4, PySCF, ...) as numpy arrays;
- :func:`series` follows bond orders along the frames of a path (a scan, an
  IRC, two structures side by side) and returns a :class:`Series`.

Each returns a :class:`Result`.  Atoms are counted from 0 in every array and
list of a Result, as numpy counts; the JSON object of :meth:`Result.to_dict`
keeps the command line's numbering from 1.
"""

from __future__ import annotations

import json as _json
import os as _os
import re as _re

import numpy as _np

from . import _mirvante

__all__ = [
    "Error",
    "InputError",
    "RefusedError",
    "Result",
    "Series",
    "analyse",
    "analyse_many",
    "analyse_matrices",
    "series",
]


class Error(Exception):
    """A file or an analysis that could not be completed.

    ``code`` is the stop code (a string such as ``"8600"``) or None, ``file``
    the input as given, ``line`` the line of the file concerned or None,
    ``message`` what went wrong, as the command line's diagnostic says it.
    """

    def __init__(self, message, *, code=None, file=None, line=None):
        super().__init__(message)
        self.message = message
        self.code = code
        self.file = file
        self.line = line

    def __str__(self):
        where = self.file or ""
        if where and self.line:
            where += f":{self.line}"
        text = f"{where}: {self.message}" if where else self.message
        return f"{text} (stop {self.code})" if self.code else text


class RefusedError(Error):
    """The input was read but cannot be analysed (a stop of the analysis)."""


class InputError(Error):
    """The input could not be read: a missing or unreadable file, a file
    that is not a checkpoint file, too little memory."""


def _error_of(d):
    if d.get("status") == "ok":
        return None
    e = d.get("error") or {}
    kind = InputError if d.get("status") == "error" else RefusedError
    return kind(
        e.get("message", "the analysis did not finish"),
        code=e.get("code"),
        file=d.get("file") or None,
        line=e.get("line"),
    )


def _as_array(value):
    """A JSON value as numpy shows it: lists of numbers become arrays."""
    if isinstance(value, list) and value and all(
        isinstance(x, (int, float)) and not isinstance(x, bool)
        or isinstance(x, list)
        for x in value
    ):
        try:
            return _np.array(value, dtype=float)
        except ValueError:
            return value
    return value


class Result:
    """What the analysis of one input gave.

    The fields of the command line's JSON object are attributes of the same
    names (``status``, ``method``, ``electrons``, ``unpaired_electrons``,
    ...; None where the object has no such field).  The per-atom values and
    the bond orders are read-only numpy arrays, atoms counted from 0:
    ``populations``, ``charges``, ``total_valence``, ``bonded_valence``,
    ``free_valence`` and ``bond_orders`` (n by n).  Any other per-atom field
    of the JSON object is an array under that field's name.  They are None
    when the analysis did not complete (``status`` is not ``"ok"``; ``error``
    says why).
    """

    __slots__ = ("_run", "_dict")

    _FIELDS = (
        "file",
        "status",
        "title",
        "method",
        "electrons",
        "alpha_electrons",
        "beta_electrons",
        "basis_functions",
        "spin",
        "density",
        "density_check",
        "spin_density_used",
        "unpaired_electrons",
        "hermiticity",
        "trace_x",
    )

    def __init__(self, run):
        self._run = run
        self._dict = _json.loads(run.json)

    def __repr__(self):
        what = self._dict.get("file") or "arrays"
        return f"<mirvante.Result {what!r} {self.status}>"

    @property
    def ok(self) -> bool:
        """True when the analysis completed (``status == "ok"``)."""
        return self._run.ok

    @property
    def error(self):
        """The error (an :class:`Error`) of a failed analysis, else None."""
        return _error_of(self._dict)

    def to_dict(self):
        """The JSON object of the command line for this input, parsed."""
        return _json.loads(self._run.json)

    def report(self) -> str:
        """The text report, as the command line prints it for one file (for
        arrays: the records of the stages that apply to them)."""
        return self._run.report

    def svg(self) -> str:
        """The drawing of the molecule as an SVG document (bonds from
        ``min_bond`` on).  Raises the result's error when the analysis did
        not complete."""
        if not self.ok:
            raise self.error
        return self._run.svg()

    @property
    def populations(self):
        """Mulliken gross population of each atom."""
        return self._run.populations

    @property
    def charges(self):
        """Mulliken charge of each atom: its nuclear charge minus its
        population."""
        return self._run.charges

    @property
    def total_valence(self):
        return self._run.total_valence

    @property
    def bonded_valence(self):
        return self._run.bonded_valence

    @property
    def free_valence(self):
        return self._run.free_valence

    @property
    def bond_orders(self):
        """Bond order of every pair of atoms, an n by n array with a zero
        diagonal."""
        return self._run.bond_orders

    @property
    def bonds(self):
        """The pairs of order ``min_bond`` or more, as (i, j, order) with
        i < j counted from 0, in the order of the JSON object."""
        return [
            (b["atoms"][0] - 1, b["atoms"][1] - 1, b["order"])
            for b in self._dict.get("bonds", [])
        ]

    def _atoms(self):
        return self._dict.get("atoms")

    @property
    def atomic_numbers(self):
        atoms = self._atoms()
        if atoms is None:
            return None
        return _np.array([a["atomic_number"] for a in atoms], dtype=int)

    @property
    def symbols(self):
        atoms = self._atoms()
        return None if atoms is None else [a["symbol"] for a in atoms]

    @property
    def nuclear_charges(self):
        return self._atom_field("nuclear_charge")

    @property
    def coordinates(self):
        """Cartesian coordinates of the atoms in bohr, n by 3."""
        atoms = self._atoms()
        if atoms is None:
            return None
        return _np.array([a["xyz_bohr"] for a in atoms], dtype=float).reshape(-1, 3)

    def _atom_field(self, name):
        atoms = self._atoms()
        if atoms is None:
            return None
        return _np.array(
            [_np.nan if a[name] is None else a[name] for a in atoms], dtype=float
        )

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        d = self._dict
        if name in Result._FIELDS:
            return d.get(name)
        if name in d:
            return _as_array(d[name])
        atoms = d.get("atoms")
        if atoms and name in atoms[0]:
            return self._atom_field(name)
        raise AttributeError(f"a Result has no field {name!r}")

    def __dir__(self):
        names = set(super().__dir__()) | set(Result._FIELDS) | set(self._dict)
        atoms = self._dict.get("atoms")
        if atoms:
            names |= set(atoms[0])
        return sorted(names)


def _jobs(jobs):
    if jobs is None:
        return _mirvante.default_jobs
    if isinstance(jobs, bool) or not isinstance(jobs, int):
        raise TypeError(f"jobs must be an int or None, not {type(jobs).__name__}")
    return jobs


def _path(path):
    p = _os.fspath(path)
    return _os.fsdecode(p) if isinstance(p, bytes) else p


def _density(density):
    if density is None:
        return ""
    if not isinstance(density, str):
        raise TypeError(f"density must be a str or None, not {type(density).__name__}")
    return density


def analyse(path, *, min_bond=0.1, density=None, jobs=None) -> Result:
    """Analyse one file, as ``mirvante --json FILE`` does.

    ``path`` is any file the command line reads (``"-"`` is standard input).
    ``min_bond`` is the threshold of ``bonds`` and of the drawing; ``density``
    the kind of total density to analyse, as ``--density`` takes it
    (``"SCF"``, ``"MP2"``, ...; default: the file's last one); ``jobs`` the
    number of threads (default: the number of cores).  Raises
    :class:`InputError` when the file cannot be read and
    :class:`RefusedError` when it cannot be analysed.  Several threads may
    call it at once: it does not hold the interpreter's lock while it works.
    """
    result = Result(
        _mirvante.analyse_file(_path(path), float(min_bond), _jobs(jobs), _density(density))
    )
    if not result.ok:
        raise result.error
    return result


def analyse_many(paths, *, jobs=None, min_bond=0.1, density=None):
    """Analyse many files and yield their Results in the order given.

    Up to ``jobs`` files (default: the number of cores) are analysed at
    once, and threads left idle help the files in progress; ``min_bond`` and
    ``density`` as for :func:`analyse`.  A file that
    cannot be read or analysed yields a Result whose ``status`` is not
    ``"ok"`` (its ``error`` says why); nothing is raised, and the other
    files go on.
    """
    batch = _mirvante.Batch(
        [_path(p) for p in paths], _jobs(jobs), float(min_bond), _density(density)
    )
    for run in batch:
        yield Result(run)


def analyse_matrices(
    overlap,
    density,
    basis_atom,
    atomic_numbers,
    *,
    spin_density=None,
    coordinates=None,
    nuclear_charges=None,
    min_bond=0.1,
    jobs=None,
) -> Result:
    """Analyse an overlap matrix and a density held in memory.

    ``overlap`` (S) and ``density`` (the total density P) are symmetric
    n by n arrays over the same n basis functions, ``basis_atom`` gives for
    each function the index (from 0) of its atom, ``atomic_numbers`` one
    value per atom.  With ``spin_density`` (Ps = Pa - Pb of a
    spin-unrestricted SCF wave function) the second bond-order term comes
    from it; without, from the square root of the density of effectively
    unpaired electrons (restricted open-shell and correlated densities).
    ``coordinates`` (bohr, atoms by 3) serve the drawing; ``nuclear_charges``
    (default: the atomic numbers) give the charges, for effective core
    potentials.  The electron count is trace(P S) rounded.

    S and P are copied once, into the order of the atoms.  Arrays of the
    wrong shape, with values that are not finite, not symmetric, or with an
    atom index out of range raise ValueError.  A stop of the analysis (S not
    positive definite, say) raises :class:`RefusedError`.
    """
    run = _mirvante.analyse_arrays(
        overlap,
        density,
        basis_atom,
        atomic_numbers,
        spin_density,
        coordinates,
        nuclear_charges,
        float(min_bond),
        _jobs(jobs),
    )
    result = Result(run)
    if not result.ok:
        raise result.error
    return result


class Series:
    """Bond orders along a series of frames, as ``mirvante --series`` gives
    them.

    ``files`` are the frames analysed, in the order given (a file that failed
    or has other atoms than the first frame is left out and listed in
    ``skipped``).  ``bonds`` are the pairs followed as (i, j), atoms counted
    from 0; ``bond_orders`` a numpy array of one row per bond and one column
    per frame; ``energies`` one value per frame (NaN where the file has
    none); ``events`` the bonds formed and broken, each a dict with
    ``frame`` (the column, from 0, where the order is first on its new side
    of 0.5), ``atoms`` (i, j) from 0, ``kind`` (``"formed"`` or
    ``"broken"``), ``from`` and ``to``.  :meth:`to_dict` is the command
    line's JSON object, numbered from 1.
    """

    __slots__ = ("_run", "_dict", "skipped")

    def __init__(self, run):
        self._run = run
        self._dict = _json.loads(run.json)
        self.skipped = [_skipped_error(f, line) for f, line in run.skipped]

    def __repr__(self):
        s = self._dict["series"]
        return f"<mirvante.Series {len(s['files'])} frames, {len(s['bonds'])} bonds>"

    @property
    def files(self):
        return list(self._dict["series"]["files"])

    @property
    def bonds(self):
        return [(i - 1, j - 1) for i, j in self._dict["series"]["bonds"]]

    @property
    def bond_orders(self):
        return self._run.bond_orders

    @property
    def energies(self):
        return _np.array(
            [_np.nan if e is None else e for e in self._dict["series"]["energies"]],
            dtype=float,
        )

    @property
    def events(self):
        return [
            {
                "frame": e["frame"] - 1,
                "atoms": (e["atoms"][0] - 1, e["atoms"][1] - 1),
                "kind": e["kind"],
                "from": e["from"],
                "to": e["to"],
            }
            for e in self._dict["series"]["events"]
        ]

    def to_dict(self):
        """The JSON object of ``mirvante --series --json``, parsed."""
        return _json.loads(self._run.json)

    def report(self) -> str:
        """The text table and the list of bonds formed and broken, as the
        command line prints them."""
        return self._run.text()

    def svg(self) -> str:
        """The line chart of the bond orders (and energies) as an SVG
        document, as ``--plot`` writes it."""
        return self._run.svg()


def _skipped_error(file, line):
    """The diagnostic of a frame left out (``mirvante: FILE[:LINE]: message``)
    as an :class:`Error`."""
    shown = "standard input" if file == "-" else file
    head = "mirvante: " + shown
    rest = line[len(head) :] if line.startswith(head) else ": " + line
    number = None
    match = _re.match(r":(\d+): ", rest)
    if match:
        number, rest = int(match.group(1)), rest[match.end() :]
    elif rest.startswith(": "):
        rest = rest[2:]
    code = None
    code_match = _re.search(r" \(stop (\d+)\)$", rest)
    if code_match:
        code, rest = code_match.group(1), rest[: code_match.start()]
    return Error(rest, code=code, file=file, line=number)


def _series_bonds(bonds):
    if bonds is None:
        return []
    pairs = []
    for pair in bonds:
        try:
            i, j = pair
        except (TypeError, ValueError):
            raise ValueError(f"bonds: {pair!r} is not a pair of atoms (i, j)") from None
        for a in (i, j):
            if isinstance(a, bool) or not isinstance(a, (int, _np.integer)) or a < 0:
                raise ValueError(f"bonds: {pair!r}: atoms are whole numbers from 0")
        if i == j:
            raise ValueError(f"bonds: {pair!r} names the same atom twice")
        key = (min(int(i), int(j)) + 1, max(int(i), int(j)) + 1)
        if key in pairs:
            raise ValueError(f"bonds: {pair!r} is given twice")
        pairs.append(key)
    if not pairs:
        raise ValueError("bonds: give at least one pair, or None for the default")
    return pairs


def series(paths, *, bonds=None, min_bond=0.1, density=None, jobs=None) -> Series:
    """Follow bond orders along a series of files, as
    ``mirvante --series --json FILE...`` does.

    ``paths`` are the frames of one path in order; every frame must have the
    same atoms in the same order.  ``bonds`` are the pairs of atoms to follow
    as (i, j) counted from 0 (default: every pair whose order reaches
    ``min_bond`` in some frame); ``density`` and ``jobs`` as for
    :func:`analyse`.  Frames that fail or have other atoms are left out and
    listed in :attr:`Series.skipped`.  Raises ValueError for a pair that names
    an atom the molecule lacks, and :class:`InputError` when no frame could
    be analysed.
    """
    if isinstance(paths, (str, bytes, _os.PathLike)):
        # One path would be taken character by character.
        raise TypeError("paths must be a list of files, not one path")
    run = _mirvante.analyse_series(
        [_path(p) for p in paths],
        _series_bonds(bonds),
        float(min_bond),
        _jobs(jobs),
        _density(density),
    )
    if run.status < 0:
        raise ValueError(run.diagnostics[-1] if run.diagnostics else "bonds: bad pair")
    result = Series(run)
    if not result.files:
        first = result.skipped[0] if result.skipped else None
        raise InputError(
            "no frame of the series could be analysed"
            + (f" ({first})" if first is not None else ""),
            file=first.file if first is not None else None,
        )
    return result
