"""Text and properties of OASYS word processor documents, over the application library liboasys.

    import oasysdoc
    with oasysdoc.open("archive/letter.oas") as doc:
        print(doc.packaging, doc.properties["title"])
        print(doc.text())

A document comes in one of three packagings: "separated" (a .DOC body beside its .FMT format
file, named by either), "combined" (one file) or "compound" (an OLE compound file). Every failure
raises a subclass of :class:`Error` that carries liboasys's status, the filter's own code and the
path. The interpreter lock is released while a document is read, so threads over different
documents run in parallel. For whole archives, on one machine or a Dask cluster, see
:mod:`oasysdoc.archive`.
"""

from __future__ import annotations

import codecs
import datetime
import os
from typing import Any, BinaryIO, Optional, Union

from . import _oasysdoc
# liboasys's statuses; the exception of each failure is in _ERRORS below.
from ._oasysdoc import (BAD_ARGUMENT, BROKEN, NO_TEXT, NOT_OASYS, OK, OUTPUT_ERROR, OUTPUT_LIMIT, PASSWORD,
                        UNREADABLE)

__all__ = [
    "open", "open_separated", "detect", "charsets", "Document", "Error", "OutputLimitError", "NoTextError",
    "PasswordProtectedError", "NotOasysError", "BrokenDocumentError", "UnreadableError", "BadArgumentError",
    "OutputError", "UnknownEncodingError", "version",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# "auto", "separated", "combined", "compound" and their numbers, as liboasys names them.
PACKAGINGS = {_oasysdoc.packaging_name(number): number for number in range(4)}


class Error(Exception):
    """A document could not be read as asked.

    ``status`` is liboasys's status (the exit code of the tools), ``outcome`` its word ("broken",
    ...), ``code`` the filter's return code (0 when the filter was not called), ``path`` the
    document's path (None for a document from memory) and ``packaging`` the document's packaging
    when it was known before the failure. After :meth:`Document.write_text`, ``written`` is the
    number of bytes the file holds (a partial text, or 0)."""
    written: int = 0

    def __init__(self, message: str, status: int, code: int = 0, path: Optional[str] = None,
                 packaging: Optional[str] = None):
        super().__init__(f"{path}: {message}" if path else message)
        self.message, self.status, self.code, self.path, self.packaging = message, status, code, path, packaging

    @property
    def outcome(self) -> str:
        return _oasysdoc.status_name(self.status)


class OutputLimitError(Error):
    """The text reached max_bytes; ``partial`` holds the text up to the limit."""
    partial: Union[str, bytes, None] = None


class NoTextError(Error):
    """The document holds no visible text."""


class PasswordProtectedError(Error):
    """The document is password-protected."""


class NotOasysError(Error):
    """Not an OASYS document."""


class BrokenDocumentError(Error):
    """The document is damaged; ``partial`` holds the text decoded before the damage (if any)."""
    partial: Union[str, bytes, None] = None


class UnreadableError(Error):
    """The document or one of its files is missing, no regular file, or cannot be read."""


class OutputError(Error):
    """The text could not be written."""


class BadArgumentError(Error, ValueError):
    """A value out of range (max_bytes below 1, an unknown packaging, a closed document)."""


class UnknownEncodingError(BadArgumentError, LookupError):
    """An encoding liboasys cannot write (see :func:`charsets`)."""


_ERRORS = {OUTPUT_LIMIT: OutputLimitError, NO_TEXT: NoTextError, PASSWORD: PasswordProtectedError,
           NOT_OASYS: NotOasysError, BROKEN: BrokenDocumentError, UNREADABLE: UnreadableError,
           OUTPUT_ERROR: OutputError, BAD_ARGUMENT: BadArgumentError}


def _error(status: int, code: int, message: str, path: Optional[str]) -> Error:
    return _ERRORS.get(status, Error)(message, status, code, path)


def _check(answer: tuple, path: Optional[str]) -> tuple:
    """The values after (status, code, message) of a call that succeeded; else its exception."""
    status, code, message = answer[:3]
    if status != OK:
        raise _error(status, code, message, path)
    return answer[3:]


def _opened(answer: tuple, path: Optional[str]) -> "Document":
    """The document of an open's (status, code, message, packaging, handle); else its exception,
    with the packaging when it was known."""
    status, code, message, packaging, handle = answer
    if status != OK:
        error = _error(status, code, message, path)
        error.packaging = _oasysdoc.packaging_name(packaging) if packaging else None
        raise error
    return Document(handle, path)


def _packaging_number(packaging: str) -> int:
    if packaging not in PACKAGINGS:
        raise BadArgumentError(f"unknown packaging {packaging!r} (one of {', '.join(PACKAGINGS)})", BAD_ARGUMENT)
    return PACKAGINGS[packaging]


def _date(stored: Optional[tuple]) -> Optional[datetime.datetime]:
    """A stored date (two-digit years: 80-99 are 19xx, liboasys says which); None when unset or
    when its digits form no date (its stored text stays beside it)."""
    if stored is None:
        return None
    try:
        return datetime.datetime(*stored)
    except ValueError:
        return None


class Document:
    """An open OASYS document; a context manager that closes it.

    The sources stay open until :meth:`close`, so what is read is what was opened even when the
    files are renamed or replaced meanwhile. One document may be used from any thread, one call at
    a time (calls wait for each other); different documents run in parallel."""

    def __init__(self, handle: Any, path: Optional[str]):
        self._handle, self.path = handle, path

    def __enter__(self) -> "Document":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<oasysdoc.Document {self.packaging} {self.path or '(memory)'}>"

    def close(self) -> None:
        """Releases the document (later calls raise BadArgumentError)."""
        self._handle.close()

    @property
    def packaging(self) -> str:
        """"separated", "combined" or "compound"."""
        return _oasysdoc.packaging_name(self._handle.packaging)

    @property
    def password_protected(self) -> bool:
        """The password flag of the format block, read without extracting any text."""
        return _check(self._handle.password_protected(), self.path)[0]

    @property
    def properties(self) -> dict:
        """title, author, keywords (entries joined by ";"), category, comments, last_author,
        document_type: str; created, modified: datetime or None, with created_text and
        modified_text as stored ("98年12月31日23時59分", "" when unset); packaging;
        password_protected."""
        fields = _check(self._handle.properties(), self.path)[0]
        fields["created"], fields["modified"] = _date(fields["created"]), _date(fields["modified"])
        fields["packaging"] = _oasysdoc.packaging_name(fields["packaging"])
        return fields

    def text_bytes(self, encoding: str = "utf-8", ruled_lines: bool = False, max_bytes: Optional[int] = None,
                   loop_guard: bool = False, strict: bool = False) -> bytes:
        """The text in any charset liboasys writes (:func:`charsets`); lines end with CR LF.

        ruled_lines: ruled lines as box-drawing characters instead of spaces. max_bytes: at most
        this many bytes (OutputLimitError carries them). loop_guard: stop a loop of the filter
        after 524288 passes (BrokenDocumentError). strict: a damaged document keeps no text
        (else BrokenDocumentError carries the text decoded before the damage)."""
        limit = self._text_limit(encoding, max_bytes)
        status, code, message, data = self._handle.text(encoding, ruled_lines, limit, loop_guard, strict)
        if status != OK:
            error = _error(status, code, message, self.path)
            error.partial = data if status in (OUTPUT_LIMIT, BROKEN) else None
            raise error
        return data

    def write_text(self, file: Union[int, BinaryIO], encoding: str = "utf-8", ruled_lines: bool = False,
                   max_bytes: Optional[int] = None, loop_guard: bool = False, strict: bool = False) -> int:
        """Writes the text straight into ``file``, a regular file open for writing (not appending):
        a descriptor, or a binary file object with ``fileno()`` (flushed first). What the file held
        is replaced from its start; its position is neither used nor moved. Returns the number of
        bytes written. The text never passes through memory, whatever its size.

        The options are those of :meth:`text_bytes`. A failure raises its error with ``written``,
        the bytes the file holds: the partial text of an OutputLimitError or BrokenDocumentError,
        else 0 (the file is left empty, or untouched when the call was refused before reading)."""
        limit = self._text_limit(encoding, max_bytes)
        if isinstance(file, int):
            fd = file
        elif callable(getattr(file, "fileno", None)):
            if callable(getattr(file, "flush", None)):
                file.flush()
            fd = file.fileno()
        else:
            raise TypeError(f"file must be a descriptor or a file object with fileno(), not {type(file).__name__}")
        status, code, message, written = self._handle.write_text(fd, encoding, ruled_lines, limit, loop_guard, strict)
        if status != OK:
            error = _error(status, code, message, self.path)
            error.written = written if status in (OUTPUT_LIMIT, BROKEN) else 0
            raise error
        return written

    def _text_limit(self, encoding: str, max_bytes: Optional[int]) -> int:
        """max_bytes as liboasys takes it (-1: no limit), once encoding and max_bytes are checked."""
        if not _oasysdoc.charset_usable(encoding):
            raise UnknownEncodingError(f"unknown encoding {encoding!r}", BAD_ARGUMENT, path=self.path)
        if max_bytes is not None and (not isinstance(max_bytes, int) or not 0 < max_bytes <= 0xFFFFFFFF):
            raise BadArgumentError(f"max_bytes must be a whole number from 1 to 4294967295, not {max_bytes!r}",
                                   BAD_ARGUMENT, path=self.path)
        return -1 if max_bytes is None else max_bytes

    def text(self, encoding: str = "utf-8", ruled_lines: bool = False, max_bytes: Optional[int] = None,
             loop_guard: bool = False, strict: bool = False) -> str:
        """The text as str, written in `encoding` first (a character it cannot hold is lost as
        liboasys loses it) and decoded again; see :meth:`text_bytes`. ``partial`` of an
        OutputLimitError or BrokenDocumentError is a str too (a character cut by the limit is
        dropped)."""
        codec = _python_codec(encoding)
        try:
            return self.text_bytes(encoding, ruled_lines, max_bytes, loop_guard, strict).decode(codec)
        except (OutputLimitError, BrokenDocumentError) as error:
            error.partial = error.partial.decode(codec, "ignore") if error.partial is not None else None
            raise


def _python_codec(encoding: str) -> str:
    if not _oasysdoc.charset_usable(encoding):
        raise UnknownEncodingError(f"unknown encoding {encoding!r}", BAD_ARGUMENT)
    try:
        return codecs.lookup(encoding).name
    except LookupError:
        raise UnknownEncodingError(f"liboasys writes {encoding!r}, but Python cannot decode it: use text_bytes()",
                                   BAD_ARGUMENT) from None


def open(source: Union[PathLike, bytes], packaging: str = "auto") -> Document:  # noqa: A001 (as io.open)
    """Opens a document from a path (str or os.PathLike; a separated document by any of its
    members, in any case) or from bytes (a combined or compound document; a separated one from
    memory is :func:`open_separated`). packaging "auto" detects it."""
    number = _packaging_number(packaging)
    if isinstance(source, (bytes, bytearray, memoryview)):
        return _opened(_oasysdoc.open_memory(bytes(source), number), None)
    raw = os.fsencode(source)
    path = os.fsdecode(raw)
    if b"\0" in raw:
        raise BadArgumentError("a path cannot hold a NUL byte", BAD_ARGUMENT, path=repr(path))
    return _opened(_oasysdoc.open_path(raw, number), path)


def open_separated(doc: bytes, fmt: bytes) -> Document:
    """Opens a separated document from the bytes of its .DOC body and its .FMT format file."""
    return _opened(_oasysdoc.open_separated(bytes(doc), bytes(fmt)), None)


def detect(path: PathLike) -> str:
    """The packaging of the document at path: "separated", "combined" or "compound"; raises
    NotOasysError (or another Error) when it is none."""
    with open(path) as document:
        return document.packaging


def charsets() -> list[str]:
    """Every encoding name liboasys writes."""
    return _oasysdoc.charsets()


def version() -> str:
    """liboasys's version."""
    return _oasysdoc.version()
