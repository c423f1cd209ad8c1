"""LRParserEngine construction, TokenCursor, ParserControl and ParserStack."""

import sys
import threading
import types

import pytest

from grammars import Tok, calculator, toks

# S' -> S ; S -> a : state 0 shifts a to 2, state 2 reduces S -> a, state 1 accepts.
ACTION = {0: {"a": 2}, 1: {"$end": 0}, 2: {"$end": -1}}
GOTO = {0: {"S": 1}}
NAMES, LENS = ["S'", "S"], [1, 1]


@pytest.fixture
def LRP(core):
    return core.LRParserEngine


def notes(exc_info):
    return getattr(exc_info.value, "__notes__", [])


def test_class_traits(core, LRP):
    assert LRP.__text_signature__ == (
        "(num_states, action, goto, prod_names, prod_lens, has_custom_func, value_actions=None)")
    assert LRP.from_table.__text_signature__ == "(table, prod_names, prod_lens, has_custom_func, value_actions=None)"
    assert LRP.from_engine.__text_signature__ == (
        "(engine, prod_names, prod_lens, has_custom_func, value_actions=None)")
    assert LRP.parse.__text_signature__ == (
        '($self, token_stream, reduce_cb, error_cb=None, value_funcs=None, with_stack=False, *, '
        'prepared_slice=False, control=None, recovery_style="core", proxy_context=None)')
    e = LRP(3, ACTION, GOTO, NAMES, LENS, [False, False])
    for name in ("supports_prepared_slice", "supports_recovery_control", "supports_native_proxy"):
        assert getattr(LRP, name) is True and getattr(e, name) is True
    assert not hasattr(e, "__dict__")
    with pytest.raises(TypeError):
        class Sub(LRP):
            pass
    assert core.TokenCursor.__text_signature__ == "(tokens)"
    assert core.ParserControl.__text_signature__ == "()"
    assert core.ParserControl.errok.__text_signature__ == "($self)"


def test_a_plain_engine_parses(LRP):
    e = LRP(3, ACTION, GOTO, NAMES, LENS, [False, False])
    assert e.parse([Tok("a", "A")], None) == "A"
    # dict subclasses are accepted; tuples of names too; value_actions None is no value action.
    class D(dict):
        pass
    e = LRP(3, D({k: D(v) for k, v in ACTION.items()}), D(GOTO), tuple(NAMES), LENS, [False, False], None)
    assert e.parse([Tok("a", "A")], None) == "A"


@pytest.mark.parametrize(
    "change, exc, message, note",
    [
        ({"action": types.MappingProxyType(ACTION)}, TypeError,
         "'mappingproxy' object is not an instance of 'dict'", "action"),
        ({"action": {0: [("a", 2)]}}, TypeError, "'list' object is not an instance of 'dict'", "action"),
        ({"action": {-1: {}}}, OverflowError, None, "action"),
        ({"action": {"0": {}}}, TypeError, None, "action"),
        ({"action": {0: {1: 2}}}, TypeError, "'int' object is not an instance of 'str'", "action"),
        ({"action": {0: {"\udc80": 2}}}, UnicodeEncodeError, None, "action"),
        ({"action": {0: {"a": 2**31}}}, OverflowError, "out of range integral type conversion attempted", "action"),
        ({"action": {0: {"a": 2**70}}}, OverflowError, None, "action"),
        ({"action": {0: {"a": "2"}}}, TypeError, None, "action"),
        ({"goto": {0: {"S": None}}}, TypeError, None, "goto"),
        ({"goto": {0: {"S": -1}}}, OverflowError, None, "goto"),
        ({"num_states": -1}, OverflowError, None, "num_states"),
        ({"prod_names": "S'S"}, TypeError, "Can't extract `str` to `Vec`", "prod_names"),
        ({"prod_names": [1]}, TypeError, "'int' object is not an instance of 'str'", "prod_names"),
        ({"prod_lens": [1, -1]}, OverflowError, None, "prod_lens"),
        ({"has_custom_func": [1, 0]}, TypeError, "'int' object is not an instance of 'bool'", "has_custom_func"),
        ({"value_actions": [None]}, TypeError, "'None' is not an instance of 'bool'", "value_actions"),
    ],
)
def test_argument_conversion_failures(LRP, change, exc, message, note):
    args = dict(num_states=3, action=ACTION, goto=GOTO, prod_names=NAMES, prod_lens=LENS,
                has_custom_func=[False, False])
    args.update(change)
    with pytest.raises(exc) as info:
        LRP(**args)
    if message is not None:
        assert str(info.value) == message
    assert notes(info) == [f"while processing '{note}'"]


def test_first_failure_in_signature_order(LRP):
    with pytest.raises(TypeError) as info:
        LRP(3, [], GOTO, "bad", LENS, [])
    assert notes(info) == ["while processing 'action'"]


