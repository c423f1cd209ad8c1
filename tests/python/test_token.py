import gc
import sys

import pytest

from conftest import allocated_growth
from vexlor.core import tokens as py_tokens


@pytest.fixture
def Token(core):
    return core.Token


@pytest.mark.parametrize(
    "value, lexpos, expected_end",
    [
        ("héllo", 3, 8),          # code points, not bytes
        ("\ud800x", 0, 2),        # a lone surrogate counts as one
        ("", 7, 7),
        (None, 4, 5),             # any other value counts as one
        (12345, 0, 1),
    ],
)
def test_end_is_computed_from_the_value(Token, value, lexpos, expected_end):
    assert Token("T", value, lexpos=lexpos).end == expected_end


def test_constructor_fields_and_defaults(Token):
    owner = object()
    t = Token("NUM", 42, 3, 10, 5, owner)
    assert (t.type, t.value, t.lineno, t.lexpos, t.end, t.lexer) == ("NUM", 42, 3, 10, 5, owner)
    d = Token(tok_type="X", value="ab", end=None, lexer=None)
    assert (d.lineno, d.lexpos, d.end, d.lexer) == (1, 0, 2, None)


def test_end_overflow(Token):
    with pytest.raises(OverflowError, match="^token end exceeds the counter range$"):
        Token("T", "x", lexpos=2**64 - 1)
    assert Token("T", "x", lexpos=2**64 - 1, end=0).end == 0


@pytest.mark.parametrize(
    "kwargs, exc, message, note",
    [
        ({"tok_type": 1, "value": 1}, TypeError, "'int' object is not an instance of 'str'", "tok_type"),
        ({"tok_type": None, "value": 1}, TypeError, "'None' is not an instance of 'str'", "tok_type"),
        ({"tok_type": "\ud800", "value": 1}, UnicodeEncodeError, None, "tok_type"),
        ({"tok_type": "T", "value": 1, "lineno": None}, TypeError, None, "lineno"),
        ({"tok_type": "T", "value": 1, "lexpos": None}, TypeError, None, "lexpos"),
        ({"tok_type": "T", "value": 1, "lexpos": -1}, OverflowError, None, "lexpos"),
        ({"tok_type": "T", "value": 1, "end": 2**64}, OverflowError, None, "end"),
        ({"tok_type": "T", "value": 1, "end": 1.5}, TypeError, None, "end"),
    ],
)
def test_constructor_conversion_failures(Token, kwargs, exc, message, note):
    with pytest.raises(exc) as info:
        Token(**kwargs)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_index_protocol_integers(Token):
    class Idx:
        def __index__(self):
            return 7

    t = Token("T", "v", lineno=Idx(), lexpos=Idx())
    assert (t.lineno, t.lexpos, t.end) == (7, 7, 8)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda T: T(), "Token.__new__() missing 2 required positional arguments: 'tok_type' and 'value'"),
        (lambda T: T("a"), "Token.__new__() missing 1 required positional argument: 'value'"),
        (lambda T: T(value=1), "Token.__new__() missing 1 required positional argument: 'tok_type'"),
        (lambda T: T(1, 2, 3, 4, 5, 6, 7),
         "Token.__new__() takes from 2 to 6 positional arguments but 7 were given"),
        (lambda T: T("a", 1, colour=2), "Token.__new__() got an unexpected keyword argument 'colour'"),
        (lambda T: T("a", 1, tok_type="b"), "Token.__new__() got multiple values for argument 'tok_type'"),
    ],
)
def test_argument_errors(Token, call, message):
    with pytest.raises(TypeError) as info:
        call(Token)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "prop, good, read_back, bad, note",
    [
        ("type", "NAME", "NAME", 5, "val"),
        ("sym_type", "NAME", "NAME", 5, "value"),
        ("lineno", 9, 9, -1, "lineno"),
        ("lexpos", 9, 9, "x", "lexpos"),
        ("index", 9, 9, None, "val"),
        ("end", 9, 9, 2**64, "end"),
    ],
)
def test_setters_convert_and_note(Token, prop, good, read_back, bad, note):
    t = Token("T", "v")
    setattr(t, prop, good)
    assert getattr(t, prop) == read_back
    with pytest.raises((TypeError, OverflowError)) as info:
        setattr(t, prop, bad)
    assert info.value.__notes__ == [f"while processing '{note}'"]
    assert getattr(t, prop) == read_back  # unchanged by the failed write


