"""The parse loop: token intake, shifts and reductions with their four value
computations, gotos, accept, the value-name fallback and ParserControl."""

import gc
import sys

import pytest

from conftest import allocated_growth, seconds_to_interrupt
from grammars import Tok, build, calculator, statements, toks


def one_token(core, type_name, custom=True):
    """S' -> S ; S -> <type_name>: one token, reduced through reduce_cb."""
    return core.LRParserEngine(
        3, {0: {type_name: 2}, 1: {"$end": 0}, 2: {"$end": -1}}, {0: {"S": 1}}, ["S'", "S"], [1, 1],
        [False, custom])


def rhs_of(engine, token):
    """The right-hand-side symbol that the one-token grammar reduces for `token`."""
    seen = []
    engine.parse([token], lambda p, result, rhs: seen.append(rhs[0]))
    (sym,) = seen
    return sym.type, sym.value, sym.lineno, sym.endlineno, sym.lexpos, sym.endlexpos


# --- token intake ------------------------------------------------------------------


def test_items_become_symbols(core):
    class Obj:
        def __str__(self):
            return "OBJ"

    with_index = Obj()
    with_index.index, with_index.value = 7, "four"
    with_end = Obj()
    with_end.type, with_end.lexpos, with_end.end, with_end.lineno = "T", 3, 99, 5
    value_obj = object()
    cases = [
        (None, ("None", None, 1, 1, 0, 4)),
        (5, ("5", 5, 1, 1, 0, 1)),
        (with_index, ("OBJ", "four", 1, 1, 7, 11)),
        (with_end, ("T", with_end, 5, 5, 3, 99)),
        (core.Token("T", value_obj, 4, 2, 9), ("T", value_obj, 4, 4, 2, 9)),
        (core.ParsedSymbol("T", "v", 2, 3, 4, 5), ("T", "v", 2, 3, 4, 5)),
        (Tok("T", "x\udc80"), ("T", "x\udc80", 1, 1, 0, 2)),
    ]
    for token, expected in cases:
        engine = one_token(core, expected[0])
        assert rhs_of(engine, token) == expected, token


def test_tokens_from_an_iterator(core):
    # A token that only the iterator's result holds, and one held elsewhere too,
    # which must come out of the parse whole.
    engine = one_token(core, "T")
    value = object()
    held = core.Token("T", value, 4, 2, 9)
    for stream in ((core.Token("T", value, 4, 2, 9) for _ in "x"), iter([held])):
        seen = []
        engine.parse(stream, lambda p, result, rhs: seen.append(rhs[0]))
        assert [(s.type, s.value, s.lineno, s.lexpos, s.endlexpos) for s in seen] == [("T", value, 4, 2, 9)]
    assert (held.type, held.value, held.lineno, held.lexpos, held.end) == ("T", value, 4, 2, 9)
    assert repr(held) == repr(core.Token("T", value, 4, 2, 9))


def test_surrogates_in_a_str_type(core):
    # A type read through str() keeps a lone surrogate only as replacement characters.
    class Odd:
        def __str__(self):
            return "\udc80"

    assert rhs_of(one_token(core, "\ufffd" * 3), Odd())[0] == "\ufffd" * 3
    # A type attribute holding a lone surrogate cannot be encoded.
    with pytest.raises(UnicodeEncodeError):
        one_token(core, "T").parse([Tok("\udc80")], None)


@pytest.mark.parametrize(
    "token, exc, message",
    [
        ("text", TypeError, None),  # str has no lexpos; its `index` is a method
        ((1, 2), TypeError, None),
        (Tok("T", lineno=-1), OverflowError, None),
        (types_type := type("TypeNotStr", (), {"type": 5}), TypeError, None),
        (type("NoneType_", (), {"type": None})(), TypeError, "'None' is not an instance of 'str'"),
        (type("BigEnd", (), {"type": "T", "lexpos": 2**64 - 1, "value": "ab"})(), OverflowError,
         "token end exceeds the counter range"),
    ],
)
def test_intake_failures_end_the_parse(core, token, exc, message):
    with pytest.raises(exc) as info:
        one_token(core, "T").parse([token], lambda *a: pytest.fail("no reduction"))
    if message:
        assert str(info.value) == message


def test_only_a_missing_attribute_selects_a_default(core):
    class Raising:
        type = "T"

        @property
        def lineno(self):
            raise KeyError("lineno")

    with pytest.raises(KeyError):
        one_token(core, "T").parse([Raising()], None)


