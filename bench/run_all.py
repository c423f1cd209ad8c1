"""All the benchmarks in one run: lexing, parsing, lexing and parsing, view
actions, small inputs, keyword rules and table construction, with the
plain-Python baselines and the floors measured beside ours in the same run.
Writes the figures to latest.json, a plot to latest.png and the printed tables
to latest.md in the output folder (build/bench-results by default), and prints
each bar with its measured ratio and whether it holds.

    bash scripts/bench [--quick]   # builds the tree, then runs this
    bash scripts/bench --refresh   # the same, writing the committed figures in bench/results
    python bench/run_all.py [--quick] [--sizes 0.25,1,10] [--repeat 3] [--large-repeat 2] [--out DIR]
                            [--lalr build/bench/bench_lalr]
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
import bench_small  # noqa: E402

from vexlor import _core_rs  # noqa: E402

PAUSED, RUNNING = 1, 0  # index of the figure with the collector paused (as timeit measures) and running

# The panels' lines: JSON label, legend text, kind (vexlor, python or floor).
LEXING_LINES = [
    ("tokenize", "vexlor: LexerEngine.tokenize(text)", "vexlor"),
    ("python lexer", "plain Python: master-regex lexer making the same tokens", "python"),
    ("python floor (re.finditer, no tokens)",
     "Python floor: re.finditer over the master regex, no tokens made", "floor"),
]
PULL_LINE = ("iter(lexer.token)", "vexlor: lexer.input(text), then list(iter(lexer.token, None))", "vexlor")
PARSING_LINES = [
    ("parse, value_funcs", "vexlor: parse with value functions", "vexlor"),
    ("parse, reduce_cb", "vexlor: parse with one reduce_cb for every reduction", "vexlor"),
    ("parse, default", "vexlor: parse with default reductions only", "vexlor"),
    ("python LR loop", "plain Python: LR loop over the same action/goto tables, same value functions", "python"),
    ("floor (starmap)", "Python floor: the value functions alone, called with the parse's arguments "
     "by itertools.starmap, no parser", "floor"),
]
LEX_PARSE_LINES = [
    ("lex+parse, iter", "vexlor: parse(iter(lexer.token, None)), value functions", "vexlor"),
    ("lex+parse, cursor", "vexlor: the same through a TokenCursor", "vexlor"),
    ("python lex+parse", "plain Python: master-regex lexer feeding the LR loop", "python"),
]
VIEW_LINES = [
    ("views, native proxy", "vexlor: actions on a view through the native proxy", "vexlor"),
    ("views, reduce_cb", "vexlor: actions on a Python view built in reduce_cb", "vexlor"),
    ("proxy, no action", "vexlor: native proxy with an invoke that calls no action", "vexlor"),
    ("views, python loop", "plain Python: LR loop making a list and a view per reduction", "python"),
    ("views floor (starmap)", "Python floor: per reduction, a view made and the action called on it, "
     "by itertools.starmap, no parser", "floor"),
]
TABLE_NAMES = {"vexc": "C-like grammar"}

BLUES = ["#08306b", "#2171b5", "#6baed6", "#9ecae1"]
ORANGES = ["#d94801", "#fd8d3c"]
GREY = "#525252"


def lexing(sizes, repeat_for):
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
            t = bench_lexer.best_time(fn, repeat_for(mb))
            t_nogc = bench_lexer.best_time(fn, repeat_for(mb), collector=False)
            out[mb]["ns_per_token"][label] = [t / count * 1e9, t_nogc / count * 1e9]
        print(f"lexing {mb:g} MB: " + ", ".join(f"{k} {v[1]:.0f}" for k, v in out[mb]["ns_per_token"].items())
              + " ns/token (collector paused)")
    return out


def table_building(lalr, budget):
    if not lalr or not os.path.exists(lalr):
        print(f"no {lalr}: table construction skipped")
        return []
    lines = subprocess.run([lalr, str(budget), "--json"], capture_output=True, text=True, check=True).stdout
    rows = [json.loads(line) for line in lines.splitlines() if line.strip()]
    for r in rows:
        print(f"table {TABLE_NAMES.get(r['grammar'], r['grammar'])}: {r['productions']} productions, {r['states']} states, {r['median_ms']:.2f} ms")
    return rows


# --- Bars -----------------------------------------------------------------------

def bars(report, bars_mb):
    """Each bar with the two figures it compares, its measured ratio and
    whether it holds. A "faster" bar holds when baseline / vexlor reaches it;
    a "within" bar holds when vexlor / baseline stays under it."""
    small = report["small"]
    big = report["parsing"]["sizes"][bars_mb]["ns_per_token"]
    kw = report["keywords"]
    rows = []

    def bar(name, ours, theirs, kind, limit, unit, group):
        (ours, our_figures), (theirs, their_figures) = ours, theirs
        o, t = our_figures[PAUSED], their_figures[PAUSED]
        ratio = t / o if kind == "faster" else o / t
        holds = ratio >= limit if kind == "faster" else ratio <= limit
        rows.append({"name": name, "group": group, "unit": unit, "vexlor": ours, "baseline": theirs,
                     "vexlor_figures": our_figures, "baseline_figures": their_figures, "kind": kind, "bar": limit,
                     "ratio": ratio, "holds": "PASS" if holds else "MISS"})

    for key, text, limit in (("parse, value functions, 1 token", '"2", 1 token', 1.5),
                             ("parse, value functions, 7 tokens", '"2 * (3 + 4)", 7 tokens', 3.0),
                             ("parse, value functions, 99 tokens", "a 99-token expression", 4.5)):
        bar(f"parse of {text}, value functions", ("parse", small[key]["vexlor"]),
            ("plain-Python LR loop", small[key]["baseline"]), "faster", limit, "µs/parse", "small")
    for key, text in (("input + iter(lexer.token), 1 character", '"2"'),
                      ("input + iter(lexer.token), 11 characters", '"2 * (3 + 4)"')):
        bar(f"input + list(iter(lexer.token, None)) of {text}", ("input + iter", small[key]["vexlor"]),
            ("tokenize", small[key]["baseline"]), "within", 1.6, "µs/call", "small")
    bar(f"token at a time, iter(lexer.token, None) over {bars_mb:g} MB of C-like source",
        ("iter(lexer.token)", big["iter(lexer.token)"]), ("tokenize", big["tokenize"]), "within", 1.25,
        "ns/token", "large")
    bar(f"lex+parse through iter(lexer.token, None), {bars_mb:g} MB of C-like source",
        ("lex+parse, iter", big["lex+parse, iter"]), ("plain-Python lexer and LR loop", big["python lex+parse"]),
        "faster", 4.0, "ns/token", "large")
    for flags, text in (("0", "plain"), ("IGNORECASE", "re.IGNORECASE")):
        bar(f"400 keyword rules against 10, {text}", ("400 rules", kw[flags][400]), ("10 rules", kw[flags][10]),
            "within", 2.0, "ns/token", "large")
    bar(f"actions on a view, native proxy, {bars_mb:g} MB of C-like source",
        ("native proxy", big["views, native proxy"]), ("plain-Python loop with views", big["views, python loop"]),
        "faster", 1.6, "ns/token", "large")
    return rows


def side_figures(report, bars_mb):
    """Figures reported beside the bars: the fixed cost of parse, and the
    floor of view actions per reduction."""
    fixed = report["small"]["parse, default reductions, 1 token"]
    sized = report["parsing"]["sizes"][bars_mb]
    per_reduction = sized["tokens"] / sized["reductions"]
    figs = sized["ns_per_token"]
    return {
        "parse fixed cost, 1 token, default reductions (µs)": {
            "vexlor": fixed["vexlor"], "plain-Python LR loop": fixed["baseline"]},
        "view actions per reduction (ns)": {
            "native proxy": [v * per_reduction for v in figs["views, native proxy"]],
            "plain-Python loop with views": [v * per_reduction for v in figs["views, python loop"]],
            "Python floor": [v * per_reduction for v in figs["views floor (starmap)"]]},
    }


def bars_table(rows, side):
    out = ["Bars, collector paused (running in brackets); ratio = baseline / vexlor for \"faster\" bars,"
           " vexlor / baseline for \"within\" bars:", "",
           "| bar | vexlor | baseline | unit | ratio | bar | holds |", "|---|---|---|---|---|---|---|"]
    for r in rows:
        (on, ov), (tn, tv) = (r["vexlor"], r["vexlor_figures"]), (r["baseline"], r["baseline_figures"])
        sign = ">=" if r["kind"] == "faster" else "<="
        out.append(f"| {r['name']} | {on}: {fmt(ov[PAUSED])} ({fmt(ov[RUNNING])}) | {tn}: {fmt(tv[PAUSED])} "
                   f"({fmt(tv[RUNNING])}) | {r['unit']} | {r['ratio']:.2f}x | {r['kind']} {sign} {r['bar']:g}x "
                   f"| {r['holds']} |")
    out.append("")
    fixed = side["parse fixed cost, 1 token, default reductions (µs)"]
    out.append(f"Fixed cost of parse (1 token, default reductions only): {fmt(fixed['vexlor'][PAUSED])} µs "
               f"({fmt(fixed['vexlor'][RUNNING])}); plain-Python LR loop {fmt(fixed['plain-Python LR loop'][PAUSED])}"
               f" µs ({fmt(fixed['plain-Python LR loop'][RUNNING])}).")
    views = side["view actions per reduction (ns)"]
    out.append(f"View actions, ns per reduction: native proxy {views['native proxy'][PAUSED]:.0f}, plain-Python loop "
               f"{views['plain-Python loop with views'][PAUSED]:.0f}, Python floor {views['Python floor'][PAUSED]:.0f}"
               " (the floor: for each reduction of the parse, a view made over its symbols and the action called"
               " with it, by itertools.starmap with no parser).")
    held = sum(r["holds"] == "PASS" for r in rows)
    out.append(f"{held} of {len(rows)} bars hold.")
    return "\n".join(out)


def fmt(v):
    return f"{v:.2f}" if v < 10 else f"{v:.0f}"


# --- Plot -----------------------------------------------------------------------

def plot(report, rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig = plt.figure(figsize=(20, 25))
    grid = fig.add_gridspec(6, 3, height_ratios=[1, 0.3, 1, 0.3, 0.62, 0.62], hspace=0.32, wspace=0.22,
                            left=0.05, right=0.98, top=0.925, bottom=0.03)
    panels = [fig.add_subplot(grid[r, c]) for r in (0, 2) for c in range(3)]
    legends = [fig.add_subplot(grid[r, c]) for r in (1, 3) for c in range(3)]
    # The bar charts keep the left third of their row for the names of the bars.
    bar_axes = [fig.add_subplot(grid[r, :].subgridspec(1, 2, width_ratios=[0.3, 0.7])[0, 1]) for r in (4, 5)]

    lexed = {mb: {"ns_per_token": {**v["ns_per_token"],
                                   PULL_LINE[0]: report["parsing"]["sizes"][mb]["ns_per_token"][PULL_LINE[0]]}}
             for mb, v in report["lexing"].items()}
    series(panels[0], lexed, [LEXING_LINES[0], PULL_LINE, *LEXING_LINES[1:]],
           "Lexing generated C-like source\n(16 rules, 2 of them with rule functions, literals, ignored blanks)")
    series(panels[1], report["parsing"]["sizes"], PARSING_LINES,
           "Parsing a pre-lexed token list of the C-like source\n(43 productions, with precedence)")
    series(panels[2], report["parsing"]["sizes"], LEX_PARSE_LINES,
           "Lexing and parsing the C-like source,\ntokens pulled one at a time from the lexer")
    series(panels[3], report["parsing"]["sizes"], VIEW_LINES,
           "Parsing the C-like token list with actions written against a view p\n"
           "(p[0] = p[1], or (p[1], p[2]), or (p[1], p[2], p[3]))")
    tables(panels[4], report["tables"])
    small_panel(panels[5], report["small"])
    for ax, box in zip(panels, legends):
        box.axis("off")
        handles, labels = ax.get_legend_handles_labels()
        box.legend(handles, labels, loc="upper center", fontsize=9, frameon=False, ncol=1)
    for ax, kind in zip(bar_axes, ("faster", "within")):
        bars_panel(ax, [r for r in rows if r["kind"] == kind], kind)
    fig.suptitle("vexlor benchmarks: vexlor in blues, plain-Python baselines in oranges, Python floors dashed grey.\n"
                 "Each figure is the best of several runs with the cyclic garbage collector paused; "
                 "each baseline is measured in the same run.\n" + report["machine"], fontsize=12)
    fig.savefig(path, dpi=90)
    plt.close(fig)


def series(ax, data, lines, title):
    """ns/token against input size, one line per case."""
    from matplotlib.ticker import NullFormatter

    sizes = sorted(data, key=float)
    shades = {"vexlor": iter(BLUES), "python": iter(ORANGES)}
    for label, text, kind in lines:
        if label not in data[sizes[0]]["ns_per_token"]:
            continue
        xs = [float(s) for s in sizes]
        ys = [data[s]["ns_per_token"][label][PAUSED] for s in sizes]
        if kind == "floor":
            ax.plot(xs, ys, "--", color=GREY, marker="o", label=text)
        else:
            ax.plot(xs, ys, "-", color=next(shades[kind]), marker="o", label=text)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("input size (MB of generated C-like source)")
    ax.set_ylabel("ns per token")
    ax.set_title(title, fontsize=11)
    ax.grid(True, which="both", alpha=0.3)
    ax.xaxis.set_minor_formatter(NullFormatter())


def tables(ax, rows):
    from matplotlib.ticker import NullFormatter

    ax.set_title("LALR(1) table construction, build_table from C++\n(median time per grammar)", fontsize=11)
    if not rows:
        ax.text(0.5, 0.5, "bench_lalr not built: no figures", ha="center", transform=ax.transAxes)
        return
    gen = [r for r in rows if r["grammar"].startswith("gen-")]
    ax.plot([r["productions"] for r in gen], [r["median_ms"] for r in gen], "-o", color=BLUES[1],
            label="vexlor: generated expression grammars of growing size")
    for r in rows:
        if not r["grammar"].startswith("gen-"):
            ax.plot([r["productions"]], [r["median_ms"]], "s", color=BLUES[0], markersize=8,
                    label=f"vexlor: {TABLE_NAMES.get(r['grammar'], r['grammar'])}, {r['productions']} productions")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("grammar size (productions)")
    ax.set_ylabel("build_table time (ms)")
    ax.grid(True, which="both", alpha=0.3)
    ax.xaxis.set_minor_formatter(NullFormatter())


SMALL_NAMES = {"parse, value functions, 1 token": 'parse\n"2"\n1 token',
               "parse, value functions, 7 tokens": 'parse\n"2 * (3 + 4)"\n7 tokens',
               "parse, value functions, 99 tokens": "parse\n99 tokens",
               "parse, default reductions, 1 token": 'parse "2",\ndefault\nreductions\nonly',
               "input + iter(lexer.token), 1 character": 'lex\n"2"\n1 character',
               "input + iter(lexer.token), 11 characters": 'lex\n"2 * (3 + 4)"\n11 characters'}


def small_panel(ax, small):
    """µs per call on the calculator's small inputs, each beside its baseline."""
    keys = list(small)
    width = 0.38
    seen = set()
    for i, key in enumerate(keys):
        lexing = key.startswith("input")
        pairs = [(small[key]["vexlor"][PAUSED], BLUES[0],
                  "vexlor: parse of the token list, or lexer.input(s) then list(iter(lexer.token, None))"),
                 (small[key]["baseline"][PAUSED], BLUES[2] if lexing else ORANGES[0],
                  "vexlor: lexer.tokenize(s) on the same text" if lexing
                  else "plain Python: LR loop over the same tables and value functions")]
        for j, (v, colour, label) in enumerate(pairs):
            ax.bar(i + (j - 0.5) * width, v, width, color=colour, label=None if label in seen else label)
            ax.text(i + (j - 0.5) * width, v, fmt(v), ha="center", va="bottom", fontsize=8)
            seen.add(label)
    ax.set_xticks(range(len(keys)), [SMALL_NAMES.get(k, k) for k in keys], fontsize=8)
    ax.set_yscale("log")
    ax.set_ylabel("µs per call (best of timeit runs)")
    ax.set_title("Small inputs through the README's calculator grammar and lexer\n(pre-lexed token lists for parse)",
                 fontsize=11)
    ax.grid(True, axis="y", which="both", alpha=0.3)


