"""quenfold_ebook_meta.dask on a real distributed.LocalCluster: the records of the serial scan,
book for book, every book exactly once when a worker is killed in the middle of a run, and the
command's exit statuses, messages and parts when something is wrong."""

from __future__ import annotations

import base64
import contextlib
import errno
import glob
import io
import json
import os
import shutil
import signal
import tempfile
import threading
import time
import unittest
from typing import Any, Dict, List, Tuple
from unittest import mock

import quenfold_ebook_meta as qem
from bookgen import epub, library, library_path, needs_full_record

try:
    import distributed
    from quenfold_ebook_meta import dask as qdask
except ImportError as exc:  # the ctest python_dask runs these with Debian's python3
    raise unittest.SkipTest(f"dask.distributed or fsspec is not installed for this Python: {exc}")

# Books in the library: the 500 the issue names take about 1.5 s to read on
# the cluster; the cluster's start (two processes) costs about as much.
BOOKS = 500


def serial_records(top: str) -> Dict[str, Dict[str, Any]]:
    """The serial scan's answer, keyed by path relative to top: the record, or the error."""
    out: Dict[str, Dict[str, Any]] = {}
    for path, result in qem.scan(top, recursive=True):
        rel = os.path.relpath(path, top)
        out[rel] = result.to_dict() if isinstance(result, qem.BookMetadata) else {
            "error": str(result)}
    return out


def keyed(records: List[Dict[str, Any]], top: str) -> Dict[str, Dict[str, Any]]:
    out: Dict[str, Dict[str, Any]] = {}
    for r in records:
        rel = os.path.relpath(r.pop("path"), top)
        assert rel not in out, f"{rel} twice"
        out[rel] = r
    return out


class ClusterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        needs_full_record(qem.load(library_path()))
        cls.top = tempfile.mkdtemp(prefix="qem-dask-")
        cls.books = library(cls.top, BOOKS)
        cls.serial = serial_records(cls.top)
        cls.cluster = distributed.LocalCluster(
            n_workers=2, threads_per_worker=2, processes=True, dashboard_address=None)
        cls.client = distributed.Client(cls.cluster)

    @classmethod
    def tearDownClass(cls) -> None:
        cls.client.close()
        cls.cluster.close()
        shutil.rmtree(cls.top, ignore_errors=True)

    def setUp(self) -> None:
        self.out = tempfile.mkdtemp(prefix="qem-dask-out-")
        self.addCleanup(shutil.rmtree, self.out, True)

    def test_bag_on_the_cluster_equals_the_serial_scan(self) -> None:
        self.assertEqual(sorted(self.serial), self.books)
        records = qdask.read_metadata(self.top).compute()
        self.assertEqual(keyed(records, self.top), self.serial)
        flat = qdask.read_metadata(self.top, recursive=False).compute()
        self.assertEqual(sorted(os.path.relpath(r["path"], self.top) for r in flat),
                         [b for b in self.books if "/" not in b])

    def test_a_worker_killed_mid_run_loses_and_doubles_nothing(self) -> None:
        addr = self.cluster.scheduler_address
        pids = self.client.run(os.getpid)
        result: List[int] = []
        run = threading.Thread(target=lambda: result.append(qdask.main(
            [addr, self.top, "-o", self.out, "--partition-size", "2"])))
        run.start()
        parts_at_kill = -1
        while run.is_alive() and parts_at_kill < 0:
            done = glob.glob(os.path.join(self.out, "part-*.jsonl"))
            if done:
                parts_at_kill = len(done)
                os.kill(next(iter(pids.values())), signal.SIGKILL)
            time.sleep(0.005)
        run.join(timeout=300)
        self.assertEqual(result, [1], "damaged.epub failed")
        expected_parts = (len(self.books) + 1) // 2
        self.assertLess(parts_at_kill, expected_parts, "the run ended before the kill")
        self.client.wait_for_workers(2, timeout=60)  # the nanny started a new one
        self.assertNotEqual(set(self.client.run(os.getpid).values()), set(pids.values()))
        parts = sorted(glob.glob(os.path.join(self.out, "part-*.jsonl")))
        self.assertEqual(len(parts), expected_parts)
        self.assertEqual(glob.glob(os.path.join(self.out, ".*")), [], "temporary parts left")
        records = []
        for part in parts:
            with open(part, encoding="utf-8") as f:
                records += [json.loads(line) for line in f]
        self.assertEqual(keyed(records, self.top), self.serial)

    def command(self, *args: str) -> Tuple[int, str]:
        """The command's status and what it said on stderr."""
        err = io.StringIO()
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(err):
            try:
                rc = qdask.main(list(args))
            except SystemExit as exc:  # argparse's own refusal
                rc = int(exc.code or 0)
        return rc, err.getvalue()

    def test_the_command_speaks_like_the_cli(self) -> None:
        addr = self.cluster.scheduler_address
        good = tempfile.mkdtemp(prefix="qem-dask-good-")
        self.addCleanup(shutil.rmtree, good, True)
        for i in range(3):
            with open(os.path.join(good, f"b{i}.epub"), "wb") as f:
                f.write(epub(title=f"Good {i}"))
        a_file = os.path.join(good, "b0.epub")
        held = tempfile.mkdtemp(prefix="qem-dask-held-")
        self.addCleanup(shutil.rmtree, held, True)
        open(os.path.join(held, "part-00000.jsonl"), "w").close()
        cases = [
            ([good], 0, ""),
            ([self.top], 1, ""),  # damaged.epub: a line with its error
            (["/nonexistent/books"], 2, "no such file or directory: /nonexistent/books"),
            ([good + "/*.pdf"], 2, "nothing matches"),
            ([good, "-o", a_file + "/out"], 2, "cannot use"),
            ([good, "-o", held], 2, "already holds parts"),
            ([good, "--storage-options", "[1"], 2, "--storage-options"),
            ([good, "--partition-size", "0"], 2, "must be at least 1"),
        ]
        for extra, want_rc, said in cases:
            with self.subTest(extra):
                out = tempfile.mkdtemp(prefix="qem-dask-out-")
                self.addCleanup(shutil.rmtree, out, True)
                args = [addr, extra[0], "-o", out] + extra[1:]
                rc, err = self.command(*args)
                self.assertEqual(rc, want_rc, err)
                self.assertIn(said, err)
                if want_rc == 2:
                    self.assertNotIn("Traceback", err)
                    self.assertEqual(glob.glob(os.path.join(out, "*")), [])

    def test_parts_are_valid_utf8_and_fifos_are_skipped(self) -> None:
        top = tempfile.mkdtemp(prefix="qem-dask-odd-")
        self.addCleanup(shutil.rmtree, top, True)
        odd = os.fsdecode(os.path.join(os.fsencode(top), b"bad\xff\xfe.epub"))
        for path, data in ((odd, epub(title="Odd")), (top + "/ok.epub", epub(title="Ok")),
                           (top + "/broken.epub", b"PK not a zip")):
            with open(path, "wb") as f:
                f.write(data)
        os.mkfifo(top + "/waiting.pdf")  # opening it would wait for a writer forever
        rc, err = self.command(self.cluster.scheduler_address, top, "-o", self.out)
        self.assertEqual(rc, 1, err)
        records = {}
        for part in glob.glob(os.path.join(self.out, "part-*.jsonl")):
            with open(part, "rb") as f:
                for line in f.read().decode("utf-8").splitlines():  # strict UTF-8
                    record = json.loads(line)
                    records[record.get("title") or record.get("error")] = record
        self.assertEqual(sorted(records), ["Odd", "Ok", "bad zip / not a valid EPUB archive"])
        self.assertEqual(records["Odd"]["path"], top + "/bad\ufffd\ufffd.epub")
        self.assertEqual(base64.b64decode(records["Odd"]["path_bytes"]), os.fsencode(odd))
        self.assertNotIn("path_bytes", records["Ok"])
        self.assertEqual([r["path"] for r in qdask.read_metadata(top).compute()
                          if r["path"].endswith(".pdf")], [])

    def test_a_part_that_cannot_be_written_leaves_nothing_behind(self) -> None:
        def full_disk(path: str, data: bytes) -> None:
            with open(path, "wb") as f:
                f.write(data[: len(data) // 2])
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))

        # Workers in this process, so that they see the patched writer.
        cluster = distributed.LocalCluster(processes=False, n_workers=1, threads_per_worker=2,
                                           dashboard_address=None)
        self.addCleanup(cluster.close)
        with mock.patch.object(qdask, "_write_file", full_disk), \
                mock.patch.object(qdask, "_client", lambda *_: distributed.Client(cluster)):
            rc, err = self.command("local", self.top, "-o", self.out, "--partition-size", "50")
        self.assertEqual(rc, 1, err)
        said = [line for line in err.splitlines() if line.startswith("python3 -m")]
        self.assertEqual(len(said), 1, err)
        self.assertRegex(said[0], r"cannot write .*part-000\d\d\.jsonl \(No space left on "
                         r"device\) and 10 more parts$")
        self.assertEqual(os.listdir(self.out), [], "temporary or half parts left")

    def test_the_command_refuses_a_directory_holding_parts(self) -> None:
        open(os.path.join(self.out, "part-00000.jsonl"), "w").close()
        self.assertEqual(qdask.main([self.cluster.scheduler_address, self.top, "-o", self.out]), 2)


if __name__ == "__main__":
    unittest.main()
