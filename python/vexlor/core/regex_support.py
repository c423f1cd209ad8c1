"""Translation of Python regular expressions for the native matcher (RE2).

The lexer calls ``native_pattern(pattern, flags, compiled)`` once per rule and
gets back ``(re2_text, ascii_only, prefix)``:

* ``re2_text`` is a pattern for RE2 (default options) that, searched anchored
  at any position of a text, matches exactly what ``compiled.match(text, pos)``
  matches there, or ``None`` when no such pattern can be given;
* ``ascii_only`` says that ``re2_text`` holds only on pure-ASCII texts;
* ``prefix`` is a literal text that every match begins with ("" when unsure).
  It is given also when ``re2_text`` is ``None``.

For a rule it will match through Python (no ``re2_text``, or one for ASCII
text only), the lexer also calls ``pretest_pattern`` when this module offers
it (the lexer needs ``native_pattern`` only): a looser RE2 pattern,
matching wherever the rule does, whose failure at a position spares the call
of the rule's ``match`` there.

The pattern is read with Python's own parser (``re._parser``), so it is read
exactly as ``re`` reads it, and written out in a small, explicit subset of RE2
syntax that needs no RE2 flags: every character class is spelled out as code
point ranges, ``.`` as a class, ``^``/``$`` as ``\\A``, ``\\z`` or ``(?m:^)``,
``(?m:$)``, every group as ``(?:...)``. RE2 would read a class of exactly an
ASCII letter and its case partner (``[Kk]``) as a case-folded literal, which
it folds by Unicode's rules when it merges it with a neighbouring class; so
the translator merges neighbouring single-character alternatives itself, and
gives such a pair a third member that no UTF-8 text holds.

Python's ``\\d``, ``\\w`` and ``\\s`` are Unicode-aware, RE2's are not: they
are written out as the explicit classes that the running interpreter's ``re``
matches with them (generated tables for its Unicode version, or asked of
``re`` itself). Python's ``\\b`` cannot be written for RE2 that way; patterns
with it are translated for pure-ASCII text only (``ascii_only``): each
single-character item becomes the exact set of ASCII characters that Python's
own engine matches with it. With ``re.ASCII`` both engines agree on every
text and the translation holds everywhere. Case-insensitive matching is
written out as explicit classes: under Unicode rules an ASCII letter also
matches a few non-ASCII characters (k matches U+212A), which the class then
holds, as Python's own engine reports them; a case-insensitive item with cased
non-ASCII members, or with cased members beside ``\\d``, ``\\w`` or ``\\s``,
is translated for ASCII text only.

Refused (``None``): look-arounds, back-references, conditionals, atomic groups,
possessive repeats, ``\\B``, a ``$`` without ``re.MULTILINE`` (Python's also
matches before a final line feed), a repeat whose body can match the empty
string (Python and RE2 stop such loops by different rules), repeat counts
above RE2's limit of 1000, bytes patterns, and any object that is not a
compiled ``re`` pattern.
"""

import array
import re
import unicodedata
from functools import lru_cache
from re import _constants as _c
from re import _parser

import _sre

from . import _unicode_classes

__all__ = ["native_pattern", "pretest_pattern"]

_IGNORECASE = re.IGNORECASE
_MULTILINE = re.MULTILINE
_DOTALL = re.DOTALL
_ASCII = re.ASCII
_TYPE_FLAGS = re.ASCII | re.LOCALE | re.UNICODE

_MAX_CP = 0x10FFFF
_MAX_COUNT = 1000  # RE2's largest repetition count
_SURROGATES = (0xD800, 0xDFFF)
_NO_CHAR = r"[^\x00-\x{10FFFF}]"
_UNMATCHABLE = r"\x{D800}"  # a class member that UTF-8 text never holds

# RE2 metacharacters outside a class; a backslash makes each a literal.
_RE2_META = frozenset("\\.+*?()|[]{}^$")

