"""Conventions of the binding layer, driven through the test-only probe module."""

import collections.abc
import ctypes
import os
import sys

import pytest

probe_dir = os.environ.get("VEXLOR_PROBE_DIR")
if not probe_dir:
    pytest.skip("VEXLOR_PROBE_DIR not set (scripts/test sets it)", allow_module_level=True)
sys.path.insert(0, probe_dir)
import _binding_probe as probe  # noqa: E402
from grammars import calculator, toks  # noqa: E402


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {"d": 1}, "bind() missing 2 required positional arguments: 'a' and 'b'"),
        ((1, 2), {}, "bind() missing 1 required keyword argument: 'd'"),
        ((1, 2, 3, 4), {"d": 1}, "bind() takes from 2 to 3 positional arguments but 4 were given"),
        ((1, 2), {"d": 1, "x": 0}, "bind() got an unexpected keyword argument 'x'"),
        ((1, 2, 3), {"c": 3, "d": 1}, "bind() got multiple values for argument 'c'"),
        ((1,), {"b": 2, "d": 1}, "bind() got some positional-only arguments passed as keyword arguments: 'b'"),
    ],
)
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        probe.bind(*args, **kwargs)
    assert str(info.value) == message


def test_arguments_bind_by_position_and_keyword():
    assert probe.bind(1, 2, d=4) == (1, 2, None, 4, None)
    assert probe.bind(1, 2, 3, e=5, d=4) == (1, 2, 3, 4, 5)

    class Name(str):
        pass

    # Keywords are matched by their text, whatever the str object: a subclass, or a
    # non-ASCII near miss.
    assert probe.bind(1, 2, **{Name("d"): 4, Name("c"): 3}) == (1, 2, 3, 4, None)
    with pytest.raises(TypeError, match="unexpected keyword argument '\u00e9'"):
        probe.bind(1, 2, d=4, **{"\u00e9": 0})


_call = ctypes.pythonapi.PyObject_Call
_call.argtypes = [ctypes.py_object] * 3
_call.restype = ctypes.py_object
_vectorcall = ctypes.pythonapi.PyObject_Vectorcall
_vectorcall.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
_vectorcall.restype = ctypes.py_object


def call_with_dict(fn, args, kwargs):
    """fn(*args, **kwargs) by PyObject_Call, which hands the dict on as it is."""
    return _call(fn, tuple(args), kwargs)


def call_with_kwnames(fn, args, kwargs):
    """fn(*args, **kwargs) by PyObject_Vectorcall, the keys as keyword names."""
    assert kwargs  # no names must be NULL, not an empty tuple
    values = (ctypes.py_object * (len(args) + len(kwargs)))(*args, *kwargs.values())
    return _vectorcall(fn, ctypes.addressof(values), len(args), tuple(kwargs))


def message_of(call, *args):
    """The message of the TypeError the call raises; the exception (and the
    frames and arguments its traceback holds) is gone on return."""
    try:
        call(*args)
    except TypeError as e:
        return str(e)
    raise AssertionError("no TypeError")


def _reduction_data(core):
    """A _ReductionData, kept from a reduction of a small parse."""
    kept = []

    class Prod:
        action_style, namemap = "proxy", {}

        @staticmethod
        def func(p, data):
            kept.append(data)

    class View(core._ProductionView):
        pass

    built = calculator(core)
    engine = built.engine(core, custom=[False] + [True] * (len(built.names) - 1))
    engine.parse(toks("1"), None, proxy_context=([Prod()] * len(built.names), View,
                                                  lambda f, view, data: f(view, data), None, None))
    return kept[0]


def _method(make, name):
    return lambda core: getattr(make(core), name)


