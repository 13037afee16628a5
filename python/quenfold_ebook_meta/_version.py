"""The package's version: the one the project's top CMakeLists.txt declares.

In a source checkout it is read from there at import; a built wheel or sdist
carries this file with the version written in as a literal instead.
"""

from __future__ import annotations

import re
from pathlib import Path
from typing import Optional

_PROJECT = re.compile(
    r"\bproject\s*\(\s*quenfold-ebook-meta(?=[\s)])[^)]*?\bVERSION\s+([0-9]+(?:\.[0-9]+)*)"
)


def read_version(cmake_lists: Path) -> Optional[str]:
    """The VERSION of ``project(quenfold-ebook-meta ...)`` in the given file, or None."""
    try:
        text = cmake_lists.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError):
        return None
    found = _PROJECT.search(text)
    return found.group(1) if found else None


#: python/quenfold_ebook_meta/_version.py -> <checkout>/CMakeLists.txt
VERSION: str = read_version(Path(__file__).resolve().parents[2] / "CMakeLists.txt") or "0+unknown"
