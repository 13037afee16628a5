"""Many Python threads calling the library at once: results and error texts stay apart."""

from __future__ import annotations

import os
import threading
import unittest
import warnings
from concurrent.futures import ThreadPoolExecutor

import quenfold_ebook_meta as qem
from bookgen import BookTestCase, Mobi, fb2, mobi


class ThreadsTest(BookTestCase):
    def test_concurrent_calls(self) -> None:
        books = []
        for i in range(8):
            title = f"Book {i}"
            books.append((self.write(f"{i}.mobi", mobi(Mobi(full_name=title.encode()))), title))
        fb2_path = self.write("t.fb2", fb2(title="Threaded"))
        locked = self.write("locked.mobi", mobi(Mobi(encryption=2)))
        start = threading.Barrier(16)

        def worker(n: int) -> int:
            start.wait()
            done = 0
            for round_ in range(60):
                path, title = books[(n + round_) % len(books)]
                self.assertEqual(self.lib.info(path)["title"], title)
                # A failure right after a success on the same thread carries
                # this thread's own message, whatever the others are doing.
                missing = os.path.join(self.dir, f"missing-{n}-{round_}.mobi")
                with self.assertRaises(qem.EbookError) as cm:
                    self.lib.info(missing)
                self.assertEqual(str(cm.exception),
                                 f"cannot open file: {missing} (No such file or directory)")
                self.assertIs(self.lib.info(locked)["drm"], True)
                if round_ % 10 == 0:
                    self.assertEqual(len(self.lib.scan_dir(self.dir)), 10)
                    plan = self.lib.rename_plan([{"title": title, "path": f"/t/{n}.epub"}])
                    self.assertEqual(plan[0]["to"], f"/t/Unknown - {title}.epub")
                if n % 4 == 0:
                    self.assertEqual(self.lib.info(fb2_path)["title"], "Threaded")
                done += 1
            return done

        # The warning filters are process-wide: set them once, outside the workers.
        with warnings.catch_warnings(), ThreadPoolExecutor(max_workers=16) as pool:
            warnings.simplefilter("ignore", qem.DrmWarning)
            results = list(pool.map(worker, range(16)))
        self.assertEqual(results, [60] * 16)

    def test_module_functions_load_on_first_use_from_many_threads(self) -> None:
        path = self.write("a.mobi", mobi(Mobi(full_name=b"Once")))
        saved = qem._default
        qem._default = None
        self.addCleanup(setattr, qem, "_default", saved)
        os.environ.setdefault(qem.ENV_VAR, self.lib.path)
        with ThreadPoolExecutor(max_workers=8) as pool:
            titles = list(pool.map(lambda _: qem.info(path)["title"], range(32)))
        self.assertEqual(titles, ["Once"] * 32)
        self.assertEqual(qem._default.path, os.environ[qem.ENV_VAR])


if __name__ == "__main__":
    unittest.main()
