"""Books anywhere fsspec reaches, on a dask.distributed cluster.

::

    from quenfold_ebook_meta.dask import read_metadata
    books = read_metadata("s3://library/books/", storage_options={"anon": True})
    books.filter(lambda b: "error" not in b).pluck("title").take(5)

or from a shell, writing JSON lines, one part per partition::

    python3 -m quenfold_ebook_meta.dask local http://host/books/ -o out/
    python3 -m quenfold_ebook_meta.dask tcp://scheduler:8786 s3://library/ -o s3://library-meta/

Each book is read where it lies through the library's read callback, only
the ranges its metadata needs (no download of the whole file). Needs dask,
distributed and fsspec (and aiohttp for HTTP, s3fs for S3...); the rest of
the package does not.

The command exits with 0 when every book was read, 1 when some could not be
(their lines hold "path" and "error") or a part could not be written, and 2
for a wrong argument, a URLPATH that names nothing or an OUT_DIR that cannot
be used, always with a one-line message. Part lines are valid UTF-8: a local
file name that is not has U+FFFD in "path" and its exact bytes in Base64 in
"path_bytes", as in the command-line tool's JSON.
"""

from __future__ import annotations

import argparse
import base64
import contextlib
import json
import logging
import math
import os
import posixpath
import stat
import sys
import time
import uuid
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple

#: The packages the module needs, for the command's message when one is missing.
_NEEDS = (
    "needs dask, distributed and fsspec: apt install python3-dask python3-distributed "
    "python3-fsspec (Debian), or pip install dask distributed fsspec"
)
try:
    import dask.bag
    import fsspec
except ImportError as _exc:
    if __name__ != "__main__":
        raise
    # Run as the command: main() says what to install instead of a traceback.
    _MISSING: Optional[ImportError] = _exc
else:
    _MISSING = None

from . import EbookError, _library
from ._reader import FileReader
from ._scan import _PALM_BOOK_KINDS, _PALM_SUFFIXES, is_book_name

__all__ = ["list_books", "read_metadata", "main"]

#: A book to read: its path in the file system and its size when the listing gave one.
Book = Tuple[str, Optional[int]]


def _visible(path: str, root: str) -> bool:
    # Hidden names below the root are skipped, as the directory scan does.
    below = path[len(root) :] if path.startswith(root) else posixpath.basename(path)
    parts = [p for p in below.split("/") if p]
    return bool(parts) and not any(p.startswith(".") for p in parts) and is_book_name(parts[-1])


def _regular_file(fs: fsspec.AbstractFileSystem, path: str, info: Dict[str, Any]) -> bool:
    """Whether a listed entry is a file to read: on a local disk a regular file (a link to one
    included), never a FIFO, socket or device, whose opening could block forever."""
    kind = info.get("type", "file")
    if kind == "directory":
        return False
    if not _is_local(fs):
        return True
    if kind == "file":
        return True
    try:
        return stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        return False


def list_books(
    urlpath: Any, storage_options: Optional[Dict[str, Any]] = None, recursive: bool = True
) -> Tuple[fsspec.AbstractFileSystem, List[Book]]:
    """The file system of ``urlpath`` and the book files it names, sorted by path.

    ``urlpath``: a directory (walked, to any depth when ``recursive``), a
    glob, a single file, or a list of these, on any file system fsspec knows.
    Raises :class:`FileNotFoundError` when it names nothing (a missing path,
    a glob that matches no file). Local files that are not regular files
    (FIFOs, sockets, devices) are left out, named or found.
    """
    fs, _, roots = fsspec.get_fs_token_paths(urlpath, storage_options=storage_options)
    if not roots:
        raise FileNotFoundError(f"nothing matches {urlpath}")
    found: Dict[str, Optional[int]] = {}
    for root in roots:
        if fs.isdir(root):
            base = root.rstrip("/") + "/"
            listing = fs.find(root, maxdepth=None if recursive else 1, detail=True)
            for path, info in listing.items():
                if _regular_file(fs, path, info) and _visible(path, base):
                    size = info.get("size")
                    found[path] = size if isinstance(size, int) else None
        elif not fs.exists(root):
            raise FileNotFoundError(f"no such file or directory: {root}")
        elif not _is_local(fs) or _regular_file(fs, root, {"type": "other"}):
            found.setdefault(root, None)
    return fs, sorted(found.items())


