"""Lexer benchmark: LexerEngine.tokenize against a plain-Python lexer.

Both lex the same C-like token set (keywords through a rule function on
identifiers, numbers, strings and characters with escapes, comments dropped
by rule functions, two-character operators, literal characters, an ignore
set) over generated source of about 1 MB and 10 MB, ASCII and not, and the
script prints ns/token for each and their ratio. Both must produce the same
token stream.

It then shows how the cost per token grows with the number of rules: words
lexed through one rule per keyword (`word\\b`, as SQL-like lexers write
them) and one identifier rule, for 10 and for 400 keywords, with and without
re.IGNORECASE.

Last comes real text: every UTF-8 `.py` file of the interpreter's standard
library, each lexed on its own with a Python-like rule set without rule
functions (comments, newlines, strings, numbers with \\d, identifiers with
[^\\W\\d]\\w*, operators, a catch-all), once with the string rule written with
a look-ahead, as users write it, and once without; against the same rules as
one plain-Python master regex, the tokens compared.

    python bench/bench_lexer.py [--sizes 1,10] [--repeat 3] [--files N]
"""

import argparse
import gc
import os
import random
import re
import sysconfig
import time

from vexlor import _core_rs

KEYWORDS = {k: k.upper() for k in (
    "if", "else", "while", "for", "do", "return", "break", "continue", "int", "char", "float", "double",
    "void", "struct", "enum", "const", "static", "sizeof", "switch", "case", "default", "typedef")}

# (name, pattern, function kind) in rule order; the first match wins.
RULES = [
    ("COMMENT", r"//[^\n]*", "drop"),
    ("BLOCK_COMMENT", r"/\*[^*]*\*+(?:[^/*][^*]*\*+)*/", "drop"),
    ("FLOAT", r"[0-9]+\.[0-9]*(?:[eE][+-]?[0-9]+)?", None),
    ("HEX", r"0[xX][0-9a-fA-F]+", None),
    ("INT", r"[0-9]+", None),
    ("STRING", r'"(?:[^"\\\n]|\\.)*"', None),
    ("CHAR", r"'(?:[^'\\\n]|\\.)'", None),
    ("ID", r"[A-Za-z_][A-Za-z0-9_]*", "keyword"),
    ("ARROW", r"->", None),
    ("INC", r"\+\+|--", None),
    ("SHIFT", r"<<|>>", None),
    ("CMP", r"==|!=|<=|>=", None),
    ("LOGIC", r"&&|\|\|", None),
    ("ASSIGN_OP", r"[-+*/%&|^]=", None),
    ("ELLIPSIS", r"\.\.\.", None),
    ("PREPROC", r"#[a-z]+", None),
]
LITERALS = "+-*/%<>=!&|^~?:;,.(){}[]"
IGNORE = " \t\r\n"


def keyword(tok):
    tok.type = KEYWORDS.get(tok.value, "ID")
    return tok


def drop(tok):
    return None


def native_lexer():
    lx = _core_rs.LexerEngine()
    for name, pattern, fn in RULES:
        func = {"drop": drop, "keyword": keyword}.get(fn)
        lx.add_rule("INITIAL", name, pattern, func=func)
    lx.set_ignore("INITIAL", IGNORE)
    lx.set_literals(LITERALS)
    return lx


class PyToken:
    __slots__ = ("type", "value", "lineno", "lexpos")

    def __init__(self, type, value, lineno, lexpos):
        self.type = type
        self.value = value
        self.lineno = lineno
        self.lexpos = lexpos


def python_tokens(text):
    """The plain-Python lexer: one alternation of named groups and one group
    for the ignored run, `match` at the position, `lastgroup`."""
    master = re.compile("|".join(f"(?P<{n}>{p})" for n, p, _ in RULES) + "|(?P<_IGNORE>[ \t\r\n]+)")
    drops = {n for n, _, fn in RULES if fn == "drop"}
    match = master.match
    pos, line, end = 0, 1, len(text)
    while pos < end:
        m = match(text, pos)
        if m is None:
            ch = text[pos]
            if ch in LITERALS:
                yield PyToken(ch, ch, line, pos)
                pos += 1
                continue
            raise SyntaxError(f"illegal character {ch!r} at {pos}")
        kind = m.lastgroup
        value = m.group()
        if kind == "_IGNORE":
            line += value.count("\n")
        elif kind == "ID":
            yield PyToken(KEYWORDS.get(value, "ID"), value, line, pos)
        elif kind not in drops:
            yield PyToken(kind, value, line, pos)
        pos = m.end()


