import ctypes
import gc
import os
import re
import signal
import subprocess
import sys
import threading
import time
import types

import pytest

from conftest import allocated_growth
from vexlor.core import lexer_engine as py_lexer_engine
from vexlor.core import regex_support
from vexlor.core import tokens as py_tokens


def install_bare_translator(monkeypatch):
    """Puts in place of the translator module one that offers native_pattern
    and nothing else, as any package may."""
    bare = types.ModuleType(regex_support.__name__)
    bare.native_pattern = regex_support.native_pattern
    monkeypatch.setitem(sys.modules, regex_support.__name__, bare)
    return bare


@pytest.fixture(params=["native", "python", "bare translator"])
def matcher(request, monkeypatch):
    """Runs a test with the native matcher, with Python's `re` only, and with
    a translator module that has native_pattern alone."""
    if request.param == "python":
        monkeypatch.setattr(regex_support, "native_pattern", lambda p, f, c: (None, False, ""))
    elif request.param == "bare translator":
        install_bare_translator(monkeypatch)
    return request.param


@pytest.fixture
def LE(core):
    return core.LexerEngine


def pairs(tokens):
    return [(t.type, t.value) for t in tokens]


def calc_lexer(LE):
    lx = LE()
    lx.add_rule("INITIAL", "NUMBER", r"\d+", func=lambda t: (setattr(t, "value", int(t.value)), t)[1])
    lx.add_rule("INITIAL", "ID", r"[A-Za-z_]\w*")
    lx.add_rule("INITIAL", "NEWLINE", r"\n+", func=lambda t: (setattr(t.lexer, "lineno", t.lexer.lineno + len(t.value)), None)[1])
    lx.set_ignore("INITIAL", " \t")
    lx.set_literals("+-*/()=")
    lx.callback_owner = lx
    return lx


def gc_clear(obj):
    """Runs the garbage collector's clear of `obj`'s class on `obj`."""
    get_slot = ctypes.pythonapi.PyType_GetSlot
    get_slot.restype = ctypes.c_void_p
    get_slot.argtypes = [ctypes.py_object, ctypes.c_int]
    py_tp_clear = 51
    return ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(get_slot(type(obj), py_tp_clear))(obj)


# --- engine record, states and the state stack ---------------------------------------


def test_new_engine(LE):
    lx = LE()
    assert (lx.current_state, lx.state_stack, lx.pos, lx.lineno, lx.length, lx.input_revision) == (
        "INITIAL", [], 0, 1, 0, 0)
    assert lx.data == "" and lx.callback_owner is None
    assert lx.matcher_kinds == {"INITIAL": []}
    assert LE.__text_signature__ == "()"
    assert LE.add_rule.__text_signature__ == (
        "($self, state, name, pattern, func=None, priority=0, flags=0, *, compiled=None)")
    assert hash(lx) == object.__hash__(lx)  # hashed by identity
    with pytest.raises(TypeError, match=r"^LexerEngine.__new__\(\) takes 0 positional arguments but 1 was given$"):
        LE(1)


def test_states_and_stack(LE):
    lx = LE()
    with pytest.raises(ValueError, match="^State kind must be 'inclusive' or 'exclusive', got \"Inclusive\"$"):
        lx.add_state("S", "Inclusive")
    with pytest.raises(ValueError, match='^Undefined lexer state "S"$'):
        lx.push_state("S")
    assert (lx.current_state, lx.state_stack) == ("INITIAL", [])
    lx.add_state("S")
    lx.push_state("S")
    assert (lx.current_state, lx.state_stack) == ("S", ["INITIAL"])
    lx.begin("INITIAL")
    assert lx.state_stack == ["INITIAL"]  # begin never touches the stack
    lx.pop_state()
    assert (lx.current_state, lx.state_stack) == ("INITIAL", [])
    with pytest.raises(ValueError, match="^State stack is empty$"):
        lx.pop_state()
    with pytest.raises(ValueError, match="^Undefined lexer state in stack$"):
        lx.state_stack = ["S", "NOPE"]
    assert lx.state_stack == []
    with pytest.raises(TypeError) as info:
        lx.state_stack = "S"
    assert info.value.__notes__ == ["while processing 'states'"]
    lx.state_stack = ["S", "S"]
    assert lx.state_stack == ["S", "S"]
    with pytest.raises(TypeError) as info:
        lx.add_state(None)
    assert info.value.__notes__ == ["while processing 'name'"]


