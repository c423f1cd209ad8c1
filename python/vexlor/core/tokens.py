"""Python-level token classes."""

__all__ = ["Token", "_LazyErrorToken"]


class Token:
    """A token made in Python: what the lexer hands out when it cannot use
    its native record (a literal that is a lone surrogate)."""

    __slots__ = ("type", "value", "lineno", "lexpos", "end", "lexer")

    def __init__(self, type, value, lineno=1, lexpos=0, end=None, lexer=None):
        self.type = type
        self.value = value
        self.lineno = lineno
        self.lexpos = lexpos
        self.end = lexpos + (len(value) if isinstance(value, str) else 1) if end is None else end
        self.lexer = lexer

    def __eq__(self, other):
        try:
            return self.type == other.type and self.value == other.value
        except AttributeError:
            return NotImplemented

    __hash__ = None

    def __repr__(self):
        return f"Token(type={self.type!r}, value={self.value!r}, lineno={self.lineno}, pos={self.lexpos})"


class _LazyErrorToken:
    """The token handed to a lexer state's error function.

    Its value, the rest of the input from the error position, is computed
    only when read, so that an error function that only skips pays nothing.
    """

    __slots__ = ("_data", "lexpos", "lineno", "lexer", "_length", "type")

    def __init__(self, data, lexpos, lineno, lexer, length):
        self._data = data
        self.lexpos = lexpos
        self.lineno = lineno
        self.lexer = lexer
        self._length = length
        self.type = "error"

    @property
    def value(self):
        return self._data[self.lexpos:]

    @property
    def end(self):
        return self._length

    def __repr__(self):
        return f"LexToken(error, {self.value[:10]!r}, {self.lineno}, {self.lexpos})"