def make_source(megabytes, non_ascii, seed=7):
    rnd = random.Random(seed)
    words = ["alpha", "beta", "count", "index", "node", "buffer", "total", "value", "next", "prev"]
    texts = ["hello", "line\\n", "tab\\t", "quote \\\"x\\\""]
    comments = ["compute the next value", "TODO: check bounds", "fast path"]
    if non_ascii:
        texts += ["caf\u00e9", "\u65e5\u672c\u8a9e", "na\u00efve \u20ac5", "\U0001F600 ok"]
        comments += ["r\u00e9sum\u00e9 of the loop", "\u6ce8\u91c8", "gr\u00fc\u00dfe"]

    def stmt():
        a, b = rnd.choice(words), rnd.choice(words)
        c = rnd.choice([str(rnd.randint(0, 9999)), f"{rnd.random() * 100:.3f}", hex(rnd.randint(0, 65535)), b])
        return rnd.choice([
            f"    {a} = {b} + {c} * ({a} - 1);\n",
            f"    if ({a} >= {c} && {b} != 0) {{ {a}++; }} else {{ {b} -= 2; }}\n",
            f'    printf("{rnd.choice(texts)}", {a}->{b}, \'x\');\n',
            f"    // {rnd.choice(comments)}\n",
            f"    /* {rnd.choice(comments)} */ return {a} << 2;\n",
            f"    for (int i = 0; i < {c}; i++) {{ {a}[i] = {b}[i] >> 1; }}\n",
        ])

    target = megabytes * 1_000_000
    parts, size = [], 0
    while size < target:
        body = "".join(stmt() for _ in range(20))
        chunk = f"static int f{len(parts)}(struct node *{rnd.choice(words)}, ...) {{\n{body}}}\n\n"
        parts.append(chunk)
        size += len(chunk.encode())
    return "".join(parts)


def best_time(fn, repeat, collector=True):
    """Best wall time of `fn`; with collector=False the cyclic garbage
    collector is paused during the call, which shows what the collector's
    passes over the growing set of live tokens cost."""
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        if not collector:
            gc.disable()
        try:
            t0 = time.perf_counter()
            result = fn()
            best = min(best, time.perf_counter() - t0)
        finally:
            gc.enable()
        del result
    return best


def keyword_lexer(keywords, flags):
    lx = _core_rs.LexerEngine()
    for k in keywords:
        lx.add_rule("INITIAL", k.upper(), k + r"\b", flags=flags)
    lx.add_rule("INITIAL", "ID", r"[A-Za-z_][A-Za-z0-9_]*")
    lx.set_ignore("INITIAL", " \n")
    return lx


def keyword_workload(repeat, megabytes=1, say=print):
    """ns/token of words through 10 and 400 keyword rules, with and without
    re.IGNORECASE; returns {flags label: {rule count: [gc running, gc paused]}}."""
    rnd = random.Random(11)
    letters = "abcdefghijklmnopqrstuvwxyz"
    keywords = []
    while len(keywords) < 400:
        word = "".join(rnd.choice(letters) for _ in range(rnd.randint(2, 9)))
        if word not in keywords:
            keywords.append(word)
    names = ["".join(rnd.choice(letters + "_0123456789") for _ in range(rnd.randint(1, 12))) for _ in range(500)]
    names = [n if not n[0].isdigit() else "x" + n for n in names]
    words, size = [], 0
    while size < megabytes * 1_000_000:
        word = rnd.choice(keywords[:10]) if rnd.random() < 0.2 else rnd.choice(names)
        words.append(word)
        size += len(word) + 1
    text = "\n".join(" ".join(words[i:i + 12]) for i in range(0, len(words), 12))
    say(f"{'keyword rules':<22}{'flags':>12}{'tokens':>10}{'ns/tok':>10}{'ns/tok, no gc':>15}")
    figures = {}
    for flags, label in ((0, "0"), (re.IGNORECASE, "IGNORECASE")):
        figures[label] = {}
        for count in (10, 400):
            lx = keyword_lexer(keywords[:count], flags)
            toks = lx.tokenize(text)
            expected = set(keywords[:count])
            assert all((t.type == t.value.upper()) == (t.value in expected) for t in toks)
            n = len(toks)
            del toks
            t_gc = best_time(lambda: lx.tokenize(text), repeat)
            t_nogc = best_time(lambda: lx.tokenize(text), repeat, collector=False)
            figures[label][count] = [t_gc / n * 1e9, t_nogc / n * 1e9]
            say(f"{count:<22}{label:>12}{n:>10}{t_gc / n * 1e9:>10.1f}{t_nogc / n * 1e9:>15.1f}")
        say(f"{'':<22}{label:>12}  400 rules cost {figures[label][400][1] / figures[label][10][1]:.2f}x 10 rules"
            " (collector paused)")
    return figures