def test_redeclaring_a_state_keeps_its_configuration(LE):
    lx = LE()
    lx.add_rule("S", "A", "a")
    lx.set_ignore("S", " ")
    lx.add_state("S", "exclusive")
    lx.input(" a")
    lx.begin("S")
    assert pairs([lx.token()]) == [("A", "a")]


def test_position_properties(LE):
    lx = LE()
    lx.input("abc")
    lx.pos = 10
    assert lx.pos == 10 and lx.token() is None
    lx.pos = 0
    with pytest.raises(OverflowError) as info:
        lx.pos = -1
    assert info.value.__notes__ == ["while processing 'pos'"]
    for prop in ("pos", "lineno", "state_stack", "callback_owner"):
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(lx, prop)
    with pytest.raises(AttributeError):
        lx.length = 3
    lx.callback_owner = None
    assert lx.callback_owner is None


# --- rules and configuration -----------------------------------------------------------


def test_matcher_kinds(LE, monkeypatch):
    monkeypatch.setattr(regex_support, "native_pattern", lambda p, f, c: {
        "a": ("a", False, ""), "b": ("b", True, ""), "c": (None, False, ""), "d": ("(?<=x)d", False, "")}[p])
    k = LE()
    for p in "abcd":
        k.add_rule("K", p, p)
    assert k.matcher_kinds == {"INITIAL": [], "K": ["native", "native-ascii", "python-re", "python-re"]}
    k.input("d")
    k.begin("K")
    assert pairs([k.token()]) == [("d", "d")]  # a native text RE2 refuses still matches through Python


def test_priority_order_through_plans(LE, matcher):
    lx = LE()
    for name, prio in [("p0a", 0), ("p5a", 5), ("p0b", 0), ("m3", -3), ("p5b", 5)]:
        lx.add_rule("INITIAL", name, "x", priority=prio)
    assert lx.tokenize("x")[0].type == "p5a"


@pytest.mark.parametrize(
    "result, exc, message",
    [
        ([None, False, ""], TypeError, "'list' object is not an instance of 'tuple'"),
        ((None, False), ValueError, "expected tuple of length 3, but got tuple of length 2"),
        ((None, 1, ""), TypeError, "'int' object is not an instance of 'bool'"),
        ((None, False, None), TypeError, "'None' is not an instance of 'str'"),
        ((5, False, ""), TypeError, "'int' object is not an instance of 'str'"),
    ],
)
def test_bad_translator_results_leave_no_trace(LE, monkeypatch, result, exc, message):
    lx = LE()
    monkeypatch.setattr(regex_support, "native_pattern", lambda p, f, c: result)
    with pytest.raises(exc) as info:
        lx.add_rule("NEW", "A", "a")
    assert str(info.value) == message and not getattr(info.value, "__notes__", None)
    assert "NEW" not in lx.matcher_kinds


# Rules that go through `re` (look-arounds, a back-reference, a conditional,
# an ASCII-only translation on other text) beside native ones.
THROUGH_RE = [
    ("STR", r"'''(?:[^'\\]|\\.|'(?!''))*'''|'[^'\n]*'", re.DOTALL),
    ("QUOTED", r"([\"`]).*?\1", 0),
    ("TAG", r"(<)?\w+(?(1)>)", 0),
    ("VAR", r"(?<=\$)\w+", 0),
    ("IF", r"if\b", 0),
    ("NUM", r"\d+(?!px)", 0),
    ("PX", r"\d+px", 0),
    ("OTHER", r"\S", 0),
]


def first_match_tokens(rules, text, ignore=" "):
    """What a first-match lexer over `re` gives."""
    compiled = [(name, re.compile(p, f)) for name, p, f in rules]
    out, pos = [], 0
    while pos < len(text):
        if text[pos] in ignore:
            pos += 1
            continue
        name, m = next((n, m) for n, c in compiled if (m := c.match(text, pos)))
        out.append((name, m.group(), pos))
        pos = m.end()
    return out


@pytest.mark.parametrize("text", [
    "if x '''a'b''' 'c' \"q\" `z` <b> $v 12px 7 iff",
    "if\u00e9 caf\u00e9 '\u00e9' $\u00e9t\u00e9 <\u00e9> \"\u00e9\" 3px",
], ids=["ascii", "non-ascii"])
@pytest.mark.parametrize("translator", ["full", "bare"])
def test_rules_through_re(LE, monkeypatch, translator, text):
    if translator == "bare":
        install_bare_translator(monkeypatch)
    lx = LE()
    for name, pattern, flags in THROUGH_RE:
        lx.add_rule("INITIAL", name, pattern, flags=flags)
    lx.set_ignore("INITIAL", " ")
    assert lx.matcher_kinds["INITIAL"].count("python-re") == 5
    assert [(t.type, t.value, t.lexpos) for t in lx.tokenize(text)] == first_match_tokens(THROUGH_RE, text)


