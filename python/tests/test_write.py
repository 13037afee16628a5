"""write_metadata(): untouched ZIP members byte for byte (zipfile), FictionBooks in their encoding
(pyexpat), the call's shape and its errors."""

from __future__ import annotations

import io
import os
import struct
import unittest
import xml.parsers.expat
import zipfile
from typing import Any, Dict, List, Tuple

import quenfold_ebook_meta as qem
from bookgen import TINY_PNG, BookTestCase, epub, fb2, needs_full_record


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek in: it then writes data descriptors."""

    def __init__(self) -> None:
        self.data = bytearray()

    def writable(self) -> bool:
        return True

    def write(self, b: bytes) -> int:  # type: ignore[override]
        self.data += b
        return len(b)


def raw_members(data: bytes) -> Dict[str, Tuple[int, int, int, bytes]]:
    """Each member's flags, method, CRC and compressed bytes as the archive stores them."""
    out = {}
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        for info in z.infolist():
            start = info.header_offset
            name_len, extra_len = struct.unpack("<HH", data[start + 26 : start + 30])
            at = start + 30 + name_len + extra_len
            out[info.filename] = (
                info.flag_bits,
                info.compress_type,
                info.CRC,
                data[at : at + info.compress_size],
            )
    return out


class WriteTest(BookTestCase):
    def setUp(self) -> None:
        super().setUp()
        needs_full_record(self.lib)

    def test_untouched_members_keep_their_compressed_bytes(self) -> None:
        # One book as zipfile writes it to a file, one streamed (data descriptors).
        streamed = Unseekable()
        with zipfile.ZipFile(streamed, "w") as z:  # type: ignore[call-overload]
            with zipfile.ZipFile(io.BytesIO(epub(cover=TINY_PNG))) as src:
                for info in src.infolist():
                    z.writestr(info.filename, src.read(info), compress_type=info.compress_type)
        for name, data in (("plain.epub", epub(cover=TINY_PNG)), ("streamed.epub", bytes(streamed.data))):
            with self.subTest(name):
                path = self.write(name, data)
                cover = self.write("new.png", TINY_PNG + b"\0")
                rec = qem.write_metadata(path, {"title": "Tide"}, cover=cover, subjects=["Sea"])
                self.assertEqual(rec.title, "Tide")
                self.assertEqual(rec.subjects, ("Sea",))
                assert rec.cover is not None
                self.assertEqual(rec.cover.size, len(TINY_PNG) + 1)
                with open(path, "rb") as f:
                    after = raw_members(f.read())
                before = raw_members(data)
                for member, raw in before.items():
                    if member in ("OEBPS/content.opf", "OEBPS/images/cover.jpg"):
                        continue
                    self.assertEqual(after[member], raw, member)
                with zipfile.ZipFile(path) as z:
                    self.assertIsNone(z.testzip())
                    self.assertEqual(z.infolist()[0].filename, "mimetype")
                    self.assertEqual(z.infolist()[0].extra, b"")

    def test_fictionbook_keeps_its_encoding(self) -> None:
        for encoding in ("windows-1251", "koi8-r", "utf-8", "utf-16"):
            with self.subTest(encoding):
                path = self.write("b.fb2", fb2(title="Белые ночи", encoding=encoding))
                rec = qem.write_metadata(path, title="Ночь ≠ день", authors=["Фёдор Достоевский"])
                self.assertEqual(rec.title, "Ночь ≠ день")
                self.assertEqual(rec.encoding, None if encoding == "utf-8" else encoding)
                with open(path, "rb") as f:
                    data = f.read()
                titles: List[str] = []
                parser = xml.parsers.expat.ParserCreate()
                parser.StartElementHandler = lambda name, attrs: titles.append(name)
                parser.Parse(data, True)  # in the encoding the document declares
                self.assertIn("book-title", titles)
                if encoding in ("windows-1251", "koi8-r"):
                    self.assertIn("Ночь &#8800; день".encode(encoding), data)

    def test_call_shape_and_errors(self) -> None:
        path = self.write("b.epub", epub())
        with open(path, "rb") as f:
            before = f.read()
        rec = qem.write_metadata(path, dry_run=True, series=[{"name": "Sea", "index": 2}])
        self.assertEqual(rec.series, (qem.Series("Sea", "2"),))
        with open(path, "rb") as f:
            self.assertEqual(f.read(), before)
        with self.assertRaises(TypeError):
            qem.write_metadata(path, {"title": "A"}, title="B")
        refused: List[Tuple[Dict[str, Any], str]] = [
            ({"colour": "red"}, "unknown field: colour"),
            ({"title": 3}, "title: expected a string"),
            ({"isbn": "123"}, "isbn: not a valid ISBN-10 or ISBN-13: 123"),
        ]
        for changes, message in refused:
            with self.assertRaises(qem.EbookError) as cm:
                qem.write_metadata(path, changes)
            self.assertEqual(str(cm.exception), message)
        os.chmod(path, 0o604)
        qem.write_metadata(pathlib_path(path), keep_mtime=True, title="Kept")
        self.assertEqual(os.stat(path).st_mode & 0o777, 0o604)


def pathlib_path(p: str) -> "os.PathLike[str]":
    import pathlib

    return pathlib.Path(p)


if __name__ == "__main__":
    unittest.main()
