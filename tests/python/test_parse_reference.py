"""Random parses run twice, by LRParserEngine.parse and by the plain-Python
loop of lr_reference.py over the same tables, with the same scripted
callbacks: both must read the same tokens, make the same calls (reductions,
value functions, error_cb) with the same symbols, and end the same way."""

import random
from collections import Counter
from dataclasses import dataclass
from functools import partial

import pytest

import lr_reference
from conftest import damage, fuzz_rounds
from grammars import build, statements
from test_table_fuzz import random_grammar

STYLES = ("core", "vex", "mox")


@dataclass(frozen=True)
class T:
    """A token read through its attributes; equal by content, so a token that
    error_cb returns compares equal across the two runs."""

    type: str
    value: object
    lineno: int = 1
    lexpos: int = 0


class Reads:
    """A token iterator that records each request, also those after its end."""

    def __init__(self, tokens, events):
        self.tokens, self.events, self.i = tokens, events, 0

    def __iter__(self):
        return self

    def __next__(self):
        if self.i == len(self.tokens):
            self.events.append(("read", "end"))
            raise StopIteration
        self.events.append(("read", self.i))
        self.i += 1
        return self.tokens[self.i - 1]


class Script:
    """The callbacks of one run. Their decisions come from a generator seeded
    per case, so two runs that make the same calls make the same decisions.
    Only the first `budget` decisions may return a token or make a request,
    so that no script keeps a parse going for ever."""

    def __init__(self, seed, control, terminals, events):
        self.rng, self.control, self.events = random.Random(seed), control, events
        self.budget = 12
        self.returnable = sorted(terminals) + [lr_reference.ERROR, lr_reference.END, "zz"]

    def request(self, chance):
        """Maybe errok(), restart() or both on the control."""
        if self.control is None or self.budget <= 0 or self.rng.random() >= chance:
            return
        self.budget -= 1
        kind = self.rng.randrange(3)
        if kind != 1:
            self.control.errok()
        if kind != 0:
            self.control.restart()

    def error_cb(self, tok):
        self.events.append(("error_cb", tok.type, tok.value, tok.lineno, tok.lexpos))
        self.request(0.5)
        if self.budget <= 0 or self.rng.random() < 0.5:
            return None
        self.budget -= 1
        k = len(self.events)
        return T(self.rng.choice(self.returnable), self.rng.choice([f"cb{k}", *self.returnable]), 50 + k, 100 + k)

    def reduce_cb(self, p, result, rhs):
        self.events.append(("reduce", p, result.type, result.lineno, result.lexpos, result.endlineno,
                            result.endlexpos, [(s.type, s.value, s.lineno, s.lexpos, s.endlexpos) for s in rhs]))
        self.request(0.02)
        r = self.rng.random()
        if r < 0.03:
            result.type = lr_reference.ERROR  # the pushed symbol then counts as an error symbol
        return None if r > 0.9 else ("r", p, *(s.value for s in rhs))

    def value_func(self, p):
        def f(*values):
            self.events.append(("value", p, values))
            self.request(0.02)
            return None if self.rng.random() < 0.2 else ("v", p, *values)
        return f


# --- grammar shapes ---------------------------------------------------------------------

def random_shape(core, rng, error_rules):
    g, rules = random_grammar(core, rng, terminal_in_every_rule=True, error_rules=error_rules)
    return g.build_table(), rules


def expressions(core):
    ops = "+-*<"
    rules = [("E", ["E", f"'{op}'", "E"]) for op in ops]
    rules += [("E", ["'-'", "E"]), ("E", ["'('", "E", "')'"]), ("E", ["'('", "error", "')'"]), ("E", ["NUM"])]
    prec = [("nonassoc", ["'<'"]), ("left", ["'+'", "'-'"]), ("left", ["'*'"])]
    return build(core, ["NUM"], rules, "E", prec)


def optional_lists(core):
    # Empty right-hand sides, reduced before anything is read and inside brackets.
    rules = [("prog", ["items"]), ("items", ["items", "item"]), ("items", []), ("item", ["'x'"]),
             ("item", ["'('", "items", "')'"]), ("item", ["error", "';'"]), ("item", ["'['", "opt", "']'"]),
             ("opt", ["'x'"]), ("opt", [])]
    return build(core, [], rules, "prog")


def shared_error_state(core):
    # The state after "error" serves both contexts of B.
    rules = [("S", ["'('", "B", "')'"]), ("S", ["B", "';'"]), ("B", ["error"]), ("B", ["'x'"])]
    return build(core, [], rules, "S")


def fixed(make):
    def shape(core, rng):
        built = make(core)
        return built.table, built.rules
    return shape


# name: (grammar and rules, the outcomes its cases must reach besides an accept,
# a return of error_cb's result and a return of None)
SHAPES = {
    "random": (lambda core, rng: random_shape(core, rng, False), {"SyntaxError at a token"}),
    "random-error-rules": (lambda core, rng: random_shape(core, rng, True),
                           {"SyntaxError at a token", "SyntaxError at EOF"}),
    "statements": (fixed(statements), {"SyntaxError at EOF"}),
    "shared-error-state": (fixed(shared_error_state), {"SyntaxError at EOF"}),
    "expressions": (fixed(expressions), {"SyntaxError at a token", "SyntaxError at EOF"}),
    "optional-lists": (fixed(optional_lists), {"SyntaxError at EOF"}),
}


