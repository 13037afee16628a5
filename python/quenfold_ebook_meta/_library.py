"""The Library class: one loaded copy of the shared library and the operations on it."""

from __future__ import annotations

import json
import os
import warnings
from typing import Any, BinaryIO, Dict, Iterable, Iterator, List, Mapping, Optional, Tuple, Union

from ._errors import DrmWarning, EbookError, EbookWarning, error_from_message
from ._native import NativeLibrary
from ._reader import FileReader, is_file_object
from ._record import BookMetadata, RecordError
from ._scan import BookNames, ScanResult, scan_books

#: A file system path as the binding accepts it.
StrPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
#: One element of a rename request: a book's path, or a mapping describing it.
RenameItem = Union[StrPath, Mapping[str, Any]]
#: A book as :func:`metadata` accepts it: a path, or a binary file object
#: with ``seek`` and ``read``.
BookSource = Union[StrPath, BinaryIO]
#: The bytes of a book as :func:`metadata_from_bytes` accepts them.
BytesLike = Union[bytes, bytearray, memoryview]

_DRM_SUFFIX = "; will not decrypt"

# Flags of ebook_write_metadata (quenfold_ebook.h).
_WRITE_DRY_RUN = 1
_WRITE_KEEP_MTIME = 2
_WRITE_BREAK_LINKS = 4


def _text(raw: bytes) -> str:
    return raw.decode("utf-8", "surrogateescape")


def _c_path(path: StrPath, what: str = "path") -> bytes:
    raw = os.fsencode(os.fspath(path))
    if b"\0" in raw:
        raise ValueError(f"embedded null byte in {what}")
    return raw


def _request_text(raw: bytes) -> str:
    # The str whose UTF-8 form (surrogateescape) is exactly these bytes.
    return raw.decode("utf-8", "surrogateescape")


def _json_value(key: str, value: Any) -> Any:
    """A request value as JSON-ready text; a path becomes its file system bytes."""
    if key == "path" and isinstance(value, (str, bytes, os.PathLike)):
        return _request_text(_c_path(value))
    if isinstance(value, bytes):
        return _request_text(value)
    if isinstance(value, os.PathLike):
        return _request_text(os.fsencode(value))
    return value


def _change_value(key: str, value: Any) -> Any:
    """A change as JSON-ready data: the cover's path as the file system's bytes, tuples as lists."""
    if key == "cover" and isinstance(value, (str, bytes, os.PathLike)):
        return _request_text(_c_path(value, "cover"))
    if isinstance(value, bytes):
        return _request_text(value)
    if isinstance(value, tuple):
        return [_change_value("", v) for v in value]
    if isinstance(value, list):
        return [_change_value("", v) for v in value]
    if isinstance(value, Mapping):
        return {str(k): _change_value("", v) for k, v in value.items()}
    return value