def test_the_stream_ends_only_by_exhaustion(core):
    # A "$end"-typed token is a token: the stream goes on after it.
    engine = one_token(core, "T", custom=False)
    control = core.ParserControl()
    errors = []

    def error_cb(tok):
        errors.append(tok.type)
        control.errok()  # resume with the next token

    assert engine.parse([Tok("$end"), Tok("T", "v")], None, error_cb, control=control) == "v"
    assert errors == ["$end"]

    def failing():
        yield Tok("T")
        raise KeyError("stream")

    with pytest.raises(KeyError):
        core.LRParserEngine(3, {0: {"T": 2}, 2: {"T": 2}}, {}, ["S'"], [1], [False]).parse(failing(), None)


def test_cursor_source(core):
    engine = one_token(core, "T", custom=False)
    cursor = core.TokenCursor([Tok("T", "v")])
    assert engine.parse(cursor, None) == "v"
    # The cursor ended during that parse: a later parse starts at the end marker.
    with pytest.raises(SyntaxError, match=r"""^Syntax error at '\$end' \(type "\$end"\) on line 1, pos 0$"""):
        engine.parse(cursor, None)
    # A callback may step the same cursor; the parse does not see what it took.
    # (The lookahead is read before the reduction: a "$end"-typed token stands in for the end.)
    cursor = core.TokenCursor([Tok("T", "first"), Tok("$end"), Tok("T", "skipped")])
    taken = []
    engine = one_token(core, "T")
    assert engine.parse(cursor, lambda p, r, rhs: taken.append(next(cursor).value) or "done") == "done"
    assert taken == ["skipped"]


def test_end_markers_are_fresh_after_exhaustion(core):
    seen = []
    control = core.ParserControl()

    def error_cb(tok):
        seen.append(tok)
        if len(seen) == 3:
            raise RuntimeError("enough")
        control.errok()  # resume: the next lookahead is another end marker

    engine = core.LRParserEngine(2, {0: {"T": 1}, 1: {}}, {}, ["S'"], [1], [False])
    with pytest.raises(RuntimeError):
        engine.parse([Tok("T", lineno=7, lexpos=9)], None, error_cb, control=control)
    assert [(t.type, t.value, t.lineno, t.lexpos) for t in seen] == [("$end", "$end", 1, 0)] * 3
    assert seen[0] is not seen[1] and seen[0].value is not seen[1].value


@pytest.mark.parametrize("answer", ["next token", "a symbol"])
def test_a_finalizer_run_as_the_lookahead_is_replaced_finds_sound_objects(core, answer):
    # The callback resumes past X, whose value only the parse holds: storing
    # the next lookahead releases it, and its finaliser runs meanwhile. It reads
    # every live Token (the next one, whose fields the parse took over from a
    # stream that held it alone, must be gone by then, not left empty) and
    # writes to the symbol the callback returned (copied and let go by then).
    returned = core.ParsedSymbol("T", "returned")
    ran = []

    class Dying:
        def __del__(self):
            ran.append([(t.type, t.value) for t in gc.get_objects() if type(t) is core.Token])
            returned.value = "written"

    def stream():
        yield core.Token("X", Dying(), 1, 0, 1)
        if answer == "next token":
            yield core.Token("T", "next", 1, 1, 2)

    control = core.ParserControl()

    def error_cb(tok):
        control.errok()
        return returned if answer == "a symbol" else None

    unraisable = []
    old_hook, sys.unraisablehook = sys.unraisablehook, unraisable.append
    try:
        result = one_token(core, "T", custom=False).parse(stream(), None, error_cb, control=control)
    finally:
        sys.unraisablehook = old_hook
    assert result == ("next" if answer == "next token" else "returned")
    assert len(ran) == 1 and unraisable == [] and returned.value == "written"


# --- reductions ---------------------------------------------------------------------


def arith_funcs():
    import operator

    ops = [operator.add, operator.sub, operator.mul, operator.floordiv]
    return [None, *(lambda a, o, b, f=f: f(a, b) for f in ops), lambda lp, x, rp: x, int]


