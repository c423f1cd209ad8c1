import pytest

from conftest import allocated_growth


@pytest.fixture
def G(core):
    return core.Grammar


def worked_example(G):
    g = G(["PLUS", "ID"])
    g.add_production("E", ["E", "PLUS", "T"], 1)
    g.add_production("E", ["T"], 2)
    g.add_production("T", ["ID"], 3)
    g.set_start("E")
    return g


def ambiguous(G):
    g = G(["PLUS", "ID"])
    g.add_production("E", ["E", "PLUS", "E"])
    g.add_production("E", ["ID"])
    g.set_start("E")
    return g


def test_class_traits(core):
    assert core.Grammar.__text_signature__ == "(terminals=None)"
    assert core.Grammar.add_production.__text_signature__ == (
        "($self, name, syms, line=0, precedence=None, prec_tuple=None)")
    assert core.Grammar.build_table.__text_signature__ == "($self)"
    with pytest.raises(TypeError):
        core.LRTable()
    with pytest.raises(TypeError):
        class Sub(core.Grammar):
            pass


def test_worked_example_table(G, core):
    t = worked_example(G).build_table()
    assert isinstance(t, core.LRTable)
    assert t.num_states == 6 == len(t.states) == len(t.action) == len(t.goto)
    assert t.states[1] == [(0, 1), (1, 1)]
    assert t.action[1] == {"$end": 0, "PLUS": 4}
    assert t.goto[1] == {}
    assert t.goto[0] == {"E": 1, "T": 2}
    assert t.lookaheads == {(5, 1): ["PLUS", "$end"], (2, 2): ["PLUS", "$end"], (3, 3): ["PLUS", "$end"]}
    assert t.conflicts == [] and t.sr_conflicts == [] and t.rr_conflicts == []


def test_reads_are_new_objects(G):
    t = worked_example(G).build_table()
    a, b = t.action, t.action
    assert a == b and a is not b
    a[99] = {}
    a[1]["X"] = 5
    assert 99 not in t.action and "X" not in t.action[1]


def test_ambiguous_grammar_conflict_records(G):
    t = ambiguous(G).build_table()
    assert t.sr_conflicts == [(4, "PLUS", "shift")]
    [c] = t.conflicts
    assert list(c) == ["kind", "state", "token", "resolution", "reason", "candidates"]
    assert (c["kind"], c["state"], c["token"], c["resolution"]) == ("shift/reduce", 4, "PLUS", "shift")
    assert c["candidates"] == [(1, 1), (1, 3)]


def test_nonassoc_gives_explicit_error_entry(G):
    g = G(["LT", "ID"])
    g.set_precedence([("nonassoc", ["LT"])])
    g.add_production("E", ["E", "LT", "E"])
    g.add_production("E", ["ID"])
    g.set_start("E")
    t = g.build_table()
    assert None in [v for row in t.action.values() for v in row.values()]
    assert t.sr_conflicts[0][2] == "error (nonassoc)"


def test_two_builds_are_equal_and_independent(G):
    g = worked_example(G)
    t1, t2 = g.build_table(), g.build_table()
    assert t1 is not t2
    for prop in ("action", "goto", "states", "lookaheads", "conflicts", "num_states"):
        assert getattr(t1, prop) == getattr(t2, prop)
    first, follow = g.first, g.follow
    g.add_production("T", ["LPAREN", "E", "RPAREN"])
    t3 = g.build_table()
    assert any((4, 0) in items for items in t3.states)  # the new production is in the automaton
    assert g.first == first and g.follow == follow  # the caches keep their first content


def test_first_and_follow(G):
    g = worked_example(G)
    assert g.first == {} and g.follow == {}
    g.build_table()
    assert g.first["$end"] == {"$end"} and g.first["E"] == {"ID"} and g.first["S'"] == set()
    assert "$end" in g.follow["S'"] and g.follow["E"] == {"PLUS", "$end"}
    g.first["E"].add("junk")
    assert g.first["E"] == {"ID"}


def test_build_without_start_panics_then_recovers(G):
    g = G(["ID"])
    g.add_production("E", ["ID"])
    with pytest.raises(BaseException) as info:
        g.build_table()
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    g.set_start("E")
    assert g.build_table().num_states > 0