def test_aliases_and_object_properties(Token):
    t = Token("T", "v", lexpos=3)
    t.index = 11
    assert t.lexpos == 11
    t.lexpos = 4
    assert t.index == 4
    t.sym_type = "U"
    assert t.type == "U"
    with pytest.raises(UnicodeEncodeError) as info:
        t.sym_type = "\udc00"
    assert info.value.__notes__ == ["while processing 'value'"]
    t.value = [1]
    t.lexer = owner = object()
    assert t.value == [1] and t.lexer is owner
    t.lexer = None
    assert t.lexer is None


@pytest.mark.parametrize("prop", ["value", "lineno", "lexpos", "end", "lexer", "type", "sym_type", "index"])
def test_properties_have_no_deleter(Token, prop):
    t = Token("T", "v")
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        delattr(t, prop)


def test_printed_form(Token):
    assert repr(Token("NUM", 42, lineno=3, lexpos=7)) == "Token(type=\"NUM\", value=42, lineno=3, pos=7)"
    assert repr(Token('a"b\n', "x")) == 'Token(type="a\\"b\\n", value=x, lineno=1, pos=0)'
    assert repr(Token("T", "\ud800!")) == "Token(type=\"T\", value=\ufffd\ufffd\ufffd!, lineno=1, pos=0)"
    assert str(Token("T", "x")) == repr(Token("T", "x"))


def test_printed_form_survives_a_failing_str(Token):
    class Bad:
        def __str__(self):
            raise ValueError("no")

    seen = []
    import sys

    old = sys.unraisablehook
    sys.unraisablehook = lambda u: seen.append(u)
    try:
        text = repr(Token("T", Bad()))
    finally:
        sys.unraisablehook = old
    assert text == 'Token(type="T", value=<unprintable Bad object>, lineno=1, pos=0)'
    assert len(seen) == 1 and isinstance(seen[0].exc_value, ValueError)


def test_equality(Token):
    assert Token("A", 1, lineno=1, lexpos=0) == Token("A", 1.0, lineno=9, lexpos=5, lexer=object())
    assert Token("A", 1) != Token("B", 1)

    class Loud:
        def __eq__(self, other):
            raise AssertionError("values must not be compared")

    assert not (Token("A", Loud()) == Token("B", Loud()))
    assert Token("A", 1) != 1 and not (Token("A", 1) == 1)
    with pytest.raises(TypeError):
        Token("A", 1) < Token("A", 1)


def test_equality_with_the_python_token(Token):
    assert Token("A", "x") == py_tokens.Token("A", "x")
    assert py_tokens.Token("A", "x") == Token("A", "x")
    assert Token("A", "x") != py_tokens.Token("A", "y")
    assert Token("A", "x") != py_tokens.Token("B", "x")


def test_equality_imports_the_package_token_class_when_needed(Token, monkeypatch):
    import sys

    monkeypatch.setitem(sys.modules, "vexlor.core.tokens", None)  # any import of it now fails
    assert Token("A", 1) == Token("A", 1)  # two native tokens: nothing imported
    with pytest.raises(ImportError):
        Token("A", 1) == 1
    monkeypatch.undo()
    assert Token("A", "x") == py_tokens.Token("A", "x")  # imported again at this comparison

    # A module replaced in sys.modules is the one used; a missing one is imported.
    import types

    class Other:
        type, value = "A", "x"

    fake = types.ModuleType("vexlor.core.tokens")
    fake.Token = Other
    monkeypatch.setitem(sys.modules, "vexlor.core.tokens", fake)
    assert Token("A", "x") == Other()
    assert Token("A", "x").__eq__(py_tokens.Token("A", "x")) is NotImplemented
    monkeypatch.delitem(sys.modules, "vexlor.core.tokens")
    assert Token("A", "x") == py_tokens.Token("A", "x")
    assert "vexlor.core.tokens" in sys.modules


