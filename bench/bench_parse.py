"""Parse benchmark: LRParserEngine.parse against a plain-Python LR loop.

The input is the generated C-like source of the lexer benchmark; its grammar
(functions, blocks, statements, expressions with precedence) is built with
Grammar, and the engine comes from LRParserEngine.from_table. Figures, in
ns/token, with the cyclic garbage collector running and paused:

- parse alone, over a pre-lexed token list, with reductions through
  value_funcs (a function returning the tuple of its arguments), through
  reduce_cb, and by default;
- the same value functions driven by a plain-Python LR loop over the same
  LRTable.action and goto dictionaries;
- the floor: the value function called with the real arities of the parse,
  driven from C by itertools.starmap, with no parser around it;
- actions written against a production view p (p[0] = (p[1], p[2], p[3])
  and the like): through the native proxy (a small _ProductionView subclass
  as the factory, an invoke that calls the action with the view), through
  reduce_cb with a Python view over its prepared slice, and through the
  plain-Python loop with one list of values and one Python view per
  reduction; the proxy's own cost, with an invoke that returns at once
  without calling the action; and the floor of view actions: for each
  reduction of the parse, in order, a view made over symbols of the real
  arity and the action called with it, driven by itertools.starmap, with no
  parser around it;
- lexing and parsing end to end: LexerEngine tokens pulled one at a time
  through a TokenCursor and through iter(lexer.token, None), against the
  plain-Python lexer feeding the plain-Python loop; and the pull alone,
  list(iter(lexer.token, None)), beside tokenize;
- a right-recursive input nested a million deep, with the peak memory per
  stack entry (measured in a child process).

    python bench/bench_parse.py [--sizes 1,10] [--repeat 3] [--depth 1000000]
"""

import argparse
import collections
import itertools
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bench_lexer  # noqa: E402
from bench_lexer import best_time, make_source, native_lexer, python_tokens  # noqa: E402

from vexlor import _core_rs  # noqa: E402

# Keyword tokens get names of their own here: the lexer benchmark names the
# keyword `int` and integer literals both INT, which a grammar cannot tell apart.
bench_lexer.KEYWORDS.update({k: "K_" + k.upper() for k in bench_lexer.KEYWORDS})

PRECEDENCE = [
    ("right", ["'='", "ASSIGN_OP"]),
    ("left", ["LOGIC"]),
    ("left", ["CMP", "'<'", "'>'"]),
    ("left", ["SHIFT"]),
    ("left", ["'+'", "'-'"]),
    ("left", ["'*'", "'/'"]),
    ("left", ["INC"]),
    ("right", ["K_ELSE"]),
]

RULES = [
    ("unit", ["unit", "func"]),
    ("unit", ["func"]),
    ("func", ["K_STATIC", "K_INT", "ID", "'('", "params", "')'", "block"]),
    ("params", ["params", "','", "param"]),
    ("params", ["param"]),
    ("param", ["K_STRUCT", "ID", "'*'", "ID"]),
    ("param", ["ELLIPSIS"]),
    ("block", ["'{'", "stmts", "'}'"]),
    ("block", ["'{'", "'}'"]),
    ("stmts", ["stmts", "stmt"]),
    ("stmts", ["stmt"]),
    ("stmt", ["expr", "';'"]),
    ("stmt", ["K_IF", "'('", "expr", "')'", "block", "K_ELSE", "block"]),
    ("stmt", ["K_IF", "'('", "expr", "')'", "block"]),
    ("stmt", ["K_RETURN", "expr", "';'"]),
    ("stmt", ["K_FOR", "'('", "K_INT", "ID", "'='", "expr", "';'", "expr", "';'", "expr", "')'", "block"]),
    ("stmt", ["block"]),
    *[("expr", ["expr", op, "expr"]) for op in
      ("'='", "ASSIGN_OP", "LOGIC", "CMP", "'<'", "'>'", "SHIFT", "'+'", "'-'", "'*'", "'/'")],
    ("expr", ["expr", "INC"]),
    ("expr", ["primary"]),
    *[("primary", [t]) for t in ("ID", "INT", "FLOAT", "HEX", "STRING", "CHAR")],
    ("primary", ["'('", "expr", "')'"]),
    ("primary", ["primary", "ARROW", "ID"]),
    ("primary", ["primary", "'['", "expr", "']'"]),
    ("primary", ["ID", "'('", "args", "')'"]),
    ("args", ["args", "','", "expr"]),
    ("args", ["expr"]),
]
TERMINALS = ["ID", "INT", "FLOAT", "HEX", "STRING", "CHAR", "ARROW", "INC", "SHIFT", "CMP", "LOGIC", "ASSIGN_OP",
             "ELLIPSIS", "K_STATIC", "K_INT", "K_STRUCT", "K_IF", "K_ELSE", "K_RETURN", "K_FOR"]