# --- token streams -----------------------------------------------------------------------

def unquote(sym):
    return sym[1:-1] if len(sym) > 2 and sym[0] == sym[-1] == "'" else sym


def sentence(rules, terminals, rng, limit=24, depth=5):
    """The token types of a random sentence of the grammar ("error" stands for
    one or two random terminals), or None when the start symbol derives none."""
    height = {t: 0 for t in terminals | {lr_reference.ERROR}}
    changed = True
    while changed:  # the least height of a derivation tree of each rule name
        changed = False
        for name, syms in rules:
            if all(s in height for s in syms):
                h = 1 + max((height[s] for s in syms), default=0)
                if h < height.get(name, h + 1):
                    height[name], changed = h, True
    if "S'" not in height:
        return None
    out = []

    def expand(sym, level):
        if sym == lr_reference.ERROR:
            out.extend(rng.choice(sorted(terminals)) for _ in range(rng.randrange(1, 3)))
        elif sym in terminals:
            out.append(sym)
        else:
            options = [s for name, s in rules if name == sym and all(x in height for x in s)]
            if level > depth or len(out) > limit:
                least = min(1 + max((height[x] for x in s), default=0) for s in options)
                options = [s for s in options if 1 + max((height[x] for x in s), default=0) == least]
            for x in rng.choice(options):
                expand(x, level + 1)

    expand("S'", 0)
    return out


