#!/usr/bin/env python3
"""Benchmark of the deep mode (--deep) on the benchmark database.

Times, round by round so that the machine's load hits all alike:
  - sqlite3 -readonly FILE .dump (the library reading every table),
  - sarvek --deep (live rows, deleted rows, logs),
  - deep_live_only (the live rows alone),
and, on a copy of the database with a write-ahead log beside it (updates,
deletes and inserts left in the log), sarvek --deep with and without the log;
with --compare BUILD, another build's sarvek --deep on both in the same rounds;
with --outputs, the examiner's outputs beside the CSV stream: --format=jsonl,
--out-dir= (CSV and JSON Lines files) and --xlsx= (each into a new folder or
file per round, removed after it).
Then memory: sarvek --deep under peak_rss (at 256 MiB, and at 1 GiB with --gib).

Build first (see bench/README.md):
  cmake --build build-bench --target sarvek make_bench_db peak_rss deep_live_only
"""
import argparse
import os
import shutil
import sqlite3
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402  (its helpers: make_db, timed_run, memory_run)

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_wal_copy(source, data, percent):
    """A copy of the database with a write-ahead log of changes to about
    `percent` % of the rows, copied while the connection holds it open."""
    base = os.path.join(data, os.path.basename(source).replace(".db", f"-wal{percent}"))
    live, copy = base + "-live.db", base + ".db"
    for path in (live, live + "-wal", live + "-shm", copy, copy + "-wal"):
        if os.path.exists(path):
            os.remove(path)
    shutil.copy(source, live)
    con = sqlite3.connect(live, isolation_level=None)
    for pragma in ("journal_mode=WAL", "wal_autocheckpoint=0", "secure_delete=OFF", "cache_size=-65536"):
        con.execute("PRAGMA " + pragma)
    step = max(1, 100 // percent)
    con.execute("BEGIN")
    con.execute(f"UPDATE messages SET body = body || ' (edited)' WHERE rowid % {step} = 1")
    con.execute(f"DELETE FROM contacts WHERE rowid % {step} = 2")
    con.execute("COMMIT")
    con.execute("BEGIN")
    con.execute(f"UPDATE numbers SET rowid = rowid WHERE rowid % {step} = 3")
    con.execute("COMMIT")
    shutil.copy(live, copy)
    shutil.copy(live + "-wal", copy + "-wal")
    con.close()
    for path in (live, live + "-wal", live + "-shm"):
        if os.path.exists(path):
            os.remove(path)
    return copy


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build-bench"))
    parser.add_argument("--size", type=int, default=256)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--wal-percent", type=int, default=5)
    parser.add_argument("--gib", action="store_true", help="also check memory at 1 GiB")
    parser.add_argument("--data", help="folder for the databases (default: <build>/bench-data)")
    parser.add_argument("--compare", help="another build folder whose sarvek --deep is timed in the same rounds")
    parser.add_argument("--outputs", action="store_true",
                        help="also time --format=jsonl, --out-dir= and --xlsx= against the CSV stream")
    args = parser.parse_args()
    data = args.data or os.path.join(args.build, "bench-data")
    os.makedirs(data, exist_ok=True)
    tools = {name: run_bench.need(os.path.join(args.build, *parts)) for name, parts in {
        "sarvek": ["sarvek"], "make_bench_db": ["bench", "make_bench_db"],
        "peak_rss": ["bench", "peak_rss"], "deep_live_only": ["bench", "deep_live_only"]}.items()}
    db = run_bench.make_db(tools, data, args.size, args.seed, False)
    wal_db = make_wal_copy(db, data, args.wal_percent)
    scratch = os.path.join(data, "deep-scratch")
    os.makedirs(scratch, exist_ok=True)
    shell = shutil.which("sqlite3")
    runs = {
        "sqlite3 .dump": [shell, "-readonly", db, ".dump"] if shell else None,
        "--deep": [tools["sarvek"], "-i", db, "--deep"],
        "--deep, live rows only": [tools["deep_live_only"], "-i", db, "--deep"],
        "--deep with the log": [tools["sarvek"], "-i", wal_db, "--deep"],
        "--deep --wal=none": [tools["sarvek"], "-i", wal_db, "--deep", "--wal=none"],
    }
    if args.compare:
        other = run_bench.need(os.path.join(args.compare, "sarvek"))
        runs["other build: --deep"] = [other, "-i", db, "--deep"]
        runs["other build: --deep with the log"] = [other, "-i", wal_db, "--deep"]
    if args.outputs:
        target = os.path.join(scratch, "out")  # a new folder or file each round
        runs["--deep --format=jsonl"] = [tools["sarvek"], "-i", db, "--deep", "--format=jsonl"]
        runs["--deep --out-dir="] = [tools["sarvek"], "-i", db, "--deep", "--out-dir=" + target]
        runs["--deep --out-dir= --format=jsonl"] = [tools["sarvek"], "-i", db, "--deep", "--format=jsonl",
                                                    "--out-dir=" + target]
        runs["--deep --xlsx="] = [tools["sarvek"], "-i", db, "--deep", "--xlsx=" + target + ".xlsx"]
    runs = {k: v for k, v in runs.items() if v}
    with open(db, "rb") as f:  # into the page cache
        while f.read(1 << 24):
            pass
    times = {k: [] for k in runs}
    for _ in range(args.runs):
        for name, cmd in runs.items():
            # Each run in a new folder, removed after it: the outputs (and
            # the files of the workbook's cut cells) do not pile up.
            work = os.path.join(scratch, "run")
            os.makedirs(work, exist_ok=True)
            times[name].append(run_bench.timed_run(cmd, work))
            shutil.rmtree(work, ignore_errors=True)
            if args.outputs:
                shutil.rmtree(os.path.join(scratch, "out"), ignore_errors=True)
                if os.path.exists(os.path.join(scratch, "out.xlsx")):
                    os.remove(os.path.join(scratch, "out.xlsx"))
    median = {k: statistics.median(v) for k, v in times.items()}
    size_mb = os.path.getsize(db) / 1e6
    wal_mb = os.path.getsize(wal_db + "-wal") / 1e6
    print(f"\n{run_bench.cpu_model()}, {args.size} MiB database, seed {args.seed}, median of {args.runs}")
    print(f"\n| run | wall s | MB/s |\n|---|---|---|")
    for name, t in median.items():
        print(f"| {name} | {t:.3f} | {size_mb / t:.0f} |")
    print("\n| measure | value | target |\n|---|---|---|")
    if "sqlite3 .dump" in median:
        ratio = median["--deep"] / median["sqlite3 .dump"]
        print(f"| --deep / sqlite3 .dump | {ratio:.2f} | at most 1 ({run_bench.verdict(ratio <= 1)}) |")
    ratio = median["--deep"] / median["--deep, live rows only"]
    print(f"| --deep / live rows only | {ratio:.2f} | at most 1.5 ({run_bench.verdict(ratio <= 1.5)}) |")
    extra = median["--deep with the log"] - median["--deep --wal=none"]
    print(f"| log of {wal_mb:.1f} MB: time it adds | {extra:.3f} s ({wal_mb / max(extra, 1e-9):.0f} MB/s; "
          f"the database reads at {size_mb / median['--deep']:.0f} MB/s) | in proportion to its size |")
    if args.compare:
        for mine, theirs in (("--deep", "other build: --deep"),
                             ("--deep with the log", "other build: --deep with the log")):
            ratio = median[mine] / median[theirs]
            print(f"| {mine}: this build / other build | {ratio:.2f} | at most 1 within noise |")
    if args.outputs:
        for name in ("--deep --format=jsonl", "--deep --out-dir=", "--deep --out-dir= --format=jsonl"):
            ratio = median[name] / median["--deep"]
            print(f"| {name} / --deep | {ratio:.2f} | at most 1.3 ({run_bench.verdict(ratio <= 1.3)}) |")
        print(f"| --deep --xlsx= / --deep | {median['--deep --xlsx='] / median['--deep']:.2f} | measured |")
    sizes = [(args.size, db)]
    if args.gib:
        sizes.append((1024, run_bench.make_db(tools, data, 1024, args.seed, False)))
    for mib_size, path in sizes:
        report = run_bench.memory_run(tools, [tools["sarvek"], "-i", path, "--deep"], scratch)
        anon = run_bench.mib(report["MaxRssAnon"])
        print(f"| memory beyond the mapping at {mib_size} MiB | {anon:.1f} MiB | below 64 MiB "
              f"({run_bench.verdict(anon < 64)}) |")


if __name__ == "__main__":
    main()
