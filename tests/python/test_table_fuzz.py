"""Random small grammars through build_table: every table is consistent with
its own item sets and lookaheads, and a grammar built twice gives equal tables."""

import random

import pytest

from conftest import fuzz_rounds

TERMINALS = ["a", "b", "c", "d"]
NONTERMINALS = ["S", "A", "B", "C"]


def random_grammar(core, rng, terminal_in_every_rule=False, error_rules=False):
    """A random grammar, and its productions in final numbering. With
    `terminal_in_every_rule`, no symbol derives itself or the empty string, so
    a parse cannot reduce for ever without reading ("error" counts as a
    terminal: it is shifted only after an insertion). With `error_rules`,
    right-hand sides may hold "error"."""
    g = core.Grammar(TERMINALS)
    levels = []
    if rng.random() < 0.6:
        levels = rng.sample(TERMINALS, rng.randrange(1, 4))
        g.set_precedence([(rng.choice(["left", "right", "nonassoc"]), [t]) for t in levels])
    rules = [("S", [rng.choice(NONTERMINALS[1:])] + ([rng.choice(TERMINALS)] if terminal_in_every_rule else []))]
    for _ in range(rng.randrange(2, 9)):
        name = rng.choice(NONTERMINALS)
        syms = [rng.choice(TERMINALS + NONTERMINALS) for _ in range(rng.randrange(0, 4))]
        if error_rules and rng.random() < 0.5:
            syms.insert(rng.randrange(len(syms) + 1), "error")
        if terminal_in_every_rule and not set(syms) & set(TERMINALS + ["error"]):
            syms.insert(rng.randrange(len(syms) + 1), rng.choice(TERMINALS))
        rules.append((name, syms))
    for name, syms in rules:
        prec = rng.choice(levels) if levels and rng.random() < 0.15 else None
        g.add_production(name, syms, precedence=prec)
    g.set_start("S")
    return g, [("S'", ["S"])] + rules


def snapshot(t):
    return (t.num_states, t.action, t.goto, t.states, t.lookaheads, t.conflicts)


def check_consistent(t, rules):
    n_states, action, goto = t.num_states, t.action, t.goto
    terminals = set(TERMINALS) | {"$end"}
    conflicts = {(c["state"], c["token"]) for c in t.conflicts}
    rule_names = {name for name, _ in rules}
    assert len(t.states) == len(action) == len(goto) == n_states
    for s, items in enumerate(t.states):
        candidates = {}
        for p, dot in items:
            rhs = rules[p][1]
            if dot < len(rhs):
                sym = rhs[dot]
                if sym in terminals:
                    candidates.setdefault(sym, set()).add("shift")
                elif sym in rule_names:
                    assert 0 <= goto[s][sym] < n_states, (s, sym)
                else:  # a symbol with no rules gets no entry
                    assert sym not in goto[s]
            elif p == 0:
                candidates.setdefault("$end", set()).add(0)
            else:
                for tok in t.lookaheads[(s, p)]:
                    candidates.setdefault(tok, set()).add(-p)
        assert set(action[s]) == set(candidates), s
        for tok, entry in action[s].items():
            cands = candidates[tok]
            if 0 in cands:  # accept wins on "$end" without a conflict record
                assert entry == 0
                continue
            if entry is not None:
                assert entry == 0 or -len(rules) < entry < 0 or 0 < entry < n_states
            chosen = "shift" if entry is not None and entry > 0 else entry
            if len(cands) == 1:
                assert chosen in cands or (chosen is None and "shift" in cands), (s, tok, entry, cands)
            else:
                assert chosen in cands or chosen is None, (s, tok, entry, cands)
                assert (s, tok) in conflicts, (s, tok)
        for (cs, tok) in conflicts:
            assert cs < n_states and tok in action[cs]


@pytest.mark.fuzz
def test_random_grammars_give_consistent_tables(core):
    rng = random.Random(2026)
    for _ in range(fuzz_rounds(400)):
        g, rules = random_grammar(core, rng)
        first = g.build_table()
        check_consistent(first, rules)
        assert snapshot(first) == snapshot(g.build_table())


@pytest.mark.fuzz
def test_random_grammars_parse_random_streams_in_every_style(core):
    from grammars import Tok

    rng = random.Random(77)
    outcomes = set()
    for i in range(fuzz_rounds(300)):
        g, rules = random_grammar(core, rng, terminal_in_every_rule=True)
        table = g.build_table()
        names, lens = [n for n, _ in rules], [len(s) for _, s in rules]
        engine = core.LRParserEngine.from_table(table, names, lens, [False] + [rng.random() < 0.5] * (len(rules) - 1))
        for style in ("core", "vex", "mox"):
            control = core.ParserControl()
            calls = [0]

            def error_cb(tok):
                calls[0] += 1
                if calls[0] > 20:
                    raise OverflowError("bounded")
                choice = rng.randrange(4)
                if choice == 1:
                    control.errok()
                elif choice == 2:
                    control.restart()
                elif choice == 3:
                    return Tok(rng.choice(TERMINALS + ["error", "$end"]))
                return None

            stream = [Tok(rng.choice(TERMINALS)) for _ in range(rng.randrange(8))]
            try:
                engine.parse(stream, lambda p, r, rhs: p, error_cb, control=control, recovery_style=style)
                outcomes.add("value")
            except SyntaxError:
                outcomes.add("syntax")
            except OverflowError:
                outcomes.add("callback")
    assert {"value", "syntax"} <= outcomes  # the random streams reach both ends


@pytest.mark.fuzz
def test_recovery_through_error_rules_always_ends(core):
    """Error rules whose shift state several contexts share can send the panic
    step round the same token for ever; every parse must still end. Every
    reduction goes through reduce_cb, which counts them: a parse that ends
    makes a bounded number."""
    from grammars import Tok

    class Endless(Exception):
        pass

    rng = random.Random(1210)
    outcomes = set()
    for _ in range(fuzz_rounds(300)):
        g, rules = random_grammar(core, rng, terminal_in_every_rule=True, error_rules=True)
        names, lens = [n for n, _ in rules], [len(s) for _, s in rules]
        engine = core.LRParserEngine.from_table(g.build_table(), names, lens, [True] * len(rules))
        for style in ("core", "vex", "mox"):
            for with_cb in (False, True):
                stream = [Tok(rng.choice(TERMINALS)) for _ in range(rng.randrange(8))]
                reductions = [0]

                def reduce_cb(p, result, rhs):
                    reductions[0] += 1
                    if reductions[0] > 200_000:
                        raise Endless(names, rules, [t.type for t in stream], style, with_cb)
                    return p

                try:
                    engine.parse(stream, reduce_cb, (lambda tok: None) if with_cb else None, recovery_style=style)
                    outcomes.add("value")
                except SyntaxError:
                    outcomes.add("syntax")
    assert outcomes == {"value", "syntax"}
