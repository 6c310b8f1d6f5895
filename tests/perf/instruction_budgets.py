#!/usr/bin/env python3
"""Instruction counts of sending and receiving through pluginFun, held against
the budgets in instruction_budgets.tsv beside this script.

  instruction_budgets.py [--valgrind PATH] [--update] MESSAGE_PROFILE

Runs MESSAGE_PROFILE --each under valgrind's callgrind, once: every path of the
file is called four times after a first call, collected alone and dumped.
Prints each count a call beside its budget and fails when one exceeds it.
With --update it writes the counts into the file instead, each budget 1.3
times its count: for a change that costs instructions on purpose (say why in
the commit), or one that saves them and should keep them saved.

Counts depend on the compiler and on the widest vectors valgrind runs (AVX2,
never AVX-512): a budget holds for the build it was set on, the native preset.
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BUDGETS = os.path.join(HERE, "instruction_budgets.tsv")
CALLS = 4  # as message_profile collects them
MARGIN = 1.3
HEADER = """# Instruction budgets of pluginFun: a count a call under callgrind, for each
# path and message length (tests/perf/instruction_budgets.py; README, Developers).
# path	bytes	instructions a call when the budget was set	budget ({margin} times that)
"""


def read_budgets():
    rows = []
    with open(BUDGETS, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            path, size, measured, budget = line.rstrip("\n").split("\t")
            rows.append((path, int(size), int(measured), int(budget)))
    return rows


def measure(valgrind, program, labels):
    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run([valgrind, "--tool=callgrind", "--collect-atstart=no",
                              f"--callgrind-out-file={out}/callgrind.out", program, "--each", *labels],
                             capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"{program} under callgrind failed ({run.returncode}):\n{run.stderr}")
        counts = {}
        for dump in glob.glob(os.path.join(out, "callgrind.out.*")):
            with open(dump, encoding="utf-8") as f:
                text = f.read()
            trigger = re.search(r"^desc: Trigger: Client Request: (\S+)$", text, re.M)
            summary = re.search(r"^summary: (\d+)$", text, re.M)
            if trigger and summary:
                counts[trigger.group(1)] = int(summary.group(1)) // CALLS
    missing = [s for s in labels if s not in counts]
    if missing:
        sys.exit("no count for " + ", ".join(missing))
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--valgrind", default="valgrind")
    parser.add_argument("--update", action="store_true")
    parser.add_argument("program")
    args = parser.parse_args()

    rows = read_budgets()
    labels = [f"{path}:{size}" for path, size, _, _ in rows]
    counts = measure(args.valgrind, args.program, labels)

    if args.update:
        with open(BUDGETS, "w", encoding="utf-8") as f:
            f.write(HEADER.format(margin=MARGIN))
            for (path, size, _, _), label in zip(rows, labels):
                f.write(f"{path}\t{size}\t{counts[label]}\t{round(counts[label] * MARGIN)}\n")
        print(f"wrote {BUDGETS}")
        return 0

    print(f"{'path':<16} {'bytes':>6} {'now':>10} {'when set':>10} {'now/set':>8} {'budget':>10}")
    over = []
    for (path, size, measured, budget), label in zip(rows, labels):
        now = counts[label]
        print(f"{path:<16} {size:>6} {now:>10} {measured:>10} {now / measured:>8.2f} {budget:>10}"
              + ("  OVER BUDGET" if now > budget else ""))
        if now > budget:
            over.append(label)
    if over:
        print(f"\nOver budget: {', '.join(over)}. If the cost is meant, tests/perf/instruction_budgets.py --update "
              "sets new budgets; say why in the commit.")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
