#!/usr/bin/env python3
"""Draws the real-time factor against "# Stages" from bench_engine's JSON output.

    build/bench_engine --benchmark_filter='Yardstick|RubberBootsStages' \
        --benchmark_repetitions=5 --benchmark_out=stages.json --benchmark_out_format=json
    bench/plot_stages.py stages.json bench/stages.svg

Reads BM_Yardstick/<stages>/512 and BM_RubberBootsStages/<stages>/512 (the
median when the run has repetitions) and writes a plain SVG, so nothing beyond
Python's standard library is needed.
"""
import json
import math
import re
import sys

SERIES = [("BM_RubberBootsStages", "effect (\u201cRubber Boots\u201d)", "#c0392b"),
          ("BM_Yardstick", "yardstick: plain four-lattice kernel", "#2c3e50")]
WIDTH, HEIGHT, LEFT, RIGHT, TOP, BOTTOM = 720, 440, 70, 20, 40, 60


def read_points(path):
    """{series: {stages: x_realtime}} from the JSON, medians preferred."""
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    points = {name: {} for name, _, _ in SERIES}
    for run in runs:
        match = re.fullmatch(r"(BM_\w+)/(\d+)/512(_median)?", run["name"])
        if not match or match.group(1) not in points:
            continue
        if run.get("run_type") == "aggregate" and not match.group(3):
            continue
        stages = int(match.group(2))
        if match.group(3) or stages not in points[match.group(1)]:
            points[match.group(1)][stages] = float(run["x_realtime"])
    return points


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
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[2], "w") as f:
        f.write(svg(read_points(sys.argv[1])))


if __name__ == "__main__":
    main()