def test_equality_propagates_value_errors(Token):
    class Boom:
        def __eq__(self, other):
            raise KeyError("boom")

    with pytest.raises(KeyError):
        Token("A", Boom()) == Token("A", 1)


def test_finaliser_of_replaced_value_sees_the_token_held(Token):
    t = Token("T", None)
    seen = {}

    class Probe:
        def __del__(self):
            for name, action in [("read", lambda: t.value), ("repr", lambda: repr(t)), ("write", lambda: setattr(t, "lineno", 2))]:
                try:
                    action()
                except RuntimeError as e:
                    seen[name] = str(e)
            # Another token cannot read it, so it compares through the
            # Python-level path, which does not know it either.
            seen["eq"] = Token("T", None).__eq__(t)

    t.value = Probe()
    t.value = 1
    assert seen == {
        "read": "Already mutably borrowed",
        "repr": "Already mutably borrowed",
        "write": "Already borrowed",
        "eq": NotImplemented,
    }


def test_gc_clear_breaks_cycles(Token):
    t = Token("T", None)
    t.value = t
    t.lexer = [t]
    import weakref

    class Marker:
        pass

    m = Marker()
    t.lexer.append(m)
    r = weakref.ref(m)
    del t, m
    gc.collect()
    assert r() is None


@pytest.mark.parametrize("attr", ["value", "lexer"])
def test_every_token_is_tracked_by_the_collector(core, Token, attr):
    import weakref

    class Marker:
        pass

    # Tracked from its creation whatever it holds, by the constructor and by
    # the lexer alike, so that tools built on gc.get_objects() see it.
    made = [Token("T", "x"), Token("T", 5), Token("T", None, lexer=None), Token("T", [])]
    lexer = core.LexerEngine()
    lexer.add_rule("INITIAL", "A", "a")
    lexer.set_literals("+")
    made += lexer.tokenize("a+")
    lexer.input("a")
    made.append(lexer.token())
    assert all(gc.is_tracked(t) for t in made)
    ids = {id(o) for o in gc.get_objects()}
    assert all(id(t) in ids for t in made)
    t = Token("T", "x")
    m = Marker()
    setattr(t, attr, [t, m])  # a cycle through the token is found
    r = weakref.ref(m)
    del t, m
    gc.collect()
    assert r() is None


def test_no_leak_over_many_tokens(Token):
    def work():
        t = Token("T", "abc", lexpos=1, lexer=object())
        t.value = "x" * 3
        t.type = "U"
        repr(t)
        t == Token("U", "xxx")
        t != 3

    assert allocated_growth(work) < 100  # a leak would grow by at least one block per call


DEEP = 100_000


def chain(make, depth=DEEP):
    v = None
    for _ in range(depth):
        v = make(v)
    return v


@pytest.mark.parametrize("make, prefix", [
    (lambda core: lambda v: core.Token("x", v), 'Token(type="x", value=Token(type="x", value='),
    (lambda core: lambda v: core.ParsedSymbol("x", v), 'ParsedSymbol(type="x", value=ParsedSymbol('),
    # Through containers of the interpreter's own in between.
    (lambda core: lambda v: core.Token("x", [core.ParsedSymbol("y", (v,))]),
     'Token(type="x", value=[ParsedSymbol(type="y", value=(Token('),
])
def test_printing_values_nested_deeper_than_the_stack_allows(core, make, prefix):
    # The innermost level that can still be printed says so; nothing overflows the stack.
    seen = []
    old = sys.unraisablehook
    sys.unraisablehook = lambda u: seen.append(type(u.exc_value))
    try:
        text = repr(chain(make(core)))
    finally:
        sys.unraisablehook = old
    assert text.startswith(prefix)
    assert "<unprintable" in text
    assert seen and set(seen) == {RecursionError}