def test_translator_lookups_that_fail_otherwise_than_by_a_missing_name_end_add_rule(LE, monkeypatch):
    bare = install_bare_translator(monkeypatch)

    def __getattr__(name):
        raise LookupError(name)

    bare.__getattr__ = __getattr__
    lx = LE()
    lx.add_rule("INITIAL", "A", "a")  # fully native: nothing more is looked up
    with pytest.raises(LookupError):
        lx.add_rule("INITIAL", "B", "b(?=c)")
    assert lx.matcher_kinds["INITIAL"] == ["native"]


def test_add_rule_errors(LE):
    lx = LE()
    with pytest.raises(re.error):
        lx.add_rule("NEW", "A", "(")
    assert "NEW" not in lx.matcher_kinds
    with pytest.raises(OverflowError) as info:
        lx.add_rule("INITIAL", "A", "a", priority=2**31)
    assert str(info.value) == "out of range integral type conversion attempted"
    assert info.value.__notes__ == ["while processing 'priority'"]
    with pytest.raises(TypeError, match="unexpected keyword argument 'bogus'"):
        lx.add_rule("INITIAL", "A", "a", bogus=1)
    with pytest.raises(TypeError, match=r"takes from 3 to 6 positional arguments but 7 were given"):
        lx.add_rule("INITIAL", "A", "a", None, 0, 0, None)

    class NoMatch:
        pass

    with pytest.raises(AttributeError):
        lx.add_rule("INITIAL", "A", "a", compiled=NoMatch())


def test_compiled_pattern_is_used_without_re(LE, monkeypatch):
    calls = []
    ab = re.compile("ab")

    class Compiled:
        def match(self, text, pos):
            calls.append(pos)
            return ab.match(text, pos)

    def no_compile(*a):
        raise AssertionError("re.compile must not be called")

    monkeypatch.setattr(re, "compile", no_compile)
    seen = []
    monkeypatch.setattr(regex_support, "native_pattern", lambda p, f, c: (seen.append((p, f, c)), (None, False, ""))[1])
    lx = LE()
    obj = Compiled()
    lx.add_rule("INITIAL", "AB", "ab", flags=re.I, compiled=obj)
    assert seen == [("ab", int(re.I), obj)]
    assert pairs(lx.tokenize("abab")) == [("AB", "ab"), ("AB", "ab")] and calls == [0, 2]
    # A user's object is called wherever the scan reaches its rule, also
    # where a compiled "ab" provably could not match.
    lx.set_literals("x")
    calls.clear()
    assert pairs(lx.tokenize("xabx")) == [("x", "x"), ("AB", "ab"), ("x", "x")] and calls == [0, 1, 3]


def test_literals(LE):
    lx = LE()
    lx.set_literals("+-")
    assert pairs(lx.tokenize("-+")) == [("-", "-"), ("+", "+")]
    lx.set_literals(["*", "/%"])
    assert pairs(lx.tokenize("%*/")) == [("%", "%"), ("*", "*"), ("/", "/")]
    with pytest.raises(TypeError, match="^'int' object is not an instance of 'str'$"):
        lx.set_literals(["+", 1])
    assert pairs(lx.tokenize("%")) == [("%", "%")]  # previous set kept
    with pytest.raises(TypeError):
        lx.set_literals(5)
    lx.set_literals([])
    with pytest.raises(py_lexer_engine.LexError):
        lx.tokenize("%")


def test_ignore_and_error_function_create_states(LE):
    lx = LE()
    lx.set_ignore("A", " ")
    lx.set_error_func("B", None)
    assert set(lx.matcher_kinds) == {"INITIAL", "A", "B"}
    with pytest.raises(TypeError) as info:
        lx.set_ignore("C", 5)
    assert info.value.__notes__ == ["while processing 'chars'"] and "C" not in lx.matcher_kinds
    lx.add_rule("A", "X", "x")
    lx.set_ignore("A", " ")
    lx.set_ignore("A", "\t")  # replaces, does not extend
    lx.input("x x")
    lx.begin("A")
    lx.token()
    with pytest.raises(py_lexer_engine.LexError, match="^Illegal character ' ' at line 1, pos 1$"):
        lx.token()


# --- input text and snapshots ------------------------------------------------------------------


@pytest.mark.parametrize("text", ["", "abc", "a\u00e9b", "a\U0001F600b", "a\ud800b", "\ud800\udc00"])
def test_input_lengths(LE, text):
    lx = LE()
    lx.input(text)
    assert lx.length == len(text) and lx.data is text and lx.input_revision == 1


