"""The examples run and print what they should."""

import os
import runpy

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")


def test_demo(capsys):
    runpy.run_path(os.path.join(EXAMPLES, "demo.py"), run_name="__main__")
    out = capsys.readouterr().out
    assert "the program evaluates to:\n  rate = 1.5\n  price = 40\n  total = 97\n  48.5\n  -91\n" in out
    assert "SyntaxError: Syntax error at ';' (type \";\") on line 1, pos 13" in out
