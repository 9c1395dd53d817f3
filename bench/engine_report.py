#!/usr/bin/env python3
"""Summarises bench_engine runs: a table of real-time factors beside the
yardstick, and a plot of the factor against "# Stages".

    build/bench_engine --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true \
        --benchmark_out=new.json --benchmark_out_format=json
    bench/engine_report.py bench/stages.svg new.json [new2.json ...] [--base base.json ...]

Each case's figure is the best of its repetitions (over every file given for
a side): on a shared machine the other loads only ever slow a run down, so the
best run is the one least disturbed. The yardstick of the same side is the
reference of every ratio. The plot is a plain SVG, so nothing beyond Python's
standard library is needed.
"""
import json
import math
import re
import sys

SERIES = [("BM_RubberBootsStages", "effect (\u201cRubber Boots\u201d)", "#c0392b"),
          ("BM_Yardstick", "yardstick: plain four-lattice kernel", "#2c3e50")]
WIDTH, HEIGHT, LEFT, RIGHT, TOP, BOTTOM = 720, 440, 70, 20, 40, 60


def read_runs(paths):
    """{benchmark name: best x_realtime} over the repetitions in the files."""
    best = {}
    for path in paths:
        with open(path) as f:
            for run in json.load(f)["benchmarks"]:
                if run.get("run_type") == "aggregate" or "x_realtime" not in run:
                    continue
                name = run["name"].split("/repeats")[0]
                best[name] = max(best.get(name, 0.0), float(run["x_realtime"]))
    return best


def stage_points(runs):
    """{series: {stages: x_realtime}} for blocks of 512."""
    points = {name: {} for name, _, _ in SERIES}
    for name, value in runs.items():
        match = re.fullmatch(r"(BM_\w+)/(\d+)/512", name)
        if match and match.group(1) in points:
            points[match.group(1)][int(match.group(2))] = value
    return points


def table(new, base):
    """Markdown rows: case, effect, yardstick at its stages, ratio, base build."""
    rows = ["| case | effect (x real time) | yardstick | effect / yardstick | base build | effect / base |",
            "|---|---|---|---|---|---|"]
    def order(name):
        group = ["BM_RubberBootsStages", "BM_FactoryPreset", "BM_RubberBoots70Silence"].index(name.split("/")[0])
        return group, [int(part) for part in name.split("/")[1:]]

    for name in sorted((n for n in new if not n.startswith("BM_Yardstick")), key=order):
        match = re.fullmatch(r"BM_RubberBootsStages/(\d+)/(\d+)", name)
        stages = int(match.group(1)) if match else (70 if "Silence" in name else 20)
        block = match.group(2) if match else ("512" if "Silence" in name else name.split("/")[-1])
        yard = new.get(f"BM_Yardstick/{stages}/{block}", new.get(f"BM_Yardstick/{stages}/512"))
        old = base.get(name)
        rows.append(f"| {name} | {new[name]:.1f} | {yard:.1f} | {new[name] / yard:.2f} | "
                    + (f"{old:.1f} | {new[name] / old:.2f} |" if old else "- | - |"))
    return "\n".join(rows)


def svg(points):
    stages = sorted({s for series in points.values() for s in series})
    top = max(v for series in points.values() for v in series.values())
    # A logarithmic axis: the factor spans two decades between 1 and 70 stages.
    low, high = math.log10(10.0), math.log10(top * 1.2)
    x = lambda s: LEFT + (s - 1) / 69.0 * (WIDTH - LEFT - RIGHT)
    y = lambda v: TOP + (high - math.log10(v)) / (high - low) * (HEIGHT - TOP - BOTTOM)
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" font-family="sans-serif" font-size="12">',
           f'<rect width="{WIDTH}" height="{HEIGHT}" fill="white"/>',
           f'<text x="{WIDTH / 2}" y="22" text-anchor="middle" font-size="14">Real-time factor against \u201c# Stages\u201d '
           '(44.1 kHz stereo, blocks of 512)</text>']
    for decade in (10, 20, 50, 100, 200, 500, 1000, 2000, 5000):
        if low <= math.log10(decade) <= high:
            out.append(f'<line x1="{LEFT}" x2="{WIDTH - RIGHT}" y1="{y(decade):.1f}" y2="{y(decade):.1f}" stroke="#ddd"/>')
            out.append(f'<text x="{LEFT - 6}" y="{y(decade) + 4:.1f}" text-anchor="end">{decade}\u00d7</text>')
    for s in (1, 10, 20, 30, 40, 50, 60, 70):
        out.append(f'<text x="{x(s):.1f}" y="{HEIGHT - BOTTOM + 18}" text-anchor="middle">{s}</text>')
    out.append(f'<text x="{(LEFT + WIDTH - RIGHT) / 2}" y="{HEIGHT - 18}" text-anchor="middle">stages per lattice</text>')
    out.append(f'<rect x="{LEFT}" y="{TOP}" width="{WIDTH - LEFT - RIGHT}" height="{HEIGHT - TOP - BOTTOM}" fill="none" stroke="#888"/>')
    for i, (name, label, colour) in enumerate(SERIES):
        series = points[name]
        line = " ".join(f"{x(s):.1f},{y(series[s]):.1f}" for s in sorted(series))
        out.append(f'<polyline points="{line}" fill="none" stroke="{colour}" stroke-width="2"/>')
        for s in sorted(series):
            out.append(f'<circle cx="{x(s):.1f}" cy="{y(series[s]):.1f}" r="3" fill="{colour}"/>')
        out.append(f'<rect x="{WIDTH - 300}" y="{TOP + 12 + 18 * i}" width="14" height="4" fill="{colour}"/>')
        out.append(f'<text x="{WIDTH - 280}" y="{TOP + 18 + 18 * i}">{label}</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    args = sys.argv[1:]
    if len(args) < 2:
        sys.exit(__doc__)
    split = args.index("--base") if "--base" in args else len(args)
    new, base = read_runs(args[1:split]), read_runs(args[split + 1:])
    with open(args[0], "w") as f:
        f.write(svg(stage_points(new)))
    print(table(new, base))


if __name__ == "__main__":
    main()