_ASCII_CATEGORY = {
    _c.CATEGORY_DIGIT: ((0x30, 0x39),),
    _c.CATEGORY_WORD: ((0x30, 0x39), (0x41, 0x5A), (0x5F, 0x5F), (0x61, 0x7A)),
    _c.CATEGORY_SPACE: ((0x09, 0x0D), (0x20, 0x20)),
}
_NEGATED_CATEGORY = {
    _c.CATEGORY_NOT_DIGIT: _c.CATEGORY_DIGIT,
    _c.CATEGORY_NOT_WORD: _c.CATEGORY_WORD,
    _c.CATEGORY_NOT_SPACE: _c.CATEGORY_SPACE,
}
_CATEGORY_SOURCE = {
    _c.CATEGORY_DIGIT: r"\d",
    _c.CATEGORY_NOT_DIGIT: r"\D",
    _c.CATEGORY_WORD: r"\w",
    _c.CATEGORY_NOT_WORD: r"\W",
    _c.CATEGORY_SPACE: r"\s",
    _c.CATEGORY_NOT_SPACE: r"\S",
}
_CHAR_OPS = (_c.LITERAL, _c.NOT_LITERAL, _c.ANY, _c.IN)
_REPEAT_OPS = (_c.MAX_REPEAT, _c.MIN_REPEAT)


class _Refused(Exception):
    """The pattern has no RE2 equivalent (or none we can vouch for)."""


class _NeedsAscii(Exception):
    """The pattern has an RE2 equivalent on pure-ASCII text only."""


def native_pattern(pattern, flags, compiled):
    """Return ``(native_text_or_None, ascii_only, literal_prefix)``.

    ``compiled`` is what the lexer will call ``match`` on; it is the one
    translated (``pattern`` and ``flags`` are what it was compiled from).
    """
    parsed = _parse(pattern, flags, compiled)
    if parsed is None:
        return (None, False, "")
    tree, global_flags = parsed
    try:
        prefix = _prefix(list(tree), global_flags)[0]
    except RecursionError:
        prefix = ""
    return _write(tree, global_flags, loose=False) + (prefix,)


def pretest_pattern(pattern, flags, compiled):
    """Return ``(re2_text_or_None, ascii_only)``: a looser pattern for a rule
    that the lexer matches through Python, as ``native_pattern`` reads its
    arguments.

    Wherever ``compiled.match`` succeeds, the looser pattern matches too (at
    the same position, on pure-ASCII text only when ``ascii_only``), so where
    it does not match, the call cannot succeed and may be skipped. It is the
    translation with look-arounds, ``\\B`` and a Unicode-aware ``\\b`` dropped,
    atomic groups and possessive repeats read as plain ones, ``$`` read as the
    end of any line, and repeats whose body can match the empty string kept.
    Only whether there is a match matters here, not where it ends, so every
    repeat is written lazy: RE2 can then stop at the first match. None for
    anything but a compiled ``re`` pattern of str, and where back-references,
    conditionals or large repeat counts leave no such pattern.
    """
    parsed = _parse(pattern, flags, compiled)
    if parsed is None:
        return (None, False)
    return _write(*parsed, loose=True)


def _parse(pattern, flags, compiled):
    """(parsed pattern, its global flags) of what ``compiled`` is, or None."""
    if compiled is None:
        try:
            compiled = re.compile(pattern, flags)
        except Exception:
            return None
    if not isinstance(compiled, re.Pattern) or not isinstance(compiled.pattern, str):
        return None
    try:
        tree = _parser.parse(compiled.pattern, compiled.flags & ~re.DEBUG)
    except Exception:
        return None
    return tree, tree.state.flags


def _write(tree, flags, loose):
    """(RE2 text, ascii_only), or (None, False) when there is none."""
    try:
        return (_Writer(ascii_text=False, loose=loose).sequence(tree, flags), False)
    except _NeedsAscii:
        pass
    except (_Refused, RecursionError):
        return (None, False)
    try:
        return (_Writer(ascii_text=True, loose=loose).sequence(tree, flags), True)
    except (_Refused, _NeedsAscii, RecursionError):
        return (None, False)


