"""A first look at vexlor's native core: a small calculator language, lexed
by LexerEngine, its LALR(1) table built by Grammar, and parsed by
LRParserEngine with value functions, all inside the module."""

import operator

from vexlor import _core_rs

SOURCE = """\
rate = 3 / 2;
price = 40;
total = price * (1 + rate) - 3;   # a comment
total / 2;
-total + 2 * 3;
"""

# Productions in the order they are added; production 0 is the augmented start.
RULES = [
    ("program", ["program", "stmt"]),
    ("program", ["stmt"]),
    ("stmt", ["NAME", "'='", "expr", "';'"]),
    ("stmt", ["expr", "';'"]),
    ("expr", ["expr", "'+'", "expr"]),
    ("expr", ["expr", "'-'", "expr"]),
    ("expr", ["expr", "'*'", "expr"]),
    ("expr", ["expr", "'/'", "expr"]),
    ("expr", ["'-'", "expr"]),
    ("expr", ["'('", "expr", "')'"]),
    ("expr", ["NUMBER"]),
    ("expr", ["NAME"]),
]


def make_lexer():
    lexer = _core_rs.LexerEngine()
    lexer.add_rule("INITIAL", "NUMBER", r"[0-9]+(?:\.[0-9]+)?")
    lexer.add_rule("INITIAL", "NAME", r"[A-Za-z_][A-Za-z0-9_]*")
    lexer.add_rule("INITIAL", "COMMENT", r"#[^\n]*", func=lambda tok: None)
    lexer.set_ignore("INITIAL", " \t\n")
    lexer.set_literals("+-*/()=;")
    return lexer


def make_grammar():
    g = _core_rs.Grammar(["NUMBER", "NAME"])
    g.set_precedence([("left", ["'+'", "'-'"]), ("left", ["'*'", "'/'"]), ("right", ["UMINUS"])])
    for name, syms in RULES:
        if syms[0] == "'-'" and len(syms) == 2:
            g.add_production(name, syms, precedence="UMINUS")
        else:
            g.add_production(name, syms)
    g.set_start("program")
    return g


def make_engine(table, env, results):
    def assign(name, eq, value, semi):
        env[name] = value
        results.append(f"{name} = {value:g}")

    def show(value, semi):
        results.append(f"{value:g}")

    binary = lambda op: lambda a, sym, b: op(a, b)  # noqa: E731
    funcs = [
        None,
        None, None,                       # program: nothing to compute
        assign, show,                     # statements
        binary(operator.add), binary(operator.sub), binary(operator.mul), binary(operator.truediv),
        lambda minus, a: -a,
        lambda lp, a, rp: a,
        float,
        lambda name: env[name],
    ]
    names = ["S'"] + [name for name, _ in RULES]
    lens = [1] + [len(syms) for _, syms in RULES]
    values = [f is not None for f in funcs]
    engine = _core_rs.LRParserEngine.from_table(table, names, lens, [False] * len(names), values)
    return engine, funcs


def main():
    print(f"vexlor._core_rs {_core_rs.version()}")
    lexer = make_lexer()
    lexer.input(SOURCE)
    print("tokens of the first line:")
    for tok in lexer.tokenize(SOURCE.splitlines()[0]):
        print(f"  line {tok.lineno:>2}  {tok.type:<7} {tok.value!r:<6} [{tok.lexpos}:{tok.end}]")

    table = make_grammar().build_table()
    print(f"LALR(1) table: {table.num_states} states, "
          f"{len(table.sr_conflicts)} shift/reduce conflicts settled by precedence")

    env, results = {}, []
    engine, funcs = make_engine(table, env, results)
    lexer.input(SOURCE)
    engine.parse(_core_rs.TokenCursor(iter(lexer.token, None)), None, value_funcs=funcs)
    print("the program evaluates to:")
    for line in results:
        print(f"  {line}")

    lexer.input("total = (1 + ;")
    try:
        engine.parse(iter(lexer.token, None), None, value_funcs=funcs)
    except SyntaxError as exc:
        print(f"a malformed line: SyntaxError: {exc}")


if __name__ == "__main__":
    main()
