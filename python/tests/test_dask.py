"""quenfold_ebook_meta.dask on a real distributed.LocalCluster: the records of the serial scan,
book for book, and every book exactly once when a worker is killed in the middle of a run."""

from __future__ import annotations

import glob
import json
import os
import shutil
import signal
import tempfile
import threading
import time
import unittest
from typing import Any, Dict, List

import quenfold_ebook_meta as qem
from bookgen import library_path, needs_full_record, shared_library

try:
    import distributed
    from quenfold_ebook_meta import dask as qdask
except ImportError as exc:  # the ctest python_dask runs these with Debian's python3
    raise unittest.SkipTest(f"dask.distributed or fsspec is not installed for this Python: {exc}")


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
        cls.top, cls.books = shared_library()
        cls.serial = serial_records(cls.top)
        cls.cluster = distributed.LocalCluster(
            n_workers=2, threads_per_worker=2, processes=True, dashboard_address=None)
        cls.client = distributed.Client(cls.cluster)

    @classmethod
    def tearDownClass(cls) -> None:
        cls.client.close()
        cls.cluster.close()

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
        self.assertEqual(result, [0])
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

    def test_the_command_refuses_a_directory_holding_parts(self) -> None:
        open(os.path.join(self.out, "part-00000.jsonl"), "w").close()
        self.assertEqual(qdask.main([self.cluster.scheduler_address, self.top, "-o", self.out]), 2)


if __name__ == "__main__":
    unittest.main()