def _combine_flags(flags, add_flags, del_flags):
    # As the compiler of `re` does for a scoped-flags group.
    if add_flags & _TYPE_FLAGS:
        flags &= ~_TYPE_FLAGS
    return (flags | add_flags) & ~del_flags


# Code point sets, as sorted lists of disjoint, non-adjacent (lo, hi) ranges.

def _normalize(ranges):
    out = []
    for lo, hi in sorted(ranges):
        if out and lo <= out[-1][1] + 1:
            if hi > out[-1][1]:
                out[-1] = (out[-1][0], hi)
        else:
            out.append((lo, hi))
    return out


def _complement(ranges):
    out = []
    nxt = 0
    for lo, hi in ranges:
        if lo > nxt:
            out.append((nxt, lo - 1))
        nxt = hi + 1
    if nxt <= _MAX_CP:
        out.append((nxt, _MAX_CP))
    return out


def _subtract(ranges, lo_cut, hi_cut):
    out = []
    for lo, hi in ranges:
        if hi < lo_cut or lo > hi_cut:
            out.append((lo, hi))
            continue
        if lo < lo_cut:
            out.append((lo, lo_cut - 1))
        if hi > hi_cut:
            out.append((hi_cut + 1, hi))
    return out


def _ascii_case_closure(ranges):
    extra = []
    for lo, hi in ranges:
        for base, other in ((0x41, 0x61), (0x61, 0x41)):
            a, b = max(lo, base), min(hi, base + 25)
            if a <= b:
                extra.append((a - base + other, b - base + other))
    return _normalize(list(ranges) + extra)


def _is_ascii_letter(cp):
    return 0x41 <= cp <= 0x5A or 0x61 <= cp <= 0x7A


def _has_cased(ranges):
    """Whether the set holds a character that case-insensitive matching
    changes (as the compiler of `re` asks)."""
    return any(_sre.unicode_iscased(cp) for lo, hi in ranges for cp in range(lo, hi + 1))


# What \d, \w and \s match without re.ASCII.

@lru_cache(maxsize=1)
def _every_code_point():
    return array.array("I", range(_MAX_CP + 1)).tobytes().decode("utf-32-le", "surrogatepass")


def _runs_of(source):
    """The code point ranges that the one-character item `source` matches,
    asked of `re` over every code point."""
    return tuple((m.start(), m.end() - 1) for m in re.finditer("(?:%s)+" % source, _every_code_point()))


@lru_cache(maxsize=1)
def _unicode_categories():
    """\\d, \\w and \\s as the running interpreter's `re` reads them: the
    generated tables when they were made for its Unicode version, else asked
    of `re` itself (once)."""
    if unicodedata.unidata_version == _unicode_classes.UNICODE_VERSION:
        digit, word, space = _unicode_classes.DIGIT, _unicode_classes.WORD, _unicode_classes.SPACE
    else:
        digit, word, space = _runs_of(r"\d"), _runs_of(r"\w"), _runs_of(r"\s")
    return {_c.CATEGORY_DIGIT: digit, _c.CATEGORY_WORD: word, _c.CATEGORY_SPACE: space}


def _category_ranges(code, flags):
    positive = _ASCII_CATEGORY if flags & _ASCII else _unicode_categories()
    if code in positive:
        return list(positive[code])
    if code in _NEGATED_CATEGORY:
        return _complement(list(positive[_NEGATED_CATEGORY[code]]))
    raise _Refused


# RE2 spelling.

def _re2_literal(cp):
    if 0x20 < cp < 0x7F:
        ch = chr(cp)
        return "\\" + ch if ch in _RE2_META else ch
    return "\\x{%X}" % cp


def _re2_class_member(lo, hi):
    def one(cp):
        return chr(cp) if chr(cp).isalnum() and cp < 0x80 else "\\x{%X}" % cp

    return one(lo) if lo == hi else one(lo) + "-" + one(hi)