def test_comparing_and_reporting_values_nested_deeper_than_the_stack_allows(core):
    a, b = chain(lambda v: core.Token("x", v)), chain(lambda v: core.Token("x", v))
    with pytest.raises(RecursionError):
        a == b
    with pytest.raises(RecursionError):
        a != b
    # The parser writes repr() of the offending value into its message.
    engine = core.LRParserEngine(2, {0: {"y": 1}, 1: {"$end": 0}}, {}, ["S'"], [1], [False])
    old = sys.unraisablehook
    sys.unraisablehook = lambda u: None
    try:
        with pytest.raises(SyntaxError, match=r'^Syntax error at Token\(type="x".*<unprintable') as info:
            engine.parse([core.Token("x", a)], None)
    finally:
        sys.unraisablehook = old
    assert str(info.value).endswith('(type "x") on line 1, pos 0')


SMALL_STACK_CHILD = r"""
import sys, threading
from vexlor import _core_rs as core

sys.unraisablehook = lambda u: None
makers = {
    "Token": lambda v: core.Token("x", v),
    "ParsedSymbol": lambda v: core.ParsedSymbol("x", v),
    "mixed": lambda v: core.Token("x", [core.ParsedSymbol("y", (v,))]),
}

def chain(make, depth):
    v = None
    for _ in range(depth):
        v = make(v)
    return v

def work():
    for name, make in makers.items():
        for depth in (999, 100_000):
            a, b = chain(make, depth), chain(make, depth)
            text = repr(a)
            assert text.startswith(repr(make(None))[:12]), text[:40]
            try:
                same = a == b
            except RecursionError:
                same = "RecursionError"
            print(name, depth, "<unprintable" in text, same, flush=True)

threading.stack_size(1024 * 1024)
t = threading.Thread(target=work)
t.start()
t.join()
"""