def test_rows_and_keys(LRP):
    class Index:
        def __init__(self, n):
            self.n = n

        def __index__(self):
            return self.n

    # A later key that converts to the same state replaces the earlier row whole.
    action = {0: {"b": 2}, Index(0): {"a": 2}, 1: {"$end": 0}, 2: {"$end": -1}, 99: {"zzz": 1}}
    e = LRP(3, action, GOTO, NAMES, LENS, [False, False])
    assert e.parse([Tok("a")], None) == "a"
    with pytest.raises(SyntaxError):
        LRP(3, action, GOTO, NAMES, LENS, [False, False]).parse([Tok("b")], None)
    # -2**31 is stored, but the loop never reduces by it.
    e = LRP(3, {0: {"a": -2**31}}, GOTO, NAMES, LENS, [False, False])
    with pytest.raises(Exception, match=r"^Invalid reduction -2147483648 in state 0$"):
        e.parse([Tok("a")], None)


class Meddle:
    """An integer whose conversion runs `change` first."""

    def __init__(self, n, change):
        self.n, self.change = n, change

    def __index__(self):
        self.change()
        return self.n


def swap(d, old, new, value=1):
    del d[old]
    d[new] = value


@pytest.mark.parametrize("make", [
    # The size changes.
    "outer-grow",
    # A key not yet read goes and another comes, at the same size: the row's table is
    # compacted, and an entry still in it would be skipped.
    "row-swap-unread",
    # The last entry's conversion replaces a key already read: the compacted table puts
    # the new key where the reading has already passed.
    "row-swap-last",
    # An outer key goes and comes back: the order of the states changes.
    "outer-reinsert",
    # The same in a goto row.
    "goto-swap",
])
def test_a_dict_that_changes_while_it_is_read_is_an_internal_failure(LRP, make):
    action, goto = {0: {"a": 2}, 1: {"$end": 0}, 2: {"$end": -1}}, dict(GOTO)
    if make == "row-swap-unread":
        row = {k: 1 for k in "abcde"}
        del row["a"]
        row["b"] = Meddle(1, lambda: swap(row, "e", "f"))
        action[0] = row
    elif make == "row-swap-last":
        row = {k: 1 for k in "abcde"}
        del row["a"]
        row["e"] = Meddle(1, lambda: swap(row, "b", "f"))
        action[0] = row
    elif make == "outer-reinsert":
        inner = action[0]
        action[1] = {"$end": Meddle(0, lambda: (action.pop(0), action.__setitem__(0, inner)))}
    elif make == "goto-swap":
        row = {"S": Meddle(1, lambda: swap(row, "T", "U")), "T": 1}
        goto = {0: row}
    elif make == "outer-grow":
        action[Meddle(3, lambda: action.__setitem__(5, {}))] = {}
    with pytest.raises(BaseException) as info:
        LRP(3, action, goto, NAMES, LENS, [False, False])
    assert type(info.value).__name__ == "PanicException"
    assert "changed" in str(info.value)


def test_inconsistent_lists_fail_only_when_used(core, LRP):
    from vexlor.core.production import ParserError

    e = LRP(3, ACTION, GOTO, NAMES, [1], [False, False])  # prod_lens too short
    with pytest.raises(ParserError, match=r"^Invalid reduction -1 in state 2$"):
        e.parse([Tok("a")], None)
    e = LRP(3, ACTION, GOTO, NAMES, LENS, [])
    with pytest.raises(ParserError, match=r"^Invalid reduction -1 in state 2$"):
        e.parse([Tok("a")], None)
    e = LRP(3, ACTION, GOTO, ["S'", "T"], LENS, [False, False])  # T has no id at all
    with pytest.raises(ParserError, match=r'^No GOTO entry for nonterminal "T" from state 0$'):
        e.parse([Tok("a")], None)
    e = LRP(3, ACTION, GOTO, ["S'", "a"], LENS, [False, False])  # an id, but only as a terminal
    with pytest.raises(ParserError, match=r'^No GOTO entry for nonterminal "a" from state 0$'):
        e.parse([Tok("a")], None)


def test_from_table_and_from_engine(core, LRP):
    calc = calculator(core)
    values = [False] + [True] * 6
    funcs = [None, *(lambda a, o, b, f=f: f(a, b) for f in (int.__add__, int.__sub__, int.__mul__, int.__floordiv__)),
             lambda lp, x, rp: x, lambda n: n]
    e = LRP.from_table(calc.table, calc.names, calc.lens, [False] * 7, values)
    assert e.parse(toks("2 * ( 3 + 4 )"), None, value_funcs=funcs) == 14
    # Shares the tables but takes its own lists: no value actions here.
    e2 = e.from_engine(e, calc.names, calc.lens, [False] * 7)
    assert e2.parse(toks("2 * ( 3 + 4 )"), None) == 2
    # An engine made by the constructor shares its tables the same way.
    plain = LRP(3, ACTION, GOTO, NAMES, LENS, [False, False])
    assert LRP.from_engine(plain, NAMES, LENS, [False, True]).parse([Tok("a")], lambda p, r, rhs: "cb") == "cb"

    with pytest.raises(TypeError) as info:
        LRP.from_table(e, calc.names, calc.lens, [False] * 7)
    assert str(info.value) == "'LRParserEngine' object is not an instance of 'LRTable'"
    assert notes(info) == ["while processing 'table'"]
    with pytest.raises(TypeError, match=r"^'None' is not an instance of 'LRTable'\n"):
        LRP.from_table(None, calc.names, calc.lens, [False] * 7)
    with pytest.raises(TypeError) as info:
        LRP.from_engine(calc.table, calc.names, calc.lens, [False] * 7)
    assert str(info.value) == "'LRTable' object is not an instance of 'LRParserEngine'"
    assert notes(info) == ["while processing 'engine'"]


