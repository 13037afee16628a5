"""scan(): which files are considered, result order, the thread pool, and the library's records."""

from __future__ import annotations

import os
import threading
import unittest
from typing import Dict, Iterable, List, Tuple
from unittest import mock

import quenfold_ebook_meta as qem
from quenfold_ebook_meta import _scan
from bookgen import (TINY_JPEG, BookTestCase, Mobi, Without, epub, fb2, fb2_zip, full_record,
                     mobi, needs_full_record, palmdb)


def described(path: str) -> qem.BookMetadata:
    """A stand-in for the library: the record of a book named after its file."""
    if "broken" in path:
        raise qem.EbookError(f"cannot read {os.path.basename(path)}")
    return qem.BookMetadata.from_dict(full_record(title=os.path.basename(path)))


class ScanWalkTest(BookTestCase):
    """The walk and the pool, with a stand-in for the library's record."""

    def tree(self) -> None:
        palm_book = palmdb(b"Old_Book", [b"\0" * 16])
        for name, data in [
            ("a.epub", b""), ("B.FB2", b""), ("c.fb2.zip", b""), ("d.Fbz", b""), ("e.mobi", b""),
            ("f.AZW", b""), ("g.azw3", b""), ("h.prc", palm_book), ("broken-other.pdb", b"\0" * 80),
            ("address.pdb", palmdb(b"Addresses", [b""], b"DATAaddr")), ("tiny.prc", b"BOOKMOBI"),
            ("broken.pdb", palmdb(b"Doc", [b""], b"TEXtREAd")), ("broken.mobi", b""),
            ("notes.txt", b""), ("book.zip", b""), ("book.epub.bak", b""), (".hidden.epub", b""),
            ("sub/j.epub", b""), ("sub/deeper/k.mobi", b""), (".cache/l.epub", b""),
            ("m.PDF", b""), ("n.cbz", b""), ("o.cbr", b""), ("p.cb7", b""), ("q.CBT", b""),
            ("comics.rar", b""),
        ]:
            os.makedirs(os.path.dirname(os.path.join(self.dir, name)), exist_ok=True)
            self.write(name, data)
        os.mkdir(os.path.join(self.dir, "dir.epub"))  # a directory is no book
        os.symlink(os.path.join(self.dir, "sub"), os.path.join(self.dir, "link-to-sub"))
        os.symlink(os.path.join(self.dir, "a.epub"), os.path.join(self.dir, "link.epub"))

    def names(self, results: List[qem.ScanResult]) -> List[str]:
        return [os.path.relpath(path, self.dir) for path, _ in results]

    def test_files_considered_in_name_order(self) -> None:
        self.tree()
        flat = ["B.FB2", "a.epub", "broken.mobi", "broken.pdb", "c.fb2.zip", "d.Fbz", "e.mobi",
                "f.AZW", "g.azw3", "h.prc", "link.epub", "m.PDF", "n.cbz", "o.cbr", "p.cb7",
                "q.CBT"]
        deep = flat + ["sub/deeper/k.mobi", "sub/j.epub"]
        for recursive, expected in ((False, flat), (True, deep)):
            with self.subTest(recursive=recursive):
                results = list(_scan.scan_books(described, self.lib._book_names(), self.dir, recursive, 3))
                self.assertEqual(self.names(results), expected)
                errors = {os.path.basename(p): str(r) for p, r in results
                          if isinstance(r, qem.EbookError)}
                # A PalmDB of a book kind that fails is reported; one of another kind is
                # never described, even where the library would (address.pdb).
                self.assertEqual(errors, {"broken.mobi": "cannot read broken.mobi",
                                          "broken.pdb": "cannot read broken.pdb"})
                for path, result in results:
                    if isinstance(result, qem.BookMetadata):
                        self.assertEqual(result.title, os.path.basename(path))

    def test_books_are_described_on_several_threads_at_once(self) -> None:
        for i in range(12):
            self.write(f"{i:02}.epub", b"")
        together = threading.Barrier(4, timeout=10)  # breaks unless four calls overlap
        threads: Dict[str, int] = {}
        lock = threading.Lock()

        def slow(path: str) -> qem.BookMetadata:
            if int(os.path.basename(path)[:2]) < 4:
                together.wait()
            with lock:
                name = threading.current_thread().name
                threads[name] = threads.get(name, 0) + 1
            return described(path)

        results = list(_scan.scan_books(slow, self.lib._book_names(), self.dir, False, 4))
        self.assertEqual(self.names(results), [f"{i:02}.epub" for i in range(12)])
        self.assertEqual(len(threads), 4)
        self.assertTrue(all(n.startswith("quenfold-scan") for n in threads))

    def test_stopping_early_leaves_the_rest_undone(self) -> None:
        for i in range(200):
            self.write(f"{i:03}.mobi", b"")
        calls: List[str] = []

        def counted(path: str) -> qem.BookMetadata:
            calls.append(path)
            return described(path)

        scan = _scan.scan_books(counted, self.lib._book_names(), self.dir, False, 2)
        first = next(scan)
        scan.close()  # type: ignore[attr-defined]
        self.assertEqual(self.names([first]), ["000.mobi"])
        self.assertLessEqual(len(calls), 16)  # at most the in-flight window, not 200

    def test_failures_before_the_first_book(self) -> None:
        missing = os.path.join(self.dir, "none")
        with self.assertRaises(qem.EbookError) as cm:
            _scan.scan_books(described, self.lib._book_names(), missing, True, None)  # at the call, not at next()
        self.assertEqual(str(cm.exception),
                         f"cannot open dir: {missing} (No such file or directory)")
        with self.assertRaises(ValueError):
            _scan.scan_books(described, self.lib._book_names(), self.dir, False, 0)

    def test_unreadable_subdirectory_is_reported_and_the_scan_goes_on(self) -> None:
        self.write("a.epub", b"")
        os.mkdir(os.path.join(self.dir, "sub"))
        self.write("sub/b.epub", b"")
        self.write("z.epub", b"")
        real = _scan._entries

        def entries(path: str):  # type: ignore[no-untyped-def]
            if path.endswith("sub"):
                raise PermissionError(13, "Permission denied")
            return real(path)

        with mock.patch.object(_scan, "_entries", entries):
            results = list(_scan.scan_books(described, self.lib._book_names(), self.dir, True, 2))
        self.assertEqual(self.names(results), ["a.epub", "sub", "z.epub"])
        self.assertEqual(str(results[1][1]),
                         f"cannot open dir: {self.dir}/sub (Permission denied)")

    def test_library_without_the_full_record(self) -> None:
        native = self.lib._native
        hidden = mock.patch.object(native, "_dll", Without(native._dll, "ebook_metadata"))
        with hidden, mock.patch.dict(native._later, clear=True):
            with self.assertRaisesRegex(qem.LibraryLoadError, "does not export ebook_metadata"):
                self.lib.scan(self.dir)