def token_stream(rules, terminals, blocked, rng):
    """Tokens of a valid sentence, a damaged one (tokens dropped, inserted,
    swapped) or random ones; a few disguised so that only their value names
    their symbol, some of them under a name that has explicit error entries
    (`blocked`), which the value must not get round."""
    types = sentence(rules, terminals, rng) if rng.random() < 0.8 else None
    pool = sorted(terminals) + [lr_reference.ERROR, lr_reference.END]
    if types is None:
        types = [rng.choice(pool) for _ in range(rng.randrange(10))]
    elif rng.random() < 0.6:
        damage(types, rng, lambda: rng.choice(pool))
    out = []
    for i, t in enumerate(types):
        r = rng.random()
        if r < 0.05:  # no symbol of that name: the value decides
            out.append(T("LIT", t, 1 + i // 4, 2 * i))
        elif r < 0.1:  # another symbol's name, and this one's as the value
            out.append(T(rng.choice(blocked or pool), t, 1 + i // 4, 2 * i))
        else:
            out.append(T(t, i, 1 + i // 4, 2 * i))
    return out


# --- one case in both implementations ---------------------------------------------------------

def outcome_of(run):
    try:
        return ("value", run())
    except SyntaxError as e:
        return ("SyntaxError", str(e))


def classify(kind, result):
    if kind == "SyntaxError":
        return "SyntaxError at EOF" if result.startswith("Syntax error at EOF") else "SyntaxError at a token"
    if isinstance(result, T):
        return "error_cb result returned"
    return "None returned" if result is None else "accepted"


@pytest.fixture
def agree(core):
    """Runs random cases of a grammar shape in every style through the engine
    and the reference, asserts that they agree, and counts their outcomes."""

    def run_cases(shape, rng, rounds):
        counts = Counter()
        for _ in range(rounds):
            table, rules = SHAPES[shape][0](core, rng)
            rules = [(name, [unquote(s) for s in syms]) for name, syms in rules]
            names, lens = [name for name, _ in rules], [len(syms) for _, syms in rules]
            action, goto = table.action, table.goto
            terminals = {s for _, syms in rules for s in syms if s not in names and s != lr_reference.ERROR}
            terminals = {t for t in terminals if any(t in row for row in action.values())}
            blocked = sorted({t for row in action.values() for t, entry in row.items() if entry is None})
            custom = [False] + [rng.random() < 0.6 for _ in rules[1:]]
            values = [False] + [rng.random() < 0.4 for _ in rules[1:]]
            tokens = token_stream(rules, terminals, blocked, rng)
            with_cb, with_control, seed = rng.random() < 0.8, rng.random() < 0.8, rng.randrange(1 << 30)
            parsers = ((core.LRParserEngine.from_table(table, names, lens, custom, values).parse, core.ParserControl),
                       (partial(lr_reference.parse, action, goto, names, lens, custom, values), lr_reference.Control))
            for style in STYLES:
                runs = []
                for parse, make_control in parsers:
                    events = []
                    script = Script(seed, make_control() if with_control else None, terminals, events)
                    outcome = outcome_of(lambda: parse(
                        Reads(tokens, events), script.reduce_cb, script.error_cb if with_cb else None,
                        [script.value_func(p) for p in range(len(rules))], control=script.control,
                        recovery_style=style))
                    runs.append((events, outcome))
                (events, outcome), (ref_events, ref_outcome) = runs
                case = (f"the case: {rules=} {tokens=} {style=} {with_cb=} {with_control=} {seed=} {custom=} "
                        f"{values=}")
                assert outcome == ref_outcome, case
                assert events == ref_events, case
                counts[classify(*outcome)] += 1
                counts["error_cb calls"] += sum(e[0] == "error_cb" for e in events)
        return counts

    return run_cases


@pytest.mark.fuzz
@pytest.mark.parametrize("shape", SHAPES)
def test_engine_and_reference_agree(agree, shape):
    counts = agree(shape, random.Random(20261211), fuzz_rounds(300))
    assert SHAPES[shape][1] | {"accepted", "error_cb result returned", "None returned"} <= set(counts), counts


# --- the insertion guard ----------------------------------------------------------------

def nested(core):
    # Each error symbol inserted at the end of input closes one open '(':
    # the recovery unwinds one level per insertion, as deep as the input nests.
    return build(core, [], [("S", ["'('", "S", "')'"]), ("S", ["'('", "error"]), ("S", ["'x'"])], "S")


def nested_stream(rng):
    depth = rng.choice([rng.randrange(1, 50), rng.randrange(900, 1100), rng.randrange(1500, 3000)])
    types = ["("] * depth + (["x"] if rng.random() < 0.5 else []) + [")"] * rng.randrange(depth // 2 + 1)
    if rng.random() < 0.3:
        damage(types, rng, lambda: rng.choice(["(", ")", "x", ";"]))
    return [T(t, i, 1, i) for i, t in enumerate(types)]


def guard_case(core, rng):
    """A grammar with error rules and a stream: short and random, or long and
    nesting deep; one grammar that nests and one that loops without the guard."""
    kind = rng.randrange(4)
    if kind in (0, 3):
        built = (nested if kind == 0 else shared_error_state)(core)
        table, rules = built.table, built.rules
    else:
        table, rules = random_shape(core, rng, True)
    rules = [(name, [unquote(s) for s in syms]) for name, syms in rules]
    terminals = {s for _, syms in rules for s in syms if s not in {n for n, _ in rules} and s != lr_reference.ERROR}
    if kind == 0:
        tokens = nested_stream(rng)
    elif kind == 3:
        tokens = [T(t, i, 1, i) for i, t in enumerate(rng.choice("(;x)") for _ in range(rng.randrange(12)))]
    else:
        deep = kind == 2
        types = sentence(rules, terminals, rng, limit=600 if deep else 24, depth=150 if deep else 5)
        if types is None:
            types = [rng.choice(sorted(terminals)) for _ in range(rng.randrange(10))]
        if deep:
            del types[rng.randrange(len(types) + 1):]  # cut short: the end of input comes deep inside
        damage(types, rng, lambda: rng.choice(sorted(terminals) + [lr_reference.END]))
        tokens = [T(t, i, 1, i) for i, t in enumerate(types)]
    return table, rules, tokens


@pytest.mark.fuzz
def test_the_insertion_guard_ends_every_loop_and_changes_no_parse_that_ends(core):
    rng = random.Random(20261212)
    counts = Counter()
    for _ in range(fuzz_rounds(60)):
        table, rules, tokens = guard_case(core, rng)
        names, lens = [name for name, _ in rules], [len(syms) for _, syms in rules]
        custom = [False] + [rng.random() < 0.5 for _ in rules[1:]]
        values = [False] + [rng.random() < 0.3 for _ in rules[1:]]
        engine = core.LRParserEngine.from_table(table, names, lens, custom, values)
        reference = partial(lr_reference.parse, table.action, table.goto, names, lens, custom, values)
        for style in STYLES:
            for with_cb in (False, True):
                def run(parse, **guard):
                    # Callbacks that decide nothing: a run is fixed by its tables and tokens.
                    events = []
                    error_cb = (lambda tok: events.append(("error_cb", tok.type, tok.value))) if with_cb else None
                    reduce_cb = lambda p, res, rhs: events.append(("reduce", p, res.type)) or p
                    funcs = [lambda *v, p=p: p for p in range(len(rules))]
                    outcome = outcome_of(lambda: parse(iter(tokens), reduce_cb, error_cb, funcs, recovery_style=style,
                                                       **guard))
                    return outcome, events

                stats = {}
                try:
                    unguarded = run(reference, guard=False, max_steps=200_000, stats=stats)
                except lr_reference.Looping:
                    unguarded = None
                native = run(engine.parse)
                case = f"the case: {rules=} {tokens=} {style=} {with_cb=} {custom=} {values=}"
                if unguarded is None:
                    counts["loops, ended by the guard"] += 1
                    assert native == run(reference), case
                else:
                    counts["ends by itself"] += 1
                    counts["more insertions than the limit"] += stats.get("insertions", 0) > lr_reference.MAX_INSERTIONS
                    assert native == unguarded, case
    assert counts["loops, ended by the guard"] and counts["more insertions than the limit"], counts
