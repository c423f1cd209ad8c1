"""The repaired wheel installs into a bare virtual environment, and there the
module lexes and builds tables with the RE2 that the wheel carries, not the
system's. Its tags are those of the interpreter running the test and of the
system's glibc, which may be older than the one that interpreter runs on (the
CPython 3.14 of scripts/python3.14 brings its own).

Builds the wheel with scripts/wheel (a full Release compile), so it is not part
of the suite in tests/python; .ci/run runs it:
    .venv/bin/python -m pytest tests/wheel
"""

import json
import os
import pathlib
import re
import subprocess
import sys
import venv
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

PROGRAM = r"""
import json
from vexlor import _core_rs

lexer = _core_rs.LexerEngine()
lexer.add_rule("INITIAL", "NUMBER", r"[0-9]+")
lexer.add_rule("INITIAL", "NAME", r"[^\W\d]\w*")
lexer.set_ignore("INITIAL", " ")
lexer.set_literals("+")
tokens = [[t.type, t.value, t.lexpos] for t in lexer.tokenize("größe + 42 + x1")]

g = _core_rs.Grammar(["NUMBER", "NAME"])
g.add_production("expr", ["expr", "'+'", "term"], 1)
g.add_production("expr", ["term"], 2)
g.add_production("term", ["NUMBER"], 3)
g.add_production("term", ["NAME"], 4)
g.set_start("expr")
table = g.build_table()

mapped = set()
with open("/proc/self/maps") as maps:
    for line in maps:
        fields = line.split(maxsplit=5)
        if len(fields) == 6 and fields[5].startswith("/"):
            mapped.add(fields[5].strip())

print(json.dumps({
    "module": _core_rs.__file__,
    "matchers": lexer.matcher_kinds["INITIAL"],
    "tokens": tokens,
    "states": table.num_states,
    "mapped": sorted(mapped),
}))
"""


def system_glibc():
    """The version of the system's glibc, asked of a system program: this
    interpreter may run on a newer glibc of its own."""
    out = subprocess.run(["getconf", "GNU_LIBC_VERSION"], check=True, capture_output=True, text=True,
                         env={k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "LD_PRELOAD")})
    m = re.fullmatch(r"glibc (\d+)\.(\d+).*", out.stdout.strip())
    assert m, out.stdout
    return int(m[1]), int(m[2])


@pytest.mark.timeout(900)
def test_wheel_runs_in_bare_venv_on_its_own_re2(tmp_path):
    dist = tmp_path / "dist"
    subprocess.run(["bash", str(ROOT / "scripts" / "wheel"), str(dist)], check=True,
                   env={**os.environ, "VEXLOR_PYTHON": sys.executable})
    wheels = sorted(dist.glob("*.whl"))
    assert len(wheels) == 1, wheels
    wheel = wheels[0]
    m = re.fullmatch(r"vexlor-[^-]+-(cp3\d+)-(cp3\d+)-manylinux_(\d+)_(\d+)_x86_64\.whl", wheel.name)
    assert m, wheel.name
    ours = "cp%d%d" % sys.version_info[:2]
    assert (m[1], m[2]) == (ours, ours), wheel.name
    # Built with the system's compiler and C headers, the module needs no glibc
    # newer than the system's, whatever glibc the interpreter brings.
    assert (int(m[3]), int(m[4])) <= system_glibc(), (wheel.name, system_glibc())
    with zipfile.ZipFile(wheel) as z:
        bundled = [n for n in z.namelist() if n.startswith("vexlor.libs/") and not n.endswith("/")]
    assert any(re.fullmatch(r"vexlor\.libs/libre2-[0-9a-f]+\.so[.0-9]*", n) for n in bundled), bundled

    # A bare environment of this interpreter, without pip: this interpreter's
    # pip installs into it (--python), as an ensurepip may be unusable (on a
    # Debian-built interpreter it takes the system's own pip wheel).
    env_dir = tmp_path / "venv"
    venv.create(env_dir, with_pip=False)
    python = str(env_dir / "bin" / "python")
    # Nothing from the outside may steer the loader or the import path.
    clean = {k: v for k, v in os.environ.items()
             if k not in ("LD_LIBRARY_PATH", "LD_PRELOAD", "VIRTUAL_ENV") and not k.startswith("PYTHON")}
    subprocess.run([sys.executable, "-m", "pip", "--python", python, "install", "-q", "--no-index", str(wheel)],
                   check=True, env=clean, cwd=tmp_path)
    run = subprocess.run([python, "-I", "-c", PROGRAM], check=True, env=clean, cwd=tmp_path,
                         capture_output=True, text=True)
    out = json.loads(run.stdout)

    module = pathlib.Path(out["module"])
    assert module.is_relative_to(env_dir), module
    assert "native" in out["matchers"]
    assert out["tokens"] == [["NAME", "größe", 0], ["+", "+", 6], ["NUMBER", "42", 8],
                             ["+", "+", 11], ["NAME", "x1", 13]]
    assert out["states"] == 7

    re2 = [p for p in out["mapped"] if pathlib.Path(p).name.startswith("libre2")]
    assert len(re2) == 1, re2
    assert pathlib.Path(re2[0]).parent == module.parent.parent / "vexlor.libs", re2
