"""info(): books of each family, errors, DRM warnings, path types and undecodable text."""

from __future__ import annotations

import os
import pathlib
import unittest
import warnings

import quenfold_ebook_meta as qem
from bookgen import TINY_JPEG, BookTestCase, Mobi, epub, fb2, loads, mobi


class InfoTest(BookTestCase):
    def assert_same_as_c(self, path: str) -> dict:
        text, err = self.raw.info(os.fsencode(path))
        self.assertIsNotNone(text, err)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            book = self.lib.info(path)
        self.assertEqual(book, loads(text))
        return book

    def test_each_family_matches_the_c_api(self) -> None:
        cases = [
            (
                "a.mobi",
                mobi(Mobi(full_name=b"Example Title", exth=[(100, b"Example Author"), (524, b"en"),
                                                             (113, b"B0EXAMPLE0")],
                          images=[TINY_JPEG], cover_image=0)),
                {"format": "mobi", "title": "Example Title", "author": "Example Author",
                 "language": "en", "asin": "B0EXAMPLE0", "series": "", "has_cover": True},
            ),
            (
                "b.azw3",
                mobi(Mobi(full_name=b"Kf8 Book", mobi_type=248)),
                {"format": "azw3", "title": "Kf8 Book", "author": "", "has_cover": False},
            ),
            (
                "c.epub",
                epub(series="Sea Cycle", series_index="2", cover=TINY_JPEG),
                {"format": "epub", "title": "The Quiet Sea", "author": "Ann Lee", "language": "en",
                 "series": "Sea Cycle", "series_index": "2", "has_cover": True},
            ),
            (
                "d.fb2",
                fb2(cover=TINY_JPEG),
                {"format": "fb2", "title": "Tales of the Harbour", "author": "Tom Bell",
                 "series": "Harbour Tales", "series_index": "3", "has_cover": True},
            ),
        ]
        for name, data, expected in cases:
            with self.subTest(name):
                path = self.write(name, data)
                book = self.assert_same_as_c(path)
                self.assertIs(book["drm"], False)
                self.assertIsInstance(book["series_index"], str)
                self.assertEqual({k: book[k] for k in expected}, expected)
                self.assertNotIn("cover_mime", book)

    def test_real_world_books_match_the_c_api(self) -> None:
        corpus = os.environ.get("QEM_CORPUS_DIR", "")
        if not os.path.isdir(corpus):
            self.skipTest("no corpus of real books")
        files = sorted(
            os.path.join(root, name) for root, _, names in os.walk(corpus) for name in names
            if name.rsplit(".", 1)[-1].lower() in ("epub", "fb2", "mobi", "azw", "azw3")
        )
        self.assertTrue(files)
        for path in files:
            with self.subTest(os.path.relpath(path, corpus)):
                text, err = self.raw.info(os.fsencode(path))
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    if text is None:
                        with self.assertRaises(qem.EbookError) as cm:
                            self.lib.info(path)
                        self.assertEqual(str(cm.exception).encode("utf-8", "surrogateescape"), err)
                    else:
                        self.assertEqual(self.lib.info(path), loads(text))

    def test_errors_raise_with_the_library_message(self) -> None:
        missing = os.path.join(self.dir, "missing.epub")
        cases = [
            (missing, f"cannot open file: {missing} (No such file or directory)"),
            (self.write("notes.txt", b"plain text, no book"),
             f"unsupported ebook format: {self.dir}/notes.txt"),
            (self.write("short.mobi", b"x" * 77), "MOBI too short for PalmDB header"),
        ]
        for path, message in cases:
            with self.subTest(message):
                with self.assertRaises(qem.EbookError) as cm:
                    self.lib.info(path)
                self.assertEqual(str(cm.exception), message)
                self.assertEqual(cm.exception.message, message)
                self.assertEqual(self.raw.info(os.fsencode(path)), (None, message.encode()))

    def test_bad_arguments_are_python_errors(self) -> None:
        with self.assertRaises(TypeError):
            self.lib.info(None)  # type: ignore[arg-type]
        with self.assertRaises(TypeError):
            self.lib.info(42)  # type: ignore[arg-type]
        with self.assertRaises(ValueError):
            self.lib.info(self.dir + "/a\0b.mobi")

    def test_drm_book_is_described_with_a_warning(self) -> None:
        books = [
            ("mobi", "locked.azw", mobi(Mobi(encryption=2)),
             "DRM protected MOBI (encryption type 2); will not decrypt"),
            ("epub", "locked.epub", epub(encrypted=True),
             "DRM protected EPUB (encryption.xml present); will not decrypt"),
            ("fb2", "locked.fb2", fb2(encrypted=True),
             "DRM/encrypted FB2 detected; will not decrypt"),
        ]
        for family, name, data, notice in books:
            with self.subTest(name):
                path = self.write(name, data)
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    book = qem.info(path)
                    self.assertEqual(self.lib.info(path), book)
                self.assertIs(book["drm"], True)
                self.assertEqual(book["format"], family)
                self.assertEqual([w.category for w in caught], [qem.DrmWarning] * 2)
                for w in caught:  # attributed to the caller, not to the binding
                    self.assertEqual(str(w.message), notice)
                    self.assertEqual(w.filename, __file__)
                self.assertTrue(issubclass(qem.DrmWarning, UserWarning))
                text, err = self.raw.info(os.fsencode(path))
                self.assertEqual(loads(text), book)

    def test_warning_can_be_turned_into_an_error_by_the_caller(self) -> None:
        path = self.write("locked.mobi", mobi(Mobi(encryption=1)))
        with warnings.catch_warnings():
            warnings.simplefilter("error", qem.DrmWarning)
            with self.assertRaises(qem.DrmWarning):
                self.lib.info(path)

    def test_partly_understood_book_gives_a_plain_ebook_warning(self) -> None:
        # PalmDOC-only: record 0 without a MOBI header.
        from bookgen import palmdb

        path = self.write("plain.mobi", palmdb(b"Plain Doc", [b"\0\x01" + b"\0" * 14, b"text"]))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            book = self.lib.info(path)
        self.assertEqual(book["title"], "Plain Doc")
        self.assertEqual([w.category for w in caught], [qem.EbookWarning])
        self.assertEqual(str(caught[0].message), "no MOBI header (PalmDOC-only); limited support")

    def test_clean_book_gives_no_warning(self) -> None:
        path = self.write("clean.mobi", mobi(Mobi()))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            self.lib.info(path)
        self.assertEqual(caught, [])

    def test_path_types_and_undecodable_names(self) -> None:
        data = mobi(Mobi(full_name=b"Named"))
        raw_name = os.path.join(os.fsencode(self.dir), b"caf\xe9.mobi")  # not UTF-8
        with open(raw_name, "wb") as f:
            f.write(data)
        for path in (raw_name, os.fsdecode(raw_name), pathlib.Path(os.fsdecode(raw_name))):
            with self.subTest(type(path).__name__):
                self.assertEqual(self.lib.info(path)["title"], "Named")
        missing = os.path.join(os.fsencode(self.dir), b"gone\xff.mobi")
        with self.assertRaises(qem.EbookError) as cm:
            self.lib.info(missing)
        # The path in the message survives as surrogate escapes.
        self.assertIn(os.fsdecode(missing), str(cm.exception))
        self.assertIn(missing, str(cm.exception).encode("utf-8", "surrogateescape"))

    def test_non_utf8_title_round_trips_to_its_bytes(self) -> None:
        full_name = b"Caf\xe9 \x93Quoted\x94"  # windows-1252
        author = b"Jos\xe9 Ni\xf1o"
        path = self.write("cp1252.mobi", mobi(Mobi(full_name=full_name, exth=[(100, author)])))
        book = self.assert_same_as_c(path)
        self.assertEqual(book["title"].encode("utf-8", "surrogateescape"), full_name)
        self.assertEqual(book["author"].encode("utf-8", "surrogateescape"), author)
        with self.assertRaises(UnicodeEncodeError):
            book["title"].encode("utf-8")
        # Valid UTF-8 stays ordinary text.
        path = self.write("utf8.mobi", mobi(Mobi(full_name="Café „Ω“".encode())))
        self.assertEqual(self.lib.info(path)["title"], "Café „Ω“")

    def test_each_result_is_freed_exactly_once(self) -> None:
        native = self.lib._native
        returned, freed = [], []
        real_info, real_free = native.ebook_info, native.ebook_free_string

        def info_spy(path: bytes) -> int:
            ptr = real_info(path)
            returned.append(ptr)
            return ptr

        def free_spy(ptr: int) -> None:
            freed.append(ptr)
            real_free(ptr)

        native.ebook_info, native.ebook_free_string = info_spy, free_spy
        try:
            path = self.write("a.mobi", mobi(Mobi()))
            for _ in range(3):
                self.lib.info(path)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                self.lib.info(self.write("locked.mobi", mobi(Mobi(encryption=2))))
            with self.assertRaises(qem.EbookError):
                self.lib.info(self.dir + "/missing.mobi")
        finally:
            native.ebook_info, native.ebook_free_string = real_info, real_free
        self.assertEqual(len(returned), 5)
        self.assertIsNone(returned[-1])
        self.assertEqual(freed, returned[:-1])


if __name__ == "__main__":
    unittest.main()