class ScanLibraryTest(BookTestCase):
    """scan() over real books with the library's full record."""

    def setUp(self) -> None:
        super().setUp()
        needs_full_record(self.lib)

    def test_every_family_on_several_threads(self) -> None:
        books = {
            "a.mobi": mobi(Mobi(full_name=b"Alpha", exth=[(100, b"Ann Lee")])),
            "b.epub": epub(title="Beta", cover=TINY_JPEG),
            "c.fb2": fb2(title="Gamma"),
            "d.fb2.zip": fb2_zip(fb2(title="Delta")),
            "sub/e.azw3": mobi(Mobi(full_name=b"Epsilon", mobi_type=248, file_version=8)),
            "locked.azw": mobi(Mobi(full_name=b"Locked", encryption=2)),
            "broken.mobi": b"x" * 10,
            "address.pdb": palmdb(b"Addresses", [b"\0" * 16], b"DATAaddr"),
        }
        for i in range(24):
            books[f"many/{i:02}.epub"] = epub(title=f"Book {i}")
        for name, data in books.items():
            os.makedirs(os.path.dirname(os.path.join(self.dir, name)), exist_ok=True)
            self.write(name, data)
        results = dict(qem.scan(self.dir, recursive=True, jobs=6))
        self.assertNotIn(os.path.join(self.dir, "address.pdb"), results)  # no book: passed over
        self.assertEqual(len(results), len(books) - 1)
        self.assertIsInstance(results[os.path.join(self.dir, "broken.mobi")], qem.EbookError)
        for name in books:
            path = os.path.join(self.dir, name)
            result = results.get(path)
            if isinstance(result, qem.BookMetadata):
                with self.subTest(name):
                    self.assertEqual(result, self.lib.metadata(path))
        titles = {os.path.relpath(p, self.dir): r.title for p, r in results.items()
                  if isinstance(r, qem.BookMetadata)}
        self.assertEqual([titles[n] for n in ("a.mobi", "b.epub", "c.fb2", "d.fb2.zip",
                                               "sub/e.azw3", "many/07.epub")],
                         ["Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Book 7"])
        locked = results[os.path.join(self.dir, "locked.azw")]
        assert isinstance(locked, qem.BookMetadata)
        self.assertEqual((locked.drm, locked.drm_scheme), (True, "mobipocket"))
        def comparable(results: Iterable[qem.ScanResult]) -> List[Tuple[str, object]]:
            return [(p, r if isinstance(r, qem.BookMetadata) else str(r)) for p, r in results]

        self.assertEqual(comparable(qem.scan(self.dir)), comparable(self.lib.scan(self.dir, jobs=1)))


if __name__ == "__main__":
    unittest.main()
