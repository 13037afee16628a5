"""scan_dir(): one dict per book file, equal to the C API's array, and the failures."""

from __future__ import annotations

import os
import pathlib
import unittest
import warnings

import quenfold_ebook_meta as qem
from bookgen import TINY_JPEG, BookTestCase, Mobi, epub, fb2, loads, mobi


class ScanDirTest(BookTestCase):
    def test_directory_matches_the_c_api(self) -> None:
        self.write("a.mobi", mobi(Mobi(full_name=b"Alpha", exth=[(113, b"B0ALPHA000")])))
        self.write("b.FB2", fb2())
        self.write("c.epub", epub(cover=TINY_JPEG))
        self.write("locked.azw", mobi(Mobi(encryption=3)))
        self.write("broken.mobi", b"x" * 10)
        self.write(".hidden.mobi", mobi(Mobi()))
        self.write("notes.txt", b"not a book")
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            books = self.lib.scan_dir(self.dir)
        self.assertEqual(caught, [])  # DRM shows in the element, not as a warning
        text, _ = self.raw.scan_dir(os.fsencode(self.dir))
        self.assertEqual(books, loads(text))

        by_name = {os.path.basename(b["path"]): b for b in books}
        self.assertEqual(sorted(by_name),
                         ["a.mobi", "b.FB2", "broken.mobi", "c.epub", "locked.azw"])
        self.assertEqual(by_name["a.mobi"]["path"], os.path.join(self.dir, "a.mobi"))
        self.assertEqual(by_name["a.mobi"]["title"], "Alpha")
        self.assertEqual(by_name["a.mobi"]["asin"], "B0ALPHA000")
        self.assertEqual(by_name["broken.mobi"],
                         {"path": os.path.join(self.dir, "broken.mobi"),
                          "error": "MOBI too short for PalmDB header"})
        self.assertIs(by_name["locked.azw"]["drm"], True)
        self.assertNotIn("error", by_name["locked.azw"])
        self.assertEqual(list(by_name["b.FB2"])[:2], ["path", "drm"])

    def test_empty_directory_and_path_types(self) -> None:
        for path in (self.dir, os.fsencode(self.dir), pathlib.Path(self.dir)):
            with self.subTest(type(path).__name__):
                self.assertEqual(qem.scan_dir(path), [])

    def test_undecodable_file_name_and_title_round_trip(self) -> None:
        name = b"caf\xe9.mobi"
        title = b"Na\xefve \x96 Title"
        with open(os.path.join(os.fsencode(self.dir), name), "wb") as f:
            f.write(mobi(Mobi(full_name=title)))
        (book,) = self.lib.scan_dir(os.fsencode(self.dir))
        self.assertEqual(os.fsencode(book["path"]), os.path.join(os.fsencode(self.dir), name))
        self.assertEqual(book["title"].encode("utf-8", "surrogateescape"), title)
        # The path handed back opens the same file.
        self.assertEqual(self.lib.info(book["path"])["title"], book["title"])

    def test_unreadable_directory_raises(self) -> None:
        missing = os.path.join(self.dir, "none")
        with self.assertRaises(qem.EbookError) as cm:
            self.lib.scan_dir(missing)
        self.assertEqual(str(cm.exception),
                         f"cannot open dir: {missing} (No such file or directory)")


if __name__ == "__main__":
    unittest.main()