def test_production_numbers_around_set_start(G):
    g = G(["a"])
    assert [g.add_production("A", ["a"]), g.add_production("B", ["A"])] == [0, 1]
    g.set_start("B")
    assert g.add_production("C", []) == 3


@pytest.mark.parametrize(
    "call, exc, message, note",
    [
        (lambda G: G("ab"), TypeError, "Can't extract `str` to `Vec`", "terminals"),
        (lambda G: G().add_production("A", "ab"), TypeError, "Can't extract `str` to `Vec`", "syms"),
        (lambda G: G().add_production("A", ["a"], line=None), TypeError, None, "line"),
        (lambda G: G().add_production("A", ["a"], line=-1), OverflowError, None, "line"),
        (lambda G: G().add_production("A", ["a"], prec_tuple=["left", 1]), TypeError,
         "'list' object is not an instance of 'tuple'", "prec_tuple"),
        (lambda G: G().add_production("A", ["a"], prec_tuple=("left",)), ValueError,
         "expected tuple of length 2, but got tuple of length 1", "prec_tuple"),
        (lambda G: G().add_production("A", ["a"], prec_tuple=("left", 2**31)), OverflowError,
         "out of range integral type conversion attempted", "prec_tuple"),
        (lambda G: G().set_precedence([("left", "PLUS")]), TypeError, "Can't extract `str` to `Vec`", "prec_specs"),
        (lambda G: G().set_start(5), TypeError, "'int' object is not an instance of 'str'", "start"),
    ],
)
def test_conversion_failures(G, call, exc, message, note):
    with pytest.raises(exc) as info:
        call(G)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_model_refusals_are_value_errors(G):
    g = G(["PLUS"])
    with pytest.raises(ValueError, match='^Rule name "PLUS" conflicts with terminal symbol$'):
        g.add_production("PLUS", ["x"])
    with pytest.raises(ValueError, match="^Cannot determine start symbol: No productions defined$"):
        g.set_start()
    with pytest.raises(ValueError, match="^Invalid associativity"):
        g.set_precedence([("sideways", ["PLUS"])])
    assert g.set_precedence([("left", ["PLUS"])]) is None


def test_prec_tuple_wins_over_undeclared_precedence(G):
    g = G(["a"])
    assert g.add_production("A", ["a"], precedence="NOPE", prec_tuple=("left", 3)) == 0


def test_exclusive_access_during_conversion(G):
    g = G(["a"])

    class Sneaky:
        def __index__(self):
            with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
                g.first
            with pytest.raises(RuntimeError, match="^Already borrowed$"):
                g.set_start()
            return 4

    assert g.add_production("A", ["a"], line=Sneaky()) == 0


def test_no_leak_over_builds(G):
    def work():
        t = worked_example(G).build_table()
        t.action, t.goto, t.states, t.lookaheads, t.conflicts
        ambiguous(G).build_table().conflicts

    assert allocated_growth(work, rounds=500) < 100


def test_tables_do_not_depend_on_hash_seeds():
    import os
    import subprocess
    import sys

    script = (
        "from vexlor._core_rs import Grammar\n"
        "g = Grammar(['PLUS', 'TIMES', 'ID', 'LP', 'RP'])\n"
        "g.set_precedence([('left', ['PLUS']), ('left', ['TIMES'])])\n"
        "for rhs in (['E', 'PLUS', 'E'], ['E', 'TIMES', 'E'], ['LP', 'E', 'RP'], ['ID'], []):\n"
        "    g.add_production('E', rhs)\n"
        "g.set_start('E')\n"
        "t = g.build_table()\n"
        "print(sorted((s, sorted(r.items(), key=repr)) for s, r in t.action.items()), t.states,\n"
        "      sorted(t.lookaheads.items()), t.conflicts, sorted((k, sorted(v)) for k, v in g.follow.items()))\n"
    )
    outputs = {
        subprocess.run([sys.executable, "-c", script], env={**os.environ, "PYTHONHASHSEED": seed},
                       capture_output=True, text=True, check=True).stdout
        for seed in ("1", "2", "12345")
    }
    assert len(outputs) == 1
