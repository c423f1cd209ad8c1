import importlib
import sys

import pytest

EXPECTED_ALL_ORDER = [
    "version", "Grammar", "LRTable", "ParsedSymbol", "LRParserEngine", "ParserControl",
    "TokenCursor", "_ProductionView", "_ReductionData", "Token", "LexerEngine",
]


def test_all_lists_registered_names_in_order(core):
    assert core.__all__[0] == "version"
    # Every registered class appears in its fixed place relative to the others.
    assert core.__all__ == [n for n in EXPECTED_ALL_ORDER if n in core.__all__]
    assert "Token" in core.__all__
    for name in core.__all__:
        assert getattr(core, name) is not None


def test_module_frame(core):
    assert core.__doc__ == ""
    assert core.version() == "0.1.0-rust"
    assert core.version.__text_signature__ == "()"
    assert core.version.__doc__ is None
    with pytest.raises(TypeError):
        core.version(1)
    assert not hasattr(core, "ParserStack")


def test_class_traits(core):
    T = core.Token
    assert (T.__module__, T.__qualname__, T.__name__) == ("builtins", "Token", "Token")
    assert T.__text_signature__ == "(tok_type, value, lineno=1, lexpos=0, end=None, lexer=None)"
    assert T.__doc__ is None
    assert T.__base__ is object
    t = T("a", 1)
    assert not hasattr(t, "__dict__")
    with pytest.raises(TypeError):
        hash(t)
    with pytest.raises(TypeError):
        class Sub(T):
            pass
    with pytest.raises(TypeError):
        import weakref
        weakref.ref(t)


def test_reimport_registers_the_same_classes(core):
    token_class = core.Token
    del sys.modules["vexlor._core_rs"]
    try:
        fresh = importlib.import_module("vexlor._core_rs")
        assert fresh is not core
        assert fresh.Token is token_class
        assert fresh.__all__ == core.__all__
    finally:
        sys.modules["vexlor._core_rs"] = core
