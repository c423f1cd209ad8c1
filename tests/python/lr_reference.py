"""A plain-Python LR parse over the `action` and `goto` dictionaries of an
LRTable, with the same reductions, value computations, ParserControl
requests and error recovery as LRParserEngine.parse. The differential tests
run both on the same input and callbacks and require the same calls and the
same outcome.

Tokens are objects with `type`, `value`, `lineno` and `lexpos` (no `end`: a
token ends after the text of its value)."""

END, ERROR = "$end", "error"
ERROR_SHIFTS = 3          # errorcount after an insertion of the error symbol or a discard
MAX_INSERTIONS = 1000     # insertions without progress before the token is given up
_ABSENT = object()


class Looping(Exception):
    """An unguarded parse ran past its step budget."""


class Sym:
    """A stack entry or lookahead, with the attributes of a ParsedSymbol."""

    __slots__ = ("type", "value", "lineno", "lexpos", "endlineno", "endlexpos")

    def __init__(self, type, value, lineno=1, lexpos=0, endlineno=1, endlexpos=0):
        self.type, self.value, self.lineno, self.lexpos = type, value, lineno, lexpos
        self.endlineno, self.endlexpos = endlineno, endlexpos

    def copy(self, type=None):
        return Sym(type or self.type, self.value, self.lineno, self.lexpos, self.endlineno, self.endlexpos)


class Control:
    """The errok and restart requests of a ParserControl, readable here."""

    def __init__(self):
        self.errok_requested = self.restart_requested = False

    def errok(self):
        self.errok_requested = True

    def restart(self):
        self.restart_requested = True


def symbol(tok):
    return Sym(tok.type, tok.value, tok.lineno, tok.lexpos, tok.lineno, tok.lexpos + len(str(tok.value)))


def _quoted(name):
    return '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'


# What follows error_cb, by style: (errok, restart, result given, at end) -> outcome.
def _after_callback(style, errok, restart, has_result, at_end):
    if style == "core":
        return "resume" if errok or restart else "return" if has_result else "panic"
    if errok if style == "vex" else has_result:
        return "resume"
    return "none" if at_end else "discard" if restart else "panic"


def parse(action, goto, names, lens, custom, value_flags, tokens, reduce_cb, error_cb=None, value_funcs=None,
          control=None, recovery_style="core", guard=True, max_steps=None, stats=None):
    """The value of the accepted parse, or the value error recovery returns;
    raises SyntaxError as the engine does. `custom` and `value_flags` are the
    per-production flags given to the engine (a missing value flag is
    false).

    The insertion guard gives a lookahead up after MAX_INSERTIONS insertions
    of the error symbol that reach no lower stack than every insertion since
    the last read; once it has, until a token is shifted, it does so at the
    first such insertion. With guard=False the loop runs as it would without
    it, and raises Looping after `max_steps` turns, or when it inserts the
    error symbol twice in the same configuration without reading (with
    callbacks that decide nothing, the parse is then in a loop for good).
    `stats`, a dict, gets the most insertions between two reads under
    "insertions"."""
    it = iter(tokens)
    ended = False
    inserted, lowest, count, gave_up = False, 0, 0, False
    since_read, seen, reads, first = 0, set(), 0, 0

    def fetch():
        nonlocal ended, inserted, count, since_read, reads
        inserted, count, since_read, reads = False, 0, 0, reads + 1
        seen.clear()
        if not ended:
            tok = next(it, _ABSENT)
            if tok is not _ABSENT:
                return symbol(tok)
            ended = True
        return Sym(END, END)

    states, stack = [0], [Sym(END, None)]
    la, saved, errorcount = fetch(), None, 0
    steps = 0
    while True:
        steps += 1
        if max_steps is not None and steps > max_steps:
            raise Looping
        if control is not None:
            if control.restart_requested:
                control.restart_requested = False
                states, stack, saved = [0], [Sym(END, None)], None
            if control.errok_requested:
                control.errok_requested = False
                errorcount = 0
        row = action[states[-1]]
        if saved is None:
            entry = row.get(la.type, _ABSENT)
            if entry is _ABSENT:  # the value may name the symbol
                entry = row.get(la.value) if isinstance(la.value, str) else None
        else:  # error mode: the action for "error", a reduce only if the stack holds its right-hand side
            entry = row.get(ERROR)
            if entry == 0 or (entry is not None and entry < 0 and lens[-entry] >= len(states)):
                entry = None

        if entry is not None and entry > 0:
            states.append(entry)
            stack.append(la)
            if saved is not None:
                la, saved = saved, None
            else:
                gave_up = False
                la = fetch()
                errorcount = max(errorcount - 1, 0)
            continue
        if entry == 0:
            return stack[-1].value
        if entry is not None:
            p = -entry
            n = lens[p]
            rhs = stack[len(stack) - n:]
            del stack[len(stack) - n:], states[len(states) - n:]
            if n:
                res = Sym(names[p], rhs[0].value, rhs[0].lineno, rhs[0].lexpos, rhs[-1].endlineno, rhs[-1].endlexpos)
            else:
                res = Sym(names[p], None)
            if p < len(value_flags) and value_flags[p]:
                value = value_funcs[p](*(s.value for s in rhs))
                if value is not None:
                    res.value = value
            elif custom[p]:
                res.value = reduce_cb(p, res, rhs)
            if control is not None and control.restart_requested:
                continue  # the result is dropped; the loop top restarts
            states.append(goto[states[-1]][names[p]])
            stack.append(res)
            continue

        # No action.
        if saved is not None:
            if len(states) <= 1:
                raise SyntaxError(f"Syntax error at {saved.value!r} (type {_quoted(saved.type)}) "
                                  f"on line {saved.lineno}, pos {saved.lexpos}")
            states.pop()
            stack.pop()
            continue
        outcome = "panic"
        if error_cb is not None and errorcount == 0:
            result = error_cb(la.copy())
            outcome = _after_callback(recovery_style, control is not None and control.errok_requested,
                                      control is not None and control.restart_requested,
                                      result is not None, la.type == END)
        if outcome == "resume":
            if control is not None:
                control.errok_requested = False
            la = symbol(result) if result is not None else fetch()
            errorcount = 0
        elif outcome == "return":
            return result
        elif outcome == "none":
            return None
        elif outcome == "discard":
            la = fetch()
            errorcount = ERROR_SHIFTS
        else:  # the panic step
            top_is_error = stack[-1].type == ERROR
            progress = not inserted or len(states) < lowest
            stuck = guard and not progress and (gave_up or count >= MAX_INSERTIONS)
            if top_is_error or stuck:
                if la.type == END:
                    raise SyntaxError(f"Syntax error at EOF on line {la.lineno}, pos {la.lexpos}")
                la = fetch()
                if top_is_error:
                    continue
                gave_up = True
            if not inserted:
                first = len(states)
            if not inserted or len(states) < lowest:
                inserted, lowest, count = True, len(states), 0
            elif not guard and len(states) <= first:
                # A repeat needs the same stack, so it is looked for only
                # where the stack is no lower than before (nor higher than
                # at the first insertion, which keeps the keys few).
                key = (tuple(states), tuple(s.type for s in stack), reads, la.type, errorcount)
                if key in seen:
                    raise Looping
                seen.add(key)
            saved, la = la, la.copy(ERROR)
            errorcount = ERROR_SHIFTS
            count += 1
            since_read += 1
            if stats is not None:
                stats["insertions"] = max(stats.get("insertions", 0), since_read)
