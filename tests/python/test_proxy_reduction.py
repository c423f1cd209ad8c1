"""The native proxy reduction: Python actions read and write a reduction's
symbols through a _ProductionView subclass over a _ReductionData, while the
symbols stay native until an action asks for them as objects."""

import contextlib
import gc
import sys
import threading
import weakref

import pytest

from conftest import allocated_growth
from grammars import Tok, build, calculator, toks


class Prod:
    """A production object as the package hands them to a parse."""

    def __init__(self, func, namemap=None, style="proxy"):
        self.func, self.namemap, self.action_style = func, namemap, style


class Other:
    """Not a view, but it takes the attributes a parse sets on views."""

    def __new__(cls, *args):
        return object.__new__(cls)


def invoke(func, view, data):
    return func(view, data)


@pytest.fixture(params=["dict", "slots"])
def View(core, request):
    """The view factory: a subclass with an instance dictionary, or with slots
    for what the parse sets on a view."""
    if request.param == "dict":
        class View(core._ProductionView):
            pass
    else:
        class View(core._ProductionView):
            __slots__ = ("lexer", "parser", "_namemap", "__weakref__")

    return View


def engine(core, built):
    return built.engine(core, custom=[False] + [True] * (len(built.names) - 1))


def run(core, built, tokens, actions, factory, prods=None):
    """Parses with `actions` (production number -> action; the others have none)."""
    prods = prods or [Prod(actions.get(p), {"p": p}) for p in range(len(built.names))]
    return engine(core, built).parse(tokens, None, proxy_context=(prods, factory, invoke, "LEX", "PARSER"))


@contextlib.contextmanager
def symbol_objects_made(core, seen):
    """Counts into seen["made"] the ParsedSymbol objects left alive by the body:
    every live one holds its class. The collector is paused, so that no
    garbage of earlier tests is freed meanwhile."""
    gc.collect()
    gc.disable()
    base = sys.getrefcount(core.ParsedSymbol)
    try:
        yield
    finally:
        seen["made"] = sys.getrefcount(core.ParsedSymbol) - base
        gc.enable()


def binop(p, data):
    p[0] = (p[1], p[2], p[3])


def paren(p, data):
    p[0] = p[2]


def calc(core, text, actions, factory):
    """The calculator's productions: 1-4 the operators + - * /, 5 parentheses
    (by default the parenthesised value), 6 NUMBER (no action)."""
    return run(core, calculator(core), toks(text), {5: paren, **actions}, factory)


def test_view_is_made_by_the_factory_and_the_action_runs_on_it(core, View):
    calls = []

    class Factory(View):
        def __new__(cls, *args):
            calls.append((cls, *(type(a).__name__ for a in args)))
            return super().__new__(cls, *args)

        def __init__(self, *args):
            raise AssertionError("a parse calls only __new__")

    def action(p, data):
        calls.append((type(p), p.lexer, p.parser, p._namemap, len(p), p[-1]))
        binop(p, data)

    assert calc(core, "( 1 + 2 )", {1: action}, Factory) == (1, "+", 2)
    assert calls[:2] == [(Factory, "_ReductionData", "ParserStack"), (Factory, "LEX", "PARSER", {"p": 1}, 4, "(")]
    assert len(calls) == 3  # and a view for the parentheses


def test_a_production_without_action_makes_no_view(core):
    class Bare:  # no namemap: it is not read either
        action_style, func = "proxy", None

    class Refusing:
        def __new__(cls, *args):
            raise AssertionError("no view is made")

    assert run(core, calculator(core), toks("7 * 8"), {}, Refusing, [Bare()] * 7) == 7


@pytest.mark.parametrize(
    "body, value",
    [
        ("pass", 1),  # the initial value: the first right-hand-side value
        ("p[0] = 'x'", "x"),
        ("p[0] = 'x'; return 'y'", "y"),
        ("p[0] = None", None),  # only an assignment can store None
        ("return 0", 0),
        ("p[0] = 'x'; data.result(None)", "x"),
        ("data.result('r')", "r"),
        ("assert data.result(result='r') == 'r'; p[0] = 's'", "s"),
        ("p[0] = message_of(data.result)", "_ReductionData.result() missing 1 required positional argument: 'result'"),
    ],
)
def test_the_reduction_value(core, View, body, value):
    def message_of(call):
        try:
            call()
        except TypeError as e:
            return str(e)

    ns = {"message_of": message_of}
    exec(f"def action(p, data):\n    {body}", ns)
    assert calc(core, "1 + 2", {1: ns["action"]}, View) == value


