"""_ProductionView over a sequence of symbol objects, as Python code builds it.

The mode backed by reduction data is reached through a parse and is tested in
test_proxy_reduction.py.
"""

import gc
import threading
import weakref

import pytest

from conftest import allocated_growth


@pytest.fixture
def View(core):
    return core._ProductionView


@pytest.fixture
def sym(core):
    return core.ParsedSymbol


def test_list_backed_reads_and_writes_go_to_the_items(View, sym):
    a, b = sym("A", "a"), sym("B", "b")
    items = [a, b]
    stack = [sym("X", "x0"), sym("Y", "y0")]
    v = View(items, stack, "lexer", "parser", {"n": 1})
    assert len(v) == 2
    assert (v[0], v[1], v[True], v[False]) == ("a", "b", "b", "a")
    assert v[0:2] == ["a", "b"] and v[::-1] == ["b", "a"]
    assert list(v) == ["a", "b"]  # the index protocol, up to the list's IndexError
    assert v[-1] == "y0" and v[-2] == "x0"  # negative keys read the stack
    v[0] = "A2"
    v[-1] = "B2"  # negative assignment counts from the end of the items
    assert (a.value, b.value) == ("A2", "B2")
    assert v._slice is items and v._stack is stack
    v._stack = None
    assert v._stack is None
    with pytest.raises(IndexError, match="^Stack is not available for negative index$"):
        v[-1]


@pytest.mark.parametrize(
    "key, exc, message",
    [
        (2**64, IndexError, "reduction index out of range"),
        (-(2**64), IndexError, "cannot fit 'int' into an index-sized integer"),  # the stack's own
        ("a", TypeError, "'>=' not supported between instances of 'str' and 'int'"),
        (1.0, TypeError, "list indices must be integers or slices, not float"),
        (5, IndexError, "list index out of range"),
    ],
)
def test_read_failures(View, sym, key, exc, message):
    v = View([sym("A", 1)], [sym("X", 0)])
    with pytest.raises(exc) as info:
        v[key]
    assert str(info.value) == message


@pytest.mark.parametrize(
    "action, exc, message",
    [
        ("del v[0]", NotImplementedError, "can't delete item"),
        ("del v['x']", NotImplementedError, "can't delete item"),
        ("del v._slice", AttributeError, "property has no deleter"),
        ("del v._stack", AttributeError, "property has no deleter"),
        ("v[2**64] = 1", IndexError, "reduction index out of range"),
        ("v[-2**64] = 1", IndexError, "reduction index out of range"),
        ("v[0:1] = 1", AttributeError, "'list' object has no attribute 'value'"),  # the list's own
        ("v.other = 1", AttributeError, None),  # no instance dictionary
    ],
)
def test_write_failures_change_nothing(View, sym, action, exc, message):
    a = sym("A", 1)
    v = View([a])
    with pytest.raises(exc) as info:
        exec(action, {"v": v})
    if message is not None:
        assert str(info.value).startswith(message)
    assert a.value == 1 and len(v) == 1


def test_any_object_is_a_slice(View, sym):
    v = View(None)
    assert v._slice is None
    with pytest.raises(TypeError, match="has no len"):
        len(v)
    with pytest.raises(TypeError, match="not subscriptable"):
        v[0]
    v._slice = (sym("A", 7),)
    assert v[0] == 7 and len(v) == 1


def test_subclass_gets_a_dictionary_and_new_skips_init(View):
    class Sub(View):
        def __init__(self, *args):
            raise AssertionError("not called by __new__")

    v = Sub.__new__(Sub, [], "stack")
    v.lexer, v.parser, v._namemap = 1, 2, 3
    assert (v.lexer, v.parser, v._namemap, v._stack, len(v)) == (1, 2, 3, "stack", 0)
    assert isinstance(v, View)


def test_constructor_arguments(View):
    with pytest.raises(TypeError, match=r"^_ProductionView.__new__\(\) missing 1 required positional argument: 'slice_items'$"):
        View()
    v = View(slice_items=[], stack=None, lexer=1, parser=2, namemap=3)
    assert v._stack is None and v._slice == []


def test_cycles_through_views_are_collected(View, sym):
    class Sub(View):
        pass

    def cycle():
        s = sym("A")
        v = Sub([s], [s])
        s.value = v  # view -> list -> symbol -> view, and view -> stack -> symbol
        v.me = v  # and through the subclass's dictionary
        return weakref.ref(v)

    gone = cycle()
    gc.collect()
    assert gone() is None
    assert allocated_growth(cycle) < 100


def test_view_used_from_another_thread(View, sym):
    items = [sym("A", 0), sym("B", 0)]
    v = View(items, [sym("X", "below")])
    errors = []

    def work():
        try:
            for i in range(2000):
                v[1] = i
                assert v[1] == i and v[-1] == "below" and len(v) == 2
        except BaseException as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and items[1].value == 1999
