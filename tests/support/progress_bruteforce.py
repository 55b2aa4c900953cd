#!/usr/bin/env python3
"""The expected result of a progress analysis, counted over the whole board.

Usage: progress_bruteforce.py AREAS BOARD_FILE
BOARD_FILE lines: "<score> <friend 0|1> <user 0|1> <value>" (one per player).
Prints "user <area index> <value>", then one line per area: "<deaths> <friends>".
"""
import sys


def main():
    areas = int(sys.argv[1])
    rows = []
    with open(sys.argv[2]) as f:
        for line in f:
            if line.strip():
                score, friend, user, value = (int(w) for w in line.split())
                rows.append((score, friend, user, value))
    user_area, user_value = 101, 0
    count = [0] * areas
    friends = [0] * areas
    others = [0] * areas
    for score, friend, user, value in rows:
        if user:
            user_area, user_value = (100 if score >= areas else score), value
        if 0 <= score < areas:
            count[score] += 1
            if friend and not user:
                friends[score] += 1
            elif not friend and not user:
                others[score] += 1
    print("user %d %d" % (user_area, user_value))
    for i in range(areas):
        floor = friends[i] + min(others[i], 10) + (1 if i == user_area else 0)
        print("%d %d" % (max(count[i], floor), friends[i]))


if __name__ == "__main__":
    main()
