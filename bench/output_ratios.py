#!/usr/bin/env python3
"""The examiner's outputs beside the CSV stream, in instructions and time.

For each build given, on the same benchmark database:
  --deep (CSV stream), --deep --format=jsonl, --deep --out-dir=DIR and
  --deep --out-dir=DIR --format=jsonl (standard output to /dev/null, the
  folder new for every run and removed after it).
Instructions: user-space instructions of all threads, counted by
callgrind (valgrind), once per run on a small database (--ir-size); the
count is exact but for the split of work between the threads (about
0.3 % from run to run). Time: wall and processor time (user + system)
medians of --runs rounds on a larger one (--size); every round runs
every build and output in turn, so a change in the machine's load hits
all alike. Ratios are to the same build's CSV stream.

  bench/output_ratios.py BUILD [BUILD ...] [--size 256] [--ir-size 32] [--runs 7]

The databases are made with the first build's bench/make_bench_db (seed 1)
and kept in --data (default build-bench/bench-data).
"""
import argparse
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402  (make_db)

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUTS = {
    "csv": [],
    "jsonl": ["--format=jsonl"],
    "out-dir": ["--out-dir={out}"],
    "out-dir jsonl": ["--out-dir={out}", "--format=jsonl"],
}


def command(binary, db, output, out):
    return [binary, "-i", db, "--deep", "--quiet"] + [o.replace("{out}", out) for o in OUTPUTS[output]]


def instructions(binary, db, output, work):
    """callgrind's instruction total of one run."""
    out, counts = os.path.join(work, "out"), os.path.join(work, "callgrind.out")
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + counts] +
                   command(binary, db, output, out), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    shutil.rmtree(out, ignore_errors=True)
    with open(counts) as f:
        total = re.search(r"^(?:summary|totals): (\d+)", f.read(), re.M)
    os.remove(counts)
    return int(total.group(1))


def timed(binary, db, output, work):
    """Wall and processor seconds of one run."""
    out = os.path.join(work, "out")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command(binary, db, output, out), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    shutil.rmtree(out, ignore_errors=True)
    return wall, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def table(title, builds, values, form):
    print(f"\n{title}\n\n| output | " + " | ".join(builds) + " |\n|---|" + "---|" * len(builds))
    for output in OUTPUTS:
        cells = [f"{form(values[b][output])} ({values[b][output] / values[b]['csv']:.2f})" for b in builds]
        print(f"| {output} | " + " | ".join(cells) + " |")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("builds", nargs="+")
    parser.add_argument("--size", type=int, default=256)
    parser.add_argument("--ir-size", type=int, default=32, help="MiB for the instruction counts; 0 skips them")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--data", default=os.path.join(REPO, "build-bench", "bench-data"))
    args = parser.parse_args()
    os.makedirs(args.data, exist_ok=True)
    tools = {"make_bench_db": run_bench.need(os.path.join(args.builds[0], "bench", "make_bench_db"))}
    bins = {b: run_bench.need(os.path.join(b, "sarvek")) for b in args.builds}
    work = tempfile.mkdtemp(prefix="output-ratios-")
    try:
        if args.ir_size:
            small = run_bench.make_db(tools, args.data, args.ir_size, 1, False)
            counts = {b: {o: instructions(bins[b], small, o, work) for o in OUTPUTS} for b in args.builds}
            table(f"Instructions, {args.ir_size} MiB (millions)", args.builds, counts, lambda v: f"{v / 1e6:,.1f}")
        db = run_bench.make_db(tools, args.data, args.size, 1, False)
        walls = {b: {o: [] for o in OUTPUTS} for b in args.builds}
        cpus = {b: {o: [] for o in OUTPUTS} for b in args.builds}
        for _ in range(args.runs):
            for b in args.builds:
                for o in OUTPUTS:
                    wall, cpu = timed(bins[b], db, o, work)
                    walls[b][o].append(wall)
                    cpus[b][o].append(cpu)
        median = lambda runs: {b: {o: statistics.median(v) for o, v in runs[b].items()} for b in runs}
        print(f"\nload average at the end: {os.getloadavg()[0]:.1f}")
        table(f"Wall s, {args.size} MiB, median of {args.runs}", args.builds, median(walls), lambda v: f"{v:.3f}")
        table(f"Processor s (user + system), median of {args.runs}", args.builds, median(cpus), lambda v: f"{v:.3f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