def bars_panel(ax, rows, kind):
    """Measured ratios of one kind against their bars."""
    rows = rows[::-1]
    ys = list(range(len(rows)))
    sign = ">=" if kind == "faster" else "<="
    top = max(max(r["ratio"], r["bar"]) for r in rows) * 1.45
    ax.barh(ys, [r["ratio"] for r in rows], 0.6, edgecolor=BLUES[0],
            color=[BLUES[1] if r["holds"] == "PASS" else BLUES[3] for r in rows],
            hatch=[None if r["holds"] == "PASS" else "//" for r in rows])
    for y, r in zip(ys, rows):
        ax.plot([r["bar"], r["bar"]], [y - 0.42, y + 0.42], color="black", linewidth=3)
        ax.text(max(r["ratio"], r["bar"]) + top * 0.01, y, f"  {r['ratio']:.2f}x, bar {sign} {r['bar']:g}x: {r['holds']}",
                va="center", ha="left", fontsize=9, fontweight="bold" if r["holds"] == "MISS" else "normal")
    ax.set_yticks(ys, [f"{r['name']}\n({r['vexlor']} against {r['baseline']})" for r in rows], fontsize=9)
    ax.set_xlim(0, top)
    ax.axvline(1.0, color=GREY, linewidth=0.8, linestyle=":")
    if kind == "faster":
        ax.set_title("Bars: how many times faster than the plain-Python baseline (higher is better)", fontsize=11)
        ax.set_xlabel("baseline time / vexlor time; black tick: the bar; hatched: the bar is missed")
    else:
        ax.set_title("Bars: cost against a reference, tokenize or 10 keyword rules (lower is better)", fontsize=11)
        ax.set_xlabel("vexlor time / reference time; black tick: the bar; hatched: the bar is missed")
    ax.grid(True, axis="x", alpha=0.3)


