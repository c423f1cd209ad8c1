"""Errors of the lexer."""

__all__ = ["LexError"]


class LexError(Exception):
    """Raised when no rule, literal or error function covers the input.

    ``text`` is the input that remained at ``pos``.
    """

    def __init__(self, message, text, pos):
        super().__init__(message)
        self.text = text
        self.pos = pos