def _is_palm_non_book(f: Any) -> bool:
    # As the local scan: a .prc/.pdb whose header names no book is no book.
    f.seek(60)
    return bytes(f.read(8)) not in _PALM_BOOK_KINDS


class _Ranges:
    """A remote book as a file object whose every read is one ranged request (cat_file).

    No handle is opened, so nothing is asked of the store beyond the reads
    themselves once the size is known (object stores list sizes).
    """

    def __init__(self, fs: fsspec.AbstractFileSystem, path: str, size: int) -> None:
        self.fs, self.path, self.size, self.pos = fs, path, size, 0

    def seek(self, offset: int, whence: int = 0) -> int:
        self.pos = offset if whence == 0 else self.size + offset if whence == 2 else self.pos + offset
        return self.pos

    def read(self, n: int = -1) -> bytes:
        end = self.size if n < 0 else min(self.size, self.pos + n)
        if end <= self.pos:
            return b""
        data = bytes(self.fs.cat_file(self.path, start=self.pos, end=end))
        self.pos += len(data)
        return data


def _is_local(fs: fsspec.AbstractFileSystem) -> bool:
    protocols = fs.protocol if isinstance(fs.protocol, (tuple, list)) else (fs.protocol,)
    return "file" in protocols or "local" in protocols


def _open_local(path: str) -> Any:
    """A local book opened for reading without ever blocking: a FIFO put in a book's place
    after the listing is refused ("not a regular file"), as the library refuses one."""
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise OSError(f"not a regular file: {path}")
        return os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise


def read_book(fs: fsspec.AbstractFileSystem, book: Book) -> Optional[Dict[str, Any]]:
    """One book's record with its ``path`` first, or ``path`` and ``error``.

    None for a Palm database that is no book. The record also carries the
    cost of reading it under the key ``_cost`` (requests: the size when the
    listing gave none, and every read; bytes read; the file's size), which
    :func:`read_metadata` drops.
    """
    path, size = book
    requests = 0
    try:
        with contextlib.ExitStack() as stack:
            if _is_local(fs):
                f: Any = stack.enter_context(_open_local(path))
            else:
                if size is None:
                    requests += 1
                    size = int(fs.size(path))
                f = _Ranges(fs, path, size)
            if path.lower().endswith(_PALM_SUFFIXES):
                requests += 1
                if _is_palm_non_book(f):
                    return None
            out, calls, read, total = _describe(f, path)
    except Exception as exc:  # the store refused the file before any read
        out = {"path": path, "error": f"cannot open file: {path} ({exc})"}
        calls, read, total = 0, 0, 0
    out["_cost"] = {"requests": requests + calls, "bytes": read, "size": total}
    return out


def _describe(f: Any, path: str) -> Tuple[Dict[str, Any], int, int, int]:
    reader = FileReader(f, path)
    record: Dict[str, Any] = {"path": path}
    try:
        record.update(_library()._read_raw(reader))
    except EbookError as err:
        record["error"] = str(err)
    return record, reader.calls, reader.bytes, reader.size


def _read_part(books: Sequence[Book], fs: fsspec.AbstractFileSystem) -> List[Dict[str, Any]]:
    return [r for r in (read_book(fs, b) for b in books) if r is not None]


def _strip_cost(records: Iterable[Dict[str, Any]]) -> List[Dict[str, Any]]:
    return [{k: v for k, v in r.items() if k != "_cost"} for r in records]


def _partition_size(n: int) -> int:
    # Enough partitions to spread the work and show progress, few enough that
    # the scheduler's cost per task stays far below the books' own.
    return min(1000, max(16, math.ceil(n / 64)))


def read_metadata(
    urlpath: Any,
    storage_options: Optional[Dict[str, Any]] = None,
    recursive: bool = True,
    partition_size: Optional[int] = None,
) -> dask.bag.Bag:
    """A bag of every book's record under ``urlpath`` (see :func:`list_books`).

    Each element is a dict: ``path`` followed by the keys of the full record
    (:class:`quenfold_ebook_meta.BookMetadata` as a dict), or ``path`` and
    ``error`` for a book that could not be read. A book that fails is an
    element with its error, never a missing one. The listing happens now;
    the books are read when the bag is computed, on whatever scheduler is
    active (a ``distributed.Client`` when one is).
    """
    fs, books = list_books(urlpath, storage_options, recursive)
    size = partition_size or _partition_size(len(books))
    bag = dask.bag.from_sequence(books, partition_size=size) if books else dask.bag.from_sequence([])
    return bag.map_partitions(_read_part, fs).map_partitions(_strip_cost)