def test_input_rejects_non_str(LE):
    lx = LE()
    with pytest.raises(TypeError) as info:
        lx.input(b"abc")
    assert str(info.value) == "'bytes' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'text'"] and lx.input_revision == 0


def test_input_resets_scanning_state(LE):
    lx = LE()
    lx.add_state("S")
    s = "ab"
    lx.input(s)
    lx.pos, lx.lineno = 1, 7
    lx.push_state("S")
    lx.input(s)
    assert (lx.pos, lx.lineno, lx.current_state, lx.state_stack, lx.input_revision) == (0, 1, "INITIAL", [], 2)


def test_snapshot_round_trip(LE):
    lx = LE()
    lx.add_state("S")
    lx.input("hello world")
    lx.pos, lx.lineno = 3, 4
    lx.push_state("S")
    snap = (lx.data, lx.pos, lx.lineno, lx.current_state, lx.state_stack)
    rev = lx.input_revision
    lx.input("other")
    lx.restore_state(*snap)
    assert (lx.data, lx.pos, lx.lineno, lx.current_state, lx.state_stack) == snap
    assert lx.data is snap[0] and lx.input_revision == rev + 2
    with pytest.raises(ValueError, match="^Snapshot contains an undefined lexer state$"):
        lx.restore_state("zzz", 0, 1, "INITIAL", ["S", "NOPE"])
    assert (lx.data, lx.pos, lx.current_state) == (snap[0], 3, "S")
    with pytest.raises(TypeError) as info:
        lx.restore_state("zzz", 0, 1, "INITIAL", "S")
    assert str(info.value) == "Can't extract `str` to `Vec`"
    assert info.value.__notes__ == ["while processing 'state_stack'"]
    lx.restore_state("ab", 99, 1, "INITIAL", [])
    assert lx.token() is None


def test_skip(LE):
    lx = LE()
    lx.input("abc")
    lx.skip(0)
    assert lx.pos == 0
    lx.skip()
    lx.skip(n=10)
    assert lx.pos == 11
    with pytest.raises(OverflowError, match="^position exceeds the counter range$"):
        lx.skip(2**64 - 5)
    assert lx.pos == 11
    with pytest.raises(OverflowError) as info:
        lx.skip(-1)
    assert info.value.__notes__ == ["while processing 'n'"]


# --- the token loop ---------------------------------------------------------------------------


def test_calculator(LE, matcher):
    lx = calc_lexer(LE)
    toks = lx.tokenize("x = 3 + 42\n\ny1 * (7)")
    assert pairs(toks) == [("ID", "x"), ("=", "="), ("NUMBER", 3), ("+", "+"), ("NUMBER", 42), ("ID", "y1"),
                           ("*", "*"), ("(", "("), ("NUMBER", 7), (")", ")")]
    assert [(t.lineno, t.lexpos, t.end) for t in toks][-3:] == [(3, 17, 18), (3, 18, 19), (3, 19, 20)]
    assert toks[0].lexer is lx


def test_first_match_not_longest(LE, matcher):
    lx = LE()
    lx.add_rule("INITIAL", "SHORT", "a")
    lx.add_rule("INITIAL", "LONG", "aaa")
    assert pairs(lx.tokenize("aaa")) == [("SHORT", "a")] * 3


def test_positions_count_code_points(LE, matcher):
    lx = LE()
    lx.add_rule("INITIAL", "W", r"[^ ]+")
    lx.set_ignore("INITIAL", " ")
    toks = lx.tokenize("h\u00e9 \U0001F600x y")
    assert [(t.value, t.lexpos, t.end) for t in toks] == [("h\u00e9", 0, 2), ("\U0001F600x", 3, 5), ("y", 6, 7)]


def test_ignored_remainder_and_line_feeds(LE, matcher):
    lx = LE()
    lx.add_rule("INITIAL", "A", "a")
    lx.add_rule("INITIAL", "NL", "\n")
    lx.set_ignore("INITIAL", " \r\n")
    lx.input("a \n\r\n  ")
    assert lx.token().type == "A"
    assert lx.token() is None and (lx.pos, lx.lineno) == (7, 3)
    lx2 = LE()
    lx2.add_rule("INITIAL", "NL", "\n")
    lx2.set_literals("\n")
    assert [t.lineno for t in lx2.tokenize("\n\n")] == [1, 1]  # matched line feeds do not count


