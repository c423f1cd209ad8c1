"""Small inputs: what one call costs when the input is short, where the fixed
costs of a call weigh most.

The grammar and the lexer are the README's calculator (a NUMBER rule that
converts its text to int, " " ignored, the literals "+*()", '+' then '*' left
associative). Figures, in µs per call, best of several timeit repeats with the
collector paused (timeit's default) and, beside it, with the collector running:

- parse of a pre-lexed token list with the value functions: "2" (1 token),
  "2 * (3 + 4)" (7 tokens) and a 99-token expression, against the plain-Python
  LR loop of bench_parse over the same LRTable.action and goto dictionaries
  with the same value functions;
- parse of the 1-token input with default reductions only, against the same
  loop with no value functions: the fixed cost of a call to parse;
- lexer.input(s) then list(iter(lexer.token, None)) against
  lexer.tokenize(s), for "2" and for the 11 characters "2 * (3 + 4)".

    python bench/bench_small.py [--repeat 7]
"""

import argparse
import gc
import os
import sys
import timeit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from bench_parse import python_parse  # noqa: E402

from vexlor import _core_rs  # noqa: E402

ONE = "2"
SEVEN = "2 * (3 + 4)"
# Ten groups of 9 tokens joined by 9 operators: 99 tokens.
NINETY_NINE = " * ".join(" + ".join(f"{i} + {i + 1} * ({i + 2} + {i + 3})" for i in range(j, j + 2))
                         for j in range(0, 20, 4))


def calculator_lexer():
    lexer = _core_rs.LexerEngine()
    lexer.add_rule("INITIAL", "NUMBER", r"[0-9]+", lambda t: (setattr(t, "value", int(t.value)), t)[1])
    lexer.set_ignore("INITIAL", " ")
    lexer.set_literals("+*()")
    return lexer


class Calculator:
    """The calculator's table, its engines and its value functions."""

    def __init__(self):
        g = _core_rs.Grammar(["NUMBER"])
        g.set_precedence([("left", ["'+'"]), ("left", ["'*'"])])
        for rhs in (["expr", "'+'", "expr"], ["expr", "'*'", "expr"], ["'('", "expr", "')'"], ["NUMBER"]):
            g.add_production("expr", rhs)
        g.set_start("expr")
        self.table = g.build_table()
        self.action, self.goto = self.table.action, self.table.goto
        self.names, self.lens = ["S'", "expr", "expr", "expr", "expr"], [1, 3, 3, 3, 1]
        self.funcs = [None, lambda a, _, b: a + b, lambda a, _, b: a * b, lambda _, e, __: e, None]
        self.no_funcs = [None] * 5
        self.engine = _core_rs.LRParserEngine.from_table(
            self.table, self.names, self.lens, [False] * 5, [f is not None for f in self.funcs])
        self.default_engine = _core_rs.LRParserEngine.from_table(self.table, self.names, self.lens, [False] * 5)

    def parse(self, tokens):
        return self.engine.parse(tokens, None, value_funcs=self.funcs)

    def python_parse(self, tokens, funcs=None):
        return python_parse(tokens, self.action, self.goto, self.names, self.lens,
                            self.funcs if funcs is None else funcs)


def plural(n, word):
    return f"{n} {word}" if n == 1 else f"{n} {word}s"


def micro(fn, repeat):
    """µs per call of fn: the best of `repeat` timeit runs, each of as many
    calls as take about 0.2 s, with the collector paused; then the same with
    the collector running. Returns [running, paused]."""
    paused_timer = timeit.Timer(fn)
    number, _ = paused_timer.autorange()
    paused = min(paused_timer.repeat(repeat, number)) / number
    running = min(timeit.Timer(fn, setup=gc.enable).repeat(repeat, number)) / number
    return [running * 1e6, paused * 1e6]


def measure(repeat, say=print):
    """Runs every case; returns {case: {"vexlor": [running, paused], "python": [...], "tokens" or "chars": n}}
    with µs per call, and reports as it goes through `say`."""
    calc = Calculator()
    lexer = calculator_lexer()
    out = {}

    say(f"{'small inputs, µs per call':<44}{'vexlor':>10}{'baseline':>10}{'ratio':>8}   (collector paused;"
        " ratio = baseline / vexlor)")

    def row(key, ours, theirs, size):
        out[key] = {**size, "vexlor": micro(ours, repeat), "baseline": micro(theirs, repeat)}
        o, t = out[key]["vexlor"][1], out[key]["baseline"][1]
        say(f"{key:<44}{o:>10.2f}{t:>10.2f}{t / o:>7.2f}x")

    for text in (ONE, SEVEN, NINETY_NINE):
        tokens = lexer.tokenize(text)
        assert calc.parse(tokens) == calc.python_parse(tokens) == eval(text), "the two parsers disagree"
        row(f"parse, value functions, {plural(len(tokens), 'token')}", lambda: calc.parse(tokens),
            lambda: calc.python_parse(tokens), {"tokens": len(tokens)})

    tokens = lexer.tokenize(ONE)
    assert calc.default_engine.parse(tokens, None) == calc.python_parse(tokens, calc.no_funcs) == 2
    row("parse, default reductions, 1 token", lambda: calc.default_engine.parse(tokens, None),
        lambda: calc.python_parse(tokens, calc.no_funcs), {"tokens": 1})

    for text in (ONE, SEVEN):
        def pull():
            lexer.input(text)
            return list(iter(lexer.token, None))

        assert [(t.type, t.value) for t in pull()] == [(t.type, t.value) for t in lexer.tokenize(text)]
        row(f"input + iter(lexer.token), {plural(len(text), 'character')}", pull, lambda: lexer.tokenize(text),
            {"chars": len(text)})
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=7)
    args = ap.parse_args()
    measure(args.repeat)


if __name__ == "__main__":
    main()
