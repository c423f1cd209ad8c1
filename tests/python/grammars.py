"""Small grammars for the parser tests, built through Grammar and LRTable."""

from dataclasses import dataclass, field


@dataclass
class Built:
    table: object
    names: list
    lens: list
    rules: list = field(default_factory=list)  # (name, symbols) in final numbering

    def engine(self, core, custom=None, values=None):
        custom = [False] * len(self.names) if custom is None else custom
        return core.LRParserEngine.from_table(self.table, self.names, self.lens, custom, values)


def build(core, terminals, rules, start, precedence=None):
    """`rules` is a list of (name, [symbols]); production p of the result is rules[p - 1]."""
    g = core.Grammar(terminals)
    if precedence:
        g.set_precedence(precedence)
    for name, syms in rules:
        g.add_production(name, syms)
    g.set_start(start)
    all_rules = [("S'", [start])] + list(rules)
    return Built(g.build_table(), [n for n, _ in all_rules], [len(s) for _, s in all_rules], all_rules)


def calculator(core):
    """expr over NUMBER with + - * / and parentheses; productions 1-4 are the operators."""
    rules = [("expr", ["expr", f"'{op}'", "expr"]) for op in "+-*/"]
    rules += [("expr", ["'('", "expr", "')'"]), ("expr", ["NUMBER"])]
    prec = [("left", ["'+'", "'-'"]), ("left", ["'*'", "'/'"])]
    return build(core, ["NUMBER"], rules, "expr", prec)


def statements(core):
    """A list of `NAME = NUMBER ;` statements that resynchronises on ';' after an error,
    and a parenthesised expression that resynchronises on ')'."""
    rules = [
        ("stmts", ["stmts", "stmt"]),             # 1
        ("stmts", ["stmt"]),                      # 2
        ("stmt", ["NAME", "'='", "expr", "';'"]),  # 3
        ("stmt", ["error", "';'"]),                # 4
        ("expr", ["NUMBER"]),                     # 5
        ("expr", ["'('", "expr", "')'"]),          # 6
        ("expr", ["'('", "error", "')'"]),         # 7
    ]
    return build(core, ["NAME", "NUMBER"], rules, "stmts")


class Tok:
    """A plain token object read through its attributes."""

    def __init__(self, type, value=None, lineno=1, lexpos=0):
        self.type, self.value, self.lineno, self.lexpos = type, value if value is not None else type, lineno, lexpos

    def __repr__(self):
        return f"Tok({self.type!r}, {self.value!r})"


def toks(text):
    """Tokens of a whitespace-separated text: numbers are NUMBER, names NAME, the rest literals."""
    out = []
    for i, word in enumerate(text.split()):
        if word.isdigit():
            out.append(Tok("NUMBER", int(word), lexpos=i))
        elif word.isidentifier():
            out.append(Tok("NAME", word, lexpos=i))
        else:
            out.append(Tok(word, word, lexpos=i))
    return out