def test_line_number_overflow(LE):
    lx = LE()
    lx.set_ignore("INITIAL", "\n")
    lx.input("\nx")
    lx.lineno = 2**64 - 1
    with pytest.raises(OverflowError, match="^line number exceeds the counter range$"):
        lx.token()
    assert (lx.pos, lx.lineno) == (0, 2**64 - 1)


def test_rule_functions(LE, matcher):
    lx = LE()
    lx.add_rule("INITIAL", "DROP", "#[^\n]*", func=lambda t: None)
    lx.add_rule("INITIAL", "TUPLE", "t", func=lambda t: ("T", t.lexpos))

    def boom(t):
        raise KeyError("boom")

    lx.add_rule("INITIAL", "BOOM", "b", func=boom)
    lx.input("#comment\ntb")
    lx.set_ignore("INITIAL", "\n")
    assert lx.token() == ("T", 9)
    with pytest.raises(KeyError):
        lx.token()
    assert lx.pos == 11


def test_empty_match_raises(LE, matcher):
    lx = LE()
    lx.add_rule("INITIAL", "A", "a")
    lx.add_rule("INITIAL", "EMPTY", "b*")
    lx.input("ac")
    lx.token()
    with pytest.raises(py_lexer_engine.LexError) as info:
        lx.token()
    assert str(info.value) == 'Rule "EMPTY" matched an empty string at pos 1'
    assert (info.value.text, info.value.pos, lx.pos) == ("c", 1, 1)


@pytest.mark.parametrize("text, message", [
    ("$", "Illegal character '$' at line 1, pos 0"),
    ("\ud800", "Illegal character '\\ud800' at line 1, pos 0"),
    ("\u0301", "Illegal character '\\u{301}' at line 1, pos 0"),
    ("'", "Illegal character '\\'' at line 1, pos 0"),
])
def test_illegal_character(LE, text, message):
    lx = LE()
    with pytest.raises(py_lexer_engine.LexError) as info:
        lx.tokenize(text)
    assert str(info.value) == message and info.value.text == text and info.value.pos == 0


@pytest.mark.parametrize("pattern", ["b*", None])  # an empty match, an illegal character
def test_lex_error_slices_the_input_before_importing(LE, monkeypatch, pattern):
    class Unsliceable(str):
        def __getitem__(self, key):
            raise LookupError("slice")

    lx = LE()
    if pattern:
        lx.add_rule("INITIAL", "E", pattern)
    lx.input(Unsliceable("c"))
    monkeypatch.setitem(sys.modules, "vexlor.core.lexer_engine", None)
    with pytest.raises(LookupError, match="^slice$"):
        lx.token()


def test_error_function(LE, matcher):
    lx = LE()
    lx.add_rule("INITIAL", "A", "a")
    seen = []

    def on_error(tok):
        seen.append((tok.type, tok.value[:2], tok.lexpos, tok.lineno, tok.lexer))
        return None

    lx.set_error_func("INITIAL", on_error)
    lx.callback_owner = owner = object()
    assert pairs(lx.tokenize("a$%a")) == [("A", "a"), ("A", "a")]
    assert seen == [("error", "$%", 1, 1, owner), ("error", "%a", 2, 1, owner)]

    def skipper(tok):
        tok.lexer.skip(2)

    lx.set_error_func("INITIAL", skipper)
    lx.callback_owner = lx
    assert pairs(lx.tokenize("$$a$$a")) == [("A", "a"), ("A", "a")]  # each skip(2), no extra step

    lx.set_error_func("INITIAL", lambda tok: "ERR")
    lx.input("$a")
    assert lx.token() == "ERR" and lx.pos == 0  # not advanced


def test_tokenize_refuses_an_error_function_that_does_not_advance(LE, matcher):
    lx = LE()
    lx.add_rule("INITIAL", "A", "a")
    lx.set_error_func("INITIAL", lambda tok: tok)
    with pytest.raises(py_lexer_engine.LexError, match=r"^Illegal character '\$' at line 1, pos 1$") as info:
        lx.tokenize("a$")
    assert (info.value.text, info.value.pos, lx.pos) == ("$", 1, 1)
    # token() hands each result to its caller, who can move on
    lx.input("a$")
    assert [lx.token().type for _ in range(3)] == ["A", "error", "error"] and lx.pos == 1
    # a result after the function moved the position, or gave new input, is collected
    lx.callback_owner = lx
    lx.set_error_func("INITIAL", lambda tok: (tok.lexer.skip(1), tok)[1])
    assert [t.type for t in lx.tokenize("a$a")] == ["A", "error", "A"]
    lx.set_error_func("INITIAL", lambda tok: (tok.lexer.input("a"), "E")[1])
    assert [getattr(t, "type", t) for t in lx.tokenize("$")] == ["E", "A"]