def build_grammar():
    g = _core_rs.Grammar(TERMINALS)
    g.set_precedence(PRECEDENCE)
    for name, syms in RULES:
        g.add_production(name, syms)
    g.set_start("unit")
    table = g.build_table()
    names = ["S'"] + [n for n, _ in RULES]
    lens = [1] + [len(s) for _, s in RULES]
    return table, names, lens


def tup(*args):
    return args


def reduce_tuple(p, result, rhs):
    return tuple(s.value for s in rhs)


def view_action(n):
    """The action of a production of n symbols, written against a view p: it
    reads the values and assigns their tuple (the first three of a longer
    right-hand side) to p[0]."""
    if n == 0:
        def act(p):
            p[0] = ()
    elif n == 1:
        def act(p):
            p[0] = p[1]
    elif n == 2:
        def act(p):
            p[0] = (p[1], p[2])
    else:
        def act(p):
            p[0] = (p[1], p[2], p[3])
    return act


class ProxyView(_core_rs._ProductionView):
    """The view factory: slots for what the parse sets on each view."""

    __slots__ = ("lexer", "parser", "_namemap")


class Production:
    __slots__ = ("func", "namemap", "action_style")

    def __init__(self, func):
        self.func, self.namemap, self.action_style = func, None, "proxy"


def invoke(func, view, data):
    return func(view)


def invoke_nothing(func, view, data):
    return None


def invoke_on_new_view(func, items, data):
    """What each reduction does in Python when actions take a view: the view
    is made over the symbols, and the action called with it."""
    return func(ProxyView(items))


class SymbolView:
    """A Python view over reduce_cb's prepared slice of symbol objects."""

    __slots__ = ("slice",)

    def __init__(self, slice_):
        self.slice = slice_

    def __getitem__(self, i):
        return self.slice[i].value

    def __setitem__(self, i, value):
        self.slice[i].value = value


def reduce_view(actions):
    def cb(p, result, rhs, slice_):
        actions[p](SymbolView(slice_))
        return slice_[0].value

    return cb


class ValueView:
    """A pure-Python parser's view over the values of one reduction."""

    __slots__ = ("values",)

    def __init__(self, values):
        self.values = values

    def __getitem__(self, i):
        return self.values[i]

    def __setitem__(self, i, value):
        self.values[i] = value


def python_parse(tokens, action, goto, names, lens, funcs, views=False):
    """A plain-Python LR loop over the LRTable's dictionaries. funcs are the
    value functions, None for a default reduction; with `views`, they are
    actions called with a ValueView over [result] + values."""
    it = iter(tokens)
    states = [0]
    values = [None]
    tok = next(it, None)
    la = tok.type if tok is not None else "$end"
    while True:
        row = action[states[-1]]
        a = row.get(la)
        if a is None and tok is not None:
            a = row.get(tok.value)
        if a is None:
            raise SyntaxError(f"syntax error at {tok!r}")
        if a > 0:
            states.append(a)
            values.append(tok.value)
            tok = next(it, None)
            la = tok.type if tok is not None else "$end"
        elif a < 0:
            p = -a
            n = lens[p]
            if n:
                args = values[-n:]
                del values[-n:]
                del states[-n:]
            else:
                args = ()
            if views:
                slots = [args[0] if n else None, *args]
                v = funcs[p](ValueView(slots))
                v = slots[0] if v is None else v
            elif (f := funcs[p]) is None:  # a default reduction: the first value, or None
                v = args[0] if n else None
            else:
                v = f(*args)
                v = args[0] if v is None and n else v
            values.append(v)
            states.append(goto[states[-1]][names[p]])
        else:
            return values[-1]


