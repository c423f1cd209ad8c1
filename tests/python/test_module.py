import importlib
import importlib.util
import sys

import pytest

EXPECTED_ALL_ORDER = [
    "version", "Grammar", "LRTable", "ParsedSymbol", "LRParserEngine", "ParserControl",
    "TokenCursor", "_ProductionView", "_ReductionData", "Token", "LexerEngine",
]


def test_all_lists_registered_names_in_order(core):
    assert core.__all__ == EXPECTED_ALL_ORDER
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


# name: (text signature, or None for a class that cannot be created from Python;
#        takes part in GC; arguments for an instance)
CLASS_TRAITS = {
    "Grammar": ("(terminals=None)", False, ()),
    "LRTable": (None, False, None),
    "ParsedSymbol": ("(sym_type, value=None, lineno=1, endlineno=1, lexpos=0, endlexpos=0)", True, ("S",)),
    "Token": ("(tok_type, value, lineno=1, lexpos=0, end=None, lexer=None)", True, None),  # unhashable
    "LexerEngine": ("()", True, ()),
    "_ProductionView": ("(slice_items, stack=None, lexer=None, parser=None, namemap=None)", True, (None,)),
    "_ReductionData": (None, True, None),
}
SUBCLASSABLE = {"_ProductionView"}


@pytest.mark.parametrize("name", CLASS_TRAITS)
def test_common_class_traits(core, name):
    import gc

    cls = getattr(core, name)
    signature, collected, args = CLASS_TRAITS[name]
    assert (cls.__module__, cls.__qualname__, cls.__bases__) == ("builtins", name, (object,))
    assert cls.__doc__ is None and cls.__text_signature__ == signature
    assert (cls.__dictoffset__, cls.__weakrefoffset__) == (0, 0)
    assert bool(cls.__flags__ & (1 << 10)) is (name in SUBCLASSABLE)  # a base type
    assert bool(cls.__flags__ & (1 << 14)) is collected
    if signature is None:
        with pytest.raises(TypeError):
            cls()
    if args is not None:
        obj = cls(*args)
        assert gc.is_tracked(obj) is collected
        assert hash(obj) == object.__hash__(obj)


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


def _raise(exc):
    raise exc


@pytest.mark.parametrize(
    "prepare, exc, message, leading",
    [
        (lambda m: setattr(m, "__all__", ["mine"]), None, None, ["mine"]),
        (lambda m: setattr(m, "__getattr__", lambda name: _raise(AttributeError(name))), None, None, []),
        (lambda m: setattr(m, "__all__", ("mine",)), TypeError, "'tuple' object is not an instance of 'list'", None),
        (lambda m: setattr(m, "__getattr__", lambda name: _raise(KeyError(name))), KeyError, "'__all__'", None),
    ],
)
def test_registration_into_a_fresh_module(core, prepare, exc, message, leading):
    spec = importlib.util.find_spec("vexlor._core_rs")
    fresh = importlib.util.module_from_spec(spec)
    prepare(fresh)
    if exc is None:
        kept = getattr(fresh, "__all__", None)
        spec.loader.exec_module(fresh)
        assert fresh.__all__ == leading + core.__all__
        assert kept is None or fresh.__all__ is kept  # appended to, not replaced
        assert fresh.Token is core.Token
    else:
        with pytest.raises(exc) as info:
            spec.loader.exec_module(fresh)
        assert str(info.value) == message
        assert "version" not in vars(fresh)  # the first registration failed


@pytest.mark.parametrize("make", [lambda c, inner: c.Token("T", inner), lambda c, inner: c.ParsedSymbol("S", inner)])
def test_long_chains_of_records_are_freed(core, make):
    import weakref

    class Sentinel:
        pass

    innermost = Sentinel()
    alive = weakref.ref(innermost)
    chain = innermost
    for _ in range(500_000):
        chain = make(core, chain)
    del innermost, chain  # one deallocation per link, which must not recurse as deep as the chain
    assert alive() is None  # the whole chain was freed, down to its last value


SHUTDOWN_CHILD = r"""
import os, sys
from vexlor import _core_rs as core

def uses(core):
    lexer = core.LexerEngine()
    lexer.add_rule("INITIAL", "A", "a")
    lexer.set_error_func("INITIAL", lambda t: None)
    lexer.input("$")
    plain = core.LexerEngine()
    plain.input("$")
    bad = core.LRParserEngine(3, {0: {"a": 7}}, {}, ["S'"], [1], [False])
    tok = core.Token("a", "b")
    return [("eq-none", lambda: tok == None), ("eq-int", lambda: tok == 1),
            ("rule", lambda: lexer.add_rule("INITIAL", "B", "b")), ("error-func", lexer.token),
            ("lex-error", plain.token), ("parser-error", lambda: bad.parse([tok], None))]

class Finalized:
    # Everything __del__ needs is bound now: late in the shutdown the
    # module's globals and the builtins may be gone.
    def __init__(self, tag):
        self.tag, self.uses = tag, uses(core)

    def __del__(self, write=os.write, BaseException=BaseException, type=type):
        for name, use in self.uses:
            try:
                use()
                outcome = "returned"
            except BaseException as e:
                outcome = type(e).__name__
            write(1, (self.tag + " " + name + " " + outcome + "\n").encode())

cycle = Finalized("cycle")
cycle.me = cycle  # collected late in the shutdown
sys._kept = Finalized("kept")  # released after sys.modules is gone
"""


def test_package_lookups_late_in_the_shutdown_fail_as_exceptions():
    import subprocess

    run = subprocess.run([sys.executable, "-c", SHUTDOWN_CHILD], capture_output=True, text=True, timeout=60)
    assert "Fatal Python error" not in run.stderr
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    # Each use ran in both finalisers and ended, whether it could still look its module up or not.
    assert sorted(line.rsplit(" ", 1)[0] for line in lines) == sorted(
        f"{tag} {use}" for tag in ("cycle", "kept")
        for use in ("eq-none", "eq-int", "rule", "error-func", "lex-error", "parser-error"))
