"""metadata() and metadata_from_bytes(): the full record of each family, from files and memory."""

from __future__ import annotations

import ctypes
import json
import os
import pathlib
import unittest
import warnings
from unittest import mock

import quenfold_ebook_meta as qem
from bookgen import (TINY_JPEG, TINY_PNG, BookTestCase, Mobi, Without, epub, fb2, fb2_zip,
                     full_record, mobi, needs_full_record)

# name, bytes, and what the record must say: format, title, first author, language, series
BOOKS = [
    ("a.mobi", mobi(Mobi(full_name=b"Example Title", exth=[(100, b"Example Author"), (524, b"en")],
                         images=[TINY_JPEG], cover_image=0)),
     ("mobi", "Example Title", "Example Author", "en", None)),
    ("b.azw3", mobi(Mobi(full_name=b"Kf8 Book", mobi_type=248, file_version=8)),
     ("azw3", "Kf8 Book", "", "", None)),
    ("c.epub", epub(series="Sea Cycle", series_index="2", cover=TINY_PNG),
     ("epub", "The Quiet Sea", "Ann Lee", "en", qem.Series("Sea Cycle", "2"))),
    ("d.fb2", fb2(cover=TINY_JPEG),
     ("fb2", "Tales of the Harbour", "Tom Bell", "en", qem.Series("Harbour Tales", "3"))),
    ("e.fb2", fb2(title="Белые ночи", first="Фёдор", last="Достоевский", language="ru",
                  series=None, encoding="windows-1251"),
     ("fb2", "Белые ночи", "Фёдор Достоевский", "ru", None)),
    ("f.fb2.zip", fb2_zip(fb2(title="Zipped")),
     ("fb2", "Zipped", "Tom Bell", "en", qem.Series("Harbour Tales", "3"))),
]


class MetadataTest(BookTestCase):
    def setUp(self) -> None:
        super().setUp()
        needs_full_record(self.lib)

    def test_each_family_from_a_file_and_from_memory(self) -> None:
        for name, data, (fmt, title, author, language, series) in BOOKS:
            with self.subTest(name):
                path = self.write(name, data)
                book = self.lib.metadata(path)
                self.assertEqual((book.format, book.title, book.author, book.language),
                                 (fmt, title, author, language))
                self.assertEqual(book.primary_series, series)
                self.assertIs(book.drm, False)
                for same in (qem.metadata(pathlib.Path(path)), qem.metadata(os.fsencode(path)),
                             self.lib.metadata_from_bytes(data, name),
                             self.lib.metadata_from_bytes(bytearray(data), name.encode()),
                             qem.metadata_from_bytes(memoryview(data), pathlib.Path(path))):
                    self.assertEqual(same, book)

    def test_agrees_with_the_basic_object(self) -> None:
        for name, data, _ in BOOKS:
            if name in ("e.fb2", "f.fb2.zip"):
                continue  # the basic object keeps windows-1251 bytes raw and reads no ZIP
            with self.subTest(name):
                path = self.write(name, data)
                basic, book = self.lib.info(path), self.lib.metadata(path)
                self.assertEqual((book.format, book.title, book.author, book.language),
                                 (basic["format"], basic["title"], basic["author"],
                                  basic["language"]))
                self.assertEqual(book.cover is not None, basic["has_cover"])

    def test_details_of_the_record(self) -> None:
        cp1251 = self.lib.metadata(self.write("e.fb2", BOOKS[4][1]))
        self.assertIn("1251", cp1251.encoding or "")
        zipped = self.lib.metadata(self.write("f.fbz", BOOKS[5][1]))
        self.assertEqual(zipped.container, "fb2.zip")
        mobi_book = self.lib.metadata(self.write("a.mobi", BOOKS[0][1]))
        self.assertEqual(mobi_book.cover.mime if mobi_book.cover else None, "image/jpeg")
        self.assertEqual(mobi_book.cover.size if mobi_book.cover else None, len(TINY_JPEG))

    def test_from_memory_without_a_name_reads_by_content(self) -> None:
        for name, data, (fmt, title, *_) in BOOKS[:4]:
            with self.subTest(name):
                book = self.lib.metadata_from_bytes(data)
                self.assertEqual((book.format, book.title), (fmt, title))

    def test_protected_books_are_described_without_a_warning(self) -> None:
        for name, data, scheme in [("locked.azw", mobi(Mobi(encryption=2)), "mobipocket"),
                                   ("locked.fb2", fb2(encrypted=True), "fb2-encrypted")]:
            with self.subTest(name):
                path = self.write(name, data)
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    book = self.lib.metadata(path)
                    self.assertEqual(self.lib.metadata_from_bytes(data, name), book)
                self.assertEqual(caught, [])
                self.assertEqual((book.drm, book.drm_scheme), (True, scheme))

    def test_failures_raise_the_library_message(self) -> None:
        raw = ctypes.CDLL(self.lib.path)
        raw.ebook_metadata.argtypes = [ctypes.c_char_p]
        raw.ebook_metadata.restype = ctypes.c_void_p
        raw.ebook_last_error.restype = ctypes.c_char_p
        missing = os.path.join(self.dir, "missing.epub")
        for path in (missing, self.write("short.mobi", b"x" * 10)):
            with self.subTest(path):
                with self.assertRaises(qem.EbookError) as cm:
                    self.lib.metadata(path)
                self.assertIsNone(raw.ebook_metadata(os.fsencode(path)))
                self.assertEqual(str(cm.exception).encode(), raw.ebook_last_error())
        with self.assertRaises(qem.EbookError):
            self.lib.metadata_from_bytes(b"x" * 10, "short.mobi")
        with self.assertRaises(qem.EbookError):
            self.lib.metadata_from_bytes(b"", None)


