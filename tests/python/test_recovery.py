"""Error recovery: the error symbol, the panic step, error_cb and the three styles."""

import random

import pytest

from conftest import allocated_growth, fuzz_rounds
from grammars import Tok, statements, toks


@pytest.fixture
def stmts(core):
    return statements(core)


FUNCS = [
    None,
    lambda a, b: a + [b],              # stmts -> stmts stmt
    lambda s: [s],                     # stmts -> stmt
    lambda n, eq, e, semi: (n, e),     # stmt -> NAME = expr ;
    lambda err, semi: "ERR",           # stmt -> error ;
    int,                               # expr -> NUMBER
    lambda lp, e, rp: e,               # expr -> ( expr )
    lambda lp, err, rp: "BAD",         # expr -> ( error )
]


def engine(core, built, values=(True,) * 7, custom=(False,) * 7):
    return built.engine(core, custom=[False, *custom], values=[False, *values])


class Recorder:
    """An error_cb that records the tokens it sees and plays a script of answers."""

    def __init__(self, control=None, answers=()):
        self.control, self.answers, self.seen = control, list(answers), []

    def __call__(self, tok):
        self.seen.append((tok.type, tok.value))
        action = self.answers.pop(0) if self.answers else None
        if callable(action):
            return action(self)
        return action


def errok(result=None):
    def act(rec):
        rec.control.errok()
        return result
    return act


def restart(result=None):
    def act(rec):
        rec.control.restart()
        return result
    return act


def test_resynchronising_without_a_callback(core, stmts):
    e = engine(core, stmts)
    assert e.parse(toks("a = 1 ; b = + ; c = 3 ;"), None, value_funcs=FUNCS) == [("a", 1), "ERR", ("c", 3)]
    assert e.parse(toks("a = ( + + ) ; b = ( 2 ) ;"), None, value_funcs=FUNCS) == [("a", "BAD"), ("b", 2)]


def test_three_shifts_before_the_callback_is_asked_again(core, stmts):
    e = engine(core, stmts)
    rec = Recorder()
    # The second error comes one shift after the first recovery: no callback for it.
    assert e.parse(toks("a = + ; b + ; c = 1 ;"), None, rec, value_funcs=FUNCS) == ["ERR", "ERR", ("c", 1)]
    assert rec.seen == [("+", "+")]
    # Three shifts later it is asked again.
    rec = Recorder()
    assert e.parse(toks("a = + ; b = + ; c = 1 ;"), None, rec, value_funcs=FUNCS) == ["ERR", "ERR", ("c", 1)]
    assert rec.seen == [("+", "+"), ("+", "+")]


def test_without_error_productions_or_recovery(core, stmts):
    from grammars import calculator

    calc = calculator(core)
    with pytest.raises(SyntaxError) as info:
        calc.engine(core).parse([Tok("NUMBER", 1, lineno=3, lexpos=8), Tok("NUMBER", 2, lineno=4, lexpos=10)], None)
    assert info.value.args == ('Syntax error at 2 (type "NUMBER") on line 4, pos 10',)
    with pytest.raises(SyntaxError) as info:
        engine(core, stmts).parse(toks("a = 1 ; b ="), None, value_funcs=FUNCS)
    assert info.value.args == ("Syntax error at EOF on line 1, pos 0",)


def test_unprintable_values_in_the_message(core):
    from grammars import calculator

    class Bad:
        def __str__(self):  # read for the token's end
            return "bad"

        def __repr__(self):
            raise ValueError("no repr")

    calc = calculator(core)
    seen = []
    import sys

    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda u: seen.append(type(u.exc_value))
    try:
        with pytest.raises(SyntaxError, match=r'^Syntax error at <unprintable Bad object> \(type "NUMBER"\)'):
            calc.engine(core).parse([Tok("NUMBER", 1), Tok("NUMBER", Bad())], None)
    finally:
        sys.unraisablehook = old_hook
    assert seen == [ValueError]


NONE = object()  # the parse returns None