def _repaired(text: str) -> str:
    """The text with U+FFFD for each byte that was no UTF-8 (a surrogate escape)."""
    try:
        text.encode("utf-8")
        return text
    except UnicodeEncodeError:
        return "".join("\ufffd" if "\ud800" <= c <= "\udfff" else c for c in text)


def _line_record(record: Dict[str, Any]) -> Dict[str, Any]:
    """A record as a part's line holds it: valid UTF-8, with "path_bytes" (Base64) after a
    "path" whose bytes are not UTF-8, as the command-line tool writes it."""
    out: Dict[str, Any] = {}
    for key, value in record.items():
        if key == "_cost":
            continue
        if isinstance(value, str):
            shown = _repaired(value)
            out[key] = shown
            if key == "path" and shown is not value:
                raw = value.encode("utf-8", "surrogateescape")
                out["path_bytes"] = base64.b64encode(raw).decode("ascii")
        else:
            out[key] = value
    return out


def _write_file(path: str, data: bytes) -> None:
    with open(path, "wb") as f:
        f.write(data)


def _write_part(
    books: Sequence[Book], fs: fsspec.AbstractFileSystem, out: str, index: int
) -> Dict[str, Any]:
    """Reads one partition and writes it as one whole part; what it cost.

    Idempotent: a part is written under a name of its own and renamed into
    place (one PUT on an object store), so a task run again after its worker
    died replaces the part with the same lines, never adds to it. A part
    that cannot be written leaves nothing behind (its temporary file is
    removed) and says why under the key ``unwritten``.
    """
    records = _read_part(books, fs)
    lines = (
        json.dumps(_line_record(r), ensure_ascii=False, separators=(",", ":")) for r in records
    )
    text = "".join(line + "\n" for line in lines).encode("utf-8")
    out_fs, out_root = fsspec.core.url_to_fs(out)
    final = posixpath.join(out_root, f"part-{index:05d}.jsonl")
    cost: Dict[str, Any] = {"books": len(records), "failures": 0, "requests": 0, "bytes": 0,
                            "size": 0}
    try:
        if _is_local(out_fs):
            tmp = os.path.join(out_root, f".part-{index:05d}.{uuid.uuid4().hex}.tmp")
            try:
                _write_file(tmp, text)
                os.replace(tmp, final)
            except BaseException:
                with contextlib.suppress(OSError):
                    os.unlink(tmp)
                raise
        else:
            out_fs.pipe_file(final, text)
    except OSError as exc:
        # Said by the command in one line; a task that raised would have the
        # cluster log a traceback for it on every worker's terminal.
        cost["unwritten"] = f"{final} ({_reason(exc)})"
    for r in records:
        cost["failures"] += "error" in r
        for key in ("requests", "bytes", "size"):
            cost[key] += r["_cost"][key]
    return cost


def _client(scheduler: str, workers: Optional[int], threads: int) -> Any:
    from distributed import Client, LocalCluster

    if scheduler != "local":
        return Client(scheduler)
    cluster = LocalCluster(
        n_workers=workers or os.cpu_count() or 1,
        threads_per_worker=threads,
        processes=True,
        dashboard_address=None,
    )
    return Client(cluster)


def _summary(cost: Dict[str, int], parts: int, seconds: float) -> str:
    books = max(cost["books"], 1)
    share = 100.0 * cost["bytes"] / cost["size"] if cost["size"] else 0.0
    return (
        f"books {cost['books']}, failures {cost['failures']}, parts {parts}, "
        f"{seconds:.1f} s ({cost['books'] / max(seconds, 1e-9):.0f} books/s)\n"
        f"per book: {cost['requests'] / books:.2f} requests, "
        f"{cost['bytes'] / books / 1024:.1f} KiB read of {cost['size'] / books / 1024:.1f} KiB "
        f"({share:.2f} % of the files)"
    )


_PROG = "python3 -m quenfold_ebook_meta.dask"


def _fail(message: str, status: int) -> int:
    print(f"{_PROG}: {message}", file=sys.stderr)
    return status


def _reason(exc: BaseException) -> str:
    if isinstance(exc, OSError) and exc.strerror:
        return f"{exc.filename}: {exc.strerror}" if exc.filename else exc.strerror
    return str(exc) or type(exc).__name__