# Statements run inside the action of `( 1 + 2 )`, each leaving its outcome in
# `_`: the right-hand side is 1 + 2, the parser stack below it holds the
# bottom entry and `(`. The outcome is a value, an exception (type and
# message) or an exception type; `made` is how many symbol objects the
# statement left behind (one per symbol, once, when the view materialises).
@pytest.mark.parametrize(
    "statement, outcome, made",
    [
        ("_ = p[0]", 1, 0),
        ("_ = p[3]", 2, 0),
        ("_ = p[4]", IndexError("reduction index out of range"), 0),
        ("_ = p[2**64]", IndexError("reduction index out of range"), 0),
        ("_ = p[-1]", "(", 0),
        ("_ = p[-2]", None, 0),
        ("_ = p[-3]", IndexError("parser stack index out of range"), 0),
        ("_ = p[-2**64]", OverflowError, 0),
        ("_ = p[1:3]", [1, "+"], 4),
        ("_ = p[:]", [1, 1, "+", 2], 4),
        ("_ = p[True], p[False]", (1, 1), 4),
        ("_ = p[1.0]", TypeError("list indices must be integers or slices, not float"), 4),
        ("_ = p['a']", TypeError("'>=' not supported between instances of 'str' and 'int'"), 0),
        ("p[3] = 'w'; _ = list(p)", [1, 1, "+", "w"], 0),
        ("p[-1] = 'w'; _ = list(p)", [1, 1, "+", "w"], 0),  # writes count from the end of the reduction
        ("p[-4] = 'w'; _ = list(p)", ["w", 1, "+", 2], 0),
        ("p[-5] = 'w'", IndexError("reduction index out of range"), 0),
        ("p[4] = 'w'", IndexError("reduction index out of range"), 0),
        ("p[2**64] = 'w'", IndexError("reduction index out of range"), 0),
        ("p[-2**64] = 'w'", IndexError("reduction index out of range"), 0),
        ("p[True] = 'w'; _ = list(p)", [1, "w", "+", 2], 4),
        ("p[1:2] = 'w'", AttributeError, 4),
        ("del p[1]", NotImplementedError("can't delete item"), 0),
    ],
)
def test_reading_and_writing_a_data_backed_view(core, View, statement, outcome, made):
    seen = {}

    def action(p, data):
        scope = {"p": p}
        with symbol_objects_made(core, seen):
            try:
                exec(statement, scope)
                seen["outcome"] = scope["_"]
            except Exception as e:
                seen["outcome"] = e

    calc(core, "( 1 + 2 )", {1: action}, View)
    got = seen["outcome"]
    if isinstance(outcome, Exception):
        assert type(got) is type(outcome) and str(got) == str(outcome)
    elif isinstance(outcome, type):
        assert type(got) is outcome
    else:
        assert got == outcome
    assert seen["made"] == made


def test_an_empty_right_hand_side(core, View):
    seen = []

    def empty(p, data):
        seen.append(len(p))
        for key in (1, -2):
            with pytest.raises(IndexError, match="^reduction index out of range$"):
                if key > 0:
                    p[key]
                else:
                    p[key] = 0
        p[-1] = "w"  # index 0, the result

    built = build(core, ["x"], [("S", ["A", "x"]), ("A", [])], "S")
    assert run(core, built, [Tok("x")], {2: empty}, View) == "w"
    assert seen == [1]


def test_symbol_objects_are_shared_between_views_and_data(core, View):
    seen = []

    def inner(p, data):
        p[1] = "before"
        objects = p._slice  # p is now backed by the symbol objects
        assert p._slice is objects and [s.type for s in objects] == ["expr", "expr", "+", "expr"]
        assert objects[1].value == "before"
        assert core._ProductionView(data)._slice[1] is objects[1]  # made once per symbol
        core._ProductionView(data)[3] = "after"  # a data-backed view writes the same object
        assert objects[3].value == "after"
        p[0] = "result"
        objects[0].lineno = 42  # reaches the pushed symbol
        objects[0].type = "renamed"

    def paren(p, data):
        seen.append((p[2], p._slice[2].type, p._slice[2].lineno))

    calc(core, "( 1 + 2 )", {1: inner, 5: paren}, View)
    assert seen == [("result", "renamed", 42)]


