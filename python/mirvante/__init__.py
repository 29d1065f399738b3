"""Mulliken populations, bond orders and valences of a wave function.

The same analysis as the ``mirvante`` command line, importable::

    import mirvante
    r = mirvante.analyse("water.fchk")
    print(r.bond_orders)

- :func:`analyse` reads any file the command line reads;
- :func:`analyse_many` analyses many files, several at a time;
- :func:`analyse_matrices` takes an overlap matrix and a density already in
  memory as numpy arrays;
- :func:`from_psi4` and :func:`from_pyscf` take them from a psi4
  Wavefunction or a PySCF Mole and density.
  memory (from psi4, PySCF, ...) as numpy arrays;
- :func:`series` follows bond orders along the frames of a path (a scan, an
  IRC, two structures side by side) and returns a :class:`Series`.

Each returns a :class:`Result`.  Atoms are counted from 0 in every array and
list of a Result, as numpy counts; the JSON object of :meth:`Result.to_dict`
keeps the command line's numbering from 1.  ``python3 -m mirvante`` runs
the command line.
"""

from __future__ import annotations

import html as _html
import json as _json
import os as _os
import re as _re

import numpy as _np

from . import _mirvante

__version__ = _mirvante.version

__all__ = [
    "Error",
    "InputError",
    "RefusedError",
    "Result",
    "Series",
    "__version__",
    "analyse",
    "analyse_many",
    "analyse_matrices",
    "from_psi4",
    "from_pyscf",
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

    def __reduce__(self):
        return (_make_error, (type(self), self.message, self.code, self.file, self.line))


def _make_error(kind, message, code, file, line):
    return kind(message, code=code, file=file, line=line)


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


def _read_only(a):
    a.setflags(write=False)
    return a


# Per-atom fields of the JSON object: attribute, JSON name, numpy type
# (None: a list of str).  Singular names are the JSON's own; the plural
# forms are the documented attributes.
_ATOM_FIELDS = (
    ("index", "index", int),
    ("atomic_numbers", "atomic_number", int),
    ("symbols", "symbol", None),
    ("nuclear_charges", "nuclear_charge", float),
    ("ghost", "ghost", bool),
    ("spin_populations", "spin_population", float),
    ("lowdin_populations", "lowdin_population", float),
    ("lowdin_charges", "lowdin_charge", float),
)
_ATOM_BY_JSON = {json: (attr, kind) for attr, json, kind in _ATOM_FIELDS}
# The same per-atom values under their JSON names.
_ATOM_ALIASES = {
    "atomic_number": "atomic_numbers",
    "symbol": "symbols",
    "nuclear_charge": "nuclear_charges",
    "xyz_bohr": "coordinates",
    "population": "populations",
    "spin_population": "spin_populations",
    "lowdin_population": "lowdin_populations",
    "lowdin_charge": "lowdin_charges",
}


class Result:
    """What the analysis of one input gave.

    Every field of the command line's JSON object is an attribute of the
    same name on every Result, None where it does not apply (a failed
    analysis, a closed shell's spin populations, the Löwdin values without
    ``lowdin=True``, the convention of a file that is not a Molden file):
    ``file``, ``status``, ``format``, ``title``, ``method``, ``basis``,
    ``electrons``, ``alpha_electrons``, ``beta_electrons``,
    ``basis_functions``, ``spin``, ``charge``, ``multiplicity``, ``energy``,
    ``density``, ``density_check``, ``convention``,
    ``orthonormality_deviation``, ``spin_density_used``,
    ``unpaired_electrons``, ``hermiticity``, ``trace_x``.

    Per atom, atoms counted from 0, read-only numpy arrays: ``index`` (int,
    from 1 as in the JSON), ``atomic_numbers`` (int), ``symbols`` (a list of
    str), ``nuclear_charges``, ``ghost`` (bool), ``coordinates`` (n by 3,
    bohr), ``populations``, ``charges``, ``total_valence``,
    ``bonded_valence``, ``free_valence``, ``spin_populations``,
    ``lowdin_populations``, ``lowdin_charges``; and ``bond_orders`` and
    ``wiberg_lowdin`` (n by n).  A Result can be pickled, and
    ``Result.from_dict(r.to_dict())`` gives the same values.
    """

    __slots__ = ("_run", "_dict", "_report", "_svg")

    _FIELDS = (
        "file",
        "status",
        "format",
        "title",
        "method",
        "basis",
        "electrons",
        "alpha_electrons",
        "beta_electrons",
        "basis_functions",
        "spin",
        "charge",
        "multiplicity",
        "energy",
        "density",
        "density_check",
        "convention",
        "orthonormality_deviation",
        "spin_density_used",
        "unpaired_electrons",
        "hermiticity",
        "trace_x",
    )

    def __init__(self, run):
        self._run = run
        self._dict = _json.loads(run.json)
        self._report = None
        self._svg = None

    @classmethod
    def from_dict(cls, d, report=None):
        """A Result of a JSON object of the command line (or of
        :meth:`to_dict`), with the text report when it is given.  Its arrays
        are made from the object's numbers, which are written at full
        precision, so they equal the analysed ones."""
        if not isinstance(d, dict) or "status" not in d:
            raise TypeError("from_dict needs a JSON object of mirvante (a dict with a status)")
        r = cls.__new__(cls)
        r._run = None
        r._dict = _json.loads(_json.dumps(d))
        r._report = report
        r._svg = None
        return r

    def __reduce__(self):
        drawing = None
        if self.ok:
            try:
                drawing = self.svg()
            except Error:
                drawing = None
        return (_restore, (self._dict, self.report(), drawing))

    def __repr__(self):
        what = self._dict.get("file") or "arrays"
        return f"<mirvante.Result {what!r} {self.status}>"

    @property
    def ok(self) -> bool:
        """True when the analysis completed (``status == "ok"``)."""
        return self._dict.get("status") == "ok"

    @property
    def error(self):
        """The error (an :class:`Error`) of a failed analysis, else None."""
        return _error_of(self._dict)

    def to_dict(self):
        """The JSON object of the command line for this input, parsed (a
        copy of its own)."""
        return _json.loads(_json.dumps(self._dict))

    def report(self) -> str:
        """The text report, as the command line prints it for one file (for
        arrays: the records of the stages that apply to them)."""
        if self._run is not None:
            return self._run.report
        return self._report or ""

    def svg(self) -> str:
        """The drawing of the molecule as an SVG document (bonds from
        ``min_bond`` on).  Raises the result's error when the analysis did
        not complete."""
        if not self.ok:
            raise self.error
        if self._run is not None:
            return self._run.svg()
        if self._svg is None:
            raise Error("this Result was made from a JSON object, which holds no drawing")
        return self._svg

    # Notebook display: a summary table, and the drawing.
    def _repr_svg_(self):
        try:
            return self.svg()
        except Error:
            return None

    def _repr_html_(self):
        esc = _html.escape
        d = self._dict
        head = (
            f"<b>{esc(str(d.get('file') or 'arrays'))}</b>: {esc(str(d.get('status')))}"
            f" ({esc(str(d.get('format')))}"
            + (f", {esc(str(d['method']))}" if d.get("method") else "")
            + (f", {d['electrons']} electrons" if d.get("electrons") is not None else "")
            + ")"
        )
        if not self.ok:
            return f"<div>{head}<br>{esc(str(self.error))}</div>"
        rows = []
        labels = self.labels
        shown = min(len(labels), 30)
        for a in range(shown):
            rows.append(
                "<tr><td>{}</td><td>{:.4f}</td><td>{:.4f}</td><td>{:.4f}</td><td>{:.4f}</td></tr>".format(
                    esc(labels[a]),
                    self.charges[a],
                    self.total_valence[a],
                    self.bonded_valence[a],
                    self.free_valence[a],
                )
            )
        more = f"<tr><td colspan=5>... {len(labels) - shown} more atoms</td></tr>" if shown < len(labels) else ""
        bonds = ", ".join(f"{labels[i]}-{labels[j]} {o:.3f}" for i, j, o in self.bonds[:20])
        if len(self.bonds) > 20:
            bonds += f", ... ({len(self.bonds)} bonds)"
        return (
            f"<div>{head}<table><tr><th>atom</th><th>charge</th><th>valence</th>"
            f"<th>bonded</th><th>free</th></tr>{''.join(rows)}{more}</table>"
            f"bonds: {esc(bonds) or 'none'}</div>"
        )

    # The values of a complete analysis; views of the run's own values
    # where the Result holds the run.
    def _from_run(self, name):
        if self._run is None or not self.ok:
            return None
        return getattr(self._run, name)

    def _atoms(self):
        return self._dict.get("atoms")

    def _atom_values(self, name, kind=float):
        atoms = self._atoms()
        if atoms is None:
            return None
        values = [a.get(name) for a in atoms]
        if kind is None:
            return values
        if kind is bool:
            return _read_only(_np.array([bool(v) for v in values], dtype=bool))
        if all(v is None for v in values):
            return None
        if kind is int:
            return _read_only(_np.array(values, dtype=int))
        return _read_only(_np.array([_np.nan if v is None else v for v in values], dtype=float))

    def _matrix(self, name):
        m = self._dict.get(name)
        return None if m is None else _read_only(_np.array(m, dtype=float))

    @property
    def populations(self):
        """Mulliken gross population of each atom."""
        v = self._from_run("populations")
        return v if v is not None else self._atom_values("population")

    @property
    def charges(self):
        """Mulliken charge of each atom: its nuclear charge minus its
        population."""
        v = self._from_run("charges")
        return _read_only(v) if v is not None else self._atom_values("charge")

    @property
    def total_valence(self):
        v = self._from_run("total_valence")
        return v if v is not None else self._atom_values("total_valence")

    @property
    def bonded_valence(self):
        v = self._from_run("bonded_valence")
        return v if v is not None else self._atom_values("bonded_valence")

    @property
    def free_valence(self):
        v = self._from_run("free_valence")
        return v if v is not None else self._atom_values("free_valence")

    @property
    def bond_orders(self):
        """Bond order of every pair of atoms, an n by n array with a zero
        diagonal."""
        v = self._from_run("bond_orders")
        return v if v is not None else self._matrix("bond_orders")

    @property
    def wiberg_lowdin(self):
        """Wiberg-Löwdin index of every pair of atoms (with ``lowdin=True``)."""
        return self._matrix("wiberg_lowdin")

    def _group(self, name):
        """A value of the groups of atoms: the run's own, or for a Result
        made from a JSON object, from its fields (atoms from 0)."""
        if self._run is not None:
            return getattr(self._run, name)
        d = self._dict
        if not self.ok:
            return None
        fragments, rings = d.get("fragments"), d.get("multicenter")
        if name.startswith("fragment_") and name[9:] in ("bond_orders", "bond_orders_alpha", "bond_orders_beta", "wiberg_lowdin"):
            return self._matrix(name)
        if name.startswith("fragment_"):
            if not fragments:
                return None
            if name == "fragment_atoms":
                return [_read_only(_np.array(f["atoms"], dtype=int) - 1) for f in fragments]
            key = {"fragment_charges": "charge", "fragment_spins": "spin", "fragment_valences": "valence"}[name]
            values = [f.get(key) for f in fragments]
            return None if all(v is None for v in values) else _read_only(_np.array(values, dtype=float))
        if not rings:
            return None
        if name == "multicenter_atoms":
            return [_read_only(_np.array(r["atoms"], dtype=int) - 1) for r in rings]
        if name == "multicenter_formula":
            return rings[0].get("formula")
        key = {"multicenter_index": "index", "multicenter_normalized": "normalized"}[name]
        return _read_only(_np.array([r[key] for r in rings], dtype=float))

    # Groups of atoms, None unless asked for (``fragments``, ``multicenter``)
    # and the analysis completed.

    @property
    def fragment_atoms(self):
        """The atoms of each fragment (counted from 0), one array each."""
        return self._group("fragment_atoms")

    @property
    def fragment_charges(self):
        """Mulliken charge of each fragment."""
        return self._group("fragment_charges")

    @property
    def fragment_spins(self):
        """Spin population of each fragment (None without spin populations)."""
        return self._group("fragment_spins")

    @property
    def fragment_valences(self):
        """Sum of the total valences of each fragment's atoms."""
        return self._group("fragment_valences")

    @property
    def fragment_bond_orders(self):
        """Sums of the bond orders between fragments F and G (F != G), and
        inside F on the diagonal (each pair once)."""
        return self._group("fragment_bond_orders")

    @property
    def fragment_bond_orders_alpha(self):
        """The alpha part of :attr:`fragment_bond_orders` (an open-shell
        determinant only, else None)."""
        return self._group("fragment_bond_orders_alpha")

    @property
    def fragment_bond_orders_beta(self):
        """The beta part of :attr:`fragment_bond_orders`."""
        return self._group("fragment_bond_orders_beta")

    @property
    def fragment_wiberg_lowdin(self):
        """The same sums of the Wiberg-Lowdin indices (files analysed with
        the Lowdin analysis only, else None)."""
        return self._group("fragment_wiberg_lowdin")

    @property
    def multicenter_atoms(self):
        """The atoms of each ring (counted from 0), in the order given."""
        return self._group("multicenter_atoms")

    @property
    def multicenter_index(self):
        """The multicentre bond index of each ring."""
        return self._group("multicenter_index")

    @property
    def multicenter_normalized(self):
        """sign(I) |I|^(1/n) of each ring of n atoms."""
        return self._group("multicenter_normalized")

    @property
    def multicenter_formula(self):
        """How the indices were formed: ``"closed-shell"``,
        ``"spin-resolved"`` or ``"total density"`` (a correlated density)."""
        return self._group("multicenter_formula")

    @property
    def bonds(self):
        """The pairs of order ``min_bond`` or more, as (i, j, order) with
        i < j counted from 0, in the order of the JSON object."""
        return [(b["atoms"][0] - 1, b["atoms"][1] - 1, b["order"]) for b in self._dict.get("bonds") or []]

    @property
    def coordinates(self):
        """Cartesian coordinates of the atoms in bohr, n by 3."""
        atoms = self._atoms()
        if atoms is None:
            return None
        return _read_only(_np.array([a["xyz_bohr"] for a in atoms], dtype=float).reshape(-1, 3))

    @property
    def labels(self):
        """The atoms' labels as the report writes them: symbol and number
        from 1 ("C2")."""
        atoms = self._atoms()
        return None if atoms is None else [f"{a['symbol']}{a['index']}" for a in atoms]

    def to_dataframe(self, table="atoms"):
        """The values as a pandas DataFrame: ``table="atoms"`` one row per
        atom, indexed by its label ("C2"); ``table="bonds"`` one row per
        pair of atoms whose bond order reaches ``min_bond``, with both
        labels, the atoms (from 0), the bond order and, with the Löwdin
        analysis, the Wiberg-Löwdin index.  Needs pandas."""
        try:
            import pandas as pd
        except ImportError as e:
            raise ImportError(
                "Result.to_dataframe needs pandas (pip install pandas, or Debian's python3-pandas)"
            ) from e
        if table not in ("atoms", "bonds"):
            raise ValueError(f"table must be 'atoms' or 'bonds', not {table!r}")
        if not self.ok:
            raise self.error
        labels = self.labels
        if table == "bonds":
            wl = self.wiberg_lowdin
            rows = [
                {
                    "atom1": labels[i],
                    "atom2": labels[j],
                    "i": i,
                    "j": j,
                    "order": order,
                    "wiberg_lowdin": None if wl is None else float(wl[i, j]),
                }
                for i, j, order in self.bonds
            ]
            return pd.DataFrame(rows, columns=["atom1", "atom2", "i", "j", "order", "wiberg_lowdin"])
        columns = {
            "symbol": self.symbols,
            "atomic_number": self.atomic_numbers,
            "nuclear_charge": self.nuclear_charges,
            "population": self.populations,
            "charge": self.charges,
            "total_valence": self.total_valence,
            "bonded_valence": self.bonded_valence,
            "free_valence": self.free_valence,
        }
        for name, values in (
            ("spin_population", self.spin_populations),
            ("lowdin_population", self.lowdin_populations),
            ("lowdin_charge", self.lowdin_charges),
        ):
            if values is not None:
                columns[name] = values
        return pd.DataFrame(columns, index=pd.Index(labels, name="atom"))

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        d = self._dict
        if name in Result._FIELDS:
            return d.get(name)
        for attr, json_name, kind in _ATOM_FIELDS:
            if name in (attr, json_name):
                return self._atom_values(json_name, kind)
        if name in _ATOM_ALIASES:
            return getattr(self, _ATOM_ALIASES[name])
        if name in d:
            value = d[name]
            if isinstance(value, list) and value and all(isinstance(x, (int, float, list)) for x in value):
                try:
                    return _read_only(_np.array(value, dtype=float))
                except (ValueError, TypeError):
                    return value
            return value
        raise AttributeError(f"a Result has no field {name!r}")

    def __dir__(self):
        names = set(super().__dir__()) | set(Result._FIELDS) | set(self._dict)
        names |= {attr for attr, _, _ in _ATOM_FIELDS}
        return sorted(n for n in names if not n.startswith("_") or n.startswith("_repr"))


def _restore(d, report, drawing):
    r = Result.from_dict(d, report)
    r._svg = drawing
    return r


# Files smaller than this are analysed on one thread unless jobs says
# otherwise: the analysis of a small molecule is over before a second
# thread has started.
_ONE_THREAD_BYTES = 2 << 20
_ONE_THREAD_FUNCTIONS = 400


def _jobs(jobs, work=None):
    if jobs is None:
        return 1 if work else _mirvante.default_jobs
    if isinstance(jobs, bool) or not isinstance(jobs, int):
        raise TypeError(f"jobs must be an int or None, not {type(jobs).__name__}")
    return jobs


def _small_file(path):
    try:
        return path != "-" and _os.path.getsize(path) < _ONE_THREAD_BYTES
    except OSError:
        return True  # the analysis names the problem


def _path(path):
    p = _os.fspath(path)
    return _os.fsdecode(p) if isinstance(p, bytes) else p


def _density(density):
    if density is None:
        return ""
    if not isinstance(density, str):
        raise TypeError(f"density must be a str or None, not {type(density).__name__}")
    return density


def _atom_lists(value, name):
    """Groups of atoms as the command line writes them (atoms from 1): a
    string is taken as it stands, lists of atoms counted from 0 are turned
    into it; None stays None."""
    if value is None or isinstance(value, str):
        return value
    groups = []
    try:
        for group in value:
            atoms = []
            for a in _np.asarray(group).reshape(-1).tolist():
                if isinstance(a, bool) or not float(a).is_integer() or a < 0:
                    raise ValueError(f"{name}: {a!r} is not an atom index (from 0)")
                atoms.append(str(int(a) + 1))
            groups.append(",".join(atoms))
    except TypeError:
        raise TypeError(
            f"{name} must be a str or a list of lists of atom indices, "
            f"not {type(value).__name__}"
        ) from None
    return ";".join(groups)


def analyse(
    path, *, min_bond=0.1, density=None, jobs=None, lowdin=False, fragments=None, multicenter=None
) -> Result:
    """Analyse one file, as ``mirvante --json FILE`` does.

    ``path`` is any file the command line reads (``"-"`` is standard input).
    ``min_bond`` is the threshold of ``bonds`` and of the drawing; ``density``
    the kind of total density to analyse, as ``--density`` takes it
    (``"SCF"``, ``"MP2"``, ...; default: the file's last one); ``lowdin``
    adds the Löwdin populations and charges and the Wiberg-Löwdin indices,
    as ``--lowdin`` does; ``jobs`` the number of threads (default: one for a
    file under 2 MB, else the number of cores).  Raises :class:`InputError`
    when the file cannot be read and :class:`RefusedError` when it cannot be
    analysed.  Ctrl-C raises KeyboardInterrupt at once.  Several threads
    may call it at once: it does not hold the interpreter's lock while it
    works.

    ``fragments`` asks for the quantities of groups of atoms, as
    ``--fragments`` does: ``"auto"``, a string of the command line
    (``"1-3;4-6"``, atoms from 1), or a list of lists of atoms counted from
    0 (the atoms not listed form a last fragment).  ``multicenter`` asks for
    the multicentre bond indices of rings of atoms in cyclic order, as a
    string (``"1,2,3"``, atoms from 1) or a list of lists counted from 0.
    A malformed request raises ValueError; an atom the molecule does not
    have, :class:`InputError`.  See :class:`Result` for what they give.
    """
    p = _path(path)
    result = Result(
        _mirvante.analyse_file(
            p,
            float(min_bond),
            _jobs(jobs, _small_file(p)),
            _density(density),
            bool(lowdin),
            _atom_lists(fragments, "fragments"),
            _atom_lists(multicenter, "multicenter"),
        )
    )
    if not result.ok:
        raise result.error
    return result


def analyse_many(
    paths, *, jobs=None, min_bond=0.1, density=None, lowdin=False, fragments=None, multicenter=None
):
    """Analyse many files and yield their Results in the order given.

    ``paths`` is an iterable of paths (a single str or path is refused with
    TypeError).  Up to ``jobs`` files (default: the number of cores) are
    analysed at once, and threads left idle help the files in progress;
    ``min_bond``, ``density``, ``lowdin``, ``fragments`` and ``multicenter``
    as for :func:`analyse`.  A
    file that cannot be read or analysed yields a Result whose ``status``
    is not ``"ok"`` (its ``error`` says why); nothing is raised, and the
    other files go on.
    """
    if isinstance(paths, (str, bytes, _os.PathLike)):
        raise TypeError(
            "analyse_many takes an iterable of paths, not a single path: "
            f"analyse_many([{paths!r}]) or analyse({paths!r})"
        )
    batch = _mirvante.Batch(
        [_path(p) for p in paths],
        _jobs(jobs),
        float(min_bond),
        _density(density),
        bool(lowdin),
        _atom_lists(fragments, "fragments"),
        _atom_lists(multicenter, "multicenter"),
    )
    return (Result(run) for run in batch)


def _spin_densities(density, spin_density):
    """P and Ps from a total density (and a spin density), or from the two
    spin densities (Da, Db) as a pair or a (2, n, n) array."""
    pair = isinstance(density, (tuple, list)) and len(density) == 2 and _np.ndim(density[0]) == 2
    if not pair and _np.ndim(density) == 3:
        density = _np.asarray(density, dtype=float)
        if density.shape[0] != 2:
            raise ValueError(f"density of 3 dimensions must be (2, n, n): Da and Db, not {density.shape}")
        pair = True
    if not pair:
        return density, spin_density
    if spin_density is not None:
        raise ValueError("give either the two spin densities (Da, Db) or a total density with spin_density, not both")
    da = _np.asarray(density[0], dtype=float)
    db = _np.asarray(density[1], dtype=float)
    if da.shape != db.shape:
        raise ValueError(f"Da and Db must have the same shape, not {da.shape} and {db.shape}")
    return da + db, da - db


def analyse_matrices(
    overlap,
    density,
    basis_atom,
    atomic_numbers,
    *,
    spin_density=None,
    coordinates=None,
    nuclear_charges=None,
    electrons=None,
    min_bond=0.1,
    jobs=None,
    lowdin=False,
    fragments=None,
    multicenter=None,
) -> Result:
    """Analyse an overlap matrix and a density held in memory.

    ``overlap`` (S) is a symmetric n by n array over the n basis functions.
    ``density`` is the total density P, or the two spin densities as a pair
    ``(Da, Db)`` or a (2, n, n) array (a spin-unrestricted wave function).
    ``basis_atom`` gives for each function the index (from 0) of its atom,
    ``atomic_numbers`` one value per atom (0 for a ghost atom).  With
    ``spin_density`` (Ps = Pa - Pb of a spin-unrestricted SCF wave function)
    or with (Da, Db), the second bond-order term comes from the spin
    density, and the spin populations are made; without, from the square
    root of the density of effectively unpaired electrons (restricted
    open-shell and correlated densities).  ``coordinates`` (bohr, atoms by
    3) serve the drawing; ``nuclear_charges`` (default: the atomic numbers)
    give the charges, for effective core potentials; ``lowdin`` adds the
    Löwdin analysis.

    The density is checked as a file's is: trace(P S) must be ``electrons``
    (default: the trace rounded, at least one), trace(Ps S) a whole number,
    and the natural occupations must lie in [-0.1, 2.1]; a density that
    fails raises :class:`RefusedError`.  Arrays of the wrong shape, with
    values that are not finite, not symmetric, or with an atom index out of
    range raise ValueError.  S and P are copied once, into the order of the
    atoms.  ``jobs`` defaults to one thread under 400 functions.
    ``fragments`` and ``multicenter`` as for :func:`analyse` (an atom out of
    range raises ValueError); with a spin density the multicentre indices
    and the spin parts of the fragment bond orders are those of an
    open-shell determinant.
    """
    total, spin = _spin_densities(density, spin_density)
    if electrons is not None and (isinstance(electrons, bool) or not isinstance(electrons, (int, _np.integer))):
        raise TypeError(f"electrons must be an int or None, not {type(electrons).__name__}")
    functions = _np.shape(overlap)[0] if _np.ndim(overlap) >= 1 else 0
    run = _mirvante.analyse_arrays(
        overlap,
        total,
        basis_atom,
        atomic_numbers,
        spin,
        coordinates,
        nuclear_charges,
        float(min_bond),
        _jobs(jobs, functions < _ONE_THREAD_FUNCTIONS),
        None if electrons is None else int(electrons),
        bool(lowdin),
        _atom_lists(fragments, "fragments"),
        _atom_lists(multicenter, "multicenter"),
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


from ._adapters import from_psi4, from_pyscf  # noqa: E402