def test_value_functions_and_defaults(core):
    calc = calculator(core)
    e = calc.engine(core, values=[False] + [True] * 6)
    assert e.parse(toks("1 + 2 * ( 9 - 3 ) / 4"), None, value_funcs=arith_funcs()) == 4
    # A value function returning None keeps the first right-hand-side value; 0 and False are values.
    for result, expected in ((None, 1), (0, 0), (False, False), ((), ())):
        funcs = arith_funcs()
        funcs[1] = lambda a, o, b, r=result: r
        assert e.parse(toks("1 + 2"), None, value_funcs=funcs) == expected
    # Changes made to the list during the parse are seen.
    funcs = arith_funcs()

    def rewire(n):
        funcs[1] = lambda a, o, b: "rewired"
        return int(n)

    funcs[6] = rewire
    assert e.parse(toks("1 + 2"), None, value_funcs=funcs) == "rewired"
    with pytest.raises(ValueError, match=r"^value_funcs required for value actions$"):
        e.parse(toks("1"), None)
    with pytest.raises(IndexError, match="list index out of range"):
        e.parse(toks("1"), None, value_funcs=[None])
    # value_actions shorter than prod_names: the rest are defaults.
    short = calc.engine(core, values=[False, True])
    assert short.parse(toks("7 * 6"), None, value_funcs=arith_funcs()) == 7


def test_value_functions_get_each_arity(core):
    for n in range(7):
        syms = [f"t{i}" for i in range(n)]
        built = build(core, syms, [("S", syms)], "S")
        seen = []
        e = built.engine(core, values=[False, True])
        result = e.parse([Tok(s, i) for i, s in enumerate(syms)], None,
                         value_funcs=[None, lambda *args: seen.append(args)])
        assert seen == [tuple(range(n))] and result == (0 if n else None)


def test_reduce_cb_shapes(core):
    calc = calculator(core)
    e = calc.engine(core, custom=[False] + [True] * 6)
    calls = []

    def cb(p, result, rhs, *extra):
        calls.append((p, result.type, [s.value for s in rhs], [type(x).__name__ for x in extra]))
        if extra and isinstance(extra[-1], list):
            assert extra[-1][0] is result and extra[-1][1:] == rhs
        return rhs[0].value if p == 6 else ("v", p)

    for with_stack in (False, True):
        for prepared in (False, True):
            calls.clear()
            assert e.parse(toks("1 + 2"), cb, with_stack=with_stack, prepared_slice=prepared) == ("v", 1)
            kinds = (["ParserStack"] if with_stack else []) + (["list"] if prepared else [])
            assert calls == [(6, "expr", [1], kinds), (6, "expr", [2], kinds),
                             (1, "expr", [1, "+", 2], kinds)]


def test_reduce_cb_result_record(core):
    # Empty production: lineno 1, lexpos 0, no initial value.
    e = core.LRParserEngine(2, {0: {"$end": -1}, 1: {"$end": 0}}, {0: {"S": 1}}, ["S'", "S"], [1, 0], [False, True])
    seen = []
    e.parse([], lambda p, r, rhs: seen.append((r.type, r.value, r.lineno, r.endlineno, r.lexpos, r.endlexpos, rhs)))
    assert seen == [("S", None, 1, 1, 0, 0, [])]
    # A value stored in result.value is lost unless returned; a changed type is pushed, the goto uses the rule.
    calc = calculator(core)
    e = calc.engine(core, custom=[False] + [True] * 6)
    types_seen = []

    def cb(p, result, rhs, stack):
        result.value = "lost"
        if p == 6:
            result.type = "RENAMED"
            result.lineno = 42
        else:
            types_seen.append([(s.type, s.lineno) for s in rhs])
        return None

    assert e.parse(toks("1 + 2"), cb, with_stack=True) is None
    assert types_seen == [[("RENAMED", 42), ("+", 1), ("RENAMED", 42)]]


def test_value_name_fallback(core):
    # PLUS with the value "+" takes the "+" action when the row has none for PLUS.
    e = core.LRParserEngine(3, {0: {"+": 2}, 1: {"$end": 0}, 2: {"$end": -1}}, {0: {"S": 1}},
                            ["S'", "S"], [1, 1], [False, False])
    assert e.parse([Tok("PLUS", "+")], None) == "+"
    # An explicit error entry for PLUS stops the search.
    e = core.LRParserEngine(3, {0: {"+": 2, "PLUS": None}, 1: {"$end": 0}, 2: {"$end": -1}}, {0: {"S": 1}},
                            ["S'", "S"], [1, 1], [False, False])
    with pytest.raises(SyntaxError, match=r'^Syntax error at \'\+\' \(type "PLUS"\) on line 1, pos 0$'):
        e.parse([Tok("PLUS", "+")], None)
    # A value with lone surrogates names nothing.
    with pytest.raises(SyntaxError):
        core.LRParserEngine(3, {0: {"+": 2}}, {}, ["S'"], [1], [False]).parse([Tok("X", "\udc80")], None)