class MetadataArgumentsTest(BookTestCase):
    """What the binding checks itself, and a library that predates the full record."""

    def test_bad_arguments_are_python_errors(self) -> None:
        cases = [
            (TypeError, lambda: self.lib.metadata_from_bytes("text")),  # type: ignore[arg-type]
            (TypeError, lambda: self.lib.metadata_from_bytes(None)),  # type: ignore[arg-type]
            (ValueError, lambda: self.lib.metadata_from_bytes(b"", "a\0.epub")),
            (TypeError, lambda: self.lib.metadata(42)),  # type: ignore[arg-type]
            (ValueError, lambda: self.lib.metadata(self.dir + "/a\0b.epub")),
        ]
        with mock.patch.object(self.lib._native, "later_export", return_value=None):
            for error, call in cases:
                with self.subTest(error=error):
                    self.assertRaises(error, call)

    def test_older_library_still_serves_the_rest(self) -> None:
        native = self.lib._native
        names = ("ebook_metadata", "ebook_metadata_from_memory")
        path = self.write("a.mobi", mobi(Mobi(full_name=b"Old")))
        with mock.patch.object(native, "_dll", Without(native._dll, *names)), \
             mock.patch.dict(native._later, clear=True):
            for call, name in [(lambda: self.lib.metadata(path), names[0]),
                               (lambda: qem.metadata_from_bytes(b"", "a.epub"), names[1])]:
                with self.subTest(name):
                    with self.assertRaises(qem.LibraryLoadError) as cm:
                        call()
                    self.assertEqual(str(cm.exception),
                                     f"{self.lib.path} does not export {name}: the library is "
                                     "older than this binding; build or install a newer one")
            self.assertFalse(native.has_export(names[0]))
            self.assertEqual(self.lib.info(path)["title"], "Old")

    def test_arguments_reach_the_export_and_the_record_is_freed(self) -> None:
        # Stand-ins for the two exports, called through ctypes as the real ones
        # are: they see exactly what the library would and return heap text.
        libc = ctypes.CDLL(None)
        libc.strdup.argtypes, libc.strdup.restype = [ctypes.c_char_p], ctypes.c_void_p
        seen: list = []
        returned: list = []

        def record(title: str) -> int:
            ptr: int = libc.strdup(json.dumps(full_record(title=title)).encode())
            returned.append(ptr)
            return ptr

        from_path = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_char_p)(
            lambda path: seen.append(path) or record(os.fsdecode(path)))
        from_memory = ctypes.CFUNCTYPE(
            ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p)(
            lambda data, size, name: seen.append((ctypes.string_at(data, size), name))
            or record("memory"))
        exports = {"ebook_metadata": from_path, "ebook_metadata_from_memory": from_memory}
        native = self.lib._native
        freed: list = []
        real_free = native.ebook_free_string
        with mock.patch.object(native, "later_export", side_effect=exports.__getitem__), \
             mock.patch.object(native, "ebook_free_string",
                               side_effect=lambda p: freed.append(p) or real_free(p)):
            book = self.lib.metadata_from_bytes(bytearray(b"PK\0\x03 bytes"), "a.epub")
            self.assertEqual(book.title, "memory")
            self.lib.metadata_from_bytes(b"")
            self.assertEqual(self.lib.metadata(pathlib.Path(self.dir, "caf\udce9.epub")).title,
                             os.path.join(self.dir, "caf\udce9.epub"))
        self.assertEqual(seen, [(b"PK\0\x03 bytes", b"a.epub"), (b"", None),
                                os.path.join(os.fsencode(self.dir), b"caf\xe9.epub")])
        self.assertEqual(freed, returned)

    def test_a_record_of_the_wrong_shape_is_an_ebook_error(self) -> None:
        with mock.patch.object(self.lib, "_json_call", return_value=({"format": "epub"}, b"")), \
             mock.patch.object(self.lib._native, "later_export", return_value=None):
            with self.assertRaises(qem.EbookError) as cm:
                self.lib.metadata("x.epub")
        self.assertIn("unexpected book record", str(cm.exception))
        self.assertIn("missing 'container'", str(cm.exception))


if __name__ == "__main__":
    unittest.main()
