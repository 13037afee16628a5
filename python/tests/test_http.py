"""Books behind a real HTTP server (nginx, range requests) read through fsspec's HTTP file
system: the records of the local scan, and what each book cost as the server's log tells it."""

from __future__ import annotations

import collections
import io
import os
import unittest
from typing import Any, Dict, List, Tuple

import quenfold_ebook_meta as qem
from bookgen import library_path, needs_full_record, shared_library
from nginx import NGINX, Nginx

try:
    import fsspec
    from quenfold_ebook_meta import dask as qdask

    fsspec.filesystem("http")
except ImportError as exc:  # the ctest python_dask runs these with Debian's python3
    raise unittest.SkipTest(f"dask, fsspec or aiohttp is not installed for this Python: {exc}")
if NGINX is None:
    raise unittest.SkipTest("nginx is not installed (scripts/install-deps installs it)")

KiB = 1024


class HttpTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        needs_full_record(qem.load(library_path()))
        cls.top, cls.books = shared_library()
        cls.local = {os.path.relpath(p, cls.top): r for p, r in qem.scan(cls.top, recursive=True)}
        cls.server = Nginx(cls.top)

    @classmethod
    def tearDownClass(cls) -> None:
        cls.server.stop()

    def rel(self, url: str) -> str:
        return url[len(self.server.url):]

    def test_records_equal_the_local_scan_and_cost_what_the_log_says(self) -> None:
        fs, books = qdask.list_books(self.server.url)
        self.assertEqual([self.rel(u) for u, _ in books], self.books)
        self.server.clear_log()
        read = [qdask.read_book(fs, b) for b in books]
        log = self.server.per_path()
        per_format: Dict[str, List[Tuple[int, int, int]]] = collections.defaultdict(list)
        for r in read:
            assert r is not None
            rel, cost = self.rel(r.pop("path")), r.pop("_cost")
            local = self.local[rel]
            if isinstance(local, qem.EbookError):
                self.assertEqual(r, {"error": str(local).replace(os.path.join(self.top, rel),
                                                                  self.server.url + rel)})
                continue
            with self.subTest(rel):
                self.assertEqual(r, local.to_dict())
                # The client's count is the server's: the size asked (HEAD), then ranges.
                self.assertEqual(log["/" + rel], (cost["requests"], cost["bytes"]))
                self.assertEqual(cost["size"], os.path.getsize(os.path.join(self.top, rel)))
            per_format[rel.rsplit(".", 1)[-1]].append(
                (cost["requests"] - 1, cost["bytes"], cost["size"]))
        # The read patterns: ranges, not whole files, for the large books.
        for fmt, limit_requests, limit_bytes in (("epub", 3, 100 * KiB), ("mobi", 2, 32 * KiB)):
            for requests, sent, size in per_format[fmt]:
                with self.subTest(fmt, size=size):
                    self.assertLessEqual(requests, limit_requests)
                    self.assertLessEqual(sent, min(size, limit_bytes))
        self.assertTrue(all(req == 1 for req, _, _ in per_format["fb2"]))

    def test_a_file_opened_by_fsspec_and_a_failing_server(self) -> None:
        url = self.server.url + self.books[1]
        with fsspec.open(url, "rb", cache_type="none") as f:
            self.assertEqual(qem.metadata(f), self.local[self.books[1]])
        http = fsspec.filesystem("http")
        with http.open(self.server.url + "missing.epub", "rb", cache_type="none",
                       size=100_000) as f:
            with self.assertRaisesRegex(qem.EbookError, r"^read failed: .*missing\.epub$") as c:
                qem.metadata(f)
            self.assertIsInstance(c.exception.__cause__, Exception)
        gone = qdask.read_book(http, (self.server.url + "gone.epub", None))
        assert gone is not None
        self.assertRegex(gone["error"], r"^cannot open file: .*gone\.epub")

    def test_memory_file_system(self) -> None:
        mem = fsspec.filesystem("memory")
        name = os.path.basename(self.books[0])
        with open(os.path.join(self.top, self.books[0]), "rb") as f:
            mem.pipe("/shelf/" + name, f.read())
        mem.pipe("/shelf/.hidden.epub", b"x")
        records = qdask.read_metadata("memory://shelf").compute(scheduler="sync")
        self.assertEqual([r.pop("path") for r in records], ["/shelf/" + name])
        self.assertEqual(records, [self.local[self.books[0]].to_dict()])


if __name__ == "__main__":
    unittest.main()
