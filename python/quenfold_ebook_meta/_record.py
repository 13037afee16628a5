"""The full record of one book as frozen dataclasses, built from and turned back into its JSON."""

from __future__ import annotations

import dataclasses
from dataclasses import dataclass, field
from typing import Any, Dict, Optional, Tuple, Type, TypeVar, Union, get_args, get_origin
from typing import get_type_hints

__all__ = ["BookMetadata", "Cover", "Identifier", "Person", "RecordError", "Series"]

_T = TypeVar("_T", bound="_JsonRecord")


class RecordError(ValueError):
    """A JSON value does not have the shape of the book record."""


def _from_json(value: Any, hint: Any, where: str) -> Any:
    """``value`` checked against (and built as) the annotated type ``hint``."""
    origin = get_origin(hint)
    if origin is Union:  # Optional[X]: the only union the record uses
        if value is None:
            return None
        (inner,) = [arg for arg in get_args(hint) if arg is not type(None)]
        return _from_json(value, inner, where)
    if origin is tuple:  # Tuple[X, ...] holds a JSON array
        if not isinstance(value, list):
            raise RecordError(f"{where}: expected a list, got {type(value).__name__}")
        item = get_args(hint)[0]
        return tuple(_from_json(v, item, f"{where}[{i}]") for i, v in enumerate(value))
    if isinstance(hint, type) and issubclass(hint, _JsonRecord):
        if not isinstance(value, dict):
            raise RecordError(f"{where}: expected an object, got {type(value).__name__}")
        return hint._build(value, where)
    # bool is an int in Python but not in JSON: a size of true is no size.
    if (hint is int and isinstance(value, bool)) or not isinstance(value, hint):
        raise RecordError(f"{where}: expected {hint.__name__}, got {type(value).__name__}")
    return value


def _to_json(value: Any) -> Any:
    if isinstance(value, _JsonRecord):
        return value.to_dict()
    if isinstance(value, tuple):
        return [_to_json(v) for v in value]
    return value


_Members = Tuple[Tuple[str, str, Any], ...]
_members_of: Dict[type, _Members] = {}


def _members(cls: type) -> _Members:
    """(attribute, JSON key, annotated type) of each field of a record class, in order."""
    members = _members_of.get(cls)
    if members is None:  # worked out once per class; a race only repeats the work
        hints = get_type_hints(cls)
        members = tuple(
            (f.name, f.metadata.get("json", f.name), hints[f.name])
            for f in dataclasses.fields(cls)
        )
        _members_of[cls] = members
    return members


class _JsonRecord:
    """What the record classes share: building from a JSON dict and back.

    A member the library adds later is ignored (the binding keeps working with
    a newer library); a missing member or one of the wrong type raises
    :class:`RecordError`, since the library always writes every member.
    """

    @classmethod
    def from_dict(cls: Type[_T], data: Dict[str, Any]) -> _T:
        """Build the record from the library's JSON object, parsed."""
        if not isinstance(data, dict):
            raise RecordError(f"{cls.__name__}: expected an object, got {type(data).__name__}")
        return cls._build(data, cls.__name__)

    @classmethod
    def _build(cls: Type[_T], data: Dict[str, Any], where: str) -> _T:
        values: Dict[str, Any] = {}
        for name, key, hint in _members(cls):
            if key not in data:
                raise RecordError(f"{where}: missing {key!r}")
            values[name] = _from_json(data[key], hint, f"{where}.{key}")
        return cls(**values)

    def to_dict(self) -> Dict[str, Any]:
        """The plain JSON form (dicts, lists, str, int, bool, None), keyed as the library keys it."""
        return {key: _to_json(getattr(self, name)) for name, key, _ in _members(type(self))}


@dataclass(frozen=True)
class Person(_JsonRecord):
    """A creator: ``role`` is a MARC relator code such as "aut" or "trl", or "" when unstated."""

    name: str
    sort: str
    role: str


@dataclass(frozen=True)
class Series(_JsonRecord):
    """A series the book belongs to; ``index`` is kept as the book writes it ("2", "1.5", "")."""

    name: str
    index: str


@dataclass(frozen=True)
class Identifier(_JsonRecord):
    """An identifier with its scheme: "isbn" (as ISBN-13 digits), "uuid", "asin", "doi", ..."""

    scheme: str
    value: str


@dataclass(frozen=True)
class Cover(_JsonRecord):
    """The cover image the book names: its media type, its size in bytes, and which rule found it.

    ``from_`` is the JSON member "from" (a Python keyword).
    """

    mime: str
    size: int
    from_: str = field(metadata={"json": "from"})


@dataclass(frozen=True)
class BookMetadata(_JsonRecord):
    """Everything one book states about itself, as the library's full record gives it.

    Texts are always valid Unicode (the library decodes each book by its own
    declared encoding). Lists are tuples so that the record stays immutable
    and hashable; :meth:`to_dict` turns them back into lists.
    """

    format: str
    container: Optional[str]
    version: Optional[str]
    title: str
    title_sort: str
    subtitle: str
    authors: Tuple[Person, ...]
    contributors: Tuple[Person, ...]
    language: str
    languages: Tuple[str, ...]
    series: Tuple[Series, ...]
    identifiers: Tuple[Identifier, ...]
    isbn: Optional[str]
    asin: Optional[str]
    publisher: str
    published: str
    modified: str
    rights: str
    description: str
    subjects: Tuple[str, ...]
    pages: Optional[int]
    cover: Optional[Cover]
    drm: bool
    drm_scheme: Optional[str]
    obfuscated_fonts: bool
    encoding: Optional[str]
    warnings: Tuple[str, ...]

    @property
    def author(self) -> str:
        """The first author's name, or "" when the book names none."""
        return self.authors[0].name if self.authors else ""

    @property
    def primary_series(self) -> Optional[Series]:
        """The book's main series (the first one stated), or None."""
        return self.series[0] if self.series else None