# --- Real text: the interpreter's standard library ------------------------------

# A Python-like rule set as a user writes it. The string rule stops at a
# closing triple quote with a look-ahead, which RE2 cannot run, so that rule
# goes through Python's `re`; STRING_PLAIN says the same without it.
STRING_LOOKAHEAD = (r"""[rRbBuUfF]{0,2}(?:'''(?:[^'\\]|\\.|'(?!''))*'''|"""
                    r'''"""(?:[^"\\]|\\.|"(?!""))*"""|'''
                    r"""'(?:[^'\\\n]|\\.)*'|"(?:[^"\\\n]|\\.)*")""")
STRING_PLAIN = (r"""[rRbBuUfF]{0,2}(?:'''(?:[^'\\]|\\.|''?(?:[^'\\]|\\.))*'''|"""
                r'''"""(?:[^"\\]|\\.|""?(?:[^"\\]|\\.))*"""|'''
                r"""'(?:[^'\\\n]|\\.)*'|"(?:[^"\\\n]|\\.)*")""")


def python_like_rules(string_rule):
    """(name, pattern, flags) in rule order."""
    return [
        ("COMMENT", r"#[^\n]*", 0),
        ("NEWLINE", r"\n+", 0),
        ("STRING", string_rule, re.DOTALL),
        ("NUMBER", r"0[xXoObB][0-9a-fA-F_]+|\d[\d_]*(?:\.\d*)?(?:[eE][-+]?\d+)?[jJ]?|\.\d+(?:[eE][-+]?\d+)?[jJ]?", 0),
        ("NAME", r"[^\W\d]\w*", 0),
        ("OP", r"\*\*=?|//=?|->|:=|<<=?|>>=?|\.\.\.|[-+*/%&|^@<>=!]=|[-+*/%&|^~@<>=.,:;()\[\]{}]", 0),
        ("OTHER", r"[^\s]", 0),
    ]


def native_python_like(rules):
    lx = _core_rs.LexerEngine()
    for name, pattern, flags in rules:
        lx.add_rule("INITIAL", name, pattern, flags=flags)
    lx.set_ignore("INITIAL", " \t\r\f")
    return lx


def python_like_lexer(rules):
    """The plain-Python lexer for the same rules: one master regex. Like the
    native rules (which have no functions), it does not count lines."""
    def scoped(pattern, flags):
        return f"(?s:{pattern})" if flags & re.DOTALL else pattern

    master = re.compile("|".join(f"(?P<{n}>{scoped(p, f)})" for n, p, f in rules) + r"|(?P<_IGNORE>[ \t\r\f]+)")
    match = master.match

    def tokens(text):
        out = []
        pos, end = 0, len(text)
        while pos < end:
            m = match(text, pos)
            if m is None:
                raise SyntaxError(f"illegal character {text[pos]!r} at {pos}")
            kind = m.lastgroup
            if kind != "_IGNORE":
                out.append(PyToken(kind, m.group(), 1, pos))
            pos = m.end()
        return out

    return tokens


def stdlib_sources(limit=None):
    """The texts of the interpreter's standard-library modules (UTF-8 ones)."""
    root = sysconfig.get_paths()["stdlib"]
    texts = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in ("site-packages", "__pycache__"))
        for name in sorted(files):
            if name.endswith(".py"):
                try:
                    with open(os.path.join(folder, name), encoding="utf-8") as f:
                        texts.append(f.read())
                except (UnicodeDecodeError, OSError):
                    continue
    return texts[:limit] if limit else texts


