"""Test books built in memory (MOBI, EPUB, FB2) and a raw ctypes view of the C API."""

from __future__ import annotations

import atexit
import base64
import ctypes
import io
import json
import os
import random
import shutil
import struct
import tempfile
import unittest
import zipfile
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence, Tuple

import quenfold_ebook_meta as qem

TINY_JPEG = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xd9"
TINY_PNG = (
    b"\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01"
    b"\x08\x06\x00\x00\x00\x1f\x15\xc4\x89"
)

# ---- Mobipocket -------------------------------------------------------------


def palmdb(name: bytes, records: Sequence[bytes], type_creator: bytes = b"BOOKMOBI") -> bytes:
    """A PalmDB image: 78-byte header, record list, two gap bytes, the records."""
    header = bytearray(78)
    header[0 : min(len(name), 31)] = name[:31]
    header[60:68] = type_creator
    struct.pack_into(">H", header, 76, len(records))
    offset = 78 + 8 * len(records) + 2
    entries = bytearray()
    for i, rec in enumerate(records):
        entries += struct.pack(">II", offset, 2 * i)
        offset += len(rec)
    return bytes(header + entries + b"\0\0" + b"".join(records))


@dataclass
class Mobi:
    """What mobi() writes; the defaults make an ordinary MOBI 6 book."""

    full_name: bytes = b"Sample Book"
    palm_name: bytes = b"Sample_Book"
    exth: List[Tuple[int, bytes]] = field(default_factory=list)
    encryption: int = 0
    mobi_type: int = 2
    file_version: int = 6
    images: List[bytes] = field(default_factory=list)
    cover_image: Optional[int] = None  # index into images, written as EXTH 201
    text: Optional[bytes] = None  # the one text record; a short page when None


def mobi(desc: Mobi) -> bytes:
    header_len = 232
    r0 = bytearray(16 + header_len)
    struct.pack_into(">HxxIHHH", r0, 0, 1, 5, 1, 4096, desc.encryption)
    r0[16:20] = b"MOBI"
    struct.pack_into(">III", r0, 20, header_len, desc.mobi_type, 65001)
    struct.pack_into(">I", r0, 36, desc.file_version)
    first_image = 2 if desc.images else 0
    # Tools disagree on where the first image index lives (MOBI header +92 or
    # +108); writing both keeps the cover found either way.
    struct.pack_into(">I", r0, 108, first_image)
    struct.pack_into(">I", r0, 124, first_image)
    struct.pack_into(">I", r0, 128, 0x40)
    records = list(desc.exth)
    if desc.cover_image is not None:
        records.append((201, struct.pack(">I", desc.cover_image)))
    body = b"".join(struct.pack(">II", t, 8 + len(d)) + d for t, d in records)
    exth = b"EXTH" + struct.pack(">II", 12 + len(body), len(records)) + body
    exth += b"\0" * (-len(exth) % 4)
    r0 += exth
    struct.pack_into(">II", r0, 84, len(r0), len(desc.full_name))
    r0 += desc.full_name + b"\0\0"
    text = desc.text if desc.text is not None else b"<html><body><p>Hello.</p></body></html>"
    return palmdb(desc.palm_name, [bytes(r0), text, *desc.images])


# ---- EPUB -------------------------------------------------------------------