class Library:
    """One loaded copy of the shared library and the operations on it.

    ``Library(path)`` loads the file at ``path``. Without a path it loads the
    file named by the environment variable ``QUENFOLD_EBOOK_META_LIB``, else
    the copy an installed package carries beside its modules, else
    ``build/libquenfold-ebook-meta.so`` of the source checkout holding this
    package, else the installed ``libquenfold-ebook-meta.so.0`` from the
    system's library search. Raises :class:`LibraryLoadError` when none loads.
    """

    def __init__(self, path: Optional[StrPath] = None) -> None:
        self._native = NativeLibrary(path)
        self._names: Optional[BookNames] = None

    @property
    def path(self) -> str:
        """The file or name the library was loaded from."""
        return self._native.path

    @property
    def version(self) -> str:
        """The loaded library's version, e.g. "0.2.0" (``ebook_version``).

        Raises :class:`LibraryLoadError` for a library older than 0.2.
        """
        raw: bytes = self._native.later_export("ebook_version")()
        return _text(raw)

    def formats(self) -> List[Dict[str, Any]]:
        """The formats the library reads, one dict each (``ebook_formats``).

        Each has ``format`` (the full record's word: "epub", "fb2", "mobi",
        "azw3", "palmdoc", "pdf", "cbz", "cbr", "cb7", "cbt"), ``extensions``
        (the name endings that choose it, lower case), ``info_extensions``
        (those :meth:`info` reads it under), ``read``, ``write``, ``cover``,
        ``module`` (its reader is loaded at first use), and
        ``shared_extensions`` with the ``signatures`` (``offset``, ``bytes``)
        a file under them must hold to be a book. Raises
        :class:`LibraryLoadError` for a library older than 0.2.
        """
        formats: List[Dict[str, Any]]
        formats, _ = self._json_call(self._native.later_export("ebook_formats"))
        return formats

    @property
    def book_suffixes(self) -> Tuple[str, ...]:
        """The name endings of the files :meth:`scan` considers, lower case."""
        return self._book_names().suffixes

    def _book_names(self) -> BookNames:
        names = self._names
        if names is None:
            names = self._names = BookNames(self.formats())
        return names

    def _json_call(self, fn: Any, *args: Any) -> Tuple[Any, bytes]:
        """Call a JSON-returning export; its parsed result and the notice, or EbookError."""
        text, notice = self._native.call_string(fn, *args)
        if text is None:
            raise error_from_message(_text(notice))
        return json.loads(_text(text)), notice

    def info(self, path: StrPath) -> Dict[str, Any]:
        """Describe one book.

        Returns the library's book object as a dict with the keys ``drm``,
        ``format``, ``title``, ``author``, ``language``, ``series``,
        ``series_index`` (text, never a number) and ``has_cover``, plus
        ``asin`` when the book carries one.

        A DRM-protected book is still described (``drm`` is True); the
        library's notice is issued as a :class:`DrmWarning`. Any other notice
        left by a successful call is issued as an :class:`EbookWarning`.

        Raises :class:`EbookError` with the library's message when the book
        cannot be read or described: a missing book is also a
        :class:`FileNotFoundError`, one that may not be opened a
        :class:`PermissionError` (both :class:`EbookOSError`).
        """
        return self._info(path, 3)

    def _info(self, path: StrPath, stacklevel: int) -> Dict[str, Any]:
        book: Dict[str, Any]
        book, notice = self._json_call(self._native.ebook_info, _c_path(path))
        if notice:
            category = DrmWarning if book.get("drm") else EbookWarning
            warnings.warn(_text(notice), category, stacklevel=stacklevel)
        elif book.get("drm"):
            warnings.warn("DRM-protected book" + _DRM_SUFFIX, DrmWarning, stacklevel=stacklevel)
        return book

    def metadata(self, source: BookSource, name: Optional[StrPath] = None) -> BookMetadata:
        """The full record of one book: everything it states, decoded.

        ``source`` is a path, or any binary file object with ``seek`` and
        ``read`` (an ``io.BytesIO``, a member opened from a ``zipfile``, an
        ``fsspec`` file on ``http://``, ``s3://``, ``memory://``...). A file
        object is read through the library's read callback, only the ranges
        the book's metadata needs (open remote files without a read-ahead
        cache, ``cache_type="none"``, to keep it so); the GIL is released
        between reads. Its size is its ``size`` attribute, else where
        ``seek(0, 2)`` lands. ``name`` (file objects only; default: the
        object's ``name`` or ``path``) chooses the reader by its extension;
        without one the content decides.

        A DRM-protected book is described (its metadata is not encrypted):
        ``drm`` is True and ``drm_scheme`` names the protection; no warning is
        issued, the record says it all, notices included (``warnings``).

        Raises :class:`EbookError` with the library's message when the source
        cannot be read as a book ("read failed: NAME" when the file object
        raised, with that exception as its cause; a missing book's path is
        also a :class:`FileNotFoundError`, an unreadable one a
        :class:`PermissionError`, as for :meth:`info`), and
        :class:`LibraryLoadError` when the loaded library is older than the
        function it needs.
        """
        if is_file_object(source):
            return self._metadata_from_file(source, name)
        if name is not None:
            raise TypeError("name applies to file objects, not to paths")
        if not isinstance(source, (str, bytes, os.PathLike)):
            raise TypeError(
                f"source must be a path or a binary file object, not {type(source).__name__}"
            )
        fn = self._native.later_export("ebook_metadata")
        return self._record(fn, _c_path(source))

    def _metadata_from_file(self, source: Any, name: Optional[StrPath]) -> BookMetadata:
        return self._read_through(
            FileReader(source, None if name is None else os.fsdecode(os.fspath(name)))
        )

    def _read_through(self, reader: FileReader) -> BookMetadata:
        """The record of the book behind ``reader``, which counts what it was asked for."""
        return self._parse_record(self._read_raw(reader))

    def _read_raw(self, reader: FileReader) -> Dict[str, Any]:
        """The record as the library's JSON gives it (what a bag of records holds)."""
        fn = self._native.later_export("ebook_metadata_from_reader")
        c_name = None if reader.name is None else _c_path(reader.name, "name")
        text, notice = self._native.call_string(fn, reader.callback, None, reader.size, c_name)
        reader.reraise()
        if text is None:
            error = EbookError(_text(notice))
            if reader.error is not None:
                raise error from reader.error
            raise error
        record: Dict[str, Any] = json.loads(_text(text))
        return record

    def metadata_from_bytes(self, data: BytesLike, name: Optional[StrPath] = None) -> BookMetadata:
        """The full record of a book held in memory (an upload, a member of another archive).

        ``name`` (optional) only chooses the reader by its extension, as a
        file's name would; without it the content decides. Failures as for
        :meth:`metadata`.
        """
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"data must be bytes-like, not {type(data).__name__}")
        fn = self._native.later_export("ebook_metadata_from_memory")
        raw = data if isinstance(data, bytes) else bytes(data)
        c_name = None if name is None else _c_path(name, "name")
        return self._record(fn, raw, len(raw), c_name)

    def _record(self, fn: Any, *args: Any) -> BookMetadata:
        data, _ = self._json_call(fn, *args)
        return self._parse_record(data)

    def _parse_record(self, data: Dict[str, Any]) -> BookMetadata:
        try:
            return BookMetadata.from_dict(data)
        except RecordError as exc:
            raise EbookError(f"unexpected book record from {self.path}: {exc}") from None

    def write_metadata(
        self,
        path: StrPath,
        changes: Optional[Mapping[str, Any]] = None,
        *,
        dry_run: bool = False,
        keep_mtime: bool = False,
        break_links: bool = False,
        **fields: Any,
    ) -> BookMetadata:
        """Write metadata into the book at ``path``; its full record, read back from the new file.

        The changes come as a mapping, as keyword arguments, or both (a key in
        both is refused): the record's writable keys ``title``,
        ``title_sort``, ``subtitle``, ``authors`` and ``contributors`` (lists
        of names or of mappings with ``name``, ``sort`` and ``role``),
        ``language`` or ``languages``, ``series`` (a list of mappings with
        ``name`` and ``index``), ``identifiers`` (mappings with ``scheme`` and
        ``value``), ``isbn``, ``publisher``, ``published``, ``description``,
        ``subjects``, ``rights`` and ``cover`` (the path of an image). A value
        sets the field; ``None``, ``""`` or ``[]`` removes it.

        The new book is written beside the old one, flushed, read back and
        checked, then renamed over it; on any failure the book is as it was.
        ``dry_run`` builds and checks the new book and keeps nothing;
        ``keep_mtime`` keeps the book's modification time; ``break_links``
        allows writing a book with several hard links.

        Raises :class:`EbookError` with the library's message ("unknown field:
        colour", "series: not stored by PDF books", "cannot write cbr
        archives", ...) and :class:`LibraryLoadError` when the library is older
        than writing.
        """
        request: Dict[str, Any] = {}
        for source in (changes or {}), fields:
            for key, value in source.items():
                if not isinstance(key, str):
                    raise TypeError(f"change keys must be str, not {type(key).__name__}")
                if key in request:
                    raise TypeError(f"change {key!r} given twice")
                request[key] = _change_value(key, value)
        fn = self._native.later_export("ebook_write_metadata")
        flags = (
            (_WRITE_DRY_RUN if dry_run else 0)
            | (_WRITE_KEEP_MTIME if keep_mtime else 0)
            | (_WRITE_BREAK_LINKS if break_links else 0)
        )
        text = json.dumps(request, ensure_ascii=False).encode("utf-8", "surrogateescape")
        return self._record(fn, _c_path(path), text, flags)

    def scan(
        self, path: StrPath, recursive: bool = False, jobs: Optional[int] = None
    ) -> Iterator[ScanResult]:
        """Describe every book file under the directory ``path`` on a pool of threads.

        Yields ``(path, BookMetadata)`` for each book and ``(path, EbookError)``
        for a book file that cannot be described, in name order (depth first
        when ``recursive``). The files considered end in one of
        :attr:`book_suffixes` (the extensions of :meth:`formats`), in any
        letter case; names starting with "." are skipped, and symbolic links
        to directories are not followed. A file under an ending that other
        files share (a .prc or .pdb whose PalmDB header names no Mobipocket or
        PalmDOC book) is passed over silently. A subdirectory that cannot be
        read is yielded with its error.

        ``jobs`` threads call the library at once (default: the number of
        processors plus four, at most 32). Raises :class:`EbookError` at once
        when ``path`` cannot be read, :class:`LibraryLoadError` when the
        library is older than its formats (0.2).
        """
        self._native.later_export("ebook_metadata")  # fail here, not once per book
        names = self._book_names()
        return scan_books(self.metadata, names, os.fsdecode(os.fspath(path)), recursive, jobs)

    def extract_cover(self, path: StrPath, out_path: StrPath) -> None:
        """Write the cover image of the book at ``path`` to ``out_path``, unchanged.

        ``out_path`` is created or replaced. Raises :class:`EbookError` when
        the book has no loadable cover ("no cover image found"; nothing is
        written then), is DRM-protected, cannot be read, or the file cannot
        be written.
        """
        self._extract_cover(path, out_path, 3)

    def _extract_cover(self, path: StrPath, out_path: StrPath, stacklevel: int) -> None:
        native = self._native
        status = native.ebook_extract_cover(_c_path(path), _c_path(out_path, "out_path"))
        notice = native.last_error()
        if status != 0:
            raise error_from_message(_text(notice))
        if notice:
            warnings.warn(_text(notice), EbookWarning, stacklevel=stacklevel)

    def scan_dir(self, path: StrPath) -> List[Dict[str, Any]]:
        """Describe every book file lying directly in the directory ``path``.

        Returns one dict per file with a book extension (not recursive, hidden
        names skipped), in the directory's enumeration order: ``path`` followed
        by the keys of :meth:`info`, or ``path`` and ``error`` for a file that
        could not be described. A DRM-protected book appears with ``drm``
        True and raises no warning here.

        Raises :class:`EbookError` when the directory cannot be read.
        """
        books: List[Dict[str, Any]]
        books, _ = self._json_call(self._native.ebook_scan_dir, _c_path(path))
        return books

    def rename_plan(
        self, files: Iterable[RenameItem], pattern: Optional[Union[str, bytes]] = None
    ) -> List[Dict[str, Any]]:
        """Propose new file names; nothing is renamed.

        ``files`` lists books by path (read from disk) or as mappings that
        describe them with the keys ``path``, ``author``, ``title``,
        ``series``, ``series_index`` or ``idx``, and ``ext``. ``pattern`` uses
        the placeholders ``{author}``, ``{title}``, ``{series}``, ``{idx}`` and
        ``{series_index}``; None or "" selects the library's default.

        Returns one dict per book with ``from``, ``to``, ``to_name`` and
        ``rename`` (always False), clashing names numbered "X (2)", "X (3)".

        The request travels as JSON, which the library accepts only as valid
        UTF-8: a path or value whose bytes are not UTF-8 makes the library
        refuse the request ("invalid files_json"), raised as :class:`EbookError`.
        """
        if isinstance(files, (str, bytes, os.PathLike, Mapping)):
            raise TypeError("files must be a list of paths or mappings, not a single one")
        request: List[Any] = []
        for item in files:
            if isinstance(item, Mapping):
                book = {}
                for key, value in item.items():
                    if not isinstance(key, str):
                        raise TypeError(
                            f"rename request keys must be str, not {type(key).__name__}"
                        )
                    book[key] = _json_value(key, value)
                request.append(book)
            elif isinstance(item, (str, bytes, os.PathLike)):
                request.append(_request_text(_c_path(item)))
            else:
                raise TypeError(
                    f"rename request items must be paths or mappings, not {type(item).__name__}"
                )
        # ensure_ascii=False leaves surrogate escapes as they are, so the
        # encoding below restores the caller's original bytes.
        files_json = json.dumps(request, ensure_ascii=False).encode("utf-8", "surrogateescape")
        c_pattern: Optional[bytes] = None
        if pattern is not None:
            c_pattern = pattern if isinstance(pattern, bytes) else pattern.encode(
                "utf-8", "surrogateescape"
            )
            if b"\0" in c_pattern:
                raise ValueError("embedded null byte in pattern")
        plan: List[Dict[str, Any]]
        plan, _ = self._json_call(self._native.ebook_rename_plan, files_json, c_pattern)
        return plan

    def __repr__(self) -> str:
        return f"<quenfold_ebook_meta.Library {self.path!r}>"
