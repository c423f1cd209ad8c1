"""The pattern translator's contract, its decisions and its prefixes.

Whether a translation matches what Python matches is checked against RE2
itself in test_regex_support_differential.py.
"""
import re
from re import _constants as _c

import pytest

from vexlor.core import regex_support
from vexlor.core.regex_support import native_pattern, pretest_pattern

A, I, M, S, X = re.ASCII, re.IGNORECASE, re.MULTILINE, re.DOTALL, re.VERBOSE


def translate(pattern, flags=0):
    return native_pattern(pattern, flags, re.compile(pattern, flags))


def status(pattern, flags=0):
    text, ascii_only, _prefix = translate(pattern, flags)
    if text is None:
        return None
    return "ascii" if ascii_only else "any"


def test_result_shape_and_what_is_translated():
    result = translate(r"[0-9]+")
    assert isinstance(result, tuple) and len(result) == 3
    text, ascii_only, prefix = result
    assert isinstance(text, str) and ascii_only is False and prefix == ""
    # Without a compiled pattern the translator compiles one itself.
    assert native_pattern(r"[0-9]+", 0, None) == result
    # The compiled object is what the lexer matches with, so it is what gets
    # translated, whatever `pattern` says.
    assert native_pattern("x", 0, re.compile("[0-9]+")) == result


@pytest.mark.parametrize(
    "compiled",
    [object(), re.compile(rb"abc"), type("Matcher", (), {"match": lambda self, s, p: None})()],
    ids=["plain object", "bytes pattern", "user matcher"],
)
def test_anything_but_a_str_pattern_object_is_not_translated(compiled):
    assert native_pattern("abc", 0, compiled) == (None, False, "")


# (pattern, flags, expected): "any" = valid on every text, "ascii" = on
# pure-ASCII text only, None = refused.
DECISIONS = [
    # the usual token patterns
    (r"[A-Za-z_][A-Za-z0-9_]*", 0, "any"),
    (r"[a-zA-Z_]\w*", 0, "any"),     # \d, \w and \s as explicit Unicode classes
    (r"[a-zA-Z_]\w*", A, "any"),
    (r"\d+", 0, "any"),
    (r"[^\W\d]\w*", 0, "any"),
    (r"\d+", A, "any"),
    (r"(?a)\d+\.\d*(?:[eE][-+]?\d+)?", 0, "any"),
    (r"0[xX][0-9a-fA-F]+(?:_[0-9a-fA-F]+)*", 0, "any"),
    (r'"(?:[^"\\\n]|\\.)*"', 0, "any"),
    (r"'''(?:[^\\]|\\.)*?'''", S, "any"),
    (r"//[^\n]*", 0, "any"),
    (r"/\*(.|\n)*?\*/", 0, "any"),
    (r"\#.*", 0, "any"),
    (r"\+=|-=|\*\*=?|//=?|->|[-+*/%<>=!&|^~]=?", 0, "any"),
    (r"[ \t]+", 0, "any"),
    (r"\s+", 0, "any"),
    (r"\n+", 0, "any"),
    (r"if\b", 0, "ascii"),
    (r"if\b", A, "any"),
    (r"(?i)select", 0, "any"),   # explicit classes with Python's fold partners
    (r"(?i)select", A, "any"),
    (r"(?i)sélect", 0, "ascii"),  # a non-ASCII letter under Unicode folding
    (r"(?i)\w+", 0, "any"),        # nothing cased: folding changes nothing
    (r"(?i)[\w€]+", 0, "any"),
    (r"(?i)[\wk]", 0, "ascii"),    # cased members: re folds every character, \w included
    (r"(?i)[0-9]+", 0, "any"),
    (r"^\#", M, "any"),
    (r"^\#", 0, "any"),
    (r"\A\s*\Z", A, "any"),
    (r"x$", M, "any"),
    (r"(?P<n>a+)(?:b|c)*?(d)??", 0, "any"),
    (r"a{2,1000}", 0, "any"),
    (r"(?x) [a-z]+  # a comment", 0, "any"),
    (r"[\u00e9-\u00ff\U0001F600]", 0, "any"),
    (r".", S, "any"),
    ("", 0, "any"),
    # refusals
    (r"a(?=b)", 0, None),
    (r"(?<!a)b", 0, None),
    (r"(a)\1", 0, None),
    (r"(a)?(?(1)b|c)", 0, None),
    (r"(?>a+)b", 0, None),
    (r"a*+b", 0, None),
    (r"a\B", 0, None),
    (r"x$", 0, None),
    (r"(a*)*", 0, None),
    (r"(?:a|)+", 0, None),
    (r"(?:\b)*x", A, None),
    (r"a{1001}", 0, None),
    (r"a{2,1001}", 0, None),
]