STYLE_CASES = [
    # style, text, the callback's answers, what parse returns, the tokens the callback saw (None: not checked)
    # core: a result without errok() or restart() is returned at once.
    ("core", "a = ; b = 2 ;", ["gave up"], "gave up", None),
    # core: errok() with a token: that token is the lookahead and the parse goes on (99 replaces the `+`).
    ("core", "a = + ; b = 2 ;", [errok(Tok("NUMBER", 99))], [("a", 99), ("b", 2)], None),
    # core: None: the panic step.
    ("core", "a = ; b = 2 ;", [None], ["ERR", ("b", 2)], None),
    # vex: a token returned without errok() or restart() is ignored: the panic step follows...
    ("vex", "a = ; b = 2 ;", [Tok("NUMBER", 99)], ["ERR", ("b", 2)], None),
    # ...and at the end of input the parse returns None.
    ("vex", "a = 1", [Tok("NUMBER", 99)], NONE, None),
    # vex: errok() takes the token.
    ("vex", "a = + ; b = 2 ;", [errok(Tok("NUMBER", 99))], [("a", 99), ("b", 2)], None),
    # vex: restart() alone discards the lookahead and starts over from the bottom.
    ("vex", "a = 1 ; b + c = 3 ;", [restart()], [("c", 3)], [("+", "+")]),
    # mox: a result always becomes the lookahead.
    ("mox", "a = + ; b = 2 ;", [Tok("NUMBER", 7)], [("a", 7), ("b", 2)], None),
    # mox: None at the end of input returns None; errok() alone does not decide.
    ("mox", "a = 1", [errok()], NONE, None),
    # mox: None with restart(): the lookahead is discarded and the parse starts over.
    ("mox", "a = 1 ; b + c = 3 ;", [restart()], [("c", 3)], None),
]


@pytest.mark.parametrize("style, text, answers, expected, seen", STYLE_CASES)
def test_recovery_styles(core, stmts, style, text, answers, expected, seen):
    e = engine(core, stmts)
    control = core.ParserControl()
    rec = Recorder(control, answers)
    result = e.parse(toks(text), None, rec, value_funcs=FUNCS, control=control, recovery_style=style)
    if expected is NONE:
        assert result is None
    else:
        assert result == expected
    if seen is not None:
        assert rec.seen == seen


def test_the_callback_gets_a_copy(core, stmts):
    # Changing the symbol the callback gets changes nothing.
    e = engine(core, stmts)

    def mutate(tok):
        tok.type, tok.value = "NUMBER", 5
    assert e.parse(toks("a = ; b = 2 ;"), None, mutate, value_funcs=FUNCS) == ["ERR", ("b", 2)]


def test_restart_while_the_error_symbol_is_the_lookahead(core, stmts):
    # The error symbol stands in for `+`; the state after `a = 1 ;` reduces on "error", and
    # that reduction's callback restarts: the real token is dropped and the error symbol is
    # read as a token of type "error" from the bottom.
    control = core.ParserControl()
    calls = []

    def cb(p, result, rhs):
        calls.append(p)
        if len(calls) == 1:
            control.restart()
        return (rhs[0].value, rhs[2].value)

    e = engine(core, stmts, values=(True, True, False, True, True, True, True),
               custom=(False, False, True, False, False, False, False))
    assert e.parse(toks("a = 1 ; + ; b = 2 ;"), cb, value_funcs=FUNCS, control=control) == ["ERR", ("b", 2)]
    assert calls == [3, 3]


def test_endless_errok_at_the_end_is_stopped_by_the_callback(core, stmts):
    # errok() and None at the end of input asks the callback again for ever; the callback can stop it.
    e = engine(core, stmts)
    for style in ("core", "vex"):
        control = core.ParserControl()
        calls = []

        def cb(tok):
            calls.append(tok.type)
            if len(calls) == 50:
                raise RuntimeError("stop")
            control.errok()

        with pytest.raises(RuntimeError):
            e.parse(toks("a = 1"), None, cb, value_funcs=FUNCS, control=control, recovery_style=style)
        assert calls == ["$end"] * 50


def test_requests_left_after_a_return_wait_for_the_next_parse(core, stmts):
    e = engine(core, stmts)
    control = core.ParserControl()
    rec = Recorder(control, [restart(), None])
    # vex at the end: returns None and leaves the restart request set; the next parse consumes it.
    assert e.parse(toks("a = 1"), None, rec, value_funcs=FUNCS, control=control, recovery_style="vex") is None
    assert e.parse(toks("a = 1 ;"), None, value_funcs=FUNCS, control=control) == [("a", 1)]


def shared_error_state(core, semicolon):
    """S : '(' B ')' | B ';' (or | B), B : error | 'x'. The state after "error" is shared by
    both contexts of B, so it reduces on ';' (and $end) inside the parentheses too, where
    nothing follows B but ')': the panic step would insert the error symbol at the same
    token for ever."""
    from grammars import build

    second = ["B", "';'"] if semicolon else ["B"]
    rules = [("S", ["'('", "B", "')'"]), ("S", second), ("B", ["error"]), ("B", ["'x'"])]
    return build(core, [], rules, "S").engine(core)


