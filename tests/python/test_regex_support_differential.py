"""Differential test of the pattern translator: at every position of varied
texts, the RE2 translation of a rule matches exactly what Python's `match`
matches there (on pure-ASCII text only when the rule is ASCII-only), and every
Python match begins with the rule's prefix.

RE2 is reached through the module: each rule is added to a LexerEngine of
its own and matched with `token()` at the position, so the native side is the
very matcher the lexer uses.
"""
import functools
import re
from unittest import mock

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import fuzz_rounds
from vexlor import _core_rs
from vexlor.core import regex_support
from vexlor.core.lexer_engine import LexError
from vexlor.core.regex_support import native_pattern

# --- Native matcher adapter --------------------------------------------------

NOT_NATIVE = object()  # the rule is not matched natively on this text


@functools.lru_cache(maxsize=None)
def _native_rule(pattern, flags):
    """A lexer holding the one rule, and its matcher kind."""
    lexer = _core_rs.LexerEngine()
    lexer.add_rule("INITIAL", "T", pattern, flags=flags)
    return lexer, lexer.matcher_kinds["INITIAL"][0]


def _span_at(lexer, text, pos):
    if lexer.data is not text:
        lexer.input(text)  # installing indexes the whole text: once per text
    lexer.pos = pos
    try:
        tok = lexer.token()
    except LexError as e:
        if "matched an empty string" in str(e):
            return pos, pos
        assert str(e).startswith("Illegal character"), e
        return None
    return tok.lexpos, tok.end


@functools.lru_cache(maxsize=64)
def _has_surrogates(text):
    return any(0xD800 <= ord(ch) <= 0xDFFF for ch in text)


def native_rule_span(pattern, flags, text, pos):
    """The span the rule's native matcher finds at `pos`, None for no match,
    or NOT_NATIVE when the rule is not matched natively on this text (the
    lexer never scans at the end of its input, so that position is left out)."""
    lexer, kind = _native_rule(pattern, flags)
    if kind == "python-re" or (kind == "native-ascii" and not text.isascii()) or pos >= len(text):
        return NOT_NATIVE
    if _has_surrogates(text):
        return NOT_NATIVE  # input with lone surrogates always goes through Python
    return _span_at(lexer, text, pos)


class _NoPython:
    def match(self, text, pos):
        raise AssertionError("the native text was refused")


def raw_re2_span(re2_text, text, pos):
    """The span of an RE2 pattern given as it stands (ASCII text, pos < len(text))."""
    lexer = _core_rs.LexerEngine()
    with mock.patch.object(regex_support, "native_pattern", lambda p, f, c: (re2_text, False, "")):
        lexer.add_rule("INITIAL", "T", re2_text, compiled=_NoPython())
    assert lexer.matcher_kinds["INITIAL"] == ["native"]
    return _span_at(lexer, text, pos)


# --- The check ---------------------------------------------------------------


def check_rule(pattern, flags, texts):
    """Compares at every position; returns the number of native comparisons."""
    compiled = re.compile(pattern, flags)
    prefix = native_pattern(pattern, flags, compiled)[2]
    compared = 0
    for text in texts:
        for pos in range(len(text) + 1):
            m = compiled.match(text, pos)
            expected = m.span() if m else None
            if m:
                assert text.startswith(prefix, pos), (pattern, flags, text, pos, prefix)
            got = native_rule_span(pattern, flags, text, pos)
            if got is NOT_NATIVE:
                continue
            assert got == expected, (pattern, flags, text, pos, native_pattern(pattern, flags, compiled)[0])
            compared += 1
    return compared


A, I, M, S, X = re.ASCII, re.IGNORECASE, re.MULTILINE, re.DOTALL, re.VERBOSE

TEXTS = [
    "",
    "x = foo_bar1 + 0x1F * 3.14e-2; // done\n",
    "if (a <= b && c != d) { return 'z'; }\n/* multi\nline */ else\n",
    'print("a\\"b", r"c\\d", \'\'\'tri\nple\'\'\')  # note\n',
    "SELECT name, COUNT(*) FROM t WHERE id >= 42 -- sql\n",
    "\n\n  \t\r\n#define X 1\n#  include <y.h>\nend",
    "ifelse if_ if1 _if IF If iF ifé if\u00a0x",
    "caf\u00e9 = na\u00efve + \u65e5\u672c\u8a9e; // \u20ac\U0001F600\n",
    "\u212a\u017f\u0130\u0131kKsSiI \u00df\u1e9e \u0663\u0664 \u00b2 \u00aa\u00ba",
    "\x1c\x1d\x1e\x1f\x85\u2028\u2029\u3000\x0b\x0c",
    "a\nb\r\nc\n",
    "aaaa abab ba\u00e9 a_1",
    "{ \"key\": [1, -2.5e+3, true, null], \"s\": \"\\u00e9\\n\" }",
    "echo $HOME && ls -la | grep '^d' > out.txt 2>&1",
]