def arities(engine, tokens, n_prods):
    """The argument tuples of every value-function call of one parse."""
    calls = []

    def record(*args):
        calls.append(args)
        return args

    engine.parse(tokens, None, value_funcs=[record] * n_prods)
    return calls


def production_sequence(engine, tokens, n_prods):
    """The production of every reduction of one parse, in order."""
    seq = []
    engine.parse(tokens, None, value_funcs=[(lambda p: lambda *args: seq.append(p))(p) for p in range(n_prods)])
    return seq


def deep_memory(depth):
    """Peak memory of a right-recursive parse `depth` deep, in a child process."""
    code = f"""
def peak():  # this process's own high-water mark (ru_maxrss counts the parent's too)
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
from vexlor import _core_rs as c
g = c.Grammar(["X"]); g.add_production("L", ["X", "L"]); g.add_production("L", ["X"]); g.set_start("L")
e = c.LRParserEngine.from_table(g.build_table(), ["S'", "L", "L"], [1, 2, 1], [False] * 3)
tok = c.Token("X", 1)
def stream():
    for _ in range({depth}):
        yield tok
before = peak()
assert e.parse(stream(), None) == 1
after = peak()
print((after - before) * 1024)
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return int(out.stdout.strip())


def measure(sizes, repeat, depth, say=print):
    """Runs every case, each `repeat` times (a number, or a function of the
    size in MB) for the best figure; returns {"sizes": {mb: {"tokens", "reductions", "ns_per_token": {label: [gc running,
    gc paused]}}}, "deep": {"depth", "peak_bytes"}} and reports as it goes through `say`."""
    table, names, lens = build_grammar()
    n = len(names)
    action, goto = table.action, table.goto
    engines = {
        "value_funcs": _core_rs.LRParserEngine.from_table(table, names, lens, [False] * n, [False] + [True] * (n - 1)),
        "reduce_cb": _core_rs.LRParserEngine.from_table(table, names, lens, [False] + [True] * (n - 1)),
        "default": _core_rs.LRParserEngine.from_table(table, names, lens, [False] * n),
    }
    funcs = [tup] * n
    actions = [view_action(k) for k in lens]
    proxy_context = ([Production(a) for a in actions], ProxyView, invoke, None, None)
    proxy_only = (proxy_context[0], ProxyView, invoke_nothing, None, None)
    say(f"grammar: {n} productions, {table.num_states} states, {len(table.sr_conflicts)} shift/reduce conflicts")
    lx = native_lexer()

    repeat_for = repeat if callable(repeat) else lambda mb: repeat
    results = {}
    report = {"sizes": {}}
    for mb in sizes:
        text = make_source(mb, non_ascii=False)
        tokens = lx.tokenize(text)
        count = len(tokens)
        expected = python_parse(python_tokens(text), action, goto, names, lens, funcs)
        assert engines["value_funcs"].parse(tokens, None, value_funcs=funcs) == expected, "the two parsers disagree"
        calls = arities(engines["value_funcs"], tokens, n)
        symbols = {k: [_core_rs.ParsedSymbol("x", i) for i in range(k + 1)] for k in set(lens)}
        view_calls = [(actions[p], symbols[lens[p]], None) for p in production_sequence(engines["value_funcs"], tokens, n)]
        expected = python_parse(tokens, action, goto, names, lens, actions, views=True)
        assert engines["reduce_cb"].parse(tokens, None, proxy_context=proxy_context) == expected, "proxy differs"
        assert engines["reduce_cb"].parse(tokens, reduce_view(actions), prepared_slice=True) == expected

        def lexed_cursor():
            lx.input(text)
            return engines["value_funcs"].parse(_core_rs.TokenCursor(iter(lx.token, None)), None, value_funcs=funcs)

        def lexed_iter():
            lx.input(text)
            return engines["value_funcs"].parse(iter(lx.token, None), None, value_funcs=funcs)

        def pull_only():
            lx.input(text)
            return list(iter(lx.token, None))

        cases = [
            ("parse, value_funcs", lambda: engines["value_funcs"].parse(tokens, None, value_funcs=funcs)),
            ("parse, reduce_cb", lambda: engines["reduce_cb"].parse(tokens, reduce_tuple)),
            ("parse, default", lambda: engines["default"].parse(tokens, None)),
            ("python LR loop", lambda: python_parse(tokens, action, goto, names, lens, funcs)),
            ("floor (starmap)", lambda: collections.deque(itertools.starmap(tup, calls), maxlen=0)),
            ("views, native proxy", lambda: engines["reduce_cb"].parse(tokens, None, proxy_context=proxy_context)),
            ("views, reduce_cb", lambda: engines["reduce_cb"].parse(tokens, reduce_view(actions), prepared_slice=True)),
            ("views, python loop", lambda: python_parse(tokens, action, goto, names, lens, actions, views=True)),
            ("proxy, no action", lambda: engines["reduce_cb"].parse(tokens, None, proxy_context=proxy_only)),
            ("views floor (starmap)", lambda: collections.deque(itertools.starmap(invoke_on_new_view, view_calls),
                                                                maxlen=0)),
            ("lex+parse, cursor", lexed_cursor),
            ("lex+parse, iter", lexed_iter),
            ("python lex+parse", lambda: python_parse(python_tokens(text), action, goto, names, lens, funcs)),
            ("tokenize", lambda: lx.tokenize(text)),
            ("iter(lexer.token)", pull_only),
        ]
        say(f"\n{mb:g} MB: {count} tokens, {len(calls)} reductions")
        say(f"{'':<22}{'ns/token':>10}{'no gc':>10}")
        report["sizes"][mb] = {"tokens": count, "reductions": len(calls), "ns_per_token": {}}
        for label, fn in cases:
            t = best_time(fn, repeat_for(mb))
            t_nogc = best_time(fn, repeat_for(mb), collector=False)
            results[(mb, label)] = (t / count * 1e9, t_nogc / count * 1e9)
            report["sizes"][mb]["ns_per_token"][label] = list(results[(mb, label)])
            say(f"{label:<22}{t / count * 1e9:>10.1f}{t_nogc / count * 1e9:>10.1f}")
        del tokens, calls, view_calls

        r = {label: results[(mb, label)] for label, _ in cases}
        for i, col in enumerate(("gc running", "gc paused")):
            say(f"  [{col}] parse vs python loop: {r['python LR loop'][i] / r['parse, value_funcs'][i]:.2f}x;"
                  f" parse / floor: {r['parse, value_funcs'][i] / r['floor (starmap)'][i]:.2f};"
                  f" lex+parse vs python: cursor {r['python lex+parse'][i] / r['lex+parse, cursor'][i]:.2f}x,"
                  f" iter {r['python lex+parse'][i] / r['lex+parse, iter'][i]:.2f}x;"
                  f" iter(lexer.token) / tokenize: {r['iter(lexer.token)'][i] / r['tokenize'][i]:.2f}")
            say(f"  [{col}] views: native proxy vs python loop {r['views, python loop'][i] / r['views, native proxy'][i]:.2f}x,"
                  f" vs reduce_cb {r['views, reduce_cb'][i] / r['views, native proxy'][i]:.2f}x;"
                  f" native proxy / floor: {r['views, native proxy'][i] / r['views floor (starmap)'][i]:.2f}"
                  f" (floor {r['views floor (starmap)'][i] * count / report['sizes'][mb]['reductions']:.0f} ns per reduction)")

    sizes = sorted({mb for mb, _ in results})
    if len(sizes) > 1:
        lo, hi = sizes[0], sizes[-1]
        for label in ("parse, value_funcs", "lex+parse, cursor"):
            a, b = results[(lo, label)], results[(hi, label)]
            # per-token figures: the total grows by (hi/lo) times this ratio
            say(f"{label}: {hi:g} MB costs {b[0] / a[0] * hi / lo:.2f}x {lo:g} MB "
                f"({b[1] / a[1] * hi / lo:.2f}x with the collector paused)")

    if depth:
        peak = deep_memory(depth)
        report["deep"] = {"depth": depth, "peak_bytes": peak}
        say(f"\nright recursion {depth} deep: peak {peak / 2**20:.1f} MiB, {peak / depth:.0f} bytes per entry")
    return report


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="1,10", help="input sizes in MB")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--depth", type=int, default=1_000_000)
    args = ap.parse_args()
    measure([float(s) for s in args.sizes.split(",")], args.repeat, args.depth)


if __name__ == "__main__":
    main()
