#!/usr/bin/env python3
"""The test command's summary.

  test-summary.py slowest <count> <junit.xml...>   the slowest entries of the test runs
  test-summary.py failed <junit.xml...>            the entries that did not pass, one a line
  test-summary.py figures <LastTest.log...>        every benchmark figure line with its judgement

A figure line holds a ratio and its goal, e.g. "ratio 0.99 (goal <= 1.2)", "ratio 1.50x (the
bound, goal >= 1x)" or "ratio ours/base64: 0.92 (goal >= 0.8)". Each is printed with "met" or
"missed"; a line whose ratio or goal cannot be read (a goal of "none", for reference) gets "?".
"""
import re
import sys
import xml.etree.ElementTree as ElementTree

NUMBER = r"([0-9]+(?:\.[0-9]+)?)"
# The goal: a comparison and a bound, e.g. "goal <= 1.2", "goal: >= 0.8", "goal ≥ 1x".
GOAL = re.compile(r"goal:?\s*(<=|>=|≤|≥|<|>|=<|=>)\s*" + NUMBER)
# The ratio: the number just before the parenthesis that states the goal.
RATIO = re.compile(NUMBER + r"\s*x?\s*\((?:[^()]*?,\s*)?goal")


def judge(line):
    goal = GOAL.search(line)
    ratio = RATIO.search(line)
    if not goal or not ratio:
        return "?"
    comparison, bound = goal.group(1), float(goal.group(2))
    value = float(ratio.group(1))
    if comparison in ("<=", "≤", "=<"):
        met = value <= bound
    elif comparison in (">=", "≥", "=>"):
        met = value >= bound
    elif comparison == "<":
        met = value < bound
    else:
        met = value > bound
    return "met" if met else "missed"


def figure_lines(paths):
    for path in paths:
        try:
            with open(path, encoding="utf-8", errors="replace") as log:
                for raw in log:
                    line = raw.replace("\r", "").rstrip("\n")
                    # gtest's own lines ("[ RUN ]", "[  OK  ]") may repeat a case name holding "ratio".
                    if line.startswith("[") or "ratio" not in line or "goal" not in line:
                        continue
                    yield line
        except OSError:
            continue


def test_cases(paths):
    for path in paths:
        try:
            root = ElementTree.parse(path).getroot()
        except (OSError, ElementTree.ParseError):
            continue
        for case in root.iter("testcase"):
            yield case


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    what = argv[1]
    if what == "figures":
        for line in figure_lines(argv[2:]):
            print("%s  -> %s" % (line, judge(line)))
    elif what == "slowest":
        count = int(argv[2])
        cases = [(float(case.get("time") or 0), case.get("name")) for case in test_cases(argv[3:])]
        for seconds, name in sorted(cases, reverse=True)[:count]:
            print("%8.1f s  %s" % (seconds, name))
    elif what == "failed":
        for case in test_cases(argv[2:]):
            status = case.get("status")
            if status in ("fail", "failed") or case.find("failure") is not None:
                print(case.get("name"))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
