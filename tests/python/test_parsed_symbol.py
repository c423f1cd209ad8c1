import gc

import pytest

from conftest import allocated_growth

MAX_U64 = 2**64 - 1


@pytest.fixture
def PS(core):
    return core.ParsedSymbol


def test_defaults_and_printed_form(PS):
    s = PS("NUM")
    assert (s.type, s.value, s.lineno, s.endlineno, s.lexpos, s.endlexpos) == ("NUM", None, 1, 1, 0, 0)
    assert repr(s) == str(s) == 'ParsedSymbol(type="NUM", value=None)'
    assert repr(PS("NUM", "hi")) == 'ParsedSymbol(type="NUM", value=hi)'
    assert repr(PS('a"b\n', 1)) == 'ParsedSymbol(type="a\\"b\\n", value=1)'
    assert repr(PS("x", "\udfff")) == 'ParsedSymbol(type="x", value=\ufffd\ufffd\ufffd)'


def test_class_traits(PS):
    assert PS.__text_signature__ == "(sym_type, value=None, lineno=1, endlineno=1, lexpos=0, endlexpos=0)"
    assert PS.__module__ == "builtins" and PS.__doc__ is None
    with pytest.raises(TypeError):
        class Sub(PS):
            pass


def test_all_arguments_by_keyword(PS):
    s = PS(endlexpos=4, lexpos=3, endlineno=2, lineno=1, value=[1], sym_type="e")
    assert (s.type, s.value, s.lineno, s.endlineno, s.lexpos, s.endlexpos) == ("e", [1], 1, 2, 3, 4)
    assert PS("e", None).value is None


@pytest.mark.parametrize(
    "kwargs, exc, note",
    [
        ({"sym_type": 5}, TypeError, "sym_type"),
        ({"sym_type": "\ud800"}, UnicodeEncodeError, "sym_type"),
        ({"sym_type": "a", "lineno": None}, TypeError, "lineno"),
        ({"sym_type": "a", "endlineno": "1"}, TypeError, "endlineno"),
        ({"sym_type": "a", "lexpos": -1}, OverflowError, "lexpos"),
        ({"sym_type": "a", "endlexpos": MAX_U64 + 1}, OverflowError, "endlexpos"),
    ],
)
def test_constructor_failures(PS, kwargs, exc, note):
    with pytest.raises(exc) as info:
        PS(**kwargs)
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_range_limits(PS):
    s = PS("a", lexpos=MAX_U64)
    assert s.lexpos == MAX_U64
    with pytest.raises(OverflowError):
        s.lexpos = MAX_U64 + 1
    assert s.lexpos == MAX_U64


@pytest.mark.parametrize("prop, note", [("type", "t"), ("sym_type", "value"), ("lineno", "lineno"),
                                        ("endlineno", "endlineno"), ("lexpos", "lexpos"), ("endlexpos", "endlexpos")])
def test_setter_notes(PS, prop, note):
    s = PS("a")
    before = getattr(s, prop)
    with pytest.raises(TypeError) as info:
        setattr(s, prop, 5.5 if prop not in ("type", "sym_type") else 5)
    assert info.value.__notes__ == [f"while processing '{note}'"]
    assert getattr(s, prop) == before


def test_setters_and_deletion(PS):
    s = PS("a")
    s.sym_type = "expr"
    assert s.type == "expr"
    s.value = v = object()
    assert s.value is v and s.value is s.value
    for prop in ("value", "type", "sym_type", "lineno", "endlineno", "lexpos", "endlexpos"):
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(s, prop)
    with pytest.raises(AttributeError):
        s.other = 1


def test_borrow_refusals(PS):
    s = PS("a")
    seen = {}

    class Meddler:
        def __str__(self):  # runs while repr holds shared access
            try:
                s.lineno = 2
            except RuntimeError as e:
                seen["write during repr"] = str(e)
            return "m"

        def __del__(self):  # runs while the value setter holds exclusive access
            try:
                s.value
            except RuntimeError as e:
                seen["read during write"] = str(e)

    s.value = Meddler()
    assert repr(s) == 'ParsedSymbol(type="a", value=m)'
    s.value = None
    assert seen == {"write during repr": "Already borrowed", "read during write": "Already mutably borrowed"}
    assert (s.lineno, s.value) == (1, None)


def test_identity_equality_and_hashing(PS):
    a, b = PS("a", 1), PS("a", 1)
    assert a != b and a == a
    assert len({a, b}) == 2 and hash(a) != hash(b)


def test_cycle_through_value_is_collected(PS):
    import weakref

    class Marker:
        pass

    s = PS("a", None, 2, 3, 4, 5)
    m = Marker()
    s.value = [s, m]
    r = weakref.ref(m)
    del s, m
    gc.collect()
    assert r() is None


def test_no_leak(PS):
    def work():
        s = PS("a", "v", 1, 2, 3, 4)
        s.value = [1]
        s.type = "b"
        repr(s)

    assert allocated_growth(work) < 100