def test_deep_values_on_a_small_stack():
    # On a thread with a megabyte of stack, printing and comparing end in a
    # result, RecursionError or the unprintable text, at any depth.
    import subprocess

    run = subprocess.run([sys.executable, "-c", SMALL_STACK_CHILD], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    outcomes = {tuple(line.split()[:2]): line.split()[2:] for line in run.stdout.splitlines()}
    assert outcomes == {
        ("Token", "999"): ["False", "True"],  # printed whole and compared
        ("Token", "100000"): ["True", "RecursionError"],
        ("ParsedSymbol", "999"): ["False", "False"],  # no equality of its own: compared by identity
        ("ParsedSymbol", "100000"): ["True", "False"],
        ("mixed", "999"): ["True", "False"],
        ("mixed", "100000"): ["True", "False"],
    }


def test_equality_follows_every_change_of_the_package_token_class(Token, monkeypatch):
    import types

    def compare(other):
        # The same comparison twice: the second may use what the first looked up.
        first, second = Token("A", "x").__eq__(other), Token("A", "x").__eq__(other)
        assert first == second or first is second
        return first

    class Plain:
        type, value = "A", "x"

    class Meta(type):
        def __instancecheck__(cls, obj):
            return obj is None or isinstance(obj, Plain)

    class Claims(metaclass=Meta):
        pass

    assert compare(None) is NotImplemented and compare(py_tokens.Token("A", "x")) is True
    # The attribute replaced, then deleted, in the loaded module.
    monkeypatch.setattr(py_tokens, "Token", Plain)
    assert compare(Plain()) is True and compare(py_tokens.__dict__["_LazyErrorToken"]) is NotImplemented
    monkeypatch.setattr(py_tokens, "Token", Claims)  # a metaclass's instance test is asked
    with pytest.raises(AttributeError):
        compare(None)  # None is an instance, and has no `type`
    monkeypatch.setattr(py_tokens, "Token", object)  # None is an instance of object
    with pytest.raises(AttributeError):
        compare(None)
    py_tokens.__dict__.update(Token=type)  # a bulk update of the module's dict
    assert compare(None) is NotImplemented
    with pytest.raises(AttributeError):
        compare(int)  # an instance of type, without `type`
    monkeypatch.delattr(py_tokens, "Token")
    with pytest.raises(AttributeError):
        compare(None)
    monkeypatch.undo()
    assert compare(None) is NotImplemented

    # A module whose attribute comes from its __getattr__, or whose class changed.
    fake = types.ModuleType("vexlor.core.tokens")
    fake.__getattr__ = lambda name: Plain if name == "Token" else None
    monkeypatch.setitem(sys.modules, "vexlor.core.tokens", fake)
    assert compare(Plain()) is True
    fake.Token = Claims
    with pytest.raises(AttributeError):
        compare(None)

    class Special(types.ModuleType):
        def __getattribute__(self, name):
            return Plain if name == "Token" else super().__getattribute__(name)

    fake.__class__ = Special
    assert compare(None) is NotImplemented and compare(Plain()) is True
    fake.__class__ = types.ModuleType
    with pytest.raises(AttributeError):
        compare(None)

    # A module missing from sys.modules is imported again; one set to None fails.
    monkeypatch.delitem(sys.modules, "vexlor.core.tokens")
    assert compare(None) is NotImplemented
    assert compare(sys.modules["vexlor.core.tokens"].Token("A", "x")) is True
    monkeypatch.setitem(sys.modules, "vexlor.core.tokens", None)
    with pytest.raises(ImportError):
        compare(None)
    monkeypatch.setitem(sys.modules, "vexlor.core.tokens", fake)
    with pytest.raises(AttributeError):
        compare(None)
    monkeypatch.undo()
    assert compare(None) is NotImplemented and compare(py_tokens.Token("A", "x")) is True


def test_equality_sees_a_module_replaced_while_its_class_is_looked_up(Token, monkeypatch):
    import types

    class Plain:
        type, value = "A", "x"

    fake = types.ModuleType("vexlor.core.tokens")
    fake.Token = Plain

    class Hostile:
        """A key of the module's dict that the look-up of "Token" meets first,
        and whose comparison replaces the module in sys.modules."""

        armed = fired = False

        def __hash__(self):
            return hash("Token")

        def __eq__(self, other):
            if Hostile.armed and not Hostile.fired:
                Hostile.fired = True
                sys.modules["vexlor.core.tokens"] = fake
            return False

    monkeypatch.setitem(sys.modules, "vexlor.core.tokens", py_tokens)
    namespace = py_tokens.__dict__
    real = namespace.pop("Token")
    key = Hostile()
    namespace[key] = None
    namespace["Token"] = real  # after the hostile key on the same probe sequence
    Hostile.armed = True
    try:
        # The first look-up went through the module it started with ...
        assert Token("A", "x").__eq__(Plain()) is NotImplemented
        assert Hostile.fired
        # ... and nothing of it is kept: the module now in sys.modules answers.
        assert Token("A", "x").__eq__(Plain()) is True
        assert Token("A", "x").__eq__(py_tokens.Token("A", "x")) is NotImplemented
    finally:
        del namespace[key]


KEYWORD_DICT_CLEARED = r"""
import ctypes
from vexlor import _core_rs as core

call = ctypes.pythonapi.PyObject_Call
call.restype = ctypes.py_object
call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]

class Clears:
    def __init__(self, d):
        self.d = d

    def __index__(self):
        self.d.clear()  # drops the dict's reference to every value
        return 3

for cls, type_key in ((core.Token, "tok_type"), (core.ParsedSymbol, "sym_type")):
    d = {type_key: "T", "value": "".join(["ab", "cd"])}  # the dict holds the only reference to the value
    d["lineno"] = Clears(d)
    made = call(cls, (), d)
    assert (made.type, made.value, made.lineno) == ("T", "abcd", 3), made
    print(repr(made))
"""


def test_a_keyword_dict_cleared_while_the_constructor_reads_it():
    # A C caller's dict, which the conversion of a later argument empties:
    # the values bound before stay alive for the call.
    import os
    import subprocess

    run = subprocess.run([sys.executable, "-c", KEYWORD_DICT_CLEARED], capture_output=True, text=True,
                         env={**os.environ, "PYTHONMALLOC": "debug"}, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == ['Token(type="T", value=abcd, lineno=3, pos=0)',
                                       'ParsedSymbol(type="T", value=abcd)']
