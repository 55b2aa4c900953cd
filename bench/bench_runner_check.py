#!/usr/bin/python3
"""Checks scripts/bench's reading of a benchmark program's output and its verdicts: the
figure lines it takes, the goals it judges, and every way a program fails."""
import importlib.machinery
import importlib.util
import json
import math
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
loader = importlib.machinery.SourceFileLoader("bench_runner", os.path.join(HERE, "..", "scripts", "bench"))
spec = importlib.util.spec_from_loader("bench_runner", loader)
bench = importlib.util.module_from_spec(spec)
loader.exec_module(bench)


def result(output, failures=()):
    return {"output": output, "failures": list(failures), "seconds": 1, "load": (0.5, 0.5)}


class Figures(unittest.TestCase):
    def test_lines(self):
        cases = [
            # (printed line, figure, median, min, max, count, goal)
            ("with registration / bare, rate: 0.57 (min-max 0.55-0.60 of 3) (goal: at least 0.5)",
             "with registration / bare, rate", 0.57, 0.55, 0.60, 3, "at least 0.5"),
            ("\x1b[mours / libmspack, rate: 1.18", "ours / libmspack, rate", 1.18, 1.18, 1.18, 1, None),
            ("UI tree: script / C++, time: 2.98 (goal: at most 3)", "UI tree: script / C++, time", 2.98, 2.98, 2.98,
             1, "at most 3"),
            ("full step, ms: n/a (goal: under 4)", "full step, ms", math.nan, math.nan, math.nan, 0, "under 4"),
            ("read-back path: a / b: 1.25 (min-max 1.14-1.29 of 3) (goal: at most 1.20, written for no read-back)",
             "read-back path: a / b", 1.25, 1.14, 1.29, 3, "at most 1.20, written for no read-back"),
        ]
        for line, figure, median, lo, hi, count, goal in cases:
            with self.subTest(line=line):
                f = bench.parse_figures("noise: 12 ms, 3 draws (medians)\n" + line + "\n")
                self.assertEqual(list(f), [figure])
                got = f[figure]
                for key, want in (("median", median), ("min", lo), ("max", hi)):
                    self.assertTrue(got[key] == want or (math.isnan(want) and math.isnan(got[key])), (key, got))
                self.assertEqual((got["count"], got["goal"]), (count, goal))

    def test_goals(self):
        cases = [("at least 0.5", 0.5, True), ("at least 0.5", 0.49, False), ("at most 8", 8.0, True),
                 ("at most 8", 8.01, False), ("under 4", 3.99, True), ("under 4", 4.0, False),
                 ("at most 1.20, written for presenting without reading back", 1.25, False), (None, 1.0, None)]
        for goal, value, met in cases:
            with self.subTest(goal=goal, value=value):
                self.assertEqual(bench.goal_met(goal, value), met)
        with self.assertRaises(ValueError):
            bench.goal_met("at least half", 1.0)

    def test_printed_figures(self):
        # A figure beside its goal never reads as the goal itself when it misses it.
        cases = [(0.497, "at least 0.5", "0.497"), (0.5, "at least 0.5", "0.50"), (12.97, "at most 8", "12.97"),
                 (0.0117, "at most 0.05", "0.012"), (math.nan, "-", "n/a"), (2546.0, "-", "2546.00")]
        for value, goal, text in cases:
            with self.subTest(value=value, goal=goal):
                self.assertEqual(bench.number(value, goal), text)

    def test_every_goal_of_the_table_is_understood(self):
        for program, figure, goal in bench.GOALS:
            bench.goal_met(goal, 0)
        keys = [(program, figure) for program, figure, _ in bench.GOALS]
        self.assertEqual(len(keys), len(set(keys)), "a figure listed twice")


class Verdicts(unittest.TestCase):
    GOALS = [("a / b, rate", "at least 0.5"), ("c / d, time", None)]

    def verdict(self, output, quick=False, failures=()):
        rows, failed = bench.judge("x_bench", result(output, failures), self.GOALS, quick)
        return [row["met"] for row in rows], failed

    def test_cases(self):
        good = "a / b, rate: 0.6 (min-max 0.5-0.7 of 3) (goal: at least 0.5)\nc / d, time: 2.0 (min-max 1-3 of 3)\n"
        cases = [
            # (output, quick, exit failures, verdicts, failure texts)
            (good, False, (), ["met", "-"], []),
            (good.replace("0.6 (", "0.4 ("), False, (), ["missed", "-"], []),
            (good.replace("0.6 (", "0.4 ("), True, (), ["-", "-"], []),  # --quick judges no goal
            (good, False, ("exit status 1",), ["met", "-"], []),
            ("c / d, time: 2.0\n", False, (), ["failed", "-"], ["'a / b, rate' not printed"]),
            (good.replace("0.6 (min-max 0.5-0.7 of 3)", "n/a"), True, (), ["failed", "-"],
             ["'a / b, rate' is not a number"]),
            (good.replace("at least 0.5", "at least 0.4"), False, (), ["failed", "-"],
             ["'a / b, rate' printed with goal 'at least 0.4', the table's is 'at least 0.5'"]),
            (good + "e / f, rate: 3.0\n", True, (), ["-", "-"], ["'e / f, rate' printed but not in the table of goals"]),
        ]
        for output, quick, exits, verdicts, failures in cases:
            with self.subTest(output=output, quick=quick, exits=exits):
                self.assertEqual(self.verdict(output, quick, exits), (verdicts, list(exits) + failures))


class ErrorRows(unittest.TestCase):
    def test_rows_of_every_document(self):
        docs = [{"benchmarks": [{"name": "BM_A", "error_occurred": False}]},
                {"benchmarks": [{"name": "BM_B", "error_occurred": True, "error_message": "the mission did not start"}]}]
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "out.json")
            with open(path, "w") as f:
                f.write("\n".join(json.dumps(d, indent=2) for d in docs))  # a second run's rows appended
            self.assertEqual(bench.error_rows(path), [("BM_B", "the mission did not start")])
            with open(path, "w") as f:
                f.write('{"benchmarks": [')
            self.assertEqual(bench.error_rows(path), [("(output file)", "not readable as JSON")])
            self.assertEqual(bench.error_rows(os.path.join(folder, "none.json")), [])


if __name__ == "__main__":
    sys.exit(unittest.main())
