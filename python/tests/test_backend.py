"""The build backend: the version from CMake, the library it bundles, the wheel's contents."""

from __future__ import annotations

import base64
import contextlib
import hashlib
import io
import os
import shutil
import sys
import tarfile
import tempfile
import unittest
import zipfile
from pathlib import Path
from unittest import mock

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "_backend"))
import quenfold_build as backend  # noqa: E402  (lives outside the package, as pip loads it)

from quenfold_ebook_meta import _version  # noqa: E402


class BackendTest(unittest.TestCase):
    def setUp(self) -> None:
        self.dir = Path(tempfile.mkdtemp(prefix="qem-backend-"))
        self.addCleanup(shutil.rmtree, self.dir, True)

    def test_version_is_read_from_the_project_declaration(self) -> None:
        cases = [
            ("project(quenfold-ebook-meta VERSION 0.1.0 LANGUAGES C CXX)", "0.1.0"),
            ("project(\n  quenfold-ebook-meta\n  VERSION 12.3.45\n)", "12.3.45"),
            ("project(quenfold-ebook-meta LANGUAGES C VERSION 2.0)", "2.0"),
            ("project(other VERSION 9.9.9)\nproject(quenfold-ebook-meta VERSION 1.2.3)", "1.2.3"),
            ("project(quenfold-ebook-meta LANGUAGES C)\nset(VERSION 3.0.0)", None),
            ("project(quenfold-ebook-meta-extra VERSION 4.0.0)", None),
        ]
        cmake = self.dir / "CMakeLists.txt"
        for text, expected in cases:
            with self.subTest(text):
                cmake.write_text(text)
                self.assertEqual(_version.read_version(cmake), expected)
        self.assertIsNone(_version.read_version(self.dir / "missing.txt"))

    def test_backend_refuses_to_build_without_a_version(self) -> None:
        package = self.dir / "python" / backend.PACKAGE
        package.mkdir(parents=True)
        shutil.copy(_version.__file__, package / "_version.py")
        (self.dir / "CMakeLists.txt").write_text("project(quenfold-ebook-meta LANGUAGES C)")
        with self.assertRaisesRegex(backend.BuildError, "cannot find the version"):
            backend.project_version(self.dir / "python")
        (self.dir / "CMakeLists.txt").write_text("project(quenfold-ebook-meta VERSION 7.1.2)")
        self.assertEqual(backend.project_version(self.dir / "python"), "7.1.2")

    def test_library_to_bundle(self) -> None:
        source = self.dir / "python"
        source.mkdir()
        given, env_lib = self.dir / "given.so", self.dir / "env.so"
        built = self.dir / "build" / backend.SONAME
        for f in (given, env_lib):
            f.write_bytes(b"\x7fELF")
        clean = {k: v for k, v in os.environ.items() if k != backend.LIBRARY_ENV}
        with mock.patch.dict(os.environ, clean, clear=True):
            self.assertIsNone(backend.find_library(None, source))
            built.parent.mkdir()
            built.write_bytes(b"\x7fELF")
            self.assertEqual(backend.find_library({}, source), built.resolve())
            os.environ[backend.LIBRARY_ENV] = str(env_lib)
            self.assertEqual(backend.find_library(None, source), env_lib.resolve())
            self.assertEqual(backend.find_library({"library": str(given)}, source),
                             given.resolve())
            os.environ[backend.LIBRARY_ENV] = str(self.dir / "gone.so")
            with self.assertRaisesRegex(backend.BuildError, "library to bundle not found"):
                backend.find_library(None, source)

    def check_wheel(self, wheel: Path) -> zipfile.ZipFile:
        """Open a wheel after checking that its RECORD lists every file with the right hash."""
        whl = zipfile.ZipFile(wheel)
        self.addCleanup(whl.close)
        record_name = next(n for n in whl.namelist() if n.endswith(".dist-info/RECORD"))
        listed = {}
        for line in whl.read(record_name).decode().splitlines():
            name, digest, size = line.rsplit(",", 2)
            listed[name] = (digest, size)
        self.assertEqual(sorted(listed), sorted(whl.namelist()))
        for name in whl.namelist():
            if name != record_name:
                data = whl.read(name)
                sha = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
                self.assertEqual(listed[name], (f"sha256={sha.decode()}", str(len(data))), name)
        return whl

    def test_wheels_with_and_without_the_library(self) -> None:
        lib = self.dir / "lib.so"
        lib.write_bytes(b"\x7fELF not really")
        version = backend.project_version()
        prefix = f"quenfold_ebook_meta-{version}"
        for settings, tag in [({"library": str(lib)}, f"py3-none-{backend.platform_tag()}"),
                              (None, "py3-none-any")]:
            with self.subTest(tag), mock.patch.object(backend, "find_library",
                                                      side_effect=lambda c: lib if c else None):
                with contextlib.redirect_stderr(io.StringIO()) as notice:
                    name = backend.build_wheel(str(self.dir), settings)
                self.assertEqual("no built library found" in notice.getvalue(), not settings)
                self.assertEqual(name, f"{prefix}-{tag}.whl")
                whl = self.check_wheel(self.dir / name)
                names = whl.namelist()
                self.assertIn("quenfold_ebook_meta/py.typed", names)
                self.assertIn("quenfold_ebook_meta/_record.py", names)
                self.assertFalse([n for n in names if "__pycache__" in n or "tests" in n])
                bundled = f"quenfold_ebook_meta/{backend.SONAME}"
                if settings:
                    self.assertEqual(whl.read(bundled), lib.read_bytes())
                    self.assertEqual(whl.getinfo(bundled).external_attr >> 16 & 0o777, 0o755)
                else:
                    self.assertNotIn(bundled, names)
                wheel_file = whl.read(f"{prefix}.dist-info/WHEEL").decode()
                self.assertIn(f"Tag: {tag}\n", wheel_file)
                self.assertIn(f"Root-Is-Purelib: {'false' if settings else 'true'}", wheel_file)
                meta = whl.read(f"{prefix}.dist-info/METADATA").decode()
                self.assertIn("Name: quenfold-ebook-meta\nVersion: " + version + "\n", meta)
                namespace: dict = {}
                exec(whl.read("quenfold_ebook_meta/_version.py"), namespace)
                self.assertEqual(namespace["VERSION"], version)

    def test_sdist_carries_its_version(self) -> None:
        name = backend.build_sdist(str(self.dir))
        root = f"quenfold_ebook_meta-{backend.project_version()}"
        self.assertEqual(name, root + ".tar.gz")
        with tarfile.open(self.dir / name) as tar:
            tar.extractall(self.dir / "unpacked")
        unpacked = self.dir / "unpacked" / root
        self.assertTrue((unpacked / "pyproject.toml").is_file())
        self.assertEqual(backend.project_version(unpacked), backend.project_version())


if __name__ == "__main__":
    unittest.main()