@pytest.mark.parametrize("style", ["core", "vex", "mox"])
@pytest.mark.parametrize("semicolon, text, ends, ends_with_cb", [
    # Stuck at ';': the token is given up, and at the end of input the parse fails.
    (True, "(;", "eof", "eof"),
    # Stuck at the first ';': it is given up, the next token skipped, and ')' accepted.
    (True, "(;y)", "(", "("),
    (True, "(;;)", "(", "("),
    # Stuck at the end of input itself: the callback (asked at $end) ends vex and mox with None.
    (False, "(", "eof", {"core": "eof", "vex": None, "mox": None}),
])
def test_an_error_symbol_inserted_for_ever_gives_up_the_token(core, style, semicolon, text, ends, ends_with_cb):
    e = shared_error_state(core, semicolon)
    for cb, expected in ((None, ends), (Recorder(), ends_with_cb)):
        if isinstance(expected, dict):
            expected = expected[style]
        stream = [core.Token(c, c, 1, i) for i, c in enumerate(text)]
        if expected == "eof":
            with pytest.raises(SyntaxError, match=r"^Syntax error at EOF on line 1, pos 0$"):
                e.parse(stream, None, cb, recovery_style=style)
        else:
            assert e.parse(stream, None, cb, recovery_style=style) == expected
        if cb:
            assert len(cb.seen) == 1  # errorcount stays 3 while the tokens are given up


@pytest.mark.parametrize("style", ["core", "vex", "mox"])
@pytest.mark.parametrize("depth", [1000, 1001, 5000])
def test_an_unwinding_deeper_than_the_guard_accepts(core, style, depth):
    # S : '(' S ')' | '(' error | 'x' on '(' x depth: each error symbol inserted
    # at the end of input closes one '(' on a lower stack, and the last one accepts.
    from grammars import build

    rules = [("S", ["'('", "S", "')'"]), ("S", ["'('", "error"]), ("S", ["'x'"])]
    e = build(core, [], rules, "S").engine(core, custom=[False, False, True, False])
    closed = []
    stream = [core.Token("(", "(", 1, i) for i in range(depth)]
    assert e.parse(stream, lambda p, res, rhs: closed.append(p) or res.value, recovery_style=style) == "("
    assert closed == [2] * depth


def test_a_long_damaged_tail_costs_a_few_steps_per_token(core):
    # After the guard has given one token up, each further token of the tail
    # that the same round would spin on is given up at once, not after
    # another thousand insertions: one reduction of B -> error per token.
    from grammars import build

    rules = [("S", ["'('", "B", "')'"]), ("S", ["B", "';'"]), ("B", ["error"]), ("B", ["'x'"])]
    e = build(core, [], rules, "S").engine(core, custom=[False, False, False, True, False])
    reductions = []
    tail = 10_000
    stream = [core.Token(c, c, 1, i) for i, c in enumerate("(" + ";" * tail + ")")]
    assert e.parse(stream, lambda p, res, rhs: reductions.append(p) or "B") == "("
    assert len(reductions) <= 1000 + 2 * tail


STYLE_ACTIONS = ["none", "token", "errok", "restart", "errok_token", "raise"]


def fuzz_one(core, e, rng, style):
    control = core.ParserControl()
    words = ["a", "b", "=", ";", "(", ")", "1", "2", "+"]
    stream = toks(" ".join(rng.choice(words) for _ in range(rng.randrange(0, 25))))
    calls = [0]

    def cb(tok):
        calls[0] += 1
        if calls[0] > 30:
            raise OverflowError("bounded")
        act = rng.choice(STYLE_ACTIONS)
        if act == "raise":
            raise LookupError("callback")
        if act in ("errok", "errok_token"):
            control.errok()
        if act == "restart":
            control.restart()
        if act in ("token", "errok_token"):
            return Tok(rng.choice(["NAME", "NUMBER", ";", ")"]), rng.choice(["x", 3, ";"]))
        return None

    try:
        e.parse(stream, None, cb, value_funcs=FUNCS, control=control, recovery_style=style)
    except (SyntaxError, LookupError, OverflowError, ValueError):
        pass  # int() of a token value the callback made up may fail: that is the callback's own value


@pytest.mark.fuzz
def test_random_streams_and_callbacks(core, stmts):
    e = engine(core, stmts)
    rng = random.Random(20261210)
    for i in range(fuzz_rounds(3000)):
        fuzz_one(core, e, rng, ("core", "vex", "mox")[i % 3])


def test_recovered_parses_grow_no_memory(core, stmts):
    e = engine(core, stmts)
    control = core.ParserControl()

    def round_():
        e.parse(toks("a = + ; b = ( + ) ; c = 1 ;"), None, Recorder(control, [errok()]), value_funcs=FUNCS,
                control=control)
        with pytest.raises(SyntaxError):
            e.parse(toks("a = 1 ; b ="), None, value_funcs=FUNCS)

    assert allocated_growth(round_, rounds=2000) < 50