@pytest.mark.parametrize(
    "action, goto, message",
    [
        ({0: {"a": 7}}, {}, "Invalid shift state 7 from state 0"),
        ({0: {"a": 2}, 2: {"$end": -7}}, {}, "Invalid reduction -7 in state 2"),
        ({0: {"a": 2}, 2: {"$end": -1}}, {0: {"S": 9}}, "Invalid GOTO state 9 from state 0"),
        ({0: {"a": 2}, 2: {"$end": -1}}, {1: {"S": 1}}, 'No GOTO entry for nonterminal "S" from state 0'),
    ],
)
def test_inconsistent_tables(core, action, goto, message):
    from vexlor.core.production import ParserError

    e = core.LRParserEngine(3, action, goto, ["S'", "S", "S", "S", "S"], [1, 1, 1, 1, 1], [False] * 5)
    with pytest.raises(ParserError) as info:
        e.parse([Tok("a")], None)
    assert info.value.args == (message,)


def test_argument_checks_come_before_any_token(core):
    e = one_token(core, "T")
    stream_touched = []

    def stream():
        stream_touched.append(True)
        yield Tok("T")

    cases = [
        (dict(value_funcs=(None,)), TypeError, "value_funcs"),
        (dict(with_stack=None), TypeError, "with_stack"),
        (dict(prepared_slice=1), TypeError, "prepared_slice"),
        (dict(control=object()), TypeError, "control"),
        (dict(recovery_style=None), TypeError, "recovery_style"),
        (dict(proxy_context=[]), TypeError, "proxy_context"),
        (dict(value_funcs=(None,), recovery_style="Core"), TypeError, "value_funcs"),
    ]
    for kwargs, exc, note in cases:
        with pytest.raises(exc) as info:
            e.parse(stream(), None, **kwargs)
        assert info.value.__notes__ == [f"while processing '{note}'"], kwargs
    for style in ("Core", "core\0", "VEX", ""):
        with pytest.raises(ValueError, match=r"^Unknown parser recovery style$"):
            e.parse(stream(), None, recovery_style=style)
    with pytest.raises(ValueError, match=r"^proxy_context requires productions, factory, invoke, lexer and parser$"):
        e.parse(stream(), None, proxy_context=(1, 2, 3, 4))
    assert not stream_touched
    with pytest.raises(TypeError, match="not iterable"):
        e.parse(5, None)


def test_callback_exceptions_propagate(core):
    e = one_token(core, "T")
    with pytest.raises(ZeroDivisionError):
        e.parse([Tok("T")], lambda *a: 1 / 0)


def test_proxy_context_values_style_goes_to_reduce_cb(core):
    class Prod:
        def __init__(self, style):
            self.action_style = style

    class Factory:
        pass

    e = one_token(core, "T")
    ctx = ([None, Prod("values")], Factory, None, None, None)
    assert e.parse([Tok("T", 1)], lambda p, r, rhs: ("cb", rhs[0].value), proxy_context=ctx) == ("cb", 1)
    with pytest.raises(AttributeError):
        e.parse([Tok("T")], None, proxy_context=([None, object()], Factory, None, None, None))
    with pytest.raises(IndexError):
        e.parse([Tok("T")], None, proxy_context=([None], Factory, None, None, None))


# --- ParserControl ------------------------------------------------------------------


def test_restart_in_reduce_cb_discards_and_starts_over(core):
    built = statements(core)
    e = built.engine(core, custom=[False] + [True] * 7)
    control = core.ParserControl()
    log = []

    def cb(p, result, rhs, stack):
        log.append((p, [s.value for s in rhs], [s.type for s in stack]))
        if p == 3 and rhs[0].value == "a":
            control.restart()  # the lookahead `b` stays; the statement `a = 1 ;` is gone
        return [s.value for s in rhs]

    result = e.parse(toks("a = 1 ; b = 2 ;"), cb, with_stack=True, control=control)
    assert result == [["b", "=", [2], ";"]]
    assert [entry[0] for entry in log] == [5, 3, 5, 3, 2]
    assert log[3][2] == ["$end"]  # after the restart, `b = 2 ;` was parsed from the bottom


def test_requests_made_before_a_parse_are_consumed_at_its_start(core):
    control = core.ParserControl()
    control.restart()
    control.errok()
    e = one_token(core, "T", custom=False)
    assert e.parse([Tok("T", "v")], None, control=control) == "v"
    assert e.parse([Tok("T", "w")], None, control=control) == "w"


# --- objects made and memory -----------------------------------------------------------


