"""A first look at vexlor's native core: the whole road inside the module.

A small calculator language is lexed by LexerEngine (string literals in a
lexer state of their own, literal characters, keywords through a rule
function), its LALR(1) table is built by Grammar (operator precedence, an
`error` production that resynchronises on ';'), and LRParserEngine parses it
with actions written against a production view `p`, run through the native
proxy: p[0] is the result, p[1]... the right-hand side.
"""

from vexlor import _core_rs

PROGRAM = """\
# prices and a discount
let price = 40;
let rate = 3 / 2;
let total = price * (1 + rate) - 3;
print "total:", total;
print "half of \\"total\\":", total / 2, -total + 2 * 3;
"""

BROKEN = """\
let a = 6 * 7;
let b = a + * 2;
print "a is still", a;
"""

KEYWORDS = {"let": "LET", "print": "PRINT"}


# --- the lexer ----------------------------------------------------------------------


def make_lexer():
    lexer = _core_rs.LexerEngine()
    lexer.callback_owner = lexer  # rule functions reach the lexer as tok.lexer
    text, start = [], [0]

    def name(tok):
        tok.type = KEYWORDS.get(tok.value, "NAME")
        return tok

    def number(tok):
        tok.value = float(tok.value)
        return tok

    def open_string(tok):
        text.clear()
        start[0] = tok.lexpos
        tok.lexer.push_state("string")
        return None

    def piece(tok):
        text.append(tok.value)
        return None

    def escape(tok):
        text.append({"n": "\n", "t": "\t"}.get(tok.value[1], tok.value[1]))
        return None

    def close_string(tok):
        tok.lexer.pop_state()
        tok.type, tok.value, tok.lexpos = "STRING", "".join(text), start[0]
        return tok

    lexer.add_state("string", "exclusive")
    lexer.add_rule("INITIAL", "NUMBER", r"[0-9]+(?:\.[0-9]+)?", number)
    lexer.add_rule("INITIAL", "NAME", r"[A-Za-z_][A-Za-z0-9_]*", name)
    lexer.add_rule("INITIAL", "COMMENT", r"#[^\n]*", lambda tok: None)
    lexer.add_rule("INITIAL", "QUOTE", r'"', open_string)
    lexer.add_rule("string", "TEXT", r'[^"\\]+', piece)
    lexer.add_rule("string", "ESCAPE", r"\\.", escape)
    lexer.add_rule("string", "QUOTE", r'"', close_string)
    lexer.set_ignore("INITIAL", " \t\n")
    lexer.set_literals("+-*/()=;,")
    return lexer


# --- the grammar and its actions ------------------------------------------------------


class Production:
    """What the parse needs to know of a production: its action and how to call it."""

    def __init__(self, func):
        self.func, self.action_style, self.namemap = func, "view", None


class View(_core_rs._ProductionView):
    """The `p` of an action."""


def invoke(func, view, data):
    return func(view)


def make_parser():
    env, out, errors = {}, [], []

    def binary(p):
        a, op, b = p[1], p[2], p[3]
        p[0] = {"+": a + b, "-": a - b, "*": a * b, "/": a / b}[op]

    def let(p):
        env[p[2]] = p[4]

    def print_(p):
        out.append(" ".join(f"{v:g}" if isinstance(v, float) else v for v in p[2]))

    def recovered(p):
        out.append("(a statement was skipped)")

    def name(p):
        p[0] = env.get(p[1], float("nan"))

    rules = [
        ("program", ["program", "stmt"], None),
        ("program", ["stmt"], None),
        ("stmt", ["LET", "NAME", "'='", "expr", "';'"], let),
        ("stmt", ["PRINT", "args", "';'"], print_),
        ("stmt", ["error", "';'"], recovered),
        ("args", ["args", "','", "arg"], lambda p: p.__setitem__(0, p[1] + [p[3]])),
        ("args", ["arg"], lambda p: p.__setitem__(0, [p[1]])),
        ("arg", ["expr"], None),
        ("arg", ["STRING"], None),
        *[("expr", ["expr", f"'{op}'", "expr"], binary) for op in "+-*/"],
        ("expr", ["'-'", "expr"], lambda p: p.__setitem__(0, -p[2])),
        ("expr", ["'('", "expr", "')'"], lambda p: p.__setitem__(0, p[2])),
        ("expr", ["NUMBER"], None),
        ("expr", ["NAME"], name),
    ]
    g = _core_rs.Grammar(["NUMBER", "NAME", "STRING", "LET", "PRINT"])
    g.set_precedence([("left", ["'+'", "'-'"]), ("left", ["'*'", "'/'"]), ("right", ["UMINUS"])])
    for rule_name, syms, _ in rules:
        g.add_production(rule_name, syms, precedence="UMINUS" if syms[0] == "'-'" and len(syms) == 2 else None)
    g.set_start("program")
    table = g.build_table()

    names = ["S'"] + [n for n, _, _ in rules]
    lens = [1] + [len(s) for _, s, _ in rules]
    productions = [Production(None)] + [Production(f) for _, _, f in rules]
    engine = _core_rs.LRParserEngine.from_table(table, names, lens, [False] + [f is not None for _, _, f in rules])

    def error_cb(tok):
        errors.append(f"syntax error on line {tok.lineno} at {tok.value!r}")
        return None  # let the `error` production resynchronise

    def run(lexer, source):
        env.clear(), out.clear(), errors.clear()
        lexer.input(source)
        engine.parse(iter(lexer.token, None), None, error_cb,
                     proxy_context=(productions, View, invoke, lexer, engine))
        return list(out), list(errors)

    return table, run


def main():
    print(f"vexlor._core_rs {_core_rs.version()}")
    lexer = make_lexer()
    print("tokens of a line with a string:")
    for tok in lexer.tokenize('print "a \\"b\\"", 2;'):
        print(f"  line {tok.lineno}  {tok.type:<7} {tok.value!r:<10} [{tok.lexpos}:{tok.end}]")

    table, run = make_parser()
    print(f"LALR(1) table: {table.num_states} states, "
          f"{len(table.sr_conflicts)} shift/reduce conflicts settled by precedence")

    out, errors = run(lexer, PROGRAM)
    print("the program prints:")
    for line in out:
        print(f"  {line}")

    out, errors = run(lexer, BROKEN)
    print("a program with a syntax error:")
    for line in errors:
        print(f"  {line}")
    for line in out:
        print(f"  {line}")


if __name__ == "__main__":
    main()
