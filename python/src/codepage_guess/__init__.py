"""Tells whether bytes are UTF-8 or Shift_JIS, and what they are: the
codepage-guess decision and classification.

    >>> import codepage_guess
    >>> data = "時代".encode("cp932")
    >>> codepage_guess.guess(data)
    932
    >>> data.decode(codepage_guess.codec(data) or "utf-8")
    '時代'
    >>> codepage_guess.describe("café".encode()).kind
    'utf-8'

The C library decides; this module hands it any bytes-like object without a
copy, and releases the GIL while it works on large inputs.
"""
from typing import NamedTuple, Optional

from ._native import (
    INPUT_LIMIT,
    Stream,
    _describe_file_tuple,
    _describe_tuple,
    _explain_tuple,
    _library_version,
    guess,
    guess_file,
)

__all__ = ["Description", "Explanation", "INPUT_LIMIT", "KINDS", "Stream", "codec", "describe",
           "describe_file", "explain", "guess", "guess_file"]
__version__ = _library_version

_CODECS = {65001: "utf-8", 932: "cp932"}

# Every kind, as codepage-scan's JSON names them.
KINDS = ("empty", "ascii", "utf-8", "utf-16le", "utf-16be", "utf-32le", "utf-32be", "shift_jis",
         "euc-jp", "iso-2022-jp", "mixed", "binary", "unknown")


class Explanation(NamedTuple):
    """Why bytes got their verdict."""

    code_page: int  # 65001, 932 or 0
    rule: str  # "only_error_free", "best_score" or "undecided"
    examined: int  # bytes looked at: at most INPUT_LIMIT
    utf8_errors: int  # bytes that broke UTF-8's rules
    utf8_score: float  # cosine with the profile of Japanese UTF-8, 0 to 1
    sjis_errors: int
    sjis_score: float


class Description(NamedTuple):
    """What bytes are, with the names and values of codepage-scan's JSON."""

    kind: str  # one of KINDS
    bom: bool  # a byte order mark starts the bytes
    ambiguous: bool  # valid UTF-8 and valid Shift_JIS, with non-ASCII
    code_page: Optional[int]  # the verdict: 65001, 932, or None when undecided
    rule: str  # "only_error_free", "best_score", "undecided" or "empty"
    utf8_line: Optional[int] = None  # the first well-formed multi-byte UTF-8 line, from 1
    sjis_line: Optional[int] = None  # the first line only Shift_JIS reads


def explain(data) -> Explanation:
    """Return guess()'s verdict with both readings' error counts and scores
    and the rule that decided: the slower full reading."""
    return Explanation(*_explain_tuple(data))


def describe(data) -> Description:
    """Return what the first INPUT_LIMIT bytes of data are (its kind) with the
    verdict beside it; data is the whole input."""
    return Description(*_describe_tuple(data))


def describe_file(path) -> Description:
    """Return describe() of the file at path, read as guess_file() reads it;
    a file longer than INPUT_LIMIT is described by its start, as
    codepage-scan does."""
    return Description(*_describe_file_tuple(path))


def codec(data) -> Optional[str]:
    """Return "utf-8", "cp932" or None, so that data.decode(codec(data)) works."""
    return _CODECS.get(guess(data))