def _is_letter_pair(ranges):
    """Whether the set is exactly an ASCII capital and its small letter."""
    return (len(ranges) == 2 and ranges[0][0] == ranges[0][1] and ranges[1][0] == ranges[1][1]
            and 0x41 <= ranges[0][0] <= 0x5A and ranges[1][0] == ranges[0][0] + 0x20)


def _re2_set(ranges):
    """RE2 text matching one character of the set (surrogates aside, which a
    UTF-8 text cannot hold)."""
    ranges = _subtract(ranges, *_SURROGATES)
    if not ranges:
        return _NO_CHAR
    if len(ranges) == 1 and ranges[0][0] == ranges[0][1]:
        return _re2_literal(ranges[0][0])
    if ranges[-1][1] == _MAX_CP:
        rest = _subtract(_complement(ranges), *_SURROGATES)
        if not rest:
            return r"(?s:.)"
        return "[^" + "".join(_re2_class_member(lo, hi) for lo, hi in rest) + "]"
    members = "".join(_re2_class_member(lo, hi) for lo, hi in ranges)
    if _is_letter_pair(ranges):
        # RE2 reads [Kk] as a case-folded literal k and folds it by Unicode's
        # rules wherever it merges it with a neighbouring class (k gains
        # U+212A, s U+017F); the release Debian 12 ships can also lose a
        # letter in that merge. A third member that no UTF-8 text holds, a
        # surrogate, keeps the set a plain class.
        members += _UNMATCHABLE
    return "[" + members + "]"


# Single-character items on pure-ASCII text: asked of Python's engine itself.

def _py_char(cp):
    return "\\U%08x" % cp


def _item_source(op, av):
    """Python source of one single-character item, for the ASCII probe."""
    if op is _c.LITERAL:
        return _py_char(av)
    if op is _c.NOT_LITERAL:
        return "[^" + _py_char(av) + "]"
    if op is _c.ANY:
        return "."
    parts = []
    negate = False
    for k, (iop, iav) in enumerate(av):
        if iop is _c.NEGATE and k == 0:
            negate = True
        elif iop is _c.LITERAL:
            parts.append(_py_char(iav))
        elif iop is _c.RANGE:
            parts.append(_py_char(iav[0]) + "-" + _py_char(iav[1]))
        elif iop is _c.CATEGORY and iav in _CATEGORY_SOURCE:
            parts.append(_CATEGORY_SOURCE[iav])
        else:
            raise _Refused
    return "[" + ("^" if negate else "") + "".join(parts) + "]"


@lru_cache(maxsize=4096)
def _ascii_members(source, flags):
    probe = re.compile(source, flags & (_IGNORECASE | _DOTALL | _TYPE_FLAGS))
    return tuple(cp for cp in range(0x80) if probe.fullmatch(chr(cp)))


@lru_cache(maxsize=1)
def _ascii_fold_partners():
    """The non-ASCII characters that match some ASCII character under
    Unicode case folding (read once from Python's engine)."""
    probe = re.compile(r"[\x00-\x7f]", _IGNORECASE)
    text = "".join(map(chr, range(0x80, _MAX_CP + 1)))
    return tuple(sorted({ord(ch) for ch in probe.findall(text)}))


@lru_cache(maxsize=4096)
def _fold_members(source, flags):
    """Every code point that a class of ASCII members matches under Unicode
    case folding: a character matching it matches [\x00-\x7f] too, so only
    ASCII and the fold partners need asking."""
    probe = re.compile(source, flags & (_IGNORECASE | _DOTALL | _TYPE_FLAGS))
    candidates = list(range(0x80)) + list(_ascii_fold_partners())
    return tuple(cp for cp in candidates if probe.fullmatch(chr(cp)))


def _ranges_of_codes(codes):
    return _normalize((cp, cp) for cp in codes)


