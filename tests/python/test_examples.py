"""The examples run and print what they should."""

import os
import runpy

import pytest

from conftest import damage, fuzz_rounds

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")


def test_demo(capsys):
    runpy.run_path(os.path.join(EXAMPLES, "demo.py"), run_name="__main__")
    out = capsys.readouterr().out
    assert "  line 1  STRING  'a \"b\"'    [6:15]\n" in out
    assert "the program prints:\n  total: 97\n  half of \"total\": 48.5 -91\n" in out
    assert ("a program with a syntax error:\n  syntax error on line 2 at '*'\n  (a statement was skipped)\n"
            "  a is still 42\n") in out


def json_like():
    import importlib.util

    spec = importlib.util.spec_from_file_location("json_like", os.path.join(EXAMPLES, "json_like.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_json_like_reads_what_json_reads():
    import json
    import random

    jl = json_like()
    lexer, engine = jl.make_lexer(), jl.make_engine()
    rng = random.Random(5)

    def value(depth):
        kind = rng.randrange(7 if depth < 4 else 4)
        if kind == 0:
            return rng.choice([True, False, None])
        if kind == 1:
            return rng.choice([0, -7, 12345678901234567890, 2.5, -1e-9])
        if kind == 2:
            return "".join(rng.choice('ab"\\\n\t\u00e9\u2713\U0001f600 ') for _ in range(rng.randrange(6)))
        if kind == 3:
            return []
        if kind in (4, 5):
            return [value(depth + 1) for _ in range(rng.randrange(4))]
        return {f"k{i}": value(depth + 1) for i in range(rng.randrange(4))}

    for _ in range(300):
        v = value(0)
        text = json.dumps(v, indent=rng.choice([None, 2]), ensure_ascii=rng.random() < 0.5)
        assert jl.load(text, lexer, engine) == v


def test_json_like_reports_malformed_files_with_line_and_column(tmp_path, capsys):
    jl = json_like()
    cases = [
        ('{"a": [1, 2,, 3]}', "line 1, column 13: unexpected ','"),
        ('{"a": 1,\n  "b": @}', "line 2, column 8: unexpected character '@'"),
        ('{"a": [1, 2', "line 1, column 12: the text ends too early"),
        ("", "line 1, column 1: the text ends too early"),
        ('{"a" 1}', "line 1, column 6: unexpected 1"),
    ]
    for text, message in cases:
        path = tmp_path / "bad.jsonx"
        path.write_text(text, encoding="utf-8")
        assert jl.main(["json_like.py", str(path)]) == 1
        assert capsys.readouterr().err == f"{path}: {message}\n"
    path.write_text('{"ok": [true, null,],}', encoding="utf-8")
    assert jl.main(["json_like.py", str(path)]) == 0
    assert capsys.readouterr().out == '{\n  "ok": [\n    true,\n    null\n  ]\n}\n'


@pytest.mark.fuzz
def test_json_like_never_crashes_on_damaged_text():
    import random

    jl = json_like()
    lexer, engine = jl.make_lexer(), jl.make_engine()
    rng = random.Random(11)
    base = open(os.path.join(EXAMPLES, "data", "config.jsonx"), encoding="utf-8").read()
    for _ in range(fuzz_rounds(1500)):
        text = list(base)
        damage(text, rng, lambda: rng.choice('{}[],:"\\#\n 0-etrufalsn\u00e9'), lambda: rng.choice('{}[],:"x'))
        try:
            jl.load("".join(text), lexer, engine)
        except jl.DataError:
            pass


@pytest.mark.fuzz
def test_demo_language_on_damaged_programs():
    import random

    from vexlor.core.lexer_engine import LexError

    demo = runpy.run_path(os.path.join(EXAMPLES, "demo.py"))
    lexer = demo["make_lexer"]()
    _, run = demo["make_parser"]()
    rng = random.Random(3)
    base = demo["PROGRAM"] + demo["BROKEN"]
    outcomes = set()
    for _ in range(fuzz_rounds(800)):
        text = list(base)
        for _ in range(rng.randrange(1, 5)):
            i = rng.randrange(len(text) + 1)
            if rng.random() < 0.5 and i < len(text):
                del text[i]
            else:
                text.insert(i, rng.choice('+-*/()=;,"\\#\n xletprint0.$'))
        try:
            run(lexer, "".join(text))
            outcomes.add("parsed or recovered")
        except SyntaxError:
            outcomes.add("syntax")
        except LexError:
            outcomes.add("lex")
        except ZeroDivisionError:
            outcomes.add("the program's own error")
    assert {"parsed or recovered", "syntax", "lex"} <= outcomes


def test_readme_sample(capsys):
    import re

    readme = open(os.path.join(EXAMPLES, "..", "README.md"), encoding="utf-8").read()
    code = re.search(r"```python\n(.*?)```", readme, re.S).group(1)
    exec(compile(code, "README.md", "exec"), {})
    assert capsys.readouterr().out == "14\n"