def _count(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def _remove_temporary_parts(out: str) -> None:
    # What failed writes, or attempts on workers that died, left half written.
    with contextlib.suppress(Exception):
        out_fs, out_root = fsspec.core.url_to_fs(out)
        for tmp in out_fs.glob(posixpath.join(out_root, ".part-*.tmp")):
            with contextlib.suppress(OSError):
                out_fs.rm(tmp)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The command: read every book under URLPATH on a cluster, write JSON lines to OUT_DIR.

    Returns the exit status: 0 when every book was read, 1 when some failed
    or a part could not be written, 2 for a wrong argument, a URLPATH that
    names nothing or an OUT_DIR that cannot be used.
    """
    if _MISSING is not None:
        return _fail(f"{_NEEDS} ({_MISSING})", 2)
    p = argparse.ArgumentParser(
        prog=_PROG,
        description="Read the metadata of every book under URLPATH on a dask.distributed "
        "cluster and write it as JSON lines, one part per partition.",
        epilog="Exit status: 0 when every book was read, 1 when some failed (their lines hold "
        '"path" and "error") or a part could not be written, 2 for a wrong argument or a '
        "URLPATH or OUT_DIR that cannot be used.",
    )
    p.add_argument("scheduler", help="a scheduler address (tcp://host:8786), or 'local'")
    p.add_argument("urlpath", help="a directory, glob or file on any fsspec file system")
    p.add_argument("-o", "--out", required=True, help="directory for part-NNNNN.jsonl")
    p.add_argument("--storage-options", default="{}", help="fsspec options as JSON")
    p.add_argument("--no-recursive", dest="recursive", action="store_false")
    p.add_argument("--partition-size", type=_count, help="books per part")
    p.add_argument("--workers", type=_count, help="local: worker processes (default: processors)")
    p.add_argument("--threads", type=_count, default=4, help="local: threads per worker")
    args = p.parse_args(argv)  # a wrong argument exits with 2 and argparse's message

    try:
        options = json.loads(args.storage_options)
    except ValueError as exc:
        return _fail(f"--storage-options is not JSON ({exc})", 2)
    if not isinstance(options, dict):
        return _fail("--storage-options must be a JSON object", 2)
    try:
        out_fs, out_root = fsspec.core.url_to_fs(args.out)
        out_fs.makedirs(out_root, exist_ok=True)
        held = out_fs.glob(posixpath.join(out_root, "part-*.jsonl"))
    except (OSError, ValueError) as exc:
        return _fail(f"cannot use {args.out} for the parts ({_reason(exc)})", 2)
    if held:
        return _fail(f"{args.out} already holds parts; choose an empty directory", 2)
    start = time.monotonic()
    try:
        fs, books = list_books(args.urlpath, options, args.recursive)
    except FileNotFoundError as exc:
        return _fail(str(exc.args[0]) if exc.args else str(exc), 2)
    except (OSError, ValueError) as exc:
        return _fail(f"cannot list {args.urlpath} ({_reason(exc)})", 2)
    size = args.partition_size or _partition_size(len(books))
    parts = [books[i : i + size] for i in range(0, len(books), size)]

    from distributed import progress

    try:
        with _client(args.scheduler, args.workers, args.threads) as client:
            futures = [
                client.submit(_write_part, part, fs, args.out, i, pure=False)
                for i, part in enumerate(parts)
            ]
            progress(futures)
            print()
            costs = client.gather(futures)
            # What the cluster says while it shuts down is no news to the user.
            logging.getLogger("distributed").setLevel(logging.CRITICAL)
    except Exception as exc:  # the cluster gave up: one line, not a traceback
        return _fail(f"the run failed: {type(exc).__name__}: {exc}", 1)
    finally:
        _remove_temporary_parts(args.out)
    total = {"books": 0, "failures": 0, "requests": 0, "bytes": 0, "size": 0}
    for cost in costs:
        for key in total:
            total[key] += cost[key]
    print(_summary(total, len(parts), time.monotonic() - start))
    unwritten = [cost["unwritten"] for cost in costs if "unwritten" in cost]
    if unwritten:
        more = f" and {len(unwritten) - 1} more parts" if len(unwritten) > 1 else ""
        return _fail(f"cannot write {unwritten[0]}{more}", 1)
    return 1 if total["failures"] else 0


if __name__ == "__main__":
    sys.exit(main())
