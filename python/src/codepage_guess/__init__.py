"""Tells whether bytes are UTF-8 or Shift_JIS: the codepage-guess decision.

    >>> import codepage_guess
    >>> codepage_guess.guess("時代".encode("cp932"))
    932
    >>> data.decode(codepage_guess.codec(data) or "utf-8")

The C library makes the decision; this module hands it any bytes-like object
without a copy, and releases the GIL while it decides on large inputs.
"""
from typing import NamedTuple, Optional

from ._native import INPUT_LIMIT, Stream, explain_tuple, guess, guess_file, library_version

__all__ = ["Explanation", "INPUT_LIMIT", "Stream", "codec", "explain", "guess", "guess_file"]
__version__ = library_version

_CODECS = {65001: "utf-8", 932: "cp932"}


class Explanation(NamedTuple):
    """Why bytes got their verdict."""

    code_page: int  # 65001, 932 or 0
    rule: str  # "only_error_free", "best_score" or "undecided"
    examined: int  # bytes looked at: at most INPUT_LIMIT
    utf8_errors: int  # bytes that broke UTF-8's rules
    utf8_score: float  # cosine with the profile of Japanese UTF-8, 0 to 1
    sjis_errors: int
    sjis_score: float


def explain(data) -> Explanation:
    """Return guess()'s verdict with both readings' error counts and scores
    and the rule that decided: the slower full reading."""
    return Explanation(*explain_tuple(data))


def codec(data) -> Optional[str]:
    """Return "utf-8", "cp932" or None, so that data.decode(codec(data)) works."""
    return _CODECS.get(guess(data))