# --- Tables for the README and the report ----------------------------------------

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
    ap.add_argument("--quick", action="store_true",
                    help="small sizes and few repeats, to check the benchmarks run (figures are rough)")
    ap.add_argument("--sizes", help="input sizes in MB (default 0.25,1,10; quick 0.1,0.25)")
    ap.add_argument("--repeat", type=int, help="runs per figure on inputs of up to 1 MB, best taken (default 3)")
    ap.add_argument("--large-repeat", type=int, help="runs per figure on larger inputs (default 2)")
    ap.add_argument("--small-repeat", type=int, help="timeit runs per small-input figure (default 7)")
    ap.add_argument("--depth", type=int, help="depth of the deep right-recursive parse (default 1000000)")
    ap.add_argument("--lalr", default=os.path.join(HERE, "..", "build", "bench", "bench_lalr"))
    ap.add_argument("--plot", metavar="JSON", help="only draw the plot and print the tables of a saved latest.json")
    ap.add_argument("--out", default=os.path.join(HERE, "..", "build", "bench-results"),
                    help="folder for latest.json, latest.png and latest.md")
    args = ap.parse_args()
    sys.stdout.reconfigure(line_buffering=True)  # figures show as they come, also through a pipe
    if args.plot:
        with open(args.plot) as f:
            report = json.load(f)
        write(report, os.path.abspath(args.out), "png", "md")
        return
    q = args.quick
    sizes = [float(s) for s in (args.sizes or ("0.1,0.25" if q else "0.25,1,10")).split(",")]
    repeat = args.repeat or (2 if q else 3)
    large_repeat = args.large_repeat or min(repeat, 2)

    def repeat_for(mb):  # runs of seconds each vary less, and would take most of the time
        return repeat if mb <= 1 else large_repeat

    small_repeat = args.small_repeat or (3 if q else 7)
    depth = args.depth if args.depth is not None else (100_000 if q else 1_000_000)
    # The bars on large inputs are read at 1 MB, or at the size nearest below it.
    bars_mb = max([s for s in sizes if s <= 1] or [min(sizes)])
    start = time.perf_counter()

    machine = (f"{platform.machine()}, {os.cpu_count()} cores, {platform.python_implementation()} "
               f"{platform.python_version()}, vexlor._core_rs {_core_rs.version()}, {time.strftime('%Y-%m-%d')}")
    print(machine)
    report = {"machine": machine, "quick": q, "bars_mb": bars_mb,
              "figures": "each pair is [collector running, collector paused]; bars compare the paused ones"}
    report["small"] = timed("small inputs", lambda: bench_small.measure(small_repeat))
    report["lexing"] = timed("lexing", lambda: lexing(sizes, repeat_for))
    report["parsing"] = timed("parsing", lambda: bench_parse.measure(
        sizes, repeat_for, depth, say=lambda line: print(line) if "[" in line or "MB:" in line else None))
    # Short runs (a fraction of a second each): more of them, for a steadier best.
    report["keywords"] = timed("keyword rules", lambda: bench_lexer.keyword_workload(2 * repeat + 1,
                                                                                     megabytes=bars_mb))
    report["tables"] = timed("table construction",
                             lambda: table_building(os.path.abspath(args.lalr), 0.2 if q else 0.5))
    report["bars"] = bars(report, bars_mb)
    report["beside_the_bars"] = side_figures(report, bars_mb)

    write(report, os.path.abspath(args.out), "json", "png", "md")
    print(f"({time.perf_counter() - start:.0f} s)")


def timed(what, fn):
    t0 = time.perf_counter()
    result = fn()
    print(f"({what}: {time.perf_counter() - t0:.0f} s)\n")
    return result


def write(report, out, *kinds):
    """Writes latest.json, latest.png and latest.md (the printed tables) into out."""
    os.makedirs(out, exist_ok=True)
    if "json" in kinds:
        with open(os.path.join(out, "latest.json"), "w") as f:
            json.dump(report, f, indent=1)
    plot(report, report["bars"], os.path.join(out, "latest.png"))
    text = readme_table(report) + "\n\n" + bars_table(report["bars"], report["beside_the_bars"])
    with open(os.path.join(out, "latest.md"), "w") as f:
        f.write(text + "\n")
    print()
    print(text)
    print(f"\nwrote {', '.join('latest.' + k for k in kinds)} in {out}")


if __name__ == "__main__":
    main()