def test_error_function_is_not_inherited(LE):
    lx = LE()
    lx.set_error_func("INITIAL", lambda t: "E")
    lx.add_state("S")
    lx.input("$")
    lx.begin("S")
    with pytest.raises(py_lexer_engine.LexError):
        lx.token()


def test_surrogate_input_goes_through_python(LE, monkeypatch):
    lx = LE()
    lx.add_rule("INITIAL", "W", "[a-z]+")
    lx.set_literals("\ud800")
    toks = lx.tokenize("ab\ud800c")
    assert [type(t).__name__ for t in toks] == ["Token", "Token", "Token"]
    assert isinstance(toks[1], py_tokens.Token) and (toks[1].type, toks[1].lexpos, toks[1].end) == ("\ud800", 2, 3)
    assert (toks[2].value, toks[2].lexpos) == ("c", 3)


def test_inclusive_exclusive_and_merging(LE, matcher):
    lx = LE()
    lx.add_rule("INITIAL", "I", "ab")
    lx.add_state("INC", "inclusive")
    lx.add_rule("INC", "X", "a")
    lx.add_state("EXC", "exclusive")
    lx.add_rule("EXC", "Y", "b")
    lx.input("ab")
    lx.begin("INC")
    assert lx.token().type == "I"  # INITIAL's rules first on equal priority
    lx.input("ab")
    lx.begin("EXC")
    with pytest.raises(py_lexer_engine.LexError):
        lx.token()
    lx.add_rule("INC", "HI", "a", priority=1)
    lx.input("ab")
    lx.begin("INC")
    assert lx.token().type == "HI"


def test_callbacks_reenter_and_restart(LE, matcher):
    lx = LE()
    lx.add_state("S", "exclusive")
    lx.add_rule("S", "SB", "b")

    def enter_s(tok):
        tok.lexer.begin("S")
        tok.lexer.push_state("S")
        tok.lexer.pop_state()
        return tok

    lx.add_rule("INITIAL", "A", "a", func=enter_s)
    lx.callback_owner = lx
    assert pairs(lx.tokenize("ab")) == [("A", "a"), ("SB", "b")]


def test_match_method_that_moves_restarts_the_scan(LE):
    lx = LE()
    calls = []

    class Mover:
        def match(self, text, pos):
            calls.append(pos)
            if pos == 0:
                lx.pos = 1
            return re.compile("a").match(text, pos)

    lx.add_rule("INITIAL", "M", "a", compiled=Mover())
    toks = lx.tokenize("aa")
    assert [(t.value, t.lexpos) for t in toks] == [("a", 1)] and calls == [0, 1]


@pytest.mark.parametrize("action, restarts", [
    (lambda lx: lx.begin("S"), True),
    (lambda lx: lx.begin("INITIAL"), False),  # the same state name
    (lambda lx: lx.input(lx.data), True),
    (lambda lx: setattr(lx, "lineno", 9), False),
], ids=["begin-other", "begin-same", "new-input", "lineno"])
def test_match_method_side_effects(LE, action, restarts):
    lx = LE()
    lx.add_state("S")
    a = re.compile("a")
    calls = []

    class Compiled:
        def match(self, text, pos):
            calls.append(pos)
            if len(calls) == 1:
                action(lx)
            return a.match(text, pos)

    lx.add_rule("INITIAL", "A", "a", compiled=Compiled())
    lx.input("ab")
    tok = lx.token()
    assert len(calls) == (2 if restarts else 1)
    assert (tok.type, tok.lexpos, tok.lineno) == ("A", 0, 1)  # the scan's line number, not one set meanwhile


def test_match_end_is_used_unchanged(LE):
    lx = LE()

    class Back:
        def __init__(self, end):
            self._end = end

        def end(self):
            return self._end

        def group(self, i):
            return "v"

    class Compiled:
        def match(self, text, pos):
            return Back(0 if pos == 2 else 100)

    lx.add_rule("INITIAL", "B", "x", compiled=Compiled())
    lx.input("abcd")
    lx.pos = 2
    assert lx.token().end == 0 and lx.pos == 0
    assert lx.token().end == 100 and lx.token() is None


# --- finalizers run by the scan's own releases -----------------------------------------
#
# Each case lets the last reference to an object of the previous scan go
# while the next scan starts (or while an error-function result is refused),
# and that object's __del__ gives the engine new input or new rules. The
# scan must read the engine only after such a release, and go on from what
# the engine then holds.

BIG = 1_000_000  # large enough that a freed text is given back to the system