# Whether the data keeps its right-hand side after the reduction, as a fresh
# view over the kept data shows: a view that still reads the data keeps it.
@pytest.mark.parametrize(
    "statement, kept",
    [
        ("p[1] = p[2]; p[-1]; len(p); p._stack = None", 4),
        ("p[1:2]", 1),
        ("p[1:2]; p._slice = data", 4),
        ("p._slice = []", 1),
        ("p._slice = None", 1),
    ],
)
def test_the_right_hand_side_lives_as_long_as_a_view_needs_it(core, View, statement, kept):
    datas = []

    def action(p, data):
        exec(statement, {"p": p, "data": data})
        datas.append(data)

    calc(core, "1 + 2", {1: action}, View)
    assert len(core._ProductionView(datas[0])) == kept


def test_kept_views_answer_after_the_parse_moved_on_and_ended(core, View):
    kept = {}

    def action(p, data):
        if p[2] == "+":
            kept["plus"] = p  # stays data-backed
        elif p[2] == "*":
            plus = kept["plus"]
            assert len(plus) == 4 and list(plus) == [(1, "+", 2), 1, "+", 2]
            assert plus[-1] is None  # the live stack: only the bottom entry below this right-hand side
            plus[0] = "late"  # the parse holds its own copy of the result
            assert p[1] == (1, "+", 2)
        binop(p, data)

    def paren(p, data):
        kept["paren"] = p
        p[0] = p[1:4][1]  # materialised

    result = calc(core, "( 1 + 2 ) * 3", {1: action, 3: action, 5: paren}, View)
    assert result == ((1, "+", 2), "*", 3)
    plus, paren_view = kept["plus"], kept["paren"]
    assert list(plus) == ["late", 1, "+", 2] and plus[-1] == result  # the stack as the parse left it
    assert len(paren_view) == 4 and paren_view[0:4] == [(1, "+", 2), "(", (1, "+", 2), ")"]
    paren_view[2] = "w"
    assert paren_view._slice[2].value == "w"


class NoFunc:
    action_style = "proxy"


class NoNamemap:
    action_style = "proxy"

    def __init__(self, func):
        self.func = func


@pytest.mark.parametrize(
    "production, factory, exc, message",
    [
        (lambda a: NoFunc(), "View", AttributeError, "'NoFunc' object has no attribute 'func'"),
        (NoNamemap, "View", AttributeError, "'NoNamemap' object has no attribute 'namemap'"),
        (Prod, "base", AttributeError, "_ProductionView' object has no attribute 'lexer'"),
        (Prod, Other, TypeError, "'Other' object is not an instance of '_ProductionView'"),
        (Prod, "borrowed __new__", TypeError, "Pretender is not a subtype of builtins._ProductionView"),
        (lambda a: Prod(lambda p, data: 1 / 0), "View", ZeroDivisionError, "division by zero"),
    ],
)
def test_failures_end_the_parse(core, View, production, factory, exc, message):
    ran = []
    class Pretender:
        __new__ = core._ProductionView.__new__

    factory = {"View": View, "base": core._ProductionView, "borrowed __new__": Pretender}.get(factory, factory)
    prods = [Prod(None)] * 7
    prods[1] = production(lambda p, data: ran.append(p))  # the production of `+`
    with pytest.raises(exc) as info:
        run(core, calculator(core), toks("1 + 2"), {}, factory, prods)
    assert message in str(info.value)
    assert len(ran) == (factory is Other)  # the type of the view is checked after the action


def test_reading_and_assigning_values_makes_no_symbol_objects(core, View):
    counts = []

    def live():
        return sys.getrefcount(core.ParsedSymbol)  # every live ParsedSymbol holds its class

    def observed(tokens):  # looks while the parse asks for each token
        for tok in tokens:
            counts.append(live())
            yield tok

    def observing(func, view, data):  # and after each action, while its view and data live
        result = func(view, data)
        counts.append(live())
        return result

    e = engine(core, calculator(core))
    prods = [Prod(a) for a in [None, binop, binop, binop, binop, paren, None]]
    ctx = (prods, View, observing, None, None)
    seen = {}
    with symbol_objects_made(core, seen):
        base = live()
        result = e.parse(observed(toks("1 + 2 * ( 3 - 4 )")), None, proxy_context=ctx)
    assert result == (1, "+", (2, "*", (3, "-", 4)))
    assert len(counts) == 9 + 4 and set(counts) == {base} and seen["made"] == 0
    prods[5] = Prod(lambda p, data: p[1:3] and None)  # a slice makes the objects, and the count shows them
    e.parse(toks("( 3 )"), None, proxy_context=ctx)
    assert counts[-1] == live() + 4


