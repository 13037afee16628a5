"""What a script can catch: a missing or unreadable book is also the OSError Python would raise."""

from __future__ import annotations

import errno
import io
import os
import pickle
import unittest

import quenfold_ebook_meta as qem
from bookgen import BookTestCase, epub, needs_full_record
from quenfold_ebook_meta._errors import error_from_message


class ErrorTest(BookTestCase):
    def test_a_missing_book_is_a_file_not_found_error_too(self) -> None:
        needs_full_record(self.lib)
        missing = os.path.join(self.dir, "gone", "book.pdf")
        calls = [
            ("metadata", lambda: qem.metadata(missing), "cannot open file"),
            ("info", lambda: qem.info(missing), "cannot open file"),
            ("extract_cover", lambda: qem.extract_cover(missing, self.dir + "/c.jpg"),
             "cannot open file"),
            ("scan_dir", lambda: qem.scan_dir(missing), "cannot open dir"),
            ("scan", lambda: list(qem.scan(missing)), "cannot open dir"),
        ]
        for name, call, what in calls:
            with self.subTest(name):
                with self.assertRaises(FileNotFoundError) as caught:
                    call()
                err = caught.exception
                self.assertIsInstance(err, qem.EbookError)
                self.assertEqual(err.errno, errno.ENOENT)
                self.assertEqual(err.filename, missing)
                self.assertEqual(str(err), f"{what}: {missing} (No such file or directory)")
        # A book that is there but no book stays a plain EbookError.
        with self.assertRaises(qem.EbookError) as caught:
            qem.metadata(self.write("notes.epub", b"not a zip"))
        self.assertNotIsInstance(caught.exception, OSError)

    def test_library_messages_become_the_os_errors_they_name(self) -> None:
        cases = [
            ("cannot open file: /b/x.epub (Permission denied)", PermissionError, errno.EACCES),
            ("cannot open file: /b/x.epub (Operation not permitted)", PermissionError,
             errno.EPERM),
            ("cannot write cover: /c.jpg (Permission denied)", PermissionError, errno.EACCES),
            ("cannot open dir: /b (Not a directory)", OSError, errno.ENOTDIR),
            ("cannot open file: /b/x (Too many levels of symbolic links)", OSError, errno.ELOOP),
            ("cannot open file: a (b) (No such file or directory)", FileNotFoundError,
             errno.ENOENT),
            ("cannot open file: /b/x.epub (a reason no system gives)", None, None),
            ("read failed: x.epub", None, None),
        ]
        for message, kind, number in cases:
            with self.subTest(message):
                err = error_from_message(message)
                self.assertIsInstance(err, qem.EbookError)
                self.assertEqual(str(err), message)
                if kind is None:
                    self.assertNotIsInstance(err, OSError)
                    continue
                self.assertIsInstance(err, kind)
                self.assertEqual(err.errno, number)
                # Errors cross to other processes (a dask worker's) whole.
                again = pickle.loads(pickle.dumps(err))
                self.assertEqual((type(again), str(again), again.errno),
                                 (type(err), str(err), err.errno))

    def test_a_file_object_whose_seek_answers_none(self) -> None:
        needs_full_record(self.lib)
        data = epub(title="Over SFTP")

        class NoPosition(io.BytesIO):
            def seek(self, *args: int) -> None:  # type: ignore[override]
                super().seek(*args)

        class NoTell(NoPosition):
            tell = None  # type: ignore[assignment]

        self.assertEqual(qem.metadata(NoPosition(data), "b.epub").title, "Over SFTP")
        with self.assertRaisesRegex(qem.EbookError, r"^cannot tell the size of b\.epub"):
            qem.metadata(NoTell(data), "b.epub")


if __name__ == "__main__":
    unittest.main()
