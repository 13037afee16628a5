"""Build backend (PEP 517, PEP 660) writing the binding's wheel and sdist with the standard library.

It needs nothing from a package index, so ``pip install ./python`` works
offline and on interpreters without ``setuptools`` or ``wheel``. The version
comes from the project's CMakeLists.txt (through the package's own _version.py);
the wheel carries the built shared library when one is found:

1. the file given by ``--config-settings library=PATH``;
2. the file named by the environment variable QUENFOLD_EBOOK_META_LIB;
3. ``build/libquenfold-ebook-meta.so.0`` of the checkout (what ``make`` builds).

Without one the wheel is pure Python and the package uses the library
installed on the system (``libquenfold-ebook-meta.so.0``).

The libraries a wheel carries are stripped of their debugging data and
symbol tables (``strip --strip-unneeded`` on a copy; the exported functions
stay): a build with debugging information is ten times the size. ``make
wheel`` builds the library as Release first; ``--config-settings strip=no``
keeps the file as it is.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import runpy
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile
from pathlib import Path
from typing import Any, Dict, List, Mapping, Optional, Tuple

NAME = "quenfold-ebook-meta"
PACKAGE = "quenfold_ebook_meta"
SONAME = "libquenfold-ebook-meta.so.0"
LIBRARY_ENV = "QUENFOLD_EBOOK_META_LIB"
LAZY_MODULE = "libquenfold-ebook-meta-pdf-comics.so"
SUMMARY = (
    "Read e-book metadata (EPUB, FictionBook 2, MOBI/AZW/AZW3 and PalmDOC, PDF, comic archives "
    "CBZ/CBR/CB7/CBT) through the quenfold-ebook-meta library"
)
REQUIRES_PYTHON = ">=3.8"
CLASSIFIERS = (
    "Programming Language :: Python :: 3",
    "Operating System :: POSIX :: Linux",
    "Topic :: Text Processing :: Markup",
    "Typing :: Typed",
)
#: The binding's source tree: python/ of the checkout, or an unpacked sdist.
SOURCE = Path(__file__).resolve().parent.parent
#: Zip entries get one fixed time, so that the same input gives the same wheel.
_EPOCH = (1980, 1, 1, 0, 0, 0)

ConfigSettings = Optional[Mapping[str, Any]]


class BuildError(RuntimeError):
    """The package cannot be built as asked."""


def project_version(source: Path = SOURCE) -> str:
    """The version from the package's _version.py, which reads the project's CMakeLists.txt."""
    version = runpy.run_path(str(source / PACKAGE / "_version.py"))["VERSION"]
    if not isinstance(version, str) or version.startswith("0+"):
        raise BuildError(
            f"cannot find the version: no project(quenfold-ebook-meta VERSION x.y.z) in "
            f"{source.parent / 'CMakeLists.txt'}"
        )
    return version


def version_module(version: str) -> bytes:
    """_version.py as built packages carry it: the version as a literal."""
    return (
        '"""The package\'s version, written in when the package was built."""\n\n'
        f"VERSION: str = {version!r}\n"
    ).encode()


def find_library(config_settings: ConfigSettings, source: Path = SOURCE) -> Optional[Path]:
    """The shared library file to bundle, or None to build a pure-Python wheel."""
    given = (config_settings or {}).get("library") or os.environ.get(LIBRARY_ENV)
    if given:
        path = Path(str(given))
        if not path.is_file():
            raise BuildError(f"library to bundle not found: {path}")
        return path.resolve()
    built = source.parent / "build" / SONAME
    return built.resolve() if built.is_file() else None


def shipped_bytes(path: Path, config_settings: ConfigSettings) -> bytes:
    """A library's bytes as the wheel carries it: stripped unless ``strip=no`` is asked.

    Without a working ``strip`` the file goes in as it is, with a notice.
    """
    if str((config_settings or {}).get("strip", "yes")).lower() in ("no", "0", "false"):
        return path.read_bytes()
    tool = shutil.which("strip")
    if tool is None:
        print(f"quenfold_build: no strip program; {path.name} is bundled unstripped",
              file=sys.stderr)
        return path.read_bytes()
    with tempfile.TemporaryDirectory(prefix="quenfold-build-") as work:
        copy = Path(work) / path.name
        shutil.copyfile(path, copy)
        done = subprocess.run([tool, "--strip-unneeded", str(copy)], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, universal_newlines=True)
        if done.returncode != 0:
            print(f"quenfold_build: strip failed on {path}; bundled unstripped: "
                  f"{done.stdout.strip()}", file=sys.stderr)
            return path.read_bytes()
        return copy.read_bytes()


def platform_tag() -> str:
    return sysconfig.get_platform().replace("-", "_").replace(".", "_")