class _Writer:
    """Writes a parsed pattern as RE2 text, for any text or for ASCII text;
    exactly, or loosely (see pretest_pattern)."""

    def __init__(self, ascii_text, loose=False):
        self.ascii_text = ascii_text
        self.loose = loose

    def sequence(self, items, flags):
        return "".join(self.item(op, av, flags) for op, av in items)

    def item(self, op, av, flags):
        chars = self.one_char(op, av, flags)
        if chars is not None:
            return _re2_set(chars)
        if op is _c.SUBPATTERN:
            _group, add_flags, del_flags, body = av
            return "(?:" + self.sequence(body, _combine_flags(flags, add_flags, del_flags)) + ")"
        if op is _c.BRANCH:
            return "(?:" + "|".join(self.branches(av[1], flags)) + ")"
        if op in _REPEAT_OPS:
            return self.repeat(op, av, flags)
        if op is _c.AT:
            return self.assertion(av, flags)
        if self.loose:
            if op is _c.ASSERT or op is _c.ASSERT_NOT:
                return ""
            if op is _c.ATOMIC_GROUP:
                return "(?:" + self.sequence(av, flags) + ")"
            if op is _c.POSSESSIVE_REPEAT:
                return self.repeat(_c.MAX_REPEAT, av, flags)
        raise _Refused

    # RE2 merges neighbouring alternatives of one character each into one
    # class, and reads a group holding only such a class as that class, so a
    # class can arise in RE2 that the text never spells out (K|k is [Kk]).
    # The writer merges them itself and spells every class it gives RE2.

    def one_char(self, op, av, flags):
        """The set of characters an item matches when RE2 reads it as one
        class: a single-character item, or a group or alternation of such;
        None for anything else."""
        if op in _CHAR_OPS:
            if self.ascii_text:
                return _ranges_of_codes(_ascii_members(_item_source(op, av), flags))
            return self.char_set(op, av, flags)
        if op is _c.SUBPATTERN:
            _group, add_flags, del_flags, body = av
            if len(body) == 1:
                return self.one_char(*body[0], _combine_flags(flags, add_flags, del_flags))
        elif op is _c.BRANCH:
            sets = [self.one_char_branch(b, flags) for b in av[1]]
            if all(s is not None for s in sets):
                return _normalize(r for s in sets for r in s)
        return None

    def one_char_branch(self, items, flags):
        return self.one_char(*items[0], flags) if len(items) == 1 else None

    def branches(self, alternatives, flags):
        """The alternatives as RE2 texts, each run of one-character
        alternatives merged into one class (an alternation of single
        characters matches what their union matches)."""
        out = []
        run = None
        for items in alternatives:
            chars = self.one_char_branch(items, flags)
            if chars is not None:
                run = chars if run is None else _normalize(run + chars)
                continue
            if run is not None:
                out.append(_re2_set(run))
                run = None
            out.append(self.sequence(items, flags))
        if run is not None:
            out.append(_re2_set(run))
        return out

    def repeat(self, op, av, flags):
        lo, hi, body = av
        unbounded = hi == _c.MAXREPEAT
        if lo > _MAX_COUNT or (not unbounded and hi > _MAX_COUNT):
            raise _Refused
        if _nullable(body) and not self.loose:
            raise _Refused
        if unbounded:
            count = {0: "*", 1: "+"}.get(lo, "{%d,}" % lo)
        elif lo == 0 and hi == 1:
            count = "?"
        elif lo == hi:
            count = "{%d}" % lo
        else:
            count = "{%d,%d}" % (lo, hi)
        # A loose pattern only tells whether there is a match: lazy repeats
        # let RE2 stop at the first one instead of looking for a longer one.
        lazy = "?" if op is _c.MIN_REPEAT or self.loose else ""
        return "(?:" + self.sequence(body, flags) + ")" + count + lazy

    def assertion(self, code, flags):
        if code is _c.AT_BEGINNING:
            return "(?m:^)" if flags & _MULTILINE else r"\A"
        if code is _c.AT_BEGINNING_STRING:
            return r"\A"
        if code is _c.AT_END:
            if flags & _MULTILINE or self.loose:
                return "(?m:$)"
            raise _Refused  # Python's $ also matches before a final line feed
        if code is _c.AT_END_STRING:
            return r"\z"
        if code is _c.AT_BOUNDARY:
            if flags & _ASCII or self.ascii_text:
                return r"\b"
            if self.loose:
                return ""
            raise _NeedsAscii
        if code is _c.AT_NON_BOUNDARY and self.loose:
            return ""
        raise _Refused

    def char_set(self, op, av, flags):
        """The exact set of code points one single-character item matches on
        any text, or _NeedsAscii when Unicode rules make RE2 differ."""
        if op is _c.ANY:
            return [(0, _MAX_CP)] if flags & _DOTALL else _complement([(0x0A, 0x0A)])
        negate = op is _c.NOT_LITERAL
        if op is _c.IN:
            items = list(av)
            if items and items[0][0] is _c.NEGATE:
                negate = True
                items = items[1:]
        else:
            items = [(_c.LITERAL, av)]
        members = []     # characters and ranges
        categories = []  # what the \d, \w and \s members match
        for iop, iav in items:
            if iop is _c.LITERAL:
                members.append((iav, iav))
            elif iop is _c.RANGE:
                members.append((iav[0], iav[1]))
            elif iop is _c.CATEGORY:
                categories.extend(_category_ranges(iav, flags))
            else:
                raise _Refused
        members = _normalize(members)
        if flags & _IGNORECASE:
            if flags & _ASCII:
                members, categories = _ascii_case_closure(members + categories), []
            elif _has_cased(members):
                # re then tests each character's lower case against the
                # whole set, categories included.
                if categories or members[-1][1] >= 0x80:
                    raise _NeedsAscii
                # Unicode folding of ASCII letters: k also matches U+212A, s
                # U+017F, i U+0130 and U+0131. Python's engine says which.
                positive = _item_source(_c.IN, [(_c.RANGE, r) for r in members])
                members = _ranges_of_codes(_fold_members(positive, flags))
        ranges = _normalize(members + categories)
        return _complement(ranges) if negate else ranges


