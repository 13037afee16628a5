"""Finding and loading the shared library: explicit path, environment, build tree, system."""

from __future__ import annotations

import ctypes.util
import os
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
             mock.patch.object(_native, "_build_tree_library", return_value="/ck/build/lib.so"), \
             mock.patch.object(ctypes.util, "find_library", return_value=soname):
            self.assertEqual(_native.candidate_paths(),
                             ["/ck/build/lib.so", "libquenfold-ebook-meta.so.0"])
            self.assertEqual(_native.candidate_paths(b"/x/lib.so"), ["/x/lib.so"])
            os.environ[qem.ENV_VAR] = "/env/lib.so"
            self.assertEqual(_native.candidate_paths(), ["/env/lib.so"])
            self.assertEqual(_native.candidate_paths("/x/lib.so"), ["/x/lib.so"])
        with mock.patch.dict(os.environ, env, clear=True), \
             mock.patch.object(_native, "_build_tree_library", return_value=None), \
             mock.patch.object(ctypes.util, "find_library", return_value=None):
            self.assertEqual(_native.candidate_paths(), [_native.SONAME])

    def test_explicit_and_environment_paths_load(self) -> None:
        path = library_path()
        self.assertEqual(qem.Library(path).path, path)
        with mock.patch.dict(os.environ, {qem.ENV_VAR: path}):
            self.assertEqual(qem.Library().path, path)

    def test_load_failures(self) -> None:
        missing = "/nonexistent/libquenfold-ebook-meta.so"
        with self.assertRaises(qem.LibraryLoadError) as cm:
            qem.Library(missing)
        self.assertIsInstance(cm.exception, qem.EbookError)
        self.assertIsInstance(cm.exception, OSError)
        self.assertIn(missing, str(cm.exception))
        libc = ctypes.util.find_library("c")
        if libc:
            with self.assertRaises(qem.LibraryLoadError) as cm:
                qem.Library(libc)
            self.assertIn("is not quenfold-ebook-meta", str(cm.exception))


if __name__ == "__main__":
    unittest.main()
