"""Finding, loading and declaring the quenfold-ebook-meta shared library."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

from ._errors import EbookError
from ._reader import READ_FN

__all__ = ["ENV_VAR", "SONAME", "LibraryLoadError", "NativeLibrary", "candidate_paths"]

#: Environment variable naming the shared library file to load.
ENV_VAR = "QUENFOLD_EBOOK_META_LIB"
#: Name under which the library is installed on the system's search path.
SONAME = "libquenfold-ebook-meta.so.0"

_StrPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class LibraryLoadError(EbookError, OSError):
    """The shared library could not be found or does not export the expected functions."""


def _bundled_library() -> Optional[str]:
    # An installed wheel carries its own copy beside this file, under the soname.
    candidate = Path(__file__).resolve().parent / SONAME
    return str(candidate) if candidate.is_file() else None


def _build_tree_library() -> Optional[str]:
    # python/quenfold_ebook_meta/_native.py -> <checkout>/build/
    checkout = Path(__file__).resolve().parent.parent.parent
    candidate = checkout / "build" / "libquenfold-ebook-meta.so"
    return str(candidate) if candidate.is_file() else None


def candidate_paths(path: Optional[_StrPath] = None) -> List[str]:
    """Return, in order, the library files or names that loading would try.

    An explicit ``path`` or the environment variable is the only candidate
    when given: asking for one library and silently getting another would
    hide a broken setup.
    """
    if path is not None:
        return [os.fsdecode(os.fspath(path))]
    from_env = os.environ.get(ENV_VAR)
    if from_env:
        return [from_env]
    found: List[str] = []
    for local in (_bundled_library(), _build_tree_library()):
        if local:
            found.append(local)
    system = ctypes.util.find_library("quenfold-ebook-meta")
    if system:
        found.append(system)
    if SONAME not in found:
        found.append(SONAME)
    return found


# Exports newer than the first six, with their prototypes: resolved on first
# use, so that a library built before them still serves everything else.
_LATER_EXPORTS: Dict[str, Tuple[List[Any], Any]] = {
    "ebook_metadata": ([ctypes.c_char_p], ctypes.c_void_p),
    "ebook_metadata_from_memory": (
        [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p],
        ctypes.c_void_p,
    ),
    "ebook_metadata_from_reader": (
        [READ_FN, ctypes.c_void_p, ctypes.c_ulonglong, ctypes.c_char_p],
        ctypes.c_void_p,
    ),
    "ebook_formats": ([], ctypes.c_void_p),
    # The library's own string, never released.
    "ebook_version": ([], ctypes.c_char_p),
    "ebook_write_metadata": ([ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint], ctypes.c_void_p),
}


class NativeLibrary:
    """The loaded shared library with the prototypes of its exports.

    The six original exports are declared at load time; the later ones by
    :meth:`later_export` when first called. Every result pointer is declared
    ``c_void_p`` (never ``c_char_p``) so that the binding keeps the address it
    must hand back to ``ebook_free_string``.
    """

    def __init__(self, path: Optional[_StrPath] = None) -> None:
        self._later: Dict[str, Any] = {}
        self._later_lock = threading.Lock()
        errors: List[str] = []
        for candidate in candidate_paths(path):
            try:
                self._dll = ctypes.CDLL(candidate)
            except OSError as exc:
                errors.append(f"{candidate}: {exc}")
                continue
            self.path = candidate
            break
        else:
            raise LibraryLoadError(
                "cannot load the quenfold-ebook-meta library (set "
                f"{ENV_VAR} to its path); tried: " + "; ".join(errors)
            )
        try:
            self._declare()
        except AttributeError as exc:
            raise LibraryLoadError(f"{self.path} is not quenfold-ebook-meta: {exc}") from None

    def _declare(self) -> None:
        dll = self._dll
        c_char_p, c_void_p, c_int = ctypes.c_char_p, ctypes.c_void_p, ctypes.c_int

        self.ebook_info = dll.ebook_info
        self.ebook_info.argtypes = [c_char_p]
        self.ebook_info.restype = c_void_p

        self.ebook_extract_cover = dll.ebook_extract_cover
        self.ebook_extract_cover.argtypes = [c_char_p, c_char_p]
        self.ebook_extract_cover.restype = c_int

        self.ebook_scan_dir = dll.ebook_scan_dir
        self.ebook_scan_dir.argtypes = [c_char_p]
        self.ebook_scan_dir.restype = c_void_p

        self.ebook_rename_plan = dll.ebook_rename_plan
        self.ebook_rename_plan.argtypes = [c_char_p, c_char_p]
        self.ebook_rename_plan.restype = c_void_p

        # Points at the thread's own buffer inside the library: copied, never freed.
        self.ebook_last_error = dll.ebook_last_error
        self.ebook_last_error.argtypes = []
        self.ebook_last_error.restype = c_char_p

        self.ebook_free_string = dll.ebook_free_string
        self.ebook_free_string.argtypes = [c_void_p]
        self.ebook_free_string.restype = None

    def has_export(self, name: str) -> bool:
        """Whether the loaded library exports the function ``name``."""
        return hasattr(self._dll, name)

    def later_export(self, name: str) -> Any:
        """The declared function ``name`` of the later exports.

        Raises :class:`LibraryLoadError` naming the library when it is older
        than the function.
        """
        fn = self._later.get(name)
        if fn is None:
            argtypes, restype = _LATER_EXPORTS[name]
            with self._later_lock:
                try:
                    fn = getattr(self._dll, name)
                except AttributeError:
                    raise LibraryLoadError(
                        f"{self.path} does not export {name}: the library is older than "
                        "this binding; build or install a newer one"
                    ) from None
                fn.argtypes = argtypes
                fn.restype = restype
                self._later[name] = fn
        return fn

    def last_error(self) -> bytes:
        """The calling thread's error text, copied (read it right after the failing call)."""
        return self.ebook_last_error() or b""

    def call_string(self, fn: Any, *args: Any) -> Tuple[Optional[bytes], bytes]:
        """Call an export that returns a heap string.

        Returns a copy of the string (None for a null result) and the thread's
        error text as it stood right after the call. The string is released
        through the library exactly once, whatever happens after the call.
        """
        ptr = fn(*args)
        try:
            notice = self.last_error()
            return (ctypes.string_at(ptr) if ptr else None), notice
        finally:
            if ptr:
                self.ebook_free_string(ptr)

    def __repr__(self) -> str:
        return f"<NativeLibrary {self.path!r}>"