def package_files(source: Path, version: str) -> List[Tuple[str, bytes]]:
    """(archive name, content) of the package's modules and marker files."""
    files = []
    for path in sorted((source / PACKAGE).iterdir()):
        if path.is_file() and (path.suffix == ".py" or path.name == "py.typed"):
            data = version_module(version) if path.name == "_version.py" else path.read_bytes()
            files.append((f"{PACKAGE}/{path.name}", data))
    return files


def metadata_text(version: str, source: Path = SOURCE) -> bytes:
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {NAME}",
        f"Version: {version}",
        f"Summary: {SUMMARY}",
        f"Requires-Python: {REQUIRES_PYTHON}",
        *(f"Classifier: {c}" for c in CLASSIFIERS),
        "Description-Content-Type: text/markdown",
    ]
    readme = source / "README.md"
    body = readme.read_text(encoding="utf-8") if readme.is_file() else ""
    return ("\n".join(lines) + "\n\n" + body).encode("utf-8")


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(
    directory: str, tag: str, version: str, files: List[Tuple[str, bytes, int]]
) -> str:
    """Write the wheel of ``files`` (name, content, mode) and its dist-info; return its name."""
    dist_info = f"{PACKAGE}-{version}.dist-info"
    wheel = (
        f"Wheel-Version: 1.0\nGenerator: {PACKAGE} build backend\n"
        f"Root-Is-Purelib: {'true' if tag.endswith('-any') else 'false'}\nTag: {tag}\n"
    ).encode()
    files = files + [
        (f"{dist_info}/METADATA", metadata_text(version), 0o644),
        (f"{dist_info}/WHEEL", wheel, 0o644),
        (f"{dist_info}/top_level.txt", f"{PACKAGE}\n".encode(), 0o644),
    ]
    record = [_record_line(name, data) for name, data, _ in files] + [f"{dist_info}/RECORD,,"]
    files.append((f"{dist_info}/RECORD", ("\n".join(record) + "\n").encode(), 0o644))
    filename = f"{PACKAGE}-{version}-{tag}.whl"
    with zipfile.ZipFile(os.path.join(directory, filename), "w", zipfile.ZIP_DEFLATED) as whl:
        for name, data, mode in files:
            info = zipfile.ZipInfo(name, _EPOCH)
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            whl.writestr(info, data)
    return filename


# ---- the PEP 517 / PEP 660 hooks ---------------------------------------------


def get_requires_for_build_wheel(config_settings: ConfigSettings = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: ConfigSettings = None) -> List[str]:
    return []


def get_requires_for_build_editable(config_settings: ConfigSettings = None) -> List[str]:
    return []


def build_wheel(
    wheel_directory: str,
    config_settings: ConfigSettings = None,
    metadata_directory: Optional[str] = None,
) -> str:
    version = project_version()
    files = [(name, data, 0o644) for name, data in package_files(SOURCE, version)]
    library = find_library(config_settings)
    if library is None:
        tag = "py3-none-any"
        print(
            f"quenfold_build: no built library found (build/{SONAME}, {LIBRARY_ENV} or "
            f"--config-settings library=PATH); the package will use the system's {SONAME}",
            file=sys.stderr,
        )
    else:
        tag = f"py3-none-{platform_tag()}"
        files.append((f"{PACKAGE}/{SONAME}", shipped_bytes(library, config_settings), 0o755))
        # The PDF and comic-archive readers: a module the library opens from
        # its own directory at the first book that needs it.
        module = library.parent / f"{LAZY_MODULE}.{version}"
        if module.is_file():
            files.append((f"{PACKAGE}/{module.name}", shipped_bytes(module, config_settings), 0o755))
    return _write_wheel(wheel_directory, tag, version, files)


def build_editable(
    wheel_directory: str,
    config_settings: ConfigSettings = None,
    metadata_directory: Optional[str] = None,
) -> str:
    # A path entry pointing at this source tree: the package then finds the
    # library in the checkout's build/ as it does when run from here.
    version = project_version()
    pth = (str(SOURCE) + "\n").encode()
    return _write_wheel(wheel_directory, "py3-none-any", version, [(f"{PACKAGE}.pth", pth, 0o644)])


def build_sdist(sdist_directory: str, config_settings: ConfigSettings = None) -> str:
    version = project_version()
    root = f"{PACKAGE}-{version}"
    members: Dict[str, bytes] = {"PKG-INFO": metadata_text(version)}
    for name in ("pyproject.toml", "README.md"):
        members[name] = (SOURCE / name).read_bytes()
    members[f"_backend/{Path(__file__).name}"] = Path(__file__).read_bytes()
    members.update(package_files(SOURCE, version))
    filename = f"{root}.tar.gz"
    path = os.path.join(sdist_directory, filename)
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as tar:
        for name, data in sorted(members.items()):
            info = tarfile.TarInfo(f"{root}/{name}")
            info.size, info.mode, info.mtime = len(data), 0o644, 315532800
            tar.addfile(info, io.BytesIO(data))
    return filename
