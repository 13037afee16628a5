"""Installs the binding into a fresh virtual environment, offline, and imports it from elsewhere.

Run by ctest as a new user would do it, with one interpreter:

    install_in_venv.py PYTHON LIBRARY VERSION [ASAN_RUNTIME]

PYTHON makes the environment; LIBRARY is the built shared library that the
wheel must carry; VERSION is what the package must report. The import runs in
another directory with no variable pointing at the library or the source
(ASAN_RUNTIME, for a sanitizer build: the runtime and the C++ library it
needs, colon-separated, preloaded and nothing else).
"""

from __future__ import annotations

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import List

SOURCE = Path(__file__).resolve().parent.parent
# Whatever could point the package at a library or a source tree.
_STRIPPED = ("QUENFOLD_EBOOK_META_LIB", "PYTHONPATH", "PYTHONHOME", "LD_LIBRARY_PATH",
             "LD_PRELOAD", "VIRTUAL_ENV", "PIP_INDEX_URL", "PIP_EXTRA_INDEX_URL")

PROBE = r"""
import json, os, sys, tempfile
import quenfold_ebook_meta as qem
lib = qem.Library()
out = {"file": qem.__file__, "library": lib.path, "version": qem.__version__}
with tempfile.TemporaryDirectory() as empty:
    out["scan_dir"] = qem.scan_dir(empty)
    pdf = (b"%PDF-1.4\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\n"
           b"2 0 obj <</Type /Pages /Kids [] /Count 0>> endobj\n"
           b"3 0 obj <</Title (Probe)>> endobj\ntrailer <</Root 1 0 R /Info 3 0 R>>\n%%EOF\n")
    out["pdf_title"] = qem.metadata_from_bytes(pdf).title
    try:
        qem.info(os.path.join(empty, "missing.epub"))
    except qem.EbookError as err:
        out["error"] = str(err).replace(empty, "<dir>")
        out["missing_is_file_not_found"] = isinstance(err, FileNotFoundError)
json.dump(out, sys.stdout)
"""


def elf_sections(path: Path) -> List[str]:
    """The section names of a 64-bit little-endian ELF file."""
    data = path.read_bytes()
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)
    headers = [struct.unpack_from("<IIQQQQ", data, shoff + i * shentsize) for i in range(shnum)]
    names_at, names_size = headers[shstrndx][4], headers[shstrndx][5]
    names = data[names_at:names_at + names_size]
    return [names[h[0]:names.index(b"\0", h[0])].decode() for h in headers]


def unstripped(directory: Path) -> List[str]:
    """The libraries in ``directory`` that still carry debugging data or a symbol table."""
    return [f"{lib.name}: {name}" for lib in sorted(directory.glob("libquenfold-ebook-meta*"))
            for name in elf_sections(lib) if name.startswith(".debug") or name == ".symtab"]


def run(cmd: list, env: dict, cwd: str) -> str:
    done = subprocess.run(cmd, env=env, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, universal_newlines=True)
    if done.returncode != 0:
        sys.exit(f"FAILED ({done.returncode}): {' '.join(cmd)}\n{done.stdout}")
    return done.stdout


def main() -> None:
    python, library, version = sys.argv[1:4]
    asan_runtime = sys.argv[4] if len(sys.argv) > 4 else ""
    clean_env = {k: v for k, v in os.environ.items() if k not in _STRIPPED}
    work = tempfile.mkdtemp(prefix="qem-venv-")
    try:
        venv = os.path.join(work, "venv")
        run([python, "-m", "venv", venv], clean_env, work)
        venv_python = os.path.join(venv, "bin", "python")
        # The library to bundle is named the way a user may name it; everything
        # else as a user types it, offline.
        install_env = dict(clean_env, QUENFOLD_EBOOK_META_LIB=library, PIP_NO_INDEX="1")
        run([venv_python, "-m", "pip", "install", "--no-index", "--no-cache-dir",
             "--disable-pip-version-check", str(SOURCE)], install_env, work)

        elsewhere = os.path.join(work, "elsewhere")
        os.mkdir(elsewhere)
        import_env = dict(clean_env)
        if asan_runtime:
            import_env["LD_PRELOAD"] = asan_runtime
            import_env["ASAN_OPTIONS"] = "detect_leaks=0"
        got = json.loads(run([venv_python, "-c", PROBE], import_env, elsewhere))

        expected_dir = Path(got["file"]).parent
        checks = [
            (os.path.commonpath([got["file"], venv]) == venv, "imported from the environment"),
            (got["library"] == str(expected_dir / "libquenfold-ebook-meta.so.0"),
             "loaded the library the package carries"),
            (got["version"] == version, f"version {version}"),
            (got["scan_dir"] == [], "an empty directory scans to []"),
            (got["pdf_title"] == "Probe", "a PDF read by the module the package carries"),
            (got.get("error") == "cannot open file: <dir>/missing.epub (No such file or directory)",
             "the library's own error text"),
            (got.get("missing_is_file_not_found") is True, "a missing book: FileNotFoundError"),
            (unstripped(expected_dir) == [], f"stripped libraries: {unstripped(expected_dir)}"),
        ]
        failed = [what for ok, what in checks if not ok]
        if failed:
            sys.exit(f"FAILED: {', '.join(failed)}; got {got}")
        print(f"ok: {python} -> {got['library']} ({got['version']})")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