# Every constructor and method of the module that takes keywords, made
# ready to call.
KEYWORD_TAKERS = {
    **{name: (lambda core, name=name: getattr(core, name)) for name in [
        "Grammar", "ParsedSymbol", "LRParserEngine", "ParserControl", "TokenCursor", "_ProductionView", "Token",
        "LexerEngine"]},
    **{f"Grammar.{m}": _method(lambda core: core.Grammar(), m) for m in [
        "add_production", "set_precedence", "set_start"]},
    **{f"LexerEngine.{m}": _method(lambda core: core.LexerEngine(), m) for m in [
        "add_state", "begin", "push_state", "add_rule", "set_ignore", "set_error_func", "set_literals", "input",
        "restore_state", "skip", "tokenize"]},
    "LRParserEngine.from_table": lambda core: core.LRParserEngine.from_table,
    "LRParserEngine.from_engine": lambda core: core.LRParserEngine.from_engine,
    "LRParserEngine.parse": _method(lambda core: calculator(core).engine(core), "parse"),
    "_ReductionData.result": _method(_reduction_data, "result"),
}


def test_the_keyword_table_lists_every_constructor_and_method_with_parameters(core):
    found = set()
    for name in core.__all__:
        cls = getattr(core, name)
        if not isinstance(cls, type):
            continue  # version() takes nothing
        if not cls.__flags__ & (1 << 7):  # Py_TPFLAGS_DISALLOW_INSTANTIATION
            found.add(name)
        for attr, member in vars(cls).items():
            if type(member).__name__ in ("method_descriptor", "staticmethod"):
                if getattr(cls, attr).__text_signature__ not in ("($self)", "()"):
                    found.add(f"{name}.{attr}")
    assert found == set(KEYWORD_TAKERS)


@pytest.mark.parametrize("call", [call_with_dict, call_with_kwnames])
@pytest.mark.parametrize("name", KEYWORD_TAKERS)
def test_keywords_that_are_not_strings_are_refused(core, name, call):
    fn = KEYWORD_TAKERS[name](core)
    for key in [1, b"lineno", None, (1, 2)]:
        assert message_of(call, fn, (), {key: 0}) == "keywords must be strings", key


class Key:
    """A keyword that is no str, and no interned constant either."""


KEY, VALUE = Key(), object()


# A keyword that is not a str is reported first, whatever else is wrong with
# the call: (target, positional arguments, keywords, valid without KEY).
# Token binds the constructors' way (a dict), the probe the methods' way.
@pytest.mark.parametrize(
    "target, args, kwargs, valid",
    [
        ("Token", ("T", 1), {"lineno": 3, "lexer": VALUE, KEY: VALUE}, True),
        ("Token", ("T", 1), {KEY: VALUE, "lexer": VALUE}, True),
        ("Token", ("T", 1, 1, 0, None, None, 7), {KEY: VALUE}, False),  # too many positional
        ("Token", (), {"zz": 1, KEY: VALUE}, False),  # unexpected keyword, missing arguments
        ("bind", (1, 2), {"d": VALUE, KEY: VALUE}, True),
        ("bind", (1, 2, 3, 4), {KEY: VALUE}, False),
        ("bind", (1, 2, 3), {"c": 3, "x": 0, KEY: VALUE}, False),  # multiple values, unexpected
        ("bind", (1,), {"b": 2, KEY: VALUE}, False),  # positional-only by keyword, missing
    ],
)
@pytest.mark.parametrize("call", [call_with_dict, call_with_kwnames])
def test_a_keyword_not_a_string_fails_the_call_first_and_keeps_nothing(core, call, target, args, kwargs, valid):
    fn = core.Token if target == "Token" else probe.bind
    if valid:
        call(fn, args, {k: v for k, v in kwargs.items() if k is not KEY})
    before = sys.getrefcount(KEY), sys.getrefcount(VALUE)
    for _ in range(200):
        assert message_of(call, fn, args, kwargs) == "keywords must be strings"
    assert (sys.getrefcount(KEY), sys.getrefcount(VALUE)) == before


class Index:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


@pytest.mark.parametrize(
    "kind, value, result",
    [
        ("u32", 2**32 - 1, 2**32 - 1),
        ("u32", Index(5), 5),
        ("i32", -(2**31), -(2**31)),
        ("u64", 2**64 - 1, 2**64 - 1),
        ("bool", True, True),
        ("bool", False, False),
        ("list", (1, 2), [1, 2]),
        ("list", range(3), [0, 1, 2]),
        ("tuple2", (1, 2), (1, 2)),
        ("str", "h\u00e9", "h\u00e9"),
    ],
)
def test_conversions_accept(kind, value, result):
    assert probe.convert(kind, value) == result