# --- TokenCursor ---------------------------------------------------------------------


def test_cursor_steps_and_remembers_the_end(core):
    c = core.TokenCursor([1, 2, 3])
    assert iter(c) is c
    assert list(c) == [1, 2, 3]
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(c)

    class Reviving:
        calls = 0

        def __iter__(self):
            return self

        def __next__(self):
            self.calls += 1
            if self.calls == 1:
                raise StopIteration
            return "again"

    r = Reviving()
    c = core.TokenCursor(r)
    assert list(c) == [] and list(c) == [] and r.calls == 1
    # A cursor ends without an exception set, and a cursor over it takes that as its end.
    inner = core.TokenCursor([1, 2])
    assert list(core.TokenCursor(inner)) == [1, 2] and list(inner) == []


def test_cursor_errors(core):
    class RaisesOnce:
        raised = False

        def __iter__(self):
            return self

        def __next__(self):
            if not self.raised:
                self.raised = True
                raise KeyError("once")
            return "item"

    c = core.TokenCursor(RaisesOnce())
    with pytest.raises(KeyError):
        next(c)
    assert next(c) == "item"
    with pytest.raises(TypeError, match="'int' object is not iterable"):
        core.TokenCursor(5)

    class It:
        def __iter__(self):
            return self

        def __next__(self):
            return 1

    it = It()
    c = core.TokenCursor(it)
    del It.__next__
    with pytest.raises(TypeError, match=r"^'test_cursor_errors.<locals>.It' object is not an instance of 'Iterator'$"):
        next(c)


def test_cursor_and_control_are_bound_to_their_thread(core):
    made = {"cursor": core.TokenCursor([1]), "control": core.ParserControl()}
    caught = []

    def use():
        for action in (lambda: next(made["cursor"]), made["control"].errok):
            try:
                action()
            except BaseException as exc:  # noqa: BLE001
                caught.append(exc)

    t = threading.Thread(target=use)
    t.start()
    t.join()
    assert [type(e).__name__ for e in caught] == ["PanicException", "PanicException"]
    assert "PyTokenCursor is unsendable, but sent to another thread" in str(caught[0])
    assert "PyParserControl is unsendable, but sent to another thread" in str(caught[1])


def test_control_methods(core):
    c = core.ParserControl()
    assert c.errok() is None and c.restart() is None and c.errok() is None
    with pytest.raises(TypeError):
        c.errok(1)
    with pytest.raises(TypeError):
        core.ParserControl(1)


# --- ParserStack ----------------------------------------------------------------------


def captured_stack(core):
    """The ParserStack of a finished parse of `a a` under S -> S a | a, kept by reduce_cb."""
    e = core.LRParserEngine(
        4,
        {0: {"a": 2}, 1: {"a": 3, "$end": 0}, 2: {"a": -2, "$end": -2}, 3: {"a": -1, "$end": -1}},
        {0: {"S": 1}},
        ["S'", "S", "S"], [1, 2, 1], [False, True, True])
    kept = []

    def cb(p, result, rhs, stack):
        kept.append((p, stack[-1].type, len(rhs)))
        kept.append(stack)
        return p

    e.parse([Tok("a", 10), Tok("a", 20)], cb, with_stack=True)
    return kept


def test_stack_indexing(core):
    kept = captured_stack(core)
    # During the first reduction (S -> a), index -1 is the bottom entry below the right-hand side.
    assert kept[0] == (2, "$end", 1)
    stack = kept[1]
    assert stack is kept[3]  # one live object for the whole parse
    # At the end: bottom entry and S (the parse accepted with S on top).
    top = stack[-1]
    assert (top.type, top.value) == ("S", 1)
    bottom = stack[-2]
    assert (bottom.type, bottom.value, bottom.lineno, bottom.lexpos) == ("$end", None, 1, 0)
    assert stack[0].type == "$end" and stack[True].type == "S"
    assert [s.type for s in stack] == ["$end", "S"]
    for bad in (-3, 2):
        with pytest.raises(IndexError, match=r"^parser stack index out of range$"):
            stack[bad]
    with pytest.raises(OverflowError) as info:
        stack[2**63]
    assert notes(info) == ["while processing 'index'"]
    with pytest.raises(TypeError) as info:
        stack[1.0]
    assert notes(info) == ["while processing 'index'"]
    with pytest.raises(TypeError):
        stack[0:1]
    with pytest.raises(TypeError):
        len(stack)
    copy = stack[1]
    copy.value = "changed"
    assert stack[1].value == 1 and stack[1] is not stack[1]
    with pytest.raises(TypeError):
        type(stack)()
