"""Translation of Python regular expressions for the native matcher."""

__all__ = ["native_pattern"]


def native_pattern(pattern, flags, compiled):
    """Return ``(native_text_or_None, ascii_only, literal_prefix)``."""
    return (None, False, "")
