from os import PathLike
from typing import Any, Iterable, Iterator, Optional, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, PathLike[str], PathLike[bytes]]
_Array = npt.NDArray[np.float64]
_Groups = Union[str, Iterable[Iterable[int]]]

__version__: str

class Error(Exception):
    message: str
    code: Optional[str]
    file: Optional[str]
    line: Optional[int]
    def __init__(
        self,
        message: str,
        *,
        code: Optional[str] = ...,
        file: Optional[str] = ...,
        line: Optional[int] = ...,
    ) -> None: ...

class RefusedError(Error): ...
class InputError(Error): ...

class Result:
    # The fields of the JSON object (None where it has no such field).
    file: Optional[str]
    status: str
    format: Optional[str]
    title: Optional[str]
    method: Optional[str]
    basis: Optional[str]
    electrons: Optional[int]
    alpha_electrons: Optional[int]
    beta_electrons: Optional[int]
    basis_functions: Optional[int]
    spin: Optional[str]
    charge: Optional[int]
    multiplicity: Optional[int]
    energy: Optional[float]
    density: Optional[str]
    density_check: Optional[str]
    convention: Optional[str]
    orthonormality_deviation: Optional[float]
    spin_density_used: Optional[bool]
    unpaired_electrons: Optional[float]
    hermiticity: Optional[float]
    trace_x: Optional[float]
    # Per atom (None unless status == "ok").
    index: Optional[npt.NDArray[np.int_]]
    ghost: Optional[npt.NDArray[np.bool_]]
    spin_populations: Optional[_Array]
    lowdin_populations: Optional[_Array]
    lowdin_charges: Optional[_Array]
    @classmethod
    def from_dict(cls, d: dict[str, Any], report: Optional[str] = ...) -> Result: ...
    def to_dataframe(self, table: str = ...) -> Any: ...
    def _repr_html_(self) -> str: ...
    def _repr_svg_(self) -> Optional[str]: ...
    @property
    def labels(self) -> Optional[list[str]]: ...
    @property
    def wiberg_lowdin(self) -> Optional[_Array]: ...
    @property
    def ok(self) -> bool: ...
    @property
    def error(self) -> Optional[Error]: ...
    def to_dict(self) -> dict[str, Any]: ...
    def report(self) -> str: ...
    def svg(self) -> str: ...
    # Per atom, atoms counted from 0; None unless status == "ok".
    @property
    def populations(self) -> Optional[_Array]: ...
    @property
    def charges(self) -> Optional[_Array]: ...
    @property
    def total_valence(self) -> Optional[_Array]: ...
    @property
    def bonded_valence(self) -> Optional[_Array]: ...
    @property
    def free_valence(self) -> Optional[_Array]: ...
    @property
    def bond_orders(self) -> Optional[_Array]: ...
    # Groups of atoms: None unless asked for.
    @property
    def fragment_atoms(self) -> Optional[list[npt.NDArray[np.int_]]]: ...
    @property
    def fragment_charges(self) -> Optional[_Array]: ...
    @property
    def fragment_spins(self) -> Optional[_Array]: ...
    @property
    def fragment_valences(self) -> Optional[_Array]: ...
    @property
    def fragment_bond_orders(self) -> Optional[_Array]: ...
    @property
    def fragment_bond_orders_alpha(self) -> Optional[_Array]: ...
    @property
    def fragment_bond_orders_beta(self) -> Optional[_Array]: ...
    @property
    def fragment_wiberg_lowdin(self) -> Optional[_Array]: ...
    @property
    def multicenter_atoms(self) -> Optional[list[npt.NDArray[np.int_]]]: ...
    @property
    def multicenter_index(self) -> Optional[_Array]: ...
    @property
    def multicenter_normalized(self) -> Optional[_Array]: ...
    @property
    def multicenter_formula(self) -> Optional[str]: ...
    @property
    def bonds(self) -> list[tuple[int, int, float]]: ...
    @property
    def atomic_numbers(self) -> Optional[npt.NDArray[np.int_]]: ...
    @property
    def symbols(self) -> Optional[list[str]]: ...
    @property
    def nuclear_charges(self) -> Optional[_Array]: ...
    @property
    def coordinates(self) -> Optional[_Array]: ...
    # Any other field of the JSON object, or per-atom field (as an array).
    def __getattr__(self, name: str) -> Any: ...

class Series:
    skipped: list[Error]
    @property
    def files(self) -> list[str]: ...
    @property
    def bonds(self) -> list[tuple[int, int]]: ...
    @property
    def bond_orders(self) -> _Array: ...
    @property
    def energies(self) -> _Array: ...
    @property
    def events(self) -> list[dict[str, Any]]: ...
    def to_dict(self) -> dict[str, Any]: ...
    def report(self) -> str: ...
    def svg(self) -> str: ...

def analyse(
    path: _Path,
    *,
    min_bond: float = 0.1,
    density: Optional[str] = None,
    jobs: Optional[int] = None,
    lowdin: bool = False,
    fragments: Optional[_Groups] = None,
    multicenter: Optional[_Groups] = None,
) -> Result: ...
def analyse_many(
    paths: Iterable[_Path],
    *,
    jobs: Optional[int] = None,
    min_bond: float = 0.1,
    density: Optional[str] = None,
    lowdin: bool = False,
    fragments: Optional[_Groups] = None,
    multicenter: Optional[_Groups] = None,
) -> Iterator[Result]: ...
def analyse_matrices(
    overlap: npt.ArrayLike,
    density: npt.ArrayLike,
    basis_atom: npt.ArrayLike,
    atomic_numbers: npt.ArrayLike,
    *,
    spin_density: Optional[npt.ArrayLike] = None,
    coordinates: Optional[npt.ArrayLike] = None,
    nuclear_charges: Optional[npt.ArrayLike] = None,
    electrons: Optional[int] = None,
    min_bond: float = 0.1,
    jobs: Optional[int] = None,
    lowdin: bool = False,
    fragments: Optional[_Groups] = None,
    multicenter: Optional[_Groups] = None,
) -> Result: ...
def from_psi4(wfn: Any, **options: Any) -> Result: ...
def from_pyscf(mol: Any, dm: npt.ArrayLike, **options: Any) -> Result: ...
def series(
    paths: Iterable[_Path],
    *,
    bonds: Optional[Iterable[tuple[int, int]]] = None,
    min_bond: float = 0.1,
    density: Optional[str] = None,
    jobs: Optional[int] = None,
) -> Series: ...
