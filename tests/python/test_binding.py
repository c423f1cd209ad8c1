"""Conventions of the binding layer, driven through the test-only probe module."""

import collections.abc
import os
import sys

import pytest

probe_dir = os.environ.get("VEXLOR_PROBE_DIR")
if not probe_dir:
    pytest.skip("VEXLOR_PROBE_DIR not set (scripts/test sets it)", allow_module_level=True)
sys.path.insert(0, probe_dir)
import _binding_probe as probe  # noqa: E402


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
