"""Finding and loading the shared library: given path, environment, bundled, build tree, system."""

from __future__ import annotations

import ctypes.util
import os
import pathlib
import unittest
from unittest import mock

import quenfold_ebook_meta as qem
from quenfold_ebook_meta import _native
from bookgen import library_path


class LoadingTest(unittest.TestCase):
    def test_search_order(self) -> None:
        env = {k: v for k, v in os.environ.items() if k != qem.ENV_VAR}
        soname = "libquenfold-ebook-meta.so.0"
        with mock.patch.dict(os.environ, env, clear=True), \
             mock.patch.object(_native, "_bundled_library", return_value="/site/qem/lib.so.0"), \
             mock.patch.object(_native, "_build_tree_library", return_value="/ck/build/lib.so"), \
             mock.patch.object(ctypes.util, "find_library", return_value=soname):
            self.assertEqual(_native.candidate_paths(),
                             ["/site/qem/lib.so.0", "/ck/build/lib.so", soname])
            _native._bundled_library.return_value = None  # type: ignore[attr-defined]
            self.assertEqual(_native.candidate_paths(), ["/ck/build/lib.so", soname])
            self.assertEqual(_native.candidate_paths(b"/x/lib.so"), ["/x/lib.so"])
            os.environ[qem.ENV_VAR] = "/env/lib.so"
            self.assertEqual(_native.candidate_paths(), ["/env/lib.so"])
            self.assertEqual(_native.candidate_paths("/x/lib.so"), ["/x/lib.so"])
        with mock.patch.dict(os.environ, env, clear=True), \
             mock.patch.object(_native, "_bundled_library", return_value=None), \
             mock.patch.object(_native, "_build_tree_library", return_value=None), \
             mock.patch.object(ctypes.util, "find_library", return_value=None):
            self.assertEqual(_native.candidate_paths(), [_native.SONAME])

    def test_explicit_and_environment_paths_load(self) -> None:
        path = library_path()
        self.assertEqual(qem.Library(path).path, path)
        with mock.patch.dict(os.environ, {qem.ENV_VAR: path}):
            self.assertEqual(qem.Library().path, path)

    def test_bundled_copy_is_the_soname_beside_the_package(self) -> None:
        beside = os.path.join(os.path.dirname(_native.__file__), _native.SONAME)
        with mock.patch.object(_native.Path, "is_file", return_value=True):
            self.assertEqual(_native._bundled_library(), os.path.realpath(beside))
        with mock.patch.object(_native.Path, "is_file", return_value=False):
            self.assertIsNone(_native._bundled_library())

    def test_missing_file_fails_to_load(self) -> None:
        missing = "/nonexistent/libquenfold-ebook-meta.so"
        with self.assertRaises(qem.LibraryLoadError) as cm:
            qem.Library(missing)
        self.assertIsInstance(cm.exception, qem.EbookError)
        self.assertIsInstance(cm.exception, OSError)
        self.assertIn(missing, str(cm.exception))

    def test_other_library_fails_to_load(self) -> None:
        libc = ctypes.util.find_library("c")
        if not libc:
            self.skipTest("ctypes.util.find_library finds no C library to stand for a foreign one")
        with self.assertRaises(qem.LibraryLoadError) as cm:
            qem.Library(libc)
        self.assertIn("is not quenfold-ebook-meta", str(cm.exception))

    def test_version_is_the_projects(self) -> None:
        from quenfold_ebook_meta import _version

        cmake = pathlib.Path(_version.__file__).resolve().parents[2] / "CMakeLists.txt"
        if not cmake.is_file():
            self.skipTest(f"not run from a source checkout: no {cmake}")
        self.assertEqual(qem.__version__, _version.read_version(cmake))
        self.assertRegex(qem.__version__, r"^[0-9]+\.[0-9]+\.[0-9]+$")
        # The library built from the same checkout states the same.
        self.assertEqual(qem.Library(library_path()).version, qem.__version__)

    def test_formats_and_the_suffixes_a_scan_considers(self) -> None:
        lib = qem.load(library_path())
        formats = lib.formats()
        self.assertEqual([f["format"] for f in formats], ["epub", "fb2", "mobi", "azw3", "palmdoc",
                                                          "pdf", "cbz", "cbr", "cb7", "cbt"])
        suffixes = lib.book_suffixes
        self.assertEqual(qem.BOOK_SUFFIXES, suffixes)
        self.assertEqual(set(suffixes), {e for f in formats for e in f["extensions"]})
        self.assertIn(".fb2.zip", suffixes)
        self.assertNotIn(".zip", suffixes)
        palm = {(s["offset"], s["bytes"]) for s in formats[2]["signatures"]}
        self.assertEqual(palm, {(60, "BOOKMOBI"), (60, "TEXtREAd")})
        with self.assertRaises(AttributeError):
            qem.NO_SUCH_NAME  # type: ignore[attr-defined]


if __name__ == "__main__":
    unittest.main()
