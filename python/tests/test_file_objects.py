"""metadata() over binary file objects: the read callback, names, and file objects that fail."""

from __future__ import annotations

import io
import random
import threading
import unittest
import zipfile
from typing import Any, List

import quenfold_ebook_meta as qem
from bookgen import BookTestCase, epub, needs_full_record
from test_metadata import BOOKS


class Plain:
    """A file object with seek and read alone (no readinto), over bytes."""

    def __init__(self, data: bytes) -> None:
        self.f = io.BytesIO(data)

    def seek(self, offset: int, whence: int = 0) -> int:
        return self.f.seek(offset, whence)

    def read(self, size: int = -1) -> Any:
        return self.f.read(size)


class Flaky(Plain):
    """A book whose read raises on the nth call (and after), with what it is given."""

    def __init__(self, data: bytes, fail_on: int, error: BaseException) -> None:
        super().__init__(data)
        self.fail_on, self.error, self.reads = fail_on, error, 0

    def read(self, size: int = -1) -> Any:
        self.reads += 1
        if self.reads >= self.fail_on:
            raise self.error
        return super().read(size)


class Odd(Plain):
    """A file object whose read or readinto answers what no file should."""

    def __init__(self, data: bytes, answer: Any, readinto: bool) -> None:
        super().__init__(data)
        self.answer = answer
        if readinto:
            self.readinto = lambda view: self.answer(self.f.readinto(view))

    def read(self, size: int = -1) -> Any:
        return self.answer(super().read(size))


class FileObjectTest(BookTestCase):
    def setUp(self) -> None:
        super().setUp()
        needs_full_record(self.lib)
        if not self.lib._native.has_export("ebook_metadata_from_reader"):
            self.skipTest(f"{self.lib.path} has no ebook_metadata_from_reader")

    def test_every_family_from_a_file_object_equals_the_file(self) -> None:
        for name, data, _ in BOOKS:
            with self.subTest(name):
                want = qem.metadata(self.write(name, data))
                self.assertEqual(qem.metadata(io.BytesIO(data), name), want)
                # Without a name the content decides; an open file names itself.
                self.assertEqual(qem.metadata(io.BytesIO(data)), want)
                self.assertEqual(qem.metadata(Plain(data), name), want)
                with open(self.write("x" + name, data), "rb") as f:
                    self.assertEqual(qem.metadata(f), want)
                packed = io.BytesIO()
                with zipfile.ZipFile(packed, "w", zipfile.ZIP_DEFLATED) as z:
                    z.writestr(name, data)
                with zipfile.ZipFile(packed) as z, z.open(name) as member:
                    self.assertEqual(qem.metadata(member), want)

    def test_a_file_object_that_fails_gives_read_failed_with_its_cause(self) -> None:
        # A cover large enough that the book takes more than one read.
        data = epub(cover=random.Random(7).randbytes(200_000))
        for fail_on in (1, 2):
            with self.subTest(fail_on=fail_on):
                book = Flaky(data, fail_on, OSError("connection reset"))
                with self.assertRaises(qem.EbookError) as caught:
                    qem.metadata(book, "shelf/c.epub")
                self.assertEqual(str(caught.exception), "read failed: shelf/c.epub")
                self.assertIsInstance(caught.exception.__cause__, OSError)
                self.assertEqual(book.reads, fail_on, "asked again after the failure")
        with self.assertRaises(KeyboardInterrupt):
            qem.metadata(Flaky(data, 1, KeyboardInterrupt()), "c.epub")
        answers = [(lambda b: "text", False), (lambda b: b + b"x" * 70000, False),
                   (lambda b: None, False), (lambda n: n + 1, True), (lambda n: -5, True),
                   (lambda n: None, True)]
        for answer, readinto in answers:
            with self.assertRaisesRegex(qem.EbookError, r"^read failed: <reader>$"):
                qem.metadata(Odd(data, answer, readinto))

    def test_threads_each_with_their_file_object(self) -> None:
        want = [qem.metadata(io.BytesIO(data), name) for name, data, _ in BOOKS]
        wrong: List[str] = []

        def work() -> None:
            for _ in range(10):
                for (name, data, _), record in zip(BOOKS, want):
                    if qem.metadata(io.BytesIO(data), name) != record:
                        wrong.append(name)

        threads = [threading.Thread(target=work) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(wrong, [])

    def test_name_is_for_file_objects_only(self) -> None:
        with self.assertRaises(TypeError):
            qem.metadata(self.write("a.epub", BOOKS[2][1]), "b.epub")
        with self.assertRaises(TypeError):
            qem.metadata(42)  # type: ignore[arg-type]


if __name__ == "__main__":
    unittest.main()
