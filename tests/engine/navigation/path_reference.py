#!/usr/bin/env python3
# Reference shortest paths over a walk grid with networkx's Dijkstra: eight neighbours
# between usable cells, straight steps cost the cell size, diagonal ones 1.41421 times it.
# Input: one case per line, "W H SIZE SX SY GX GY" then W*H cell flags (1 usable).
# Output per case: the cost from start to goal (-1 when unreachable) and the smallest
# distance from a cell reachable from the start to the goal cell, in cells.
import math
import sys

import networkx as nx

for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    w, h = int(words[0]), int(words[1])
    size = float(words[2])
    sx, sy, gx, gy = (int(v) for v in words[3:7])
    usable = [c == "1" for c in words[7:7 + w * h]]
    g = nx.Graph()
    for y in range(h):
        for x in range(w):
            if not usable[y * w + x]:
                continue
            g.add_node((x, y))
            for dx, dy in ((1, 0), (0, 1), (1, 1), (1, -1)):
                nx_, ny = x + dx, y + dy
                if 0 <= nx_ < w and 0 <= ny < h and usable[ny * w + nx_]:
                    g.add_edge((x, y), (nx_, ny), weight=size * (1.41421 if dx and dy else 1.0))
    lengths = nx.single_source_dijkstra_path_length(g, (sx, sy))
    cost = lengths.get((gx, gy), -1.0)
    nearest = min(math.hypot(x - gx, y - gy) for (x, y) in lengths)
    print("%.6f %.6f" % (cost, nearest))
