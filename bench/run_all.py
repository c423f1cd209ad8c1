"""All the benchmarks in one run: lexing, lexing and parsing, and table
construction, with the plain-Python baselines and the floors measured beside
ours. Writes the figures to bench/results/latest.json and a plot to
bench/results/latest.png, and prints a table for the README.

    bash scripts/bench            # builds the tree, then runs this
    python bench/run_all.py [--sizes 0.25,1,4,10] [--repeat 3] [--lalr build/bench/bench_lalr]
"""

import argparse
import collections
import json
import os
import platform
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import bench_lexer  # noqa: E402
import bench_parse  # noqa: E402

from vexlor import _core_rs  # noqa: E402


def lexing(sizes, repeat):
    """ns/token of tokenize, of the plain-Python lexer, and of a Python floor:
    the plain-Python lexer's master regular expression scanning the text with
    re.finditer, no token made."""
    lx = bench_lexer.native_lexer()
    master = re.compile("|".join(f"(?P<{n}>{p})" for n, p, _ in bench_lexer.RULES) + "|(?P<_IGNORE>[ \t\r\n]+)|.")
    out = {}
    for mb in sizes:
        text = bench_lexer.make_source(mb, non_ascii=False)
        count = len(lx.tokenize(text))
        cases = {
            "tokenize": lambda: lx.tokenize(text),
            "python lexer": lambda: list(bench_lexer.python_tokens(text)),
            "python floor (re.finditer, no tokens)": lambda: collections.deque(master.finditer(text), maxlen=0),
        }
        out[mb] = {"tokens": count, "ns_per_token": {}}
        for label, fn in cases.items():
            t = bench_lexer.best_time(fn, repeat)
            t_nogc = bench_lexer.best_time(fn, repeat, collector=False)
            out[mb]["ns_per_token"][label] = [t / count * 1e9, t_nogc / count * 1e9]
        print(f"lexing {mb:g} MB: " + ", ".join(f"{k} {v[1]:.0f}" for k, v in out[mb]["ns_per_token"].items())
              + " ns/token (collector paused)")
    return out


def table_building(lalr):
    if not lalr or not os.path.exists(lalr):
        print(f"no {lalr}: table construction skipped")
        return []
    lines = subprocess.run([lalr, "0.5", "--json"], capture_output=True, text=True, check=True).stdout
    rows = [json.loads(line) for line in lines.splitlines() if line.strip()]
    for r in rows:
        print(f"table {r['grammar']}: {r['productions']} productions, {r['states']} states, {r['median_ms']:.2f} ms")
    return rows


def plot(report, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from matplotlib.ticker import NullFormatter

    fig, axes = plt.subplots(1, 3, figsize=(16, 5))
    paused = 1  # figures with the collector paused, as timeit measures

    def series(ax, data, labels, title):
        sizes = sorted(data, key=float)
        for label, style in labels:
            ax.plot([float(s) for s in sizes], [data[s]["ns_per_token"][label][paused] for s in sizes], style,
                    label=label, marker="o")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("input size (MB of source)")
        ax.set_ylabel("ns per token (collector paused)")
        ax.set_title(title)
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8)

    series(axes[0], report["lexing"],
           [("tokenize", "-"), ("python lexer", "--"), ("python floor (re.finditer, no tokens)", ":")], "Lexing")
    series(axes[1], report["parsing"]["sizes"],
           [("lex+parse, cursor", "-"), ("parse, value_funcs", "-"), ("python lex+parse", "--"),
            ("python LR loop", "--"), ("floor (starmap)", ":")], "Parsing, and lexing plus parsing")
    rows = report["tables"]
    if rows:
        gen = [r for r in rows if r["grammar"].startswith("gen-")]
        axes[2].plot([r["productions"] for r in gen], [r["median_ms"] for r in gen], "-o", label="generated grammars")
        for r in rows:
            if not r["grammar"].startswith("gen-"):
                axes[2].plot([r["productions"]], [r["median_ms"]], "s", label=f"{r['grammar']} (C-like)")
        axes[2].set_xscale("log")
        axes[2].set_yscale("log")
        axes[2].set_xlabel("grammar size (productions)")
        axes[2].set_ylabel("build_table time (ms, median)")
        axes[2].set_title("LALR(1) table construction")
        axes[2].grid(True, which="both", alpha=0.3)
        axes[2].legend(fontsize=8)
    for ax in axes:
        ax.xaxis.set_minor_formatter(NullFormatter())
    fig.suptitle(report["machine"], fontsize=9)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def readme_table(report):
    big = max(report["parsing"]["sizes"], key=float)
    p = report["parsing"]["sizes"][big]["ns_per_token"]
    lexed = report["lexing"][max(report["lexing"], key=float)]["ns_per_token"]
    rows = [
        ("lexing (`tokenize`)", lexed["tokenize"], lexed["python lexer"]),
        ("parsing a token list, value functions", p["parse, value_funcs"], p["python LR loop"]),
        ("lexing and parsing, one token at a time", p["lex+parse, cursor"], p["python lex+parse"]),
        ("actions on a view (native proxy)", p["views, native proxy"], p["views, python loop"]),
    ]
    out = [f"Figures for {float(big):g} MB of generated C-like source, ns/token, collector paused "
           "(running in brackets):", "",
           "| workload | vexlor | plain Python | ratio |", "|---|---|---|---|"]
    for name, ours, theirs in rows:
        out.append(f"| {name} | {ours[1]:.0f} ({ours[0]:.0f}) | {theirs[1]:.0f} ({theirs[0]:.0f}) | "
                   f"{theirs[1] / ours[1]:.1f}x |")
    for r in report["tables"]:
        if r["grammar"] in ("vexc", "gen-4000"):
            out.append(f"| `build_table`, {r['productions']} productions | {r['median_ms']:.1f} ms | | |")
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="0.25,1,4,10", help="input sizes in MB")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--depth", type=int, default=1_000_000)
    ap.add_argument("--lalr", default=os.path.join(HERE, "..", "build", "bench", "bench_lalr"))
    ap.add_argument("--out", default=os.path.join(HERE, "results"))
    args = ap.parse_args()
    sizes = [float(s) for s in args.sizes.split(",")]

    machine = (f"{platform.machine()}, {os.cpu_count()} cores, {platform.python_implementation()} "
               f"{platform.python_version()}, vexlor._core_rs {_core_rs.version()}, {time.strftime('%Y-%m-%d')}")
    print(machine)
    report = {"machine": machine, "lexing": lexing(sizes, args.repeat)}
    report["parsing"] = bench_parse.measure(sizes, args.repeat, args.depth,
                                            say=lambda line: print(line) if "[" in line or "MB:" in line else None)
    report["tables"] = table_building(os.path.abspath(args.lalr))

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "latest.json"), "w") as f:
        json.dump(report, f, indent=1)
    plot(report, os.path.join(args.out, "latest.png"))
    print()
    print(readme_table(report))
    print(f"\nwrote {os.path.join(args.out, 'latest.json')} and latest.png")


if __name__ == "__main__":
    main()
