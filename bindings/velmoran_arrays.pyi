# Type stub of the extension module velmoran_arrays: what editors and type
# checkers see of it.
import os
from typing import (Any, Collection, Dict, Iterable, Iterator, List, Literal, Optional,
                    SupportsFloat, SupportsIndex, Tuple, Union, final, overload)

__all__ = ["open", "Run", "Spectrum", "Peaks", "Array", "FormatError", "Chromatogram", "Xic"]

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
# Integers: int or anything with __index__ (numpy integers), never bool.
# Floats: anything with __float__ (numpy floats). Collections: any iterable
# or 1-D array (numpy arrays too).
_Levels = Union[SupportsIndex, Iterable[SupportsIndex], None]
_Range = Optional[Iterable[Optional[SupportsFloat]]]
# Scan positions in the order wanted (negative from the end), or a mask of
# bools as long as the run.
_Index = Union[Iterable[SupportsIndex], Iterable[bool], None]
_PeakMode = Literal["profile", "centroid", "picked"]

class FormatError(ValueError):
    """A dataset's scan table is not one: the text is the library's message."""

def open(path: _Path, transitions: Optional[_Path] = None) -> Run:
    """Opens the dataset at path: reads its scan table only (and the
    transition list, when given, as Run.transitions() does).

    Raises the OSError subclass of the system error (FileNotFoundError,
    NotADirectoryError, PermissionError, ...) with errno and filename set,
    or FormatError for a scan table that is not one.
    """

@final
class Array:
    """A read-only array of one or two dimensions that shares its memory
    with numpy and pandas (buffer protocol, __array_interface__, __array__;
    numpy is imported only by __array__). Pickles by value."""

    @property
    def format(self) -> str:
        """The buffer format: "d" (float64), "f" (float32) or "q" (int64)."""
    @property
    def dtype(self) -> str:
        """numpy's name of the items' type: "float64", "float32", "int64"."""
    @property
    def shape(self) -> Tuple[int, ...]: ...
    @property
    def __array_interface__(self) -> Dict[str, Any]: ...
    def __array__(self, dtype: Any = None, copy: Optional[bool] = None) -> Any: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: SupportsIndex) -> Any:
        """An item (float or int), or in 2-D a row (an Array view)."""
    @overload
    def __getitem__(self, index: slice) -> "Array":
        """A view of the same memory for step 1, else a copy."""
    def __iter__(self) -> Iterator[Any]: ...
    def tolist(self) -> List[Any]: ...
    def __buffer__(self, flags: int) -> memoryview: ...

@final
class Run:
    """An opened dataset; made by open(path)."""

    @property
    def path(self) -> str: ...
    @property
    def name(self) -> str: ...
    @property
    def closed(self) -> bool: ...
    @property
    def record_length(self) -> int: ...
    @property
    def scans(self) -> Dict[str, Array]:
        """The scan table as equal-length columns: scan_id, ms_level (int64),
        rt_sec, precursor_mz (float64, NaN where absent), mrm_channel (int64,
        -1 where absent), mz_low, mz_high (float64, NaN where absent),
        profile_points, peak_points (int64)."""
    def scans_frame(self, totals: bool = False) -> "pandas.DataFrame":  # type: ignore[name-defined]
        """The scan table as a DataFrame; totals=True adds tic, base_peak_mz,
        base_peak_intensity and centroided, the values of `velmoran scans`."""
    def spectrum(self, i: SupportsIndex, peaks: _PeakMode = "profile") -> Spectrum:
        """run[i] with the points of `velmoran convert --peaks`."""
    def xic(
        self,
        mz: Union[SupportsFloat, Iterable[SupportsFloat]],
        ppm: Optional[SupportsFloat] = None,
        da: Optional[SupportsFloat] = None,
        rt: _Range = None,
        ms_level: SupportsIndex = 1,
        threads: Optional[SupportsIndex] = None,
    ) -> Xic:
        """Extracted ion chromatograms: the sums of `velmoran xic` with the
        same arguments. Exactly one of ppm and da."""
    def tic(self, ms_level: SupportsIndex = 1, threads: Optional[SupportsIndex] = None) -> Chromatogram: ...
    def bpc(self, ms_level: SupportsIndex = 1, threads: Optional[SupportsIndex] = None) -> Chromatogram:
        """The base peak of every scan of the level; mz holds its m/z (NaN for
        an empty spectrum)."""
    def qc(self) -> Dict[str, object]:
        """The run's quality metrics keyed by PSI-MS accession, with the values
        `velmoran qc` writes into mzQC (docs/qc.md)."""
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: SupportsIndex) -> Spectrum: ...
    @overload
    def __getitem__(self, index: Union[slice, Iterable[SupportsIndex], Iterable[bool]]) -> List[Spectrum]:
        """The spectra of a slice, positions or a mask, decoded on all cores."""
    def __iter__(self) -> Iterator[Spectrum]: ...
    def __enter__(self) -> "Run": ...
    def __exit__(self, *exc: object) -> bool: ...
    def close(self) -> None:
        """Closes the run: later calls raise ValueError("closed run"); what it
        handed out stays valid."""
    def spectra(
        self,
        ms_level: _Levels = None,
        rt: _Range = None,
        threads: Optional[SupportsIndex] = None,
        index: _Index = None,
        peaks: _PeakMode = "profile",
    ) -> Iterator[Spectrum]: ...
    def peaks(
        self,
        ms_level: _Levels = None,
        rt: _Range = None,
        threads: Optional[SupportsIndex] = None,
        index: _Index = None,
        peaks: _PeakMode = "profile",
    ) -> Peaks: ...
    def channels(self, threads: Optional[int] = None) -> Dict[int, Chromatogram]:
        """An MRM run's chromatograms, one per channel with scans of MS level
        2 and up; empty for a run without channels."""
    def transitions(self, path: _Path) -> int:
        """Reads a transition list (CSV or TSV) for channels(); returns its
        rows. FormatError names file, line and column of a bad list."""

