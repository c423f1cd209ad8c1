"""A first look at vexlor's native core: lex a small program and build the
LALR(1) table of an expression grammar."""

from vexlor import _core_rs

SOURCE = """\
total = price * (1 + rate) - 3
answer = total / 2
"""


def make_lexer():
    lexer = _core_rs.LexerEngine()
    lexer.add_rule("INITIAL", "NUMBER", r"[0-9]+(?:\.[0-9]+)?")
    lexer.add_rule("INITIAL", "NAME", r"[A-Za-z_][A-Za-z0-9_]*")
    lexer.add_rule("INITIAL", "COMMENT", r"#[^\n]*", func=lambda tok: None)
    lexer.set_ignore("INITIAL", " \t\n")
    lexer.set_literals("+-*/()=")
    return lexer


def make_grammar():
    g = _core_rs.Grammar(["NUMBER", "NAME"])
    g.set_precedence([("left", ["'+'", "'-'"]), ("left", ["'*'", "'/'"])])
    g.add_production("stmt", ["NAME", "'='", "expr"], 1)
    for op in "+-*/":
        g.add_production("expr", ["expr", f"'{op}'", "expr"], 2)
    g.add_production("expr", ["'('", "expr", "')'"], 3)
    g.add_production("expr", ["NUMBER"], 4)
    g.add_production("expr", ["NAME"], 5)
    g.set_start("stmt")
    return g


def main():
    print(f"vexlor._core_rs {_core_rs.version()}")
    lexer = make_lexer()
    print("matchers:", lexer.matcher_kinds["INITIAL"])
    for tok in lexer.tokenize(SOURCE):
        print(f"  line {tok.lineno:>2}  {tok.type:<7} {tok.value!r:<10} [{tok.lexpos}:{tok.end}]")

    table = make_grammar().build_table()
    print(f"LALR(1) table: {table.num_states} states, "
          f"{len(table.sr_conflicts)} shift/reduce conflicts settled by precedence")
    for state, token, resolution in table.sr_conflicts[:4]:
        print(f"  state {state:>2} on {token}: {resolution}")


if __name__ == "__main__":
    main()