class Dying(str):
    """An input text whose finalizer runs `on_del`."""

    on_del = None

    def __del__(self):
        self.on_del()


class DyingObject:
    def __init__(self, on_del, call=None):
        self.on_del, self.call = on_del, call

    def __call__(self, tok):
        return self.call(tok)

    def __del__(self):
        self.on_del()


def once(fn):
    done = []

    def wrapper(*args):
        if not done:
            done.append(True)
            fn(*args)

    return wrapper


def old_error_func_gives_input(lx):
    lx.set_error_func("INITIAL", DyingObject(lambda: lx.input("c" * (BIG + 12345)), lambda t: None))
    lx.add_rule("INITIAL", "A", "a", func=lambda t: lx.set_error_func("INITIAL", lambda t: None))
    lx.add_rule("INITIAL", "B", "b+")
    lx.input("a" + "b" * BIG)
    return lx.token(), lx.pos, lx.length


def old_input_gives_input(lx):
    text = Dying("a" + "b" * BIG)
    text.on_del = lambda: lx.input("c" * (BIG + 12345))
    lx.add_rule("INITIAL", "A", "a", func=lambda t: lx.input("a" + "b" * BIG))
    lx.add_rule("INITIAL", "B", "b+")
    lx.input(text)
    del text
    return lx.token()


def old_input_adds_rules(lx):
    text = Dying("a" + "b" * BIG)
    text.on_del = lambda: [lx.add_rule("INITIAL", f"X{i}", "x") for i in range(51)]
    lx.add_rule("INITIAL", "A", "a", func=once(lambda t: lx.input("ab")))
    lx.add_rule("INITIAL", "B", "b+")
    lx.input(text)
    del text
    return repr(lx.token()), lx.pos, lx.length


def refused_result_gives_input(lx):
    lx.add_rule("INITIAL", "A", "a+")
    lx.set_error_func("INITIAL", lambda t: DyingObject(lambda: lx.input("\u00e9" * (BIG + 7))))
    return lx.tokenize("a" * BIG + "#")


def old_error_func_gives_input_before_a_python_rule(lx):
    lx.set_error_func("INITIAL", DyingObject(lambda: lx.input("cc"), lambda t: None))
    lx.add_rule("INITIAL", "A", "a", func=lambda t: lx.set_error_func("INITIAL", lambda t: None))
    lx.add_rule("INITIAL", "BB", r"(b)\1")
    lx.input("abb")
    return lx.token(), lx.pos


def match_object_gives_input(lx):
    # A compiled pattern of the caller's whose match object gives new input
    # when it goes: the match it stood for is dropped with the scan.
    class Match:
        def __init__(self, pos):
            self.pos = pos

        def end(self):
            return self.pos + 1

        def group(self, i):
            return "m"

        def __del__(self):
            give_input()

    class Compiled:
        def match(self, text, pos):
            return Match(pos) if text[pos] == "m" else None

    give_input = once(lambda: lx.input("zz"))
    lx.add_rule("INITIAL", "M", "m", compiled=Compiled())
    lx.add_rule("INITIAL", "Z", "z")
    lx.input("m")
    tok = lx.token()
    return (tok.type, tok.value, tok.lexpos), lx.pos


class Raises(str):
    """A case that ends with LexError and this message."""


FINALIZER_CASES = [
    (old_error_func_gives_input, (None, BIG + 12345, BIG + 12345)),
    (old_input_gives_input, Raises("Illegal character 'c' at line 1, pos 0")),
    (old_input_adds_rules, ('Token(type="B", value=b, lineno=1, pos=1)', 2, 2)),
    (refused_result_gives_input, Raises("Illegal character '#' at line 1, pos 1000000")),
    (old_error_func_gives_input_before_a_python_rule, (None, 2)),
    (match_object_gives_input, (("Z", "z", 0), 1)),
]


@pytest.mark.parametrize("case, expected", [pytest.param(c, e, id=c.__name__) for c, e in FINALIZER_CASES])
def test_finalizers_of_released_objects_move_the_ground(LE, case, expected):
    lx = LE()
    if isinstance(expected, Raises):
        with pytest.raises(py_lexer_engine.LexError) as info:
            case(lx)
        assert info.value.args == (expected,)
    else:
        assert case(lx) == expected


def test_tokenize_continues_without_text(LE):
    lx = LE()
    lx.add_rule("INITIAL", "A", "a")
    lx.input("aaa")
    lx.token()
    assert len(lx.tokenize()) == 2 and lx.tokenize(None) == [] and lx.tokenize("") == []
    with pytest.raises(TypeError) as info:
        lx.tokenize(3)
    assert info.value.__notes__ == ["while processing 'text'"]


