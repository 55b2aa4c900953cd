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
    w, h, size = int(words[0]), int(words[1]), float(words[2])
    sx, sy, gx, gy = (int(v) for v in words[3:7])
    usable = {(i % w, i // w) for i, c in enumerate(words[7:]) if c == "1"}
    g = nx.Graph()
    g.add_nodes_from(usable)
    for (x, y) in usable:
        for dx, dy in ((1, 0), (0, 1), (1, 1), (1, -1)):
            if (x + dx, y + dy) in usable:
                g.add_edge((x, y), (x + dx, y + dy), weight=size * (1.41421 if dx and dy else 1.0))
    lengths = nx.single_source_dijkstra_path_length(g, (sx, sy))
    print("%.6f %.6f" % (lengths.get((gx, gy), -1.0), min(math.hypot(x - gx, y - gy) for (x, y) in lengths)))
