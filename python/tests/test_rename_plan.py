"""rename_plan(): requests built from paths and mappings, equal to the C API's plan."""

from __future__ import annotations

import json
import os
import pathlib
import unittest

import quenfold_ebook_meta as qem
from bookgen import BookTestCase, Mobi, fb2, loads, mobi


class RenamePlanTest(BookTestCase):
    def test_books_by_path_and_by_mapping_match_the_c_api(self) -> None:
        sea_book = mobi(Mobi(full_name=b"The Quiet Sea", exth=[(100, b"Ann Lee")]))
        sea = self.write("sea.mobi", sea_book)
        copy = self.write("sea-copy.mobi", sea_book)
        tales = self.write("tales.fb2", fb2())
        missing = os.path.join(self.dir, "missing.epub")
        found = {"path": "/books/x/found.epub", "author": "Jane Roe", "title": "Found: A Story?",
                 "series": "Lost Things", "idx": "2"}
        request = [sea, os.fsencode(copy), pathlib.Path(tales), found, {"title": "Notes"}, missing]
        plan = self.lib.rename_plan(request)
        raw_request = [sea, copy, tales, found, {"title": "Notes"}, missing]
        text, err = self.raw.rename_plan(json.dumps(raw_request).encode())
        self.assertIsNotNone(text, err)
        self.assertEqual(plan, loads(text))

        d = self.dir + "/"
        expected = [
            (sea, d + "Ann Lee - The Quiet Sea.mobi"),
            (copy, d + "Ann Lee - The Quiet Sea (2).mobi"),
            (tales, d + "Tom Bell - Harbour Tales #3 - Tales of the Harbour.fb2"),
            ("/books/x/found.epub", "/books/x/Jane Roe - Lost Things #2 - Found_ A Story.epub"),
            ("Notes.epub", "Unknown - Notes.epub"),
            (missing, d + "Unknown - untitled.epub"),
        ]
        self.assertEqual([(p["from"], p["to"]) for p in plan], expected)
        for entry in plan:
            self.assertEqual(list(entry), ["from", "to", "to_name", "rename"])
            self.assertIs(entry["rename"], False)
            self.assertEqual(entry["to"].rsplit("/", 1)[-1], entry["to_name"])

    def test_pattern(self) -> None:
        book = {"path": "/b/x.epub", "author": "Ann Lee", "title": "Sea", "series": "Cycle",
                "series_index": "4"}
        cases = [
            (None, "Ann Lee - Cycle #4 - Sea.epub"),
            ("", "Ann Lee - Cycle #4 - Sea.epub"),
            ("{title} ({author})", "Sea (Ann Lee).epub"),
            (b"{series} {idx} {title}", "Cycle 4 Sea.epub"),
            ("{title} – Ω", "Sea – Ω.epub"),
        ]
        for pattern, to_name in cases:
            with self.subTest(pattern=pattern):
                (entry,) = self.lib.rename_plan([book], pattern)
                self.assertEqual(entry["to_name"], to_name)
        (entry,) = qem.rename_plan([book], pattern="{author}")
        self.assertEqual(entry["to_name"], "Ann Lee.epub")

    def test_text_values_reach_the_library_as_their_bytes(self) -> None:
        # Values given as bytes or as surrogate-escaped str travel as the same
        # UTF-8 bytes as the plain str.
        title = "Café Ω"
        for value in (title, title.encode(), title.encode().decode("ascii", "surrogateescape")):
            with self.subTest(value=value):
                (entry,) = self.lib.rename_plan([{"title": value, "author": "A", "ext": ".fb2"}])
                self.assertEqual(entry["to_name"], "A - Café Ω.fb2")
        (entry,) = self.lib.rename_plan([{"path": pathlib.Path("/d/e.fb2"), "title": "T"}])
        self.assertEqual((entry["from"], entry["to"]), ("/d/e.fb2", "/d/Unknown - T.fb2"))
        # JSON escapes stay escapes: quotes, backslashes and control characters.
        (entry,) = self.lib.rename_plan([{"path": 'd/"q\\".epub', "title": 'a"b'}])
        self.assertEqual(entry["from"], 'd/"q\\".epub')

    def test_failures(self) -> None:
        # Bytes that are not UTF-8 survive the trip into the request, where the
        # library refuses them: its requests are strict UTF-8 JSON.
        with self.assertRaises(qem.EbookError) as cm:
            self.lib.rename_plan([{"title": b"caf\xe9"}])
        self.assertEqual(str(cm.exception), "invalid files_json")
        with self.assertRaises(qem.EbookError) as cm:
            self.lib.rename_plan([os.path.join(os.fsencode(self.dir), b"caf\xe9.mobi")])
        self.assertEqual(str(cm.exception), "invalid files_json")
        self.assertEqual(self.raw.rename_plan(b'["caf\xe9.mobi"]'), (None, b"invalid files_json"))
        # A lone surrogate that stands for no byte cannot be sent at all.
        with self.assertRaises(UnicodeEncodeError):
            self.lib.rename_plan([{"title": "a\ud800"}])
        with self.assertRaises(TypeError):
            self.lib.rename_plan("/books/a.epub")  # one path, not a list of them
        with self.assertRaises(TypeError):
            self.lib.rename_plan([42])  # type: ignore[list-item]
        with self.assertRaises(TypeError):
            self.lib.rename_plan([{1: "x"}])  # type: ignore[dict-item]
        for request in (["a\0b.epub"], [{"path": b"a\0b.epub"}]):
            with self.assertRaises(ValueError):
                self.lib.rename_plan(request)
        with self.assertRaises(ValueError):
            self.lib.rename_plan([], "{title}\0")
        self.assertEqual(self.lib.rename_plan([]), [])
        self.assertEqual(self.lib.rename_plan(iter(())), [])


if __name__ == "__main__":
    unittest.main()