@pytest.mark.parametrize("pattern,flags,expected", DECISIONS)
def test_decisions(pattern, flags, expected):
    assert status(pattern, flags) == expected


# Looser patterns for rules matched through Python: "any", "ascii" or None.
PRETESTS = [
    (r"'''(?:[^'\\]|\\.|'(?!''))*'''", S, "any"),  # look-arounds dropped
    (r"(?<=\s)x", 0, "any"),
    (r"if\b", 0, "any"),                           # a Unicode \b dropped
    (r"x$", 0, "any"),                             # $ read as the end of any line
    (r"(?>a+)b|c*+d|a\B", 0, "any"),
    (r"(?:a|)+b", 0, "any"),                       # only whether it matches counts
    (r"(?i)sélect\b", 0, "ascii"),
    (r"(a)\1", 0, None),
    (r"(a)?(?(1)b|c)", 0, None),
    (r"a{2000}", 0, None),
]


@pytest.mark.parametrize("pattern,flags,expected", PRETESTS)
def test_pretest_patterns(pattern, flags, expected):
    text, ascii_only = pretest_pattern(pattern, flags, re.compile(pattern, flags))
    assert (None if text is None else "ascii" if ascii_only else "any") == expected


def test_pretest_only_for_compiled_str_patterns():
    for compiled in (object(), re.compile(rb"a(?=b)"), type("M", (), {"match": lambda s, t, p: None})()):
        assert pretest_pattern("a(?=b)", 0, compiled) == (None, False)


def test_surrogates_in_a_pattern_give_a_set_without_them():
    # A UTF-8 text holds no surrogate, so such an item can never match there.
    text, ascii_only, prefix = translate("a\ud800")
    assert text == r"a[^\x00-\x{10FFFF}]" and not ascii_only
    assert prefix == "a"  # the prefix stops before the surrogate: it must have a UTF-8 form


PREFIXES = [
    (r"if\b", 0, "if"),
    (r"\+=", 0, "+="),
    (r"//.*", 0, "//"),
    (r"(?:ab)c+d", 0, "abc"),
    (r"(ab){2}c", 0, "ababc"),
    (r"(ab){2,3}c", 0, "ab"),
    (r"\bfoo(?=x)bar", 0, "foobar"),
    (r"a|ab", 0, "a"),     # the parser factors out the common prefix
    (r"a|b", 0, ""),
    (r"a?b", 0, ""),
    (r"(?i)if", 0, ""),
    (r"(?i)\+\d", 0, "+"),
    (r"(?i:ab)c", 0, ""),
    (r"a(?i:b)", 0, "a"),
    (r"(?i)a(?-i:b)", 0, ""),
    (r"(?i)é", A, "é"),    # ASCII folding leaves non-ASCII letters alone
    (r"(?i)é", 0, ""),
    (r"é+x", 0, "é"),
    (r"x(?<=x)y", 0, "xy"),
    (r"[a]b", 0, "ab"),
]


@pytest.mark.parametrize("pattern,flags,prefix", PREFIXES)
def test_prefix(pattern, flags, prefix):
    assert translate(pattern, flags)[2] == prefix


@pytest.mark.parametrize("pattern,flags", [(p, f) for p, f, _ in DECISIONS + PREFIXES])
def test_every_match_begins_with_the_prefix(pattern, flags):
    compiled = re.compile(pattern, flags)
    prefix = translate(pattern, flags)[2]
    samples = ["if x", "+= 1", "// c", "abababc", "foobarx", "ab", "b", "IF", "+9", "éééx", "xy", "AB", "\u212a"]
    for text in samples:
        for pos in range(len(text) + 1):
            if compiled.match(text, pos):
                assert text.startswith(prefix, pos), (pattern, text, pos)


def test_unicode_class_tables_are_what_re_matches():
    # The generated tables stand for the running interpreter's own classes.
    tables = regex_support._unicode_categories()
    for code, source in ((_c.CATEGORY_DIGIT, r"\d"), (_c.CATEGORY_WORD, r"\w"), (_c.CATEGORY_SPACE, r"\s")):
        assert tuple(tables[code]) == regex_support._runs_of(source), source


def test_ascii_non_letters_have_no_fold_partners():
    # The translator keeps a case-insensitive item made of ASCII non-letters
    # as it is, on every text: no other character matches one under folding.
    non_letters = "".join(chr(c) for c in range(0x80) if not chr(c).isalpha())
    probe = re.compile("[" + re.escape(non_letters) + "]", re.IGNORECASE)
    others = "".join(map(chr, range(0x80, 0x110000)))
    assert probe.findall(others) == []