@final
class Xic:
    """Extracted ion chromatograms; made by Run.xic(). Pickles by value."""

    @property
    def mz(self) -> Array: ...
    @property
    def index(self) -> Array: ...
    @property
    def rt_sec(self) -> Array: ...
    @property
    def intensity(self) -> Array:
        """Shape (targets, scans): row t is target t's trace."""
    def __len__(self) -> int: ...

@final
class Chromatogram:
    """One MRM channel's chromatogram (Run.channels()), or a TIC or BPC
    (Run.tic(), Run.bpc()). Pickles by value."""

    @property
    def channel(self) -> Optional[int]: ...
    @property
    def mz(self) -> Optional[Array]:
        """A BPC's base-peak m/z per scan; None otherwise."""
    @property
    def index(self) -> Array: ...
    @property
    def rt_sec(self) -> Array: ...
    @property
    def intensity(self) -> Array: ...
    @property
    def q1(self) -> Optional[float]: ...
    @property
    def q3(self) -> Optional[float]: ...
    @property
    def collision_energy(self) -> Optional[float]: ...
    @property
    def name(self) -> Optional[str]: ...
    def __len__(self) -> int: ...

@final
class Spectrum:
    """One scan's spectrum and metadata; made by Run[i] and Run.spectra()."""

    @property
    def mz(self) -> Array: ...
    @property
    def intensity(self) -> Array: ...
    @property
    def index(self) -> int: ...
    @property
    def scan_id(self) -> int: ...
    @property
    def ms_level(self) -> int: ...
    @property
    def rt_sec(self) -> float: ...
    @property
    def precursor_mz(self) -> Optional[float]: ...
    @property
    def mrm_channel(self) -> Optional[int]: ...
    @property
    def mz_range(self) -> Optional[Tuple[float, float]]: ...
    @property
    def centroided(self) -> bool: ...
    @property
    def error(self) -> Optional[str]: ...
    def __len__(self) -> int: ...

@final
class Peaks:
    """Many spectra in flat arrays; made by Run.peaks(). Spectrum k is
    mz[offsets[k]:offsets[k+1]], read from scan position index[k]."""

    @property
    def mz(self) -> Array: ...
    @property
    def intensity(self) -> Array: ...
    @property
    def offsets(self) -> Array: ...
    @property
    def index(self) -> Array: ...
    @property
    def errors(self) -> Dict[int, str]:
        """For each spectrum whose block could not be read or decoded (it is
        empty): its scan position to the text Spectrum.error gives. A new
        dict on each read; empty when every block was read."""
    @property
    def scan_id(self) -> Array: ...
    @property
    def ms_level(self) -> Array: ...
    @property
    def rt_sec(self) -> Array: ...
    @property
    def precursor_mz(self) -> Array: ...
    @property
    def mrm_channel(self) -> Array: ...
    def __len__(self) -> int: ...
    def __getitem__(self, k: int) -> Spectrum:
        """Spectrum k, its arrays views into mz and intensity."""
    def __iter__(self) -> Iterator[Spectrum]: ...
    def tic(self) -> Array:
        """Each spectrum's intensities summed in point order (0: empty)."""
    def base_peak(self) -> Tuple[Array, Array]:
        """Each spectrum's first highest point: (mz, intensity); NaN and 0
        for an empty spectrum."""
    def frame(self) -> "pandas.DataFrame":  # type: ignore[name-defined]
        """A row per point: index, scan_id, rt_sec, mz, intensity."""
