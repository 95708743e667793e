from os import PathLike
from types import TracebackType
from typing import Literal, NamedTuple, Optional, Union, final

from _typeshed import ReadableBuffer as Buffer

INPUT_LIMIT: int
__version__: str

Kind = Literal["empty", "ascii", "utf-8", "utf-16le", "utf-16be", "utf-32le", "utf-32be",
               "shift_jis", "euc-jp", "iso-2022-jp", "mixed", "binary", "unknown"]
KINDS: tuple[Kind, ...]
_Path = Union[str, bytes, PathLike[str], PathLike[bytes]]

class Explanation(NamedTuple):
    code_page: int
    rule: str
    examined: int
    utf8_errors: int
    utf8_score: float
    sjis_errors: int
    sjis_score: float

class Description(NamedTuple):
    kind: Kind
    bom: bool
    ambiguous: bool
    code_page: Optional[Literal[65001, 932]]
    rule: Literal["only_error_free", "best_score", "undecided", "empty"]
    utf8_line: Optional[int] = None
    sjis_line: Optional[int] = None

def guess(data: Buffer, /) -> int: ...
def guess_file(path: _Path, /) -> int: ...
def codec(data: Buffer) -> Optional[str]: ...
def explain(data: Buffer) -> Explanation: ...
def describe(data: Buffer) -> Description: ...
def describe_file(path: _Path) -> Description: ...

@final
class Stream:
    def __init__(self) -> None: ...
    @property
    def size(self) -> int: ...
    def feed(self, data: Buffer, /) -> "Stream": ...
    def guess(self) -> int: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Stream": ...
    def __exit__(self, kind: Optional[type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType], /) -> None: ...
