"""Exception and warning classes of the quenfold_ebook_meta binding."""

from __future__ import annotations

__all__ = ["EbookError", "EbookWarning", "DrmWarning"]


class EbookError(Exception):
    """A library call failed; the text is the library's own message.

    ``str(err)`` and ``err.message`` hold the message exactly as the library
    wrote it (decoded as UTF-8, undecodable bytes kept as surrogate escapes).
    """

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class EbookWarning(UserWarning):
    """A call succeeded but the library left a notice (a book it only partly understood)."""


class DrmWarning(EbookWarning):
    """The book is DRM-protected: it was described, but it will not be decrypted."""