@pytest.mark.parametrize("sender", ["timer", "kill"])
def test_ctrl_c_stops_a_long_tokenize(LE, sender):
    # Every scan first tries a rule that runs over the rest of the text and
    # fails, so the text takes seconds to lex, all natively, with few tokens.
    lx = LE()
    lx.add_rule("INITIAL", "AB", "a+b")
    lx.add_rule("INITIAL", "A", "a")
    assert lx.matcher_kinds["INITIAL"] == ["native", "native"]
    text = "a" * 60_000
    signum = signal.SIGALRM if sender == "timer" else signal.SIGINT
    previous = signal.signal(signum, signal.default_int_handler)  # what Ctrl-C runs
    try:
        start = time.monotonic()
        if sender == "timer":
            signal.setitimer(signal.ITIMER_REAL, 0.05)
        else:
            killer = subprocess.Popen(["sh", "-c", f"sleep 0.05; kill -INT {os.getpid()}"])
        with pytest.raises(KeyboardInterrupt):
            lx.tokenize(text)
        elapsed = time.monotonic() - start
    finally:
        if sender == "timer":
            signal.setitimer(signal.ITIMER_REAL, 0)
        else:
            killer.wait()
        signal.signal(signum, previous)
    assert 0 < lx.pos < len(text)
    if sender == "timer":
        assert elapsed < 1.05
    assert pairs(lx.tokenize("ab")) == [("AB", "ab")]


def test_cycles_through_the_engine_are_collected(LE):
    import weakref

    class Marker:
        pass

    lx = LE()
    m = Marker()
    lx.callback_owner = [lx, m]
    lx.add_rule("INITIAL", "A", "a", func=lambda t, keep=lx: t)
    lx.set_error_func("INITIAL", lambda t, keep=(lx, m): None)
    lx.input("aa")
    r = weakref.ref(m)
    del lx, m
    gc.collect()
    assert r() is None


def test_cycles_through_tokens_and_their_owner_are_collected(LE):
    import weakref

    class Marker:
        pass

    lx = LE()
    lx.add_rule("INITIAL", "A", "a")
    lx.set_literals("+")
    assert all(gc.is_tracked(t) for t in lx.tokenize("a+"))  # tracked even with nothing to visit
    owner = [Marker()]
    lx.callback_owner = owner
    toks = lx.tokenize("a+")
    assert all(gc.is_tracked(t) for t in toks)
    owner.extend(toks)
    r = weakref.ref(owner[0])
    lx.callback_owner = None
    del owner, toks
    gc.collect()
    assert r() is None


def test_gc_clear(LE):
    lx = LE()
    lx.add_rule("S", "A", "a", func=lambda t: gc_clear(lx))  # refused while the engine is in use
    lx.set_literals("+")
    lx.input("a+a")
    lx.push_state("S")
    lx.lineno = 5
    lx.callback_owner = object()
    assert lx.token() == 0 and (lx.pos, lx.length) == (1, 3)
    assert gc_clear(lx) == 0
    assert (lx.data, lx.pos, lx.length, lx.lineno, lx.current_state, lx.state_stack, lx.input_revision,
            lx.callback_owner, lx.matcher_kinds) == ("", 0, 0, 5, "S", ["INITIAL"], 1, None, {})
    assert lx.token() is None
    for call in (lambda: lx.begin("INITIAL"), lx.pop_state, lambda: (lx.input("+"), lx.token())):
        with pytest.raises(ValueError, match='^Undefined lexer state "INITIAL"$'):
            call()
    assert lx.state_stack == []  # the popped entry stays removed
    lx.add_state("INITIAL")
    assert pairs(lx.tokenize("+")) == [("+", "+")]  # the literal set survives


# --- threads, leaks --------------------------------------------------------------------------


def test_use_from_another_thread_panics(LE):
    lx = LE()
    caught = []

    def run():
        try:
            lx.token()
        except BaseException as e:  # noqa: BLE001
            caught.append(e)

    t = threading.Thread(target=run)
    t.start()
    t.join()
    assert type(caught[0]).__name__ == "PanicException"
    assert str(caught[0]) == "PyLexerEngine is unsendable, but sent to another thread"


def test_no_leak_over_lexing(LE, matcher):
    lx = calc_lexer(LE)
    lx.set_error_func("INITIAL", lambda t: None)

    def work():
        lx.input("a1 = 22 + (x * 3) $ \n")
        lx.tokenize()
        lx.tokenize("b + c")

    assert allocated_growth(work, rounds=1000) < 100
