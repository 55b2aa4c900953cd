#!/usr/bin/env python3
"""Compares the replicated entities two sides of a versus match logged at its end.

usage: versus_convergence_check.py HOST_LOG GUEST_LOG

Each log holds one "Versus entity ID CLASS X Z ANGLE HEALTH" line per replicated entity.
Both sides must list the same ids with the same classes, positions within 0.1 units,
angles within 1 degree (around the circle) and equal health. Exits 0 when they agree,
1 with one line per difference otherwise, 2 when a log cannot be read or lists nothing.
"""
import re
import sys

ENTITY = re.compile(r"Versus entity (\d+) (\S+) (-?[\d.]+) (-?[\d.]+) (-?[\d.]+) (-?\d+)")
POSITION_TOLERANCE = 0.1
ANGLE_TOLERANCE = 1.0


def entities(path):
    """The entities of a log by id: (class, x, z, angle, health)."""
    out = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = ENTITY.search(line)
            if m:
                out[int(m[1])] = (m[2], float(m[3]), float(m[4]), float(m[5]), int(m[6]))
    return out


def angle_apart(a, b):
    d = abs(a - b) % 360.0
    return min(d, 360.0 - d)


def differences(host, guest):
    out = []
    for mid in sorted(set(host) | set(guest)):
        if mid not in guest:
            out.append("entity %d (%s) is missing on the guest" % (mid, host[mid][0]))
            continue
        if mid not in host:
            out.append("entity %d (%s) is missing on the host" % (mid, guest[mid][0]))
            continue
        (hc, hx, hz, ha, hh), (gc, gx, gz, ga, gh) = host[mid], guest[mid]
        if hc != gc:
            out.append("entity %d: class %s on the host, %s on the guest" % (mid, hc, gc))
        if abs(hx - gx) > POSITION_TOLERANCE or abs(hz - gz) > POSITION_TOLERANCE:
            out.append("entity %d: at %.2f %.2f on the host, %.2f %.2f on the guest" % (mid, hx, hz, gx, gz))
        if angle_apart(ha, ga) > ANGLE_TOLERANCE:
            out.append("entity %d: angle %.1f on the host, %.1f on the guest" % (mid, ha, ga))
        if hh != gh:
            out.append("entity %d: health %d on the host, %d on the guest" % (mid, hh, gh))
    return out


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        host, guest = entities(argv[1]), entities(argv[2])
    except OSError as e:
        print("versus_convergence_check: %s" % e, file=sys.stderr)
        return 2
    if not host or not guest:
        print("versus_convergence_check: no entity lines in the %s log" % ("host's" if not host else "guest's"),
              file=sys.stderr)
        return 2
    found = differences(host, guest)
    for line in found:
        print("versus_convergence_check: " + line, file=sys.stderr)
    if found:
        return 1
    print("versus_convergence_check: %d entities agree" % len(host))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