def real_text_workload(repeat, limit=None):
    texts = stdlib_sources(limit)
    size = sum(len(t.encode()) for t in texts)
    print(f"standard library of {sysconfig.get_paths()['stdlib']}: {len(texts)} files, {size / 1e6:.1f} MB,"
          f" {sum(not t.isascii() for t in texts)} of them not pure ASCII")
    print(f"{'string rule':<22}{'tokens':>10}{'native ns/tok':>15}{'python ns/tok':>15}{'ratio':>8}"
          f"{'native, no gc':>15}{'python, no gc':>15}{'ratio':>8}")
    for label, string_rule in (("with look-ahead", STRING_LOOKAHEAD), ("without look-ahead", STRING_PLAIN)):
        rules = python_like_rules(string_rule)
        lx = native_python_like(rules)
        py_lex = python_like_lexer(rules)
        count = 0
        for text in texts:
            ntoks = lx.tokenize(text)
            ptoks = py_lex(text)
            assert [(t.type, t.value, t.lineno, t.lexpos) for t in ntoks] == \
                [(t.type, t.value, t.lineno, t.lexpos) for t in ptoks], "the two lexers disagree"
            count += len(ntoks)

        def native():
            for text in texts:
                lx.tokenize(text)

        def python():
            for text in texts:
                py_lex(text)

        times = [best_time(fn, repeat, collector) for collector in (True, False) for fn in (native, python)]
        n, p, n_nogc, p_nogc = (t / count * 1e9 for t in times)
        print(f"{label:<22}{count:>10}{n:>15.1f}{p:>15.1f}{p / n:>7.2f}x{n_nogc:>15.1f}{p_nogc:>15.1f}"
              f"{p_nogc / n_nogc:>7.2f}x")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="1,10", help="input sizes in MB")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--files", type=int, default=None, help="standard-library files to lex (default: all)")
    args = ap.parse_args()
    main_workloads(args)
    keyword_workload(args.repeat)
    real_text_workload(args.repeat, args.files)


def main_workloads(args):
    lx = native_lexer()
    print(f"rules: {len(RULES)}, matcher kinds: {lx.matcher_kinds['INITIAL']}")
    print(f"{'input':<22}{'tokens':>10}{'native ns/tok':>15}{'python ns/tok':>15}{'ratio':>8}"
          f"{'native, no gc':>15}{'python, no gc':>15}{'ratio':>8}")
    per_size = {}
    per_size_nogc = {}
    for non_ascii in (False, True):
        for mb in (int(s) for s in args.sizes.split(",")):
            text = make_source(mb, non_ascii)
            ntoks = lx.tokenize(text)
            ptoks = list(python_tokens(text))
            assert [(t.type, t.value, t.lineno, t.lexpos) for t in ntoks] == \
                [(t.type, t.value, t.lineno, t.lexpos) for t in ptoks], "the two lexers disagree"
            count = len(ntoks)
            del ntoks, ptoks
            native = best_time(lambda: lx.tokenize(text), args.repeat)
            python = best_time(lambda: list(python_tokens(text)), args.repeat)
            native_nogc = best_time(lambda: lx.tokenize(text), args.repeat, collector=False)
            python_nogc = best_time(lambda: list(python_tokens(text)), args.repeat, collector=False)
            label = f"{mb} MB {'non-ASCII' if non_ascii else 'ASCII'}"
            per_size[(non_ascii, mb)] = native
            per_size_nogc[(non_ascii, mb)] = native_nogc
            print(f"{label:<22}{count:>10}{native / count * 1e9:>15.1f}{python / count * 1e9:>15.1f}"
                  f"{python / native:>7.2f}x{native_nogc / count * 1e9:>15.1f}{python_nogc / count * 1e9:>15.1f}"
                  f"{python_nogc / native_nogc:>7.2f}x")

            def pull():
                lx.input(text)
                return list(iter(lx.token, None))

            pulled = best_time(pull, args.repeat)
            pulled_nogc = best_time(pull, args.repeat, collector=False)
            print(f"{'':<4}list(iter(lexer.token, None)): {pulled / count * 1e9:.1f} ns/token, {pulled / native:.2f}x "
                  f"tokenize ({pulled_nogc / count * 1e9:.1f}, {pulled_nogc / native_nogc:.2f}x with the collector paused)")
    sizes = sorted({mb for _, mb in per_size})
    if len(sizes) > 1:
        lo, hi = sizes[0], sizes[-1]
        for non_ascii in (False, True):
            label = "non-ASCII" if non_ascii else "ASCII"
            print(f"{label}: {hi} MB costs {per_size[(non_ascii, hi)] / per_size[(non_ascii, lo)]:.2f}x {lo} MB"
                  f" ({per_size_nogc[(non_ascii, hi)] / per_size_nogc[(non_ascii, lo)]:.2f}x with the collector paused)")


if __name__ == "__main__":
    main()
