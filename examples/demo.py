"""A first look at vexlor's native core."""

from vexlor import _core_rs


def main():
    print(f"vexlor._core_rs {_core_rs.version()}")
    print("exports:", ", ".join(_core_rs.__all__))
    tok = _core_rs.Token("NUMBER", "42", lineno=1, lexpos=0)
    print(tok, "ends at", tok.end)


if __name__ == "__main__":
    main()
