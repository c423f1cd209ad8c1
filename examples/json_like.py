"""Parse a JSON-like data file and print its value.

    python examples/json_like.py FILE

The language is JSON with two conveniences: `#` comments to the end of a
line, and a trailing comma allowed in objects and arrays. A malformed file
gives one clear line naming the file, the line and the column.
"""

import json
import sys

from vexlor import _core_rs
from vexlor.core.lexer_engine import LexError

# (name, symbols, value function); production 0 is the augmented start.
RULES = [
    ("value", ["object"], None),
    ("value", ["array"], None),
    ("value", ["STRING"], None),
    ("value", ["NUMBER"], None),
    ("value", ["TRUE"], None),
    ("value", ["FALSE"], None),
    ("value", ["NULL"], None),  # a value function returning None would keep the token's text
    ("object", ["'{'", "'}'"], lambda lb, rb: {}),
    ("object", ["'{'", "members", "'}'"], lambda lb, m, rb: dict(m)),
    ("object", ["'{'", "members", "','", "'}'"], lambda lb, m, c, rb: dict(m)),
    ("members", ["pair"], lambda p: [p]),
    ("members", ["members", "','", "pair"], lambda m, c, p: m + [p]),
    ("pair", ["STRING", "':'", "value"], lambda k, c, v: (k, v)),
    ("array", ["'['", "']'"], lambda lb, rb: []),
    ("array", ["'['", "elements", "']'"], lambda lb, e, rb: e),
    ("array", ["'['", "elements", "','", "']'"], lambda lb, e, c, rb: e),
    ("elements", ["value"], lambda v: [v]),
    ("elements", ["elements", "','", "value"], lambda e, c, v: e + [v]),
]


class DataError(Exception):
    """A malformed file, with the line and column of the fault."""

    def __init__(self, message, text, pos):
        line = text.count("\n", 0, pos) + 1
        column = pos - (text.rfind("\n", 0, pos) + 1) + 1
        super().__init__(f"line {line}, column {column}: {message}")


def _string(tok):
    tok.value = json.loads(tok.value)
    return tok


def _number(tok):
    text = tok.value
    tok.value = float(text) if any(c in text for c in ".eE") else int(text)
    return tok


def _constant(value):
    def convert(tok):
        tok.value = value
        return tok
    return convert


def make_lexer():
    lexer = _core_rs.LexerEngine()
    lexer.add_rule("INITIAL", "STRING", r'"(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*"', _string)
    lexer.add_rule("INITIAL", "NUMBER", r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?", _number)
    lexer.add_rule("INITIAL", "TRUE", r"true", _constant(True))
    lexer.add_rule("INITIAL", "FALSE", r"false", _constant(False))
    lexer.add_rule("INITIAL", "NULL", r"null", _constant(None))
    lexer.add_rule("INITIAL", "COMMENT", r"#[^\n]*", lambda tok: None)
    lexer.set_ignore("INITIAL", " \t\r\n")
    lexer.set_literals("{}[],:")
    return lexer


def make_engine():
    g = _core_rs.Grammar(["STRING", "NUMBER", "TRUE", "FALSE", "NULL"])
    for name, syms, _ in RULES:
        g.add_production(name, syms)
    g.set_start("value")
    table = g.build_table()
    names = ["S'"] + [name for name, _, _ in RULES]
    lens = [1] + [len(syms) for _, syms, _ in RULES]
    funcs = [None] + [fn for _, _, fn in RULES]
    engine = _core_rs.LRParserEngine.from_table(table, names, lens, [False] * len(names),
                                                [fn is not None for fn in funcs])
    return engine, funcs


def load(text, lexer=None, engine=None):
    """The value of a JSON-like text; DataError for a malformed one."""
    lexer = lexer or make_lexer()
    engine, funcs = engine or make_engine()

    def syntax_error(tok):
        if tok.type == "$end":
            raise DataError("the text ends too early", text, len(text))
        raise DataError(f"unexpected {tok.value!r}", text, tok.lexpos)

    lexer.input(text)
    try:
        return engine.parse(iter(lexer.token, None), None, syntax_error, value_funcs=funcs)
    except LexError as exc:
        raise DataError(f"unexpected character {text[exc.pos]!r}", text, exc.pos) from None


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    path = argv[1]
    with open(path, encoding="utf-8") as f:
        text = f.read()
    try:
        value = load(text)
    except DataError as exc:
        print(f"{path}: {exc}", file=sys.stderr)
        return 1
    print(json.dumps(value, indent=2, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
