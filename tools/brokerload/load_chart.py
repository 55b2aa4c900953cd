#!/usr/bin/python3
"""Draws broker_load's table (CSV) as a PNG: the latencies against the number of
players on the left, the broker's memory on the right, both with a logarithmic N.

    load_chart.py TABLE.csv CHART.png
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

LATENCIES = [
    ("signin_p50", "sign-in p50"),
    ("signin_p99", "sign-in p99"),
    ("search_p99", "lobby search p99"),
    ("frame_p50", "frame relay p50"),
    ("frame_p99", "frame relay p99"),
    ("stats_p99", "stats write p99"),
    ("score_p99", "score write p99"),
]


def column(rows, name):
    """(N, value) pairs of the rows where the column has a value."""
    return [(int(r["players"]), float(r[name])) for r in rows if r.get(name)]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], newline="") as f:
        rows = list(csv.DictReader(f))
    if not rows:
        sys.exit("load_chart.py: the table has no rows")
    figure, (left, right) = plt.subplots(1, 2, figsize=(12, 5))
    for name, label in LATENCIES:
        points = column(rows, name)
        if points:
            left.plot(*zip(*points), marker="o", label=label)
    left.set_xscale("log")
    left.set_yscale("log")
    left.set_xlabel("players")
    left.set_ylabel("latency (ms)")
    left.set_title("Latencies")
    left.grid(True, which="both", alpha=0.3)
    left.legend(fontsize="small")
    resident = column(rows, "rss_mb")
    per = column(rows, "kb_per_conn")
    if resident:
        right.plot(*zip(*resident), marker="o", color="tab:blue", label="resident (MB)")
    right.set_xscale("log")
    right.set_xlabel("players")
    right.set_ylabel("broker resident memory (MB)")
    right.set_title("Broker memory")
    right.grid(True, which="both", alpha=0.3)
    if per:
        twin = right.twinx()
        twin.plot(*zip(*per), marker="s", color="tab:red", label="per player (KB)")
        twin.set_ylabel("KB per player")
        twin.legend(loc="upper right", fontsize="small")
    right.legend(loc="upper left", fontsize="small")
    figure.tight_layout()
    figure.savefig(sys.argv[2], dpi=100)


if __name__ == "__main__":
    main()
