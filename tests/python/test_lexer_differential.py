"""Differential test of the whole lexer against a first-match lexer over
Python's `re`.

Random rule sets (several rules per state, at different priorities, every
combination of re.ASCII and re.IGNORECASE) are built from atoms chosen to
meet the places where engines disagree: characters whose case partners lie
outside ASCII (K, k and U+212A; S, s and U+017F; i, I, U+0130, U+0131; the
sharp s), negated classes and \\W beside them, Unicode classes, assertions,
look-arounds, atomic groups and possessive repeats (rules that go through
Python, skipped where their looser native pattern fails). At every position
of texts made of the same characters (ASCII, non-ASCII and with lone
surrogates), the token the engine gives must be the one that the first rule
whose `match` succeeds gives.

The seed is fixed and the number of cases bounded; `run_cases` is also the
entry point for longer runs by hand.
"""
import random
import re
import time

import pytest

from conftest import FUZZ_SCALE, fuzz_rounds
from vexlor import _core_rs
from vexlor.core.lexer_engine import LexError

A, I, M, S = re.ASCII, re.IGNORECASE, re.MULTILINE, re.DOTALL

HAZARD_CHARS = "Kk\u212aSs\u017f\u00df\u1e9e\u0130\u0131iI"
ASCII_CHARS = "KkSsiIxa_1 -\n"
OTHER_CHARS = "\u00e9\u00a0\u0663\u2028\u00b2"

# Atoms by kind, each kind drawn with its own weight: the hazards (letters
# with partners outside ASCII, classes of a letter and its partner, negated
# classes) far more often than the rest.
_ATOM_KINDS = [
    (5, ["K", "k", "\u212a", "S", "s", "\u017f", "\u00df", "\u1e9e", "\u0130", "\u0131", "i", "I"]),
    (4, ["[Kk]", "[Ss]", "[Ii]", "[K\u212a]", "[s\u017f]", "[\u00dfs]", "[\u0130\u0131]", "[ks]", "[KS]", "[Kk]x"]),
    (4, ["[^Kk]", "[^0-9A-Z_a-z]", "[^a-z]", "[^A-Z]", r"\W", "[^\\W\\d]", "[^\\s]", "[^x]", "[^A-Z_]"]),
    (2, [r"\w", r"\s", r"\S", r"\d", r"\D", ".", "[a-z]", "[A-Z]"]),
    (2, ["x", "a", "_", "1", " ", r"\n", "\u00e9", "-"]),
    (1, [r"\b", r"\B", "^", r"\A", r"\Z", "$", "(?=k)", "(?!s)", "(?<=k)", "(?<!\\s)", r"(?=\w)"]),
]
_QUANTS = ["", "", "", "", "*", "+", "?", "{2}", "+?", "{0,2}", "*+"]
_GROUPS = ["(?:", "(", "(?i:", "(?-i:", "(?a:", "(?>"]
_RULE_FLAGS = [0, A, I, A | I, A | I, A | I, I | M, A | I | S]


def _atom(rnd):
    return rnd.choice(rnd.choices([atoms for _, atoms in _ATOM_KINDS], [w for w, _ in _ATOM_KINDS])[0])


def _pattern(rnd, depth=0):
    if rnd.random() < 0.3:
        # an alternation of single items, which engines like to merge
        return "|".join(_atom(rnd) + rnd.choice(_QUANTS[:6]) for _ in range(rnd.randint(2, 4)))
    pieces = []
    for _ in range(rnd.randint(1, 3)):
        if depth < 2 and rnd.random() < 0.15:
            atom = rnd.choice(_GROUPS) + _pattern(rnd, depth + 1) + ")"
        else:
            atom = _atom(rnd)
        pieces.append(atom + rnd.choice(_QUANTS))
    out = "".join(pieces)
    if rnd.random() < 0.5:
        out += "|" + _pattern(rnd, depth + 1)
    return out


def random_rules(rnd):
    """A list of (name, pattern, flags, priority) that all compile."""
    rules = []
    count = rnd.randint(1, 5)
    while len(rules) < count:
        pattern, flags = _pattern(rnd), rnd.choice(_RULE_FLAGS)
        try:
            re.compile(pattern, flags)
        except (re.error, ValueError):
            continue
        rules.append((f"R{len(rules)}", pattern, flags, rnd.choice([0, 0, 0, 1, -1])))
    return rules


def random_text(rnd):
    kind = rnd.random()
    alphabet = ASCII_CHARS if kind < 0.4 else ASCII_CHARS + HAZARD_CHARS + OTHER_CHARS
    text = "".join(rnd.choice(alphabet) for _ in range(rnd.randint(0, 8)))
    if kind > 0.95:
        cut = rnd.randint(0, len(text))
        text = text[:cut] + "\ud800" + text[cut:]
    return text


def expected_outcome(rules, text, pos):
    """What a first-match lexer over `re` gives at `pos`."""
    ordered = sorted(rules, key=lambda r: -r[3])  # stable: insertion order among equals
    for name, pattern, flags, _ in ordered:
        m = re.compile(pattern, flags).match(text, pos)
        if m:
            return ("empty", name) if m.end() == pos else (name, pos, m.end())
    return None


def lexer_for(rules):
    lexer = _core_rs.LexerEngine()
    for name, pattern, flags, priority in rules:
        lexer.add_rule("INITIAL", name, pattern, None, priority, flags)
    return lexer


def engine_outcome(lexer, text, pos):
    if lexer.data is not text:
        lexer.input(text)
    lexer.pos = pos
    try:
        tok = lexer.token()
    except LexError as e:
        message = str(e)
        if "matched an empty string" in message:
            return ("empty", message.split('"')[1])
        assert message.startswith("Illegal character"), message
        return None
    return (tok.type, tok.lexpos, tok.end)


def check_case(rules, texts):
    """Compares at every position; returns a description of the first
    difference, or None."""
    lexer = lexer_for(rules)
    for text in texts:
        for pos in range(len(text)):
            try:
                want = expected_outcome(rules, text, pos)
            except SystemError:
                return None  # a fault of re itself (possessive repeats over groups): no reference
            got = engine_outcome(lexer, text, pos)
            if got != want:
                return f"rules={rules!r} text={text!r} pos={pos}: engine {got}, re {want}"
    return None


def run_cases(seed, count, budget_seconds=None):
    """Runs up to `count` random cases; returns (cases run, differences)."""
    rnd = random.Random(seed)
    deadline = None if budget_seconds is None else time.monotonic() + budget_seconds
    failures = []
    done = 0
    for done in range(1, count + 1):
        rules = random_rules(rnd)
        texts = [random_text(rnd) for _ in range(3)]
        failure = check_case(rules, texts)
        if failure:
            failures.append(failure)
        if deadline is not None and time.monotonic() > deadline:
            break
    return done, failures


# Cases found by the random search, kept as a table.
KNOWN_CASES = [
    ([("R", r"[Kk]x|[^0-9A-Z_a-z]|[Kk]", 0, 0)], ["K", "k", "\u212a", "Kx"]),
    ([("R0", r"(?:K|İ|ſ\s)", A | I, 1), ("R1", r"\Z", A, 1)], ["\u212a", "k", "\u017f "]),
]


def test_known_cases():
    failures = [f for rules, texts in KNOWN_CASES if (f := check_case(rules, texts))]
    assert failures == []


@pytest.mark.fuzz
def test_random_rule_sets_agree_with_re():
    done, failures = run_cases(seed=20240611, count=fuzz_rounds(2500), budget_seconds=30 * FUZZ_SCALE)
    assert failures == [], "\n".join(failures[:10])
    assert done > 200