def _nullable(items):
    return all(_item_nullable(op, av) for op, av in items)


def _item_nullable(op, av):
    if op in _CHAR_OPS:
        return False
    if op is _c.SUBPATTERN:
        return _nullable(av[3])
    if op is _c.BRANCH:
        return any(_nullable(b) for b in av[1])
    if op in _REPEAT_OPS or op is _c.POSSESSIVE_REPEAT:
        return av[0] == 0 or _nullable(av[2])
    if op is _c.ATOMIC_GROUP:
        return _nullable(av)
    return True  # assertions, and (conservatively) anything else


def _fixed_char(cp, flags):
    """The character a LITERAL matches, when it matches only itself."""
    if _SURROGATES[0] <= cp <= _SURROGATES[1]:
        return None  # the prefix must have a UTF-8 form
    if flags & _IGNORECASE:
        if flags & _ASCII:
            if _is_ascii_letter(cp):
                return None
        elif cp >= 0x80 or _is_ascii_letter(cp):
            return None
    return chr(cp)


def _prefix(items, flags):
    """(text, whole): a literal text every match of `items` begins with, and
    whether every match of `items` is exactly that text."""
    out = []
    for op, av in items:
        if op is _c.LITERAL:
            ch = _fixed_char(av, flags)
            if ch is None:
                return "".join(out), False
            out.append(ch)
        elif op is _c.AT or op is _c.ASSERT or op is _c.ASSERT_NOT:
            continue  # consumes nothing
        elif op is _c.SUBPATTERN:
            text, whole = _prefix(av[3], _combine_flags(flags, av[1], av[2]))
            out.append(text)
            if not whole:
                return "".join(out), False
        elif op is _c.ATOMIC_GROUP:
            text, whole = _prefix(av, flags)
            out.append(text)
            if not whole:
                return "".join(out), False
        elif (op in _REPEAT_OPS or op is _c.POSSESSIVE_REPEAT) and av[0] >= 1:
            text, whole = _prefix(av[2], flags)
            out.append(text)
            if whole and av[0] == av[1]:
                out.append(text * (av[0] - 1))
            else:
                return "".join(out), False
        else:
            return "".join(out), False
    return "".join(out), True
