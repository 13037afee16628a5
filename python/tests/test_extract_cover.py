"""extract_cover(): cover bytes of each family written unchanged, and the failures."""

from __future__ import annotations

import os
import pathlib
import unittest
import warnings

import quenfold_ebook_meta as qem
from bookgen import TINY_JPEG, TINY_PNG, BookTestCase, Mobi, epub, fb2, mobi


class ExtractCoverTest(BookTestCase):
    def test_cover_of_each_family_is_written_byte_for_byte(self) -> None:
        cases = [
            ("a.mobi", mobi(Mobi(images=[TINY_PNG, TINY_JPEG], cover_image=1)), TINY_JPEG),
            ("b.epub", epub(cover=TINY_PNG), TINY_PNG),
            ("c.fb2", fb2(cover=TINY_JPEG), TINY_JPEG),
        ]
        for name, data, cover in cases:
            with self.subTest(name):
                book = self.write(name, data)
                out = self.write(name + ".img", b"old content that is longer than the cover" * 4)
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    self.assertIsNone(self.lib.extract_cover(book, out))
                self.assertEqual(caught, [])
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), cover)

    def test_path_types(self) -> None:
        book = self.write("a.mobi", mobi(Mobi(images=[TINY_JPEG], cover_image=0)))
        out = os.path.join(os.fsencode(self.dir), b"cover\xff.jpg")
        as_path = pathlib.Path(os.fsdecode(out))
        for src, dst in ((os.fsencode(book), out), (pathlib.Path(book), as_path)):
            with self.subTest(type(src).__name__):
                if os.path.exists(out):
                    os.remove(out)
                qem.extract_cover(src, dst)
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), TINY_JPEG)

    def test_failures_raise_and_leave_the_destination_alone(self) -> None:
        no_cover = self.write("plain.mobi", mobi(Mobi()))
        locked = self.write(
            "locked.mobi", mobi(Mobi(encryption=2, images=[TINY_JPEG], cover_image=0))
        )
        good = self.write("good.mobi", mobi(Mobi(images=[TINY_JPEG], cover_image=0)))
        kept = self.write("kept.jpg", b"keep me")
        nowhere = os.path.join(self.dir, "no", "such", "dir.jpg")
        cases = [
            (no_cover, kept, "no cover image found"),
            (locked, kept, "DRM protected MOBI (encryption type 2); will not decrypt"),
            (os.path.join(self.dir, "gone.mobi"), kept,
             f"cannot open file: {self.dir}/gone.mobi (No such file or directory)"),
            (good, nowhere, f"cannot write cover: {nowhere} (No such file or directory)"),
        ]
        for book, out, message in cases:
            with self.subTest(message):
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    with self.assertRaises(qem.EbookError) as cm:
                        self.lib.extract_cover(book, out)
                self.assertEqual(str(cm.exception), message)
                self.assertEqual(caught, [])  # a refused DRM book is an error, not a warning
                with open(kept, "rb") as f:
                    self.assertEqual(f.read(), b"keep me")
        self.assertFalse(os.path.exists(os.path.dirname(nowhere)))
        with self.assertRaises(ValueError):
            self.lib.extract_cover(good, kept + "\0x")


if __name__ == "__main__":
    unittest.main()