def epub(
    title: str = "The Quiet Sea",
    author: str = "Ann Lee",
    language: str = "en",
    series: Optional[str] = None,
    series_index: Optional[str] = None,
    cover: Optional[bytes] = None,
    encrypted: bool = False,
) -> bytes:
    metas = ""
    if series is not None:
        metas += f'<meta name="calibre:series" content="{series}"/>'
    if series_index is not None:
        metas += f'<meta name="calibre:series_index" content="{series_index}"/>'
    items = '<item id="text" href="text.xhtml" media-type="application/xhtml+xml"/>'
    if cover is not None:
        items += (
            '<item id="cov" href="images/cover.jpg" media-type="image/jpeg"'
            ' properties="cover-image"/>'
        )
    opf = (
        '<?xml version="1.0" encoding="utf-8"?>'
        '<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id">'
        '<metadata xmlns:dc="http://purl.org/dc/elements/1.1/">'
        f"<dc:title>{title}</dc:title><dc:creator>{author}</dc:creator>"
        f"<dc:language>{language}</dc:language>{metas}</metadata>"
        f"<manifest>{items}</manifest><spine><itemref idref=\"text\"/></spine></package>"
    )
    container = (
        '<?xml version="1.0"?><container version="1.0" '
        'xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles>'
        '<rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/>'
        "</rootfiles></container>"
    )
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        z.writestr("mimetype", "application/epub+zip", compress_type=zipfile.ZIP_STORED)
        z.writestr("META-INF/container.xml", container, compress_type=zipfile.ZIP_DEFLATED)
        if encrypted:
            z.writestr("META-INF/encryption.xml", "<encryption/>")
        z.writestr("OEBPS/content.opf", opf, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("OEBPS/text.xhtml", "<html><body><p>Sea.</p></body></html>")
        if cover is not None:
            z.writestr("OEBPS/images/cover.jpg", cover)
    return out.getvalue()


# ---- FictionBook ------------------------------------------------------------


def fb2(
    title: str = "Tales of the Harbour",
    first: str = "Tom",
    last: str = "Bell",
    language: str = "en",
    series: Optional[str] = "Harbour Tales",
    number: str = "3",
    cover: Optional[bytes] = None,
    encrypted: bool = False,
    encoding: str = "utf-8",
) -> bytes:
    seq = f'<sequence name="{series}" number="{number}"/>' if series else ""
    coverpage = '<coverpage><image l:href="#cover.jpg"/></coverpage>' if cover else ""
    binary = ""
    if cover:
        encoded = base64.encodebytes(cover).decode()  # wrapped in lines, as tools write it
        binary = f'<binary id="cover.jpg" content-type="image/jpeg">{encoded}</binary>'
    body = "<encrypted/>" if encrypted else "<section><p>Harbour.</p></section>"
    text = (
        f'<?xml version="1.0" encoding="{encoding}"?>\n'
        '<FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0" '
        'xmlns:l="http://www.w3.org/1999/xlink"><description><title-info>'
        f"<author><first-name>{first}</first-name><last-name>{last}</last-name></author>"
        f"<book-title>{title}</book-title>{coverpage}<lang>{language}</lang>{seq}"
        f"</title-info></description><body>{body}</body>{binary}</FictionBook>\n"
    )
    return text.encode(encoding)


def fb2_zip(document: bytes, member: str = "book.fb2") -> bytes:
    """An FB2 document packed alone in a ZIP archive (.fb2.zip, .fbz)."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        z.writestr(member, document, compress_type=zipfile.ZIP_DEFLATED)
    return out.getvalue()


# ---- the full record as JSON ------------------------------------------------


def full_record(**members: Any) -> Dict[str, Any]:
    """A full book record as the library writes it: every member, these overriding the defaults."""
    record: Dict[str, Any] = {
        "format": "epub", "container": None, "version": "3.0",
        "title": "The Quiet Sea", "title_sort": "Quiet Sea, The", "subtitle": "",
        "authors": [{"name": "Ann Lee", "sort": "Lee, Ann", "role": "aut"}],
        "contributors": [{"name": "Tom Bell", "sort": "Bell, Tom", "role": "trl"}],
        "language": "en", "languages": ["en", "fr"],
        "series": [{"name": "Sea Cycle", "index": "2"}, {"name": "Tides", "index": "1.5"}],
        "identifiers": [{"scheme": "isbn", "value": "9780306406157"},
                        {"scheme": "uuid",
                         "value": "urn:uuid:0f0e0d0c-0b0a-0908-0706-050403020100"}],
        "isbn": "9780306406157", "asin": None,
        "publisher": "Harbour Press", "published": "2021-05-04", "modified": "2021-06-01T10:00:00Z",
        "rights": "", "description": "A sea.\n\nAnd a shore.", "subjects": ["Fiction", "Sea"],
        "pages": None,
        "cover": {"mime": "image/jpeg", "size": 1234, "from": "properties"},
        "drm": False, "drm_scheme": None, "obfuscated_fonts": False, "encoding": None,
        "warnings": [],
    }
    record.update(members)
    return record


# ---- the C API, called directly ---------------------------------------------


class RawApi:
    """The six exports through plain ctypes, to compare the binding against."""

    def __init__(self, path: str) -> None:
        dll = ctypes.CDLL(path)
        self.info_fn = dll.ebook_info
        self.info_fn.argtypes = [ctypes.c_char_p]
        self.info_fn.restype = ctypes.c_void_p
        self.scan_fn = dll.ebook_scan_dir
        self.scan_fn.argtypes = [ctypes.c_char_p]
        self.scan_fn.restype = ctypes.c_void_p
        self.plan_fn = dll.ebook_rename_plan
        self.plan_fn.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self.plan_fn.restype = ctypes.c_void_p
        self.last_error = dll.ebook_last_error
        self.last_error.restype = ctypes.c_char_p
        self.free = dll.ebook_free_string
        self.free.argtypes = [ctypes.c_void_p]

    def _call(self, fn: Any, *args: Optional[bytes]) -> Tuple[Optional[bytes], bytes]:
        ptr = fn(*args)
        err = self.last_error()
        if not ptr:
            return None, err
        text = ctypes.string_at(ptr)
        self.free(ptr)
        return text, err

    def info(self, path: bytes) -> Tuple[Optional[bytes], bytes]:
        return self._call(self.info_fn, path)

    def scan_dir(self, path: bytes) -> Tuple[Optional[bytes], bytes]:
        return self._call(self.scan_fn, path)

    def rename_plan(
        self, files_json: bytes, pattern: Optional[bytes] = None
    ) -> Tuple[Optional[bytes], bytes]:
        return self._call(self.plan_fn, files_json, pattern)


def loads(raw: bytes) -> Any:
    return json.loads(raw.decode("utf-8", "surrogateescape"))


def library_path() -> str:
    """The library under test: the environment's choice, else the binding's own search."""
    return os.environ.get(qem.ENV_VAR) or qem.Library().path


class Without:
    """A loaded library as an older build would look: without some exports."""

    def __init__(self, dll: object, *names: str) -> None:
        self._dll, self._names = dll, names

    def __getattr__(self, name: str) -> object:
        if name in self._names:
            raise AttributeError(name)
        return getattr(self._dll, name)


def needs_full_record(lib: qem.Library) -> None:
    """Skip, saying why, when the library under test predates the full record."""
    if not lib._native.has_export("ebook_metadata"):
        raise unittest.SkipTest(
            f"{lib.path} has no ebook_metadata (a library older than the full record)"
        )


class BookTestCase(unittest.TestCase):
    """A temporary directory per test, the binding and the raw API on one library."""

    lib: qem.Library
    raw: RawApi

    @classmethod
    def setUpClass(cls) -> None:
        path = library_path()
        cls.lib = qem.load(path)  # the module-level functions use it too
        cls.raw = RawApi(path)

    def setUp(self) -> None:
        self.dir = tempfile.mkdtemp(prefix="qem-py-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def write(self, name: str, data: bytes) -> str:
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


# ---- a library of books on disk ---------------------------------------------


# How many books the tests that only read a library share (the cluster's and
# the HTTP server's): enough for partitions to finish while a worker is
# killed, and every seventh one large.
SHARED_BOOKS = 240
_shared: Optional[Tuple[str, List[str]]] = None


def shared_library() -> Tuple[str, List[str]]:
    """One library (see :func:`library`) for the tests of this process that only read it,
    written at first use and removed at exit: its directory and its books."""
    global _shared
    if _shared is None:
        top = tempfile.mkdtemp(prefix="qem-shared-")
        atexit.register(shutil.rmtree, top, True)
        _shared = (top, library(top, SHARED_BOOKS))
    return _shared


def library(top: str, count: int) -> List[str]:
    """Writes ``count`` books of every family under ``top`` (a third in sub/), and beside them
    a damaged book, a hidden one and a file that is no book; the relative paths of the books.

    Every seventh book is large, so that reading only its metadata shows: an EPUB
    with a 1 MB picture after its package, a MOBI with 300 KB of text before its
    cover.
    """
    rng = random.Random(count)
    os.makedirs(os.path.join(top, "sub"), exist_ok=True)
    written = []
    for i in range(count):
        kind = i % 6
        big = i % 7 == 0
        title = f"Book {i}"
        if kind == 0:
            pad = rng.randbytes(1_000_000) if big else None
            name, data = f"b{i:04d}.epub", epub(title=title, cover=pad or TINY_JPEG)
        elif kind == 1:
            name, data = f"b{i:04d}.fb2", fb2(title=title, cover=TINY_JPEG, number=str(i))
        elif kind == 2:
            cover = TINY_JPEG + (rng.randbytes(300_000) if big else b"")
            name, data = f"b{i:04d}.mobi", mobi(Mobi(full_name=title.encode(),
                                                     exth=[(100, b"Ann Lee")],
                                                     images=[cover], cover_image=0,
                                                     text=rng.randbytes(300_000) if big else None))
        elif kind == 3:
            name, data = f"b{i:04d}.fb2.zip", fb2_zip(fb2(title=title))
        elif kind == 4:
            name, data = f"b{i:04d}.azw3", mobi(Mobi(full_name=title.encode(), mobi_type=248,
                                                     file_version=8))
        else:
            name, data = f"b{i:04d}.epub", epub(title=title, series="Cycle", series_index=str(i),
                                                encrypted=big)
        rel = os.path.join("sub", name) if i % 3 == 0 else name
        with open(os.path.join(top, rel), "wb") as f:
            f.write(data)
        written.append(rel)
    for rel, data in (("damaged.epub", b"PK\x03\x04 not a zip"), (".hidden.epub", epub()),
                      ("notes.txt", b"no book")):
        with open(os.path.join(top, rel), "wb") as f:
            f.write(data)
    return sorted(written + ["damaged.epub"])