CORPUS = [
    # identifiers, keywords
    (r"[A-Za-z_][A-Za-z0-9_]*", 0),
    (r"[a-zA-Z_]\w*", 0),
    (r"[a-zA-Z_]\w*", A),
    (r"\w+", 0),
    (r"[^\W\d]\w*", 0),
    (r"if\b", 0),
    (r"if\b", A),
    (r"\b(?:if|else|while|return)\b", 0),
    (r"(?i)select|from|where", 0),
    (r"(?i)select|from|where", A),
    (r"(?i)[a-z_][a-z0-9_]*", 0),
    (r"(?i:kiss)", 0),
    (r"(?i)[^a-z\s]+", 0),
    (r"(?i)[^a-z\s]+", A),
    # numbers
    (r"\d+", 0),
    (r"\d+", A),
    (r"0[xX][0-9a-fA-F]+|\d+", 0),
    (r"(?a)\d+\.\d*(?:[eE][-+]?\d+)?|\.\d+(?:[eE][-+]?\d+)?", 0),
    (r"[0-9]+(?:_[0-9]+)*[lLuU]?", 0),
    (r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?", 0),
    # strings and characters
    (r'"(?:[^"\\\n]|\\.)*"', 0),
    (r"'(?:[^'\\\n]|\\.)*'", 0),
    (r'[rR]?"(?:[^"\\]|\\.)*"', S),
    (r"'''(?:[^\\]|\\.)*?'''", S),
    (r"'''.*?'''", S),
    (r"'(\\.|[^\\'])'", 0),
    # comments
    (r"//[^\n]*", 0),
    (r"//.*", 0),
    (r"\#.*", 0),
    (r"/\*(.|\n)*?\*/", 0),
    (r"/\*[\s\S]*?\*/", 0),
    (r"--[^\r\n]*", 0),
    # operators and punctuation
    (r"\+=|-=|\*\*=?|//=?|->|[-+*/%<>=!&|^~]=?", 0),
    (r"<<=|>>=|<=|>=|==|!=|&&|\|\||[-+*/%<>=!&|^~?:]", 0),
    (r"[(){}\[\];,.]", 0),
    (r"\.\.\.|\.", 0),
    (r"[$@]\w+", 0),
    # layout
    (r"[ \t]+", 0),
    (r"\s+", 0),
    (r"\s+", A),
    (r"\n+", 0),
    (r"\r?\n", 0),
    (r"^[ \t]*\#[^\n]*", M),
    (r"^\w+", 0),
    (r"^\w+", M),
    (r"\A\s*", 0),
    (r"\w+$", M),
    (r"\w*\Z", 0),
    (r"(?m)^$", 0),
    # dots, classes, quantifiers
    (r".", 0),
    (r".+", S),
    (r".*?;", 0),
    (r"[^\n]+", 0),
    (r"[^abc\d]", 0),
    (r"[^abc\d]", A),
    (r"[\u00e9-\u00ff]+|[\u65e5\U0001F600]", 0),
    (r"[-a-c\]\\^]+", 0),
    (r"a{2,3}?b", 0),
    (r"(?:ab){1,2}", 0),
    (r"a{,2}b", 0),
    (r"(?:a|ab)(?:c|bcd)", 0),
    (r"(?P<x>a+)(?:b|c)*?(d)??", 0),
    (r"(?x) [a-z]+ \s* = # assignment", 0),
    ("", 0),
]


@pytest.mark.parametrize("pattern,flags", CORPUS)
def test_token_patterns_agree(pattern, flags):
    assert check_rule(pattern, flags, TEXTS) > 0, "no native comparison was made"


# Patterns the translator refuses because the engines differ on them: the
# same text given to RE2 as it stands matches differently somewhere.
DIVERGENT = [
    (r"(?:(?:|b)a?)*", "ab"),   # empty iterations: Python matches "a", RE2 "ab"
    (r"(?:(?:|b)a?)+b", "abab"),
    (r"\w+$", "c\n"),           # Python's $ also matches before a final line feed
]


@pytest.mark.parametrize("pattern,text", DIVERGENT)
def test_divergent_patterns_are_not_translated(pattern, text):
    assert native_pattern(pattern, 0, re.compile(pattern))[0] is None
    compiled = re.compile(pattern)
    as_is = [raw_re2_span(pattern, text, pos) for pos in range(len(text))]
    python = [m.span() if (m := compiled.match(text, pos)) else None for pos in range(len(text))]
    assert as_is != python


def test_translations_of_the_corpus_are_accepted_by_re2():
    refused = [(p, f) for p, f in CORPUS
               if native_pattern(p, f, re.compile(p, f))[0] is not None and _native_rule(p, f)[1] == "python-re"]
    assert refused == []


# Single-character items over a wide sample of code points: each Unicode
# plane's beginning, Latin-1, the characters with special case folding,
# digits and spaces of other scripts.
_SAMPLE = "".join(
    sorted(
        {chr(c) for c in range(0x00, 0x250)}
        | {chr(c) for c in range(0x250, 0x30000, 97) if not 0xD800 <= c <= 0xDFFF}
        | set("\u0130\u0131\u017f\u212a\u1e9e\u03a3\u03c2\u03c3\u0663\u0966\uff10\u2028\u3000\u00a0\U0001d7ce")
        | {chr(0x10FFFF), chr(0xE000), chr(0xFFFF)}
    )
)

_ASCII_SAMPLE = "".join(map(chr, range(0x80)))

ITEMS = [
    "a", "\u00e9", "[a-f]", "[^a-f]", "[\u00e0-\u00ff]", "[^\u00e0-\u00ff\n]", ".", "[^\n]",
    r"\d", r"\D", r"\w", r"\W", r"\s", r"\S", r"[\w\-]", r"[^\w\s]", r"[\d_]", "[\U0001F600-\U0010FFFF]",
    "k", "[k]", "[^k]", "s", "[i]", "[^i]", "[r-t]", "[^a-z]", "[A-Z0-9]", "[\u212a]", "\u0130", "[+\\-*/]",
]


@pytest.mark.parametrize("flags", [0, A, I, I | A, S, S | I])
@pytest.mark.parametrize("item", ITEMS)
def test_single_items_agree_over_a_unicode_sample(item, flags):
    assert check_rule(item, flags, [_SAMPLE, _ASCII_SAMPLE]) > 0


@functools.lru_cache(maxsize=1)
def _class_boundaries():
    """Every first and last character of a run of \\d, \\w and \\s, and their
    neighbours, where a table that is off by one would show."""
    every = "".join(map(chr, range(0x110000)))
    cps = set()
    for source in (r"\d+", r"\w+", r"\s+"):
        for m in re.finditer(source, every):
            cps.update((m.start() - 1, m.start(), m.end() - 1, m.end()))
    return "".join(chr(c) for c in sorted(cps) if 0 <= c <= 0x10FFFF and not 0xD800 <= c <= 0xDFFF)


@pytest.mark.parametrize("flags", [0, I])
@pytest.mark.parametrize("item", [r"\d", r"\D", r"\w", r"\W", r"\s", r"\S", r"[^\W\d]", r"[\w\s]"])
def test_unicode_classes_agree_at_every_boundary(item, flags):
    text = _class_boundaries()
    assert native_pattern(item, flags, re.compile(item, flags))[1] is False  # valid on every text
    assert check_rule(item, flags, [text]) == len(text)


# Generated patterns: small pieces put together, over texts of a few
# characters chosen to meet them.

_ATOMS = [
    "a", "b", "k", "_", "1", " ", "\\n", "\u00e9", "\u212a", ".", "\\.", "\\-", "[ab]", "[^a]", "[a-c1]", "[^\\n]",
    "\\w", "\\W", "\\d", "\\s", "\\S", "\\b", "^", "$", "\\A", "\\Z", "[\u00e0-\u00ff]", "(?i:k)", "(?i:[a-c])",
]
_QUANTS = ["", "", "", "*", "+", "?", "*?", "+?", "??", "{2}", "{0,2}", "{1,}", "{,2}", "{2,3}?"]
_GROUPS = ["(", "(?:", "(?P<g>", "(?i:", "(?-i:", "(?s:", "(?m:", "(?a:"]
_FLAGS = [0, A, I, M, S, I | A, M | S, I | M]
_TEXT_CHARS = "ab kAB_1\n\u00e9\u212a\u017f\u0131-K.s"


@st.composite
def patterns(draw, depth=0):
    pieces = []
    for _ in range(draw(st.integers(1, 3))):
        if depth < 2 and draw(st.integers(0, 5)) == 0:
            atom = draw(st.sampled_from(_GROUPS)) + draw(patterns(depth + 1)) + ")"
        else:
            atom = draw(st.sampled_from(_ATOMS))
        pieces.append(atom + draw(st.sampled_from(_QUANTS)))
    out = "".join(pieces)
    if depth < 2 and draw(st.integers(0, 3)) == 0:
        out += "|" + draw(patterns(depth + 1))
    return out


@pytest.mark.fuzz
@settings(max_examples=fuzz_rounds(600), derandomize=True, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    pattern=patterns(),
    flags=st.sampled_from(_FLAGS),
    texts=st.lists(st.text(alphabet=_TEXT_CHARS, max_size=10), min_size=1, max_size=4),
)
def test_generated_patterns_agree(pattern, flags, texts):
    try:
        re.compile(pattern, flags)
    except re.error:
        return
    check_rule(pattern, flags, texts + ["a\nb k_\u00e9", "ab\n"])
