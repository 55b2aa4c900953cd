#!/usr/bin/env python3
"""Reference of pose blending over an animation tree, with numpy and scipy's rotations:
tree nodes in pre-order, deeper tree nodes taking their weight out of their ancestors',
animations of one tree node blended by weight (scipy's Slerp for rotations), node
matrices composed with row vectors (local = pose x node matrix, global = local x parent),
the skinning palette as the transposed bone x node matrix, three rows a bone.

stdin: {"nodes": [{"parent", "bone", "matrix": [16]}], "bones": [[16]],
        "tree": [{"first", "count", "child", "sibling"}] (-1: none),
        "channels": [[{"weight", "procedural", "poses": {"node": [qx qy qz qw tx ty tz sx sy sz]}}]]}
Output: one line per node (16 floats), then one per bone (12 floats).
"""
import json
import sys

import numpy as np
from scipy.spatial.transform import Rotation, Slerp


def matrix(flat):
    return np.array(flat, dtype=np.float64).reshape(4, 4)


def pose_matrix(r, t, s):
    m = np.eye(4)
    m[:3, :3] = np.diag(s) @ r.as_matrix().T  # row vectors: scale, then rotate
    m[3, :3] = t
    return m


def main():
    request = json.load(sys.stdin)
    nodes, tree, channels = request["nodes"], request["tree"], request["channels"]
    bones = [matrix(b) for b in request["bones"]]
    mats = [np.eye(4)] * len(nodes)
    palette = [np.eye(4)[:3] for _ in bones]
    entries = []

    def weights(k):
        remaining, i = 1.0, len(entries)
        while i > 0:
            group, total = entries[i - 1]["tree"], 0.0
            while i > 0 and entries[i - 1]["tree"] == group:
                e = entries[i - 1]
                w = 0.0 if e["procedural"] and k != e["first"] else e["weight"]
                e["effective"] = w * remaining
                total += w
                i -= 1
            remaining *= max(0.0, 1.0 - total)

    def pose_node(k):
        rot, t, s, total = None, None, None, 0.0
        for e in entries:
            p = e["poses"].get(str(k))
            if e["effective"] <= 0 or p is None:
                continue
            r = Rotation.from_quat(p[0:4])
            if rot is None:
                rot, t, s, total = r, np.array(p[4:7]), np.array(p[7:10]), e["effective"]
                continue
            total += e["effective"]
            f = e["effective"] / total
            rot = Slerp([0, 1], Rotation.concatenate([rot, r]))([f])[0]
            t = (1 - f) * t + f * np.array(p[4:7])
            s = (1 - f) * s + f * np.array(p[7:10])
        bind = matrix(nodes[k]["matrix"])
        local = bind if rot is None else pose_matrix(rot, t, s) @ bind
        parent = nodes[k]["parent"]
        mats[k] = local @ (np.eye(4) if parent == 255 else mats[parent])
        bone = nodes[k]["bone"]
        if bone < 128 and bone < len(bones):
            palette[bone] = (bones[bone] @ mats[k]).T[:3]

    def pose_range(a, b, procedural):
        if a >= b:
            return procedural
        weights(a)
        pose_node(a)
        if procedural and a + 1 < b:
            weights(a + 1)
            procedural = False
        for k in range(a + 1, b):
            pose_node(k)
        return procedural

    counter = [0]

    def process(ti):
        node = tree[ti]
        channel = channels[counter[0]] if counter[0] < len(channels) else []
        counter[0] += 1
        mark = len(entries)
        procedural = False
        for a in channel:
            if a["weight"] > 0:
                entries.append(dict(a, tree=ti, first=node["first"], effective=0.0))
                procedural = procedural or a.get("procedural", False)
        end = node["first"] + node["count"]
        k = node["first"]
        c = node["child"]
        while c != -1:
            procedural = pose_range(k, min(end, tree[c]["first"]), procedural)
            process(c)
            k = max(k, tree[c]["first"] + tree[c]["count"])
            c = tree[c]["sibling"]
        pose_range(k, end, procedural)
        del entries[mark:]

    process(0)
    for m in mats:
        print(" ".join("%.7g" % v for v in m.flatten()))
    for p in palette:
        print(" ".join("%.7g" % v for v in p.flatten()))


if __name__ == "__main__":
    main()