class Indexable:
    """Has __getitem__ and __len__ but is no registered Sequence."""

    def __getitem__(self, i):
        if i < 2:
            return i
        raise IndexError

    def __len__(self):
        return 2


@pytest.mark.parametrize(
    "kind, value, exc, message",
    [
        ("u32", -1, OverflowError, "out of range integral type conversion attempted"),
        ("u32", 2**32, OverflowError, "out of range integral type conversion attempted"),
        ("i32", 2**31, OverflowError, "out of range integral type conversion attempted"),
        ("i32", 2**63 - 1, OverflowError, "out of range integral type conversion attempted"),
        # beyond 64 bits the interpreter's own message stands
        ("i32", 2**70, OverflowError, "Python int too large to convert to C long"),
        ("i32", -(2**70), OverflowError, "Python int too large to convert to C long"),
        ("u32", 2**70, OverflowError, "Python int too large to convert to C long"),
        ("u64", -1, OverflowError, None),
        ("u64", 1.0, TypeError, None),
        ("bool", 1, TypeError, "'int' object is not an instance of 'bool'"),
        ("bool", None, TypeError, "'None' is not an instance of 'bool'"),
        ("list", "ab", TypeError, "Can't extract `str` to `Vec`"),
        ("list", 5, TypeError, "'int' object is not an instance of 'Sequence'"),
        ("list", Indexable(), TypeError, "'Indexable' object is not an instance of 'Sequence'"),
        ("tuple2", (1, 2, 3), ValueError, "expected tuple of length 2, but got tuple of length 3"),
        ("tuple2", [1, 2], TypeError, "'list' object is not an instance of 'tuple'"),
        ("str", "\ud800", UnicodeEncodeError, None),
        ("str", b"x", TypeError, "'bytes' object is not an instance of 'str'"),
    ],
)
def test_conversion_failures_carry_the_argument_note(kind, value, exc, message):
    with pytest.raises(exc) as info:
        probe.convert(kind, value)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'value'"]


def test_numpy_bool_is_accepted():
    np = pytest.importorskip("numpy")
    assert probe.convert("bool", np.bool_(True)) is True


def test_sequence_abc_registration_counts():
    class Seq(Indexable):
        pass

    collections.abc.Sequence.register(Seq)
    assert probe.convert("list", Seq()) == [0, 1]


class LyingSequence(collections.abc.Sequence):
    """Holds `items`; its length says `length`, or raises it."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length


def _set_state_stack(core, seq):
    lx = core.LexerEngine()
    lx.state_stack = seq
    return lx.state_stack


def _restore_state(core, seq):
    lx = core.LexerEngine()
    lx.restore_state("", 0, 1, "INITIAL", seq)
    return lx.state_stack


def _grammar(core, seq):
    core.Grammar(seq)
    return list(seq.items)


def _add_production(core, seq):
    core.Grammar().add_production("S", seq)
    return list(seq.items)


# Every converter of a sequence argument, reached through the probe and
# through each method that takes one.
SEQUENCE_ARGUMENTS = [
    (lambda core, seq: probe.convert("list", seq), "value"),
    (_set_state_stack, "states"),
    (_restore_state, "state_stack"),
    (_grammar, "terminals"),
    (_add_production, "syms"),
]


@pytest.mark.parametrize("length", [2**62, 0])
@pytest.mark.parametrize("call, note", SEQUENCE_ARGUMENTS)
def test_sequences_are_read_by_their_items_not_their_length(core, call, note, length):
    items = ["INITIAL", "INITIAL"]
    assert call(core, LyingSequence(items, length)) == items


@pytest.mark.parametrize("call, note", SEQUENCE_ARGUMENTS)
def test_a_length_that_raises_fails_the_conversion(core, call, note):
    with pytest.raises(ZeroDivisionError) as info:
        call(core, LyingSequence(["INITIAL"], ZeroDivisionError("no length")))
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_panic_exception(capfd):
    cls = probe.panic_type()
    assert cls.__name__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert probe.panic_type() is cls  # made once per process
    with pytest.raises(BaseException) as info:
        probe.internal_failure("invariant broken")
    assert type(info.value) is cls and str(info.value) == "invariant broken"
    assert "invariant broken" in capfd.readouterr().err
