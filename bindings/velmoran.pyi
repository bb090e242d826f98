# Type stub of the extension module velmoran: what editors and type
# checkers see of it.
from typing import List, SupportsIndex, final

__all__ = ["RawReader", "Spectrum"]

@final
class RawReader:
    """Opens an acquisition dataset and reads every spectrum of it into memory."""

    def __new__(cls, path: str) -> RawReader: ...
    @property
    def scan_count(self) -> int: ...
    def read_spectrum(self, scan_index: SupportsIndex) -> Spectrum: ...

@final
class Spectrum:
    """One spectrum, made only by RawReader.read_spectrum."""

    @property
    def mz(self) -> List[float]: ...
    @property
    def intensity(self) -> List[float]: ...
    @property
    def ms_level(self) -> int: ...
    @property
    def retention_time_sec(self) -> float: ...
    def __len__(self) -> int: ...
