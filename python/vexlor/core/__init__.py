"""Python-level pieces that the native core calls back by name."""
