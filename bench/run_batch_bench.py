#!/usr/bin/env python3
"""Benchmark of the deep mode on a folder (sarvek --deep -i DIR --out-dir=OUT).

Two trees are made with Python's sqlite3 module: many small databases (a
third of them in WAL mode with their log kept beside them) and a few large
ones. On each, round by round so that the machine's load hits all alike:
  - a shell loop of single runs (sarvek --deep -i FILE --out-dir=OUT/FILE --quiet
    for every database, its log read by name),
  - the folder run with -j 1,
  - the folder run with -j 2.
Prints the median seconds and the ratios to the shell loop.

  python3 bench/run_batch_bench.py --sarvek build/sarvek
  python3 bench/run_batch_bench.py --small 200 --large 4 --large-mib 2   # quick
"""
import argparse
import os
import shutil
import sqlite3
import statistics
import subprocess
import tempfile
import time


def make_db(path, rows, wal):
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA secure_delete=OFF")
    if wal:
        db.execute("PRAGMA journal_mode=WAL")
        db.execute("PRAGMA wal_autocheckpoint=0")
    db.execute("CREATE TABLE messages(id INTEGER PRIMARY KEY, sender TEXT, body TEXT, ts INTEGER)")
    db.execute("BEGIN")
    for i in range(rows):
        db.execute("INSERT INTO messages(sender, body, ts) VALUES(?, ?, ?)",
                   ("user%d" % (i % 97), "message body %d " % i * 3, 1600000000 + i))
    db.execute("COMMIT")
    db.execute("DELETE FROM messages WHERE id % 7 = 0")
    return db


def make_tree(root, count, rows):
    """count databases of about `rows` rows, nested two levels; a third keep a WAL."""
    open_handles = []
    for k in range(count):
        folder = os.path.join(root, "app%02d" % (k % 50), "d%d" % k)
        os.makedirs(folder, exist_ok=True)
        wal = k % 3 == 0
        db = make_db(os.path.join(folder, "store.db" if k % 2 else "History"), rows, wal)
        if wal:
            open_handles.append(db)  # the log stays while the handle is open
        else:
            db.close()
    # Copy the tree while the WAL handles are open, so the logs are kept.
    copy = root + ".evidence"
    shutil.copytree(root, copy)
    for db in open_handles:
        db.close()
    shutil.rmtree(root)
    return copy


def databases(root):
    found = []
    for folder, _, files in os.walk(root):
        for name in files:
            if not name.endswith(("-wal", "-shm", "-journal")):
                found.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(found)


def timed(command, shell=False):
    start = time.perf_counter()
    subprocess.run(command, shell=shell, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def shell_loop(sarvek, root, out):
    os.makedirs(out)
    script = "cd %s && while IFS= read -r f; do mkdir -p \"%s/$(dirname \"$f\")\"; " \
             "%s --deep -i \"$f\" --out-dir=\"%s/$f\" --quiet; done" % (root, out, sarvek, out)
    listing = "\n".join(databases(root)) + "\n"
    start = time.perf_counter()
    subprocess.run(["sh", "-c", script], input=listing.encode(), check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def bench_tree(name, sarvek, root, rounds, scratch):
    times = {"shell loop": [], "-j 1": [], "-j 2": []}
    for r in range(rounds):
        for label in times:
            out = os.path.join(scratch, "out-%s-%d" % (label.replace(" ", ""), r))
            if label == "shell loop":
                times[label].append(shell_loop(sarvek, root, out))
            else:
                jobs = label.split()[1]
                times[label].append(timed([sarvek, "--deep", "-i", root, "--out-dir=" + out, "-j", jobs, "--quiet"]))
            shutil.rmtree(out, ignore_errors=True)
    size = sum(os.path.getsize(os.path.join(f, n)) for f, _, ns in os.walk(root) for n in ns)
    loop = statistics.median(times["shell loop"])
    print("%s: %d databases, %.1f MiB" % (name, len(databases(root)), size / 2**20))
    for label, values in times.items():
        median = statistics.median(values)
        print("  %-10s %8.2f s  (%.2f of the shell loop)" % (label, median, median / loop))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sarvek", default="build/sarvek")
    parser.add_argument("--small", type=int, default=1000, help="small databases (default 1000)")
    parser.add_argument("--small-rows", type=int, default=50)
    parser.add_argument("--large", type=int, default=20, help="large databases (default 20)")
    parser.add_argument("--large-mib", type=float, default=16, help="size of each large one (default 16 MiB)")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    sarvek = os.path.abspath(args.sarvek)
    scratch = tempfile.mkdtemp(prefix="sarvek-batch-bench-")
    try:
        small = make_tree(os.path.join(scratch, "small"), args.small, args.small_rows)
        bench_tree("small", sarvek, small, args.rounds, scratch)
        # About 80 bytes a row.
        large = make_tree(os.path.join(scratch, "large"), args.large, int(args.large_mib * 2**20 / 80))
        bench_tree("large", sarvek, large, args.rounds, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