def test_no_symbol_objects_for_default_and_value_reductions(core):
    calc = calculator(core)
    base = sys.getrefcount(core.ParsedSymbol)  # every live ParsedSymbol holds its class
    counts = []

    def observed(tokens):  # looks while the parse asks for each token
        for tok in tokens:
            counts.append(sys.getrefcount(core.ParsedSymbol))
            yield tok

    funcs = arith_funcs()
    funcs[6] = lambda n: counts.append(sys.getrefcount(core.ParsedSymbol)) or n
    e = calc.engine(core, values=[False, True, True, True, True, True, True])
    e.parse(observed(toks("1 + 2 * 3 - ( 4 / 5 )")), None, value_funcs=funcs)
    calc.engine(core).parse(observed(toks("1 + 2 * 3 - ( 4 / 5 )")), None)  # every reduction by default
    assert len(counts) == 2 * 11 + 5 and set(counts) == {base}


def test_deep_right_recursion_uses_no_native_recursion(core):
    # list -> item list | item, nested 200,000 deep.
    built = build(core, ["X"], [("L", ["X", "L"]), ("L", ["X"])], "L")
    e = built.engine(core)
    assert e.parse([Tok("X", i) for i in range(200_000)], None) == 0


def test_parses_grow_no_memory(core):
    calc = calculator(core)
    e = calc.engine(core, custom=[False] + [True] * 6)
    kept = []
    tokens = toks("1 + ( 2 * 3 )")

    def keep_stack(p, result, rhs, stack):
        kept[:] = [stack]
        return 1

    def raising(p, result, rhs, stack):
        raise KeyError(p)

    def round_():
        e.parse(tokens, keep_stack, with_stack=True)
        with pytest.raises(KeyError):
            e.parse(iter(tokens), raising, with_stack=True)
        with pytest.raises(SyntaxError):
            e.parse(toks("1 +"), keep_stack, with_stack=True)
        e.parse(core.TokenCursor(tokens), keep_stack, with_stack=True, control=core.ParserControl())

    assert allocated_growth(round_, rounds=1000) < 50
    kept.clear()
    gc.collect()


def test_ctrl_c_stops_a_parse_that_calls_no_python(core):
    # State 1 reduces A -> x on $end and the goto of A leads back to state 1: a
    # loop of default reductions over native records, with a stack that stays flat.
    setup = """
        from vexlor import _core_rs as core
        engine = core.LRParserEngine(2, {0: {"x": 1}, 1: {"$end": -1}}, {0: {"A": 1}}, ["S'", "A"], [1, 1],
                                     [False, False])
        """
    seconds = seconds_to_interrupt(setup, 'engine.parse([core.Token("x", "x")], None)')
    assert seconds is not None and seconds < 1.0


def test_whole_road_with_the_lexer(core):
    calc = calculator(core)
    lexer = core.LexerEngine()
    lexer.add_rule("INITIAL", "NUMBER", r"\d+", lambda t: (setattr(t, "value", int(t.value)), t)[1])
    lexer.set_ignore("INITIAL", " \n")
    lexer.set_literals("+-*/()")
    e = calc.engine(core, values=[False] + [True] * 6)
    source = "12 * (3 + 4)\n - 100 / 7"
    lexer.input(source)
    assert e.parse(iter(lexer.token, None), None, value_funcs=arith_funcs()) == 12 * 7 - 100 // 7
    lexer.input(source)
    assert e.parse(core.TokenCursor(iter(lexer.token, None)), None, value_funcs=arith_funcs()) == 70
    lexer.input("1 + + 2")
    with pytest.raises(SyntaxError, match=r"""^Syntax error at '\+' \(type "\+"\) on line 1, pos 4$"""):
        e.parse(iter(lexer.token, None), None, value_funcs=arith_funcs())


def test_value_functions_see_the_stack_without_their_right_hand_side(core):
    calc = calculator(core)
    # NUMBER reduces through reduce_cb (which keeps the live stack), the operators by value functions.
    e = calc.engine(core, custom=[False] * 6 + [True], values=[False, True, True, True, True, True, False])
    kept = []
    seen = []

    def cb(p, result, rhs, stack):
        kept[:] = [stack]
        return rhs[0].value

    def add(a, op, b):
        seen.append([s.type for s in kept[0]])
        return a + b

    funcs = [None, add, None, None, None, lambda lp, x, rp: x, None]
    assert e.parse(toks("( 1 + 2 )"), cb, with_stack=True, value_funcs=funcs) == 3
    assert seen == [["$end", "("]]
    assert [s.type for s in kept[0]] == ["$end", "expr"]  # the stack as the parse ended
