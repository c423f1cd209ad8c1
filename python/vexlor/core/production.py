"""Errors of the parser."""

__all__ = ["ParserError"]


class ParserError(Exception):
    """Raised when the parse tables are inconsistent with the input."""