def test_cycles_through_views_and_data_are_collected(core, View):
    def cyclic(p, data):
        p[0] = [p, data]  # view -> data -> result value -> view
        if p[2] == "*":
            p[1:2]  # and through the symbol objects of a materialised view

    def round_():
        result = calc(core, "1 + 2 * 3", {1: cyclic, 3: cyclic}, View)
        return [weakref.ref(result[0])]

    gone = round_()
    gc.collect()
    assert gone[0]() is None
    assert allocated_growth(round_, rounds=500) < 50


def test_proxy_parses_grow_no_memory(core, View):
    kept = []

    def keeping(p, data):
        kept[:] = [p, p if p[2] == "+" else p[1:4]]
        binop(p, data)

    def round_():
        calc(core, "1 + ( 2 * 3 )", {1: keeping, 3: keeping}, View)
        with pytest.raises(TypeError):
            calc(core, "1 + 2", {1: binop}, Other)
        with pytest.raises(ZeroDivisionError):
            calc(core, "1 / 2", {4: lambda p, data: p[1:2] and 1 / 0}, View)

    assert allocated_growth(round_, rounds=500) < 50
    kept.clear()


def test_kept_view_used_from_other_threads(core, View):
    kept = []

    def action(p, data):
        kept.append(p)
        binop(p, data)

    calc(core, "1 + 2", {1: action}, View)
    (p,) = kept
    slices, errors = [], []

    def work(k):
        try:
            for i in range(300):
                p[3] = (k, i)
                assert len(p) == 4 and p[1] == 1 and p[-1] == (1, "+", 2)
                assert p[3][1] >= 0
            slices.append(p._slice)
        except BaseException as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert slices[0] is slices[1] is slices[2] and [s.type for s in slices[0]] == ["expr", "expr", "+", "expr"]


def test_a_small_language_written_against_views(core, View):
    env, below = {}, []

    def number(p, data):
        below.append(p[-1])
        p[0] = int(p[1])

    actions = {
        1: lambda p, data: p.__setitem__(0, p[1] + [p[2]]),
        2: lambda p, data: p.__setitem__(0, [p[1]]),
        3: lambda p, data: env.__setitem__(p[1], p[3]) or tuple(p[1:4:2]),
        4: lambda p, data: p.__setitem__(0, p[1] + p[3]),
        5: lambda p, data: p.__setitem__(0, p[1] - p[3]),
        7: number,
        8: lambda p, data: p.__setitem__(0, env[p[1]]),
        9: lambda p, data: p.__setitem__(0, p[2]),
    }
    rules = [
        ("prog", ["prog", "stmt"]),               # 1
        ("prog", ["stmt"]),                       # 2
        ("stmt", ["NAME", "'='", "expr", "';'"]),  # 3
        ("expr", ["expr", "'+'", "term"]),         # 4
        ("expr", ["expr", "'-'", "term"]),         # 5
        ("expr", ["term"]),                       # 6: no action
        ("term", ["NUMBER"]),                     # 7
        ("term", ["NAME"]),                       # 8
        ("term", ["'('", "expr", "')'"]),          # 9
    ]
    built = build(core, ["NAME", "NUMBER"], rules, "prog")
    lexer = core.LexerEngine()
    lexer.add_rule("INITIAL", "NAME", r"[a-z]+")
    lexer.add_rule("INITIAL", "NUMBER", r"\d+")
    lexer.set_ignore("INITIAL", " \n")
    lexer.set_literals("=+-();")
    lexer.input("a = 1 + 2 ;\nb = (a - 4) + 10 ;")
    result = run(core, built, iter(lexer.token, None), actions, View)
    assert result == [("a", 3), ("b", 9)] and env == {"a": 3, "b": 9}
    assert below == ["=", "+", "-", "+"]
