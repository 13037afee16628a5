"""BookMetadata and its parts from JSON dicts: types, round trip, records of the wrong shape."""

from __future__ import annotations

import copy
import dataclasses
import json
import unittest

import quenfold_ebook_meta as qem
from bookgen import full_record


class RecordTest(unittest.TestCase):
    def test_every_member_becomes_a_typed_field_and_comes_back(self) -> None:
        data = full_record()
        book = qem.BookMetadata.from_dict(copy.deepcopy(data))
        self.assertEqual(book.to_dict(), data)
        self.assertEqual(list(book.to_dict()), list(data))  # the library's member order
        self.assertEqual(json.loads(json.dumps(book.to_dict())), data)
        self.assertEqual(book.authors, (qem.Person("Ann Lee", "Lee, Ann", "aut"),))
        self.assertEqual(book.contributors[0].role, "trl")
        self.assertEqual(book.series[1], qem.Series("Tides", "1.5"))
        self.assertEqual(book.identifiers[0], qem.Identifier("isbn", "9780306406157"))
        self.assertEqual(book.cover, qem.Cover("image/jpeg", 1234, "properties"))
        self.assertEqual(book.cover.to_dict() if book.cover else None,
                         {"mime": "image/jpeg", "size": 1234, "from": "properties"})
        self.assertEqual(book.languages, ("en", "fr"))
        self.assertEqual((book.author, book.primary_series), ("Ann Lee", book.series[0]))

    def test_empty_and_null_members(self) -> None:
        data = full_record(
            container=None, version=None, isbn=None, asin=None, cover=None, drm_scheme=None,
            encoding=None, authors=[], contributors=[], series=[], identifiers=[], languages=[],
            subjects=[], warnings=[], title="", description="", pages=None,
        )
        book = qem.BookMetadata.from_dict(data)
        self.assertEqual(book.to_dict(), data)
        self.assertEqual((book.author, book.primary_series, book.cover), ("", None, None))
        self.assertEqual(book.authors, ())

    def test_records_are_frozen_and_hashable(self) -> None:
        book = qem.BookMetadata.from_dict(full_record())
        with self.assertRaises(dataclasses.FrozenInstanceError):
            book.title = "x"  # type: ignore[misc]
        with self.assertRaises(dataclasses.FrozenInstanceError):
            book.authors[0].name = "x"  # type: ignore[misc]
        self.assertEqual(hash(book), hash(qem.BookMetadata.from_dict(full_record())))
        self.assertEqual(len({book, qem.BookMetadata.from_dict(full_record())}), 1)

    def test_members_a_newer_library_adds_are_ignored(self) -> None:
        data = full_record(page_count=12)
        data["authors"][0]["uri"] = "https://example.org/ann"
        book = qem.BookMetadata.from_dict(data)
        self.assertNotIn("page_count", book.to_dict())
        self.assertEqual(book.authors[0].to_dict(), {"name": "Ann Lee", "sort": "Lee, Ann",
                                                     "role": "aut"})

    def test_wrong_shapes_are_refused_with_the_place(self) -> None:
        person = {"name": "A", "sort": "A", "role": "aut"}
        cases = [
            ({"drm": 1}, "BookMetadata.drm: expected bool, got int"),
            ({"drm": None}, "BookMetadata.drm: expected bool, got NoneType"),
            ({"title": None}, "BookMetadata.title: expected str, got NoneType"),
            ({"title": 5}, "BookMetadata.title: expected str, got int"),
            ({"isbn": 9780306406157}, "BookMetadata.isbn: expected str, got int"),
            ({"languages": "en"}, "BookMetadata.languages: expected a list, got str"),
            ({"subjects": ["a", 2]}, "BookMetadata.subjects[1]: expected str, got int"),
            ({"authors": [person, {"name": "B", "sort": "B"}]},
             "BookMetadata.authors[1]: missing 'role'"),
            ({"series": [["Cycle", "2"]]}, "BookMetadata.series[0]: expected an object, got list"),
            ({"series": [{"name": "Cycle", "index": 2}]},
             "BookMetadata.series[0].index: expected str, got int"),
            ({"cover": "image/jpeg"}, "BookMetadata.cover: expected an object, got str"),
            ({"cover": {"mime": "image/png", "size": True, "from": "x"}},
             "BookMetadata.cover.size: expected int, got bool"),
            ({"cover": {"mime": "image/png", "size": 1.5, "from": "x"}},
             "BookMetadata.cover.size: expected int, got float"),
            ({"cover": {"mime": "image/png", "size": 1}}, "BookMetadata.cover: missing 'from'"),
        ]
        for members, message in cases:
            with self.subTest(message):
                with self.assertRaises(qem.RecordError) as cm:
                    qem.BookMetadata.from_dict(full_record(**members))
                self.assertEqual(str(cm.exception), message)
                self.assertIsInstance(cm.exception, ValueError)
        data = full_record()
        del data["format"]
        with self.assertRaisesRegex(qem.RecordError, "^BookMetadata: missing 'format'$"):
            qem.BookMetadata.from_dict(data)
        with self.assertRaisesRegex(qem.RecordError, "expected an object, got list"):
            qem.BookMetadata.from_dict([])  # type: ignore[arg-type]


if __name__ == "__main__":
    unittest.main()
