#!/usr/bin/env python3
"""Times sarvek against the machine's floors on one generated database.

In one run, on the same file:
  * sarvek in the default mode, with --fine-search and with --freespace,
    standard output to /dev/null: median wall time of N runs, MB/s of input,
    rows per second (rows = output lines of the mode, counted in a separate
    pass) and peak memory;
  * the floors: (a) read_floor, one pass over the mapped file reading every
    byte; (b) output_floor, the default mode's number of lines and bytes
    written with one flush per line; (c) the sqlite3 shell's .dump;
  * the baseline: the sarvek built with -DSARVEK_FAST_SCAN=OFF, in
    --fine-search mode, for the speed-up of the fast scan;
  * with --compare, another build of sarvek (an earlier version, say) in
    every mode, timed in the same rounds;
  * output equality: sha256 of the standard output of every mode from the
    baseline and from the optimised binary, and of the -d output (on a small
    database, with the "file.cpp:123:" prefixes and the addresses masked by
    mask_debug);
  * memory: peak resident size and its part that is not the file mapping, at
    the benchmark size and, with --gib, at 1 GiB.

Only the Python standard library is used. MB is 10^6 bytes, MiB 2^20.
"""

import argparse
import hashlib
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODES = [("default", []), ("--fine-search", ["--fine-search"]), ("--freespace", ["--freespace"]),
         ("--removed-only", ["--removed-only"])]
# The databases make_bench_db can make: deletions in runs (freelist pages)
# and single rows, or single rows only, one in 7 (freeblocks nearly
# everywhere).
LAYOUTS = ("runs", "scattered")
MEMORY_TARGET_MIB = 64
DEFAULT_TARGET = 1.5
FINE_SPEEDUP_TARGET = 4.0

def fail(message):
    sys.exit("run_bench: " + message)


def log(message):
    print(message, file=sys.stderr, flush=True)


def need(path):
    if not os.access(path, os.X_OK):
        fail(f"{path} is missing; build it first (see bench/README.md)")
    return path


def make_db(tools, data, mib, seed, regen, layout="runs"):
    suffix = "" if layout == "runs" else f"-{layout}"
    path = os.path.join(data, f"bench-{mib}m-s{seed}{suffix}.db")
    if regen or not os.path.exists(path):
        log(f"making {path} ...")
        start = time.perf_counter()
        result = subprocess.run([tools["make_bench_db"], path, str(mib), str(seed), layout],
                                capture_output=True, text=True)
        if result.returncode != 0:
            fail(f"make_bench_db failed: {result.stderr.strip()}")
        log(result.stdout.rstrip() + f"\n  made in {time.perf_counter() - start:.1f} s")
    return path


def timed_run(cmd, cwd):
    """Runs cmd with stdout to /dev/null; returns its wall time in seconds.

    (The rusage of a child of Python is no measure of its memory: its peak
    RSS counts the Python process it was forked from. memory_run is.)"""
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        child = subprocess.Popen(cmd, stdout=null, stderr=subprocess.PIPE, cwd=cwd)
        # Read stderr before waiting so that a chatty child cannot block.
        err = child.stderr.read()
        _, status = os.waitpid(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        child.stderr.close()
    if child.returncode != 0:
        fail(f"{' '.join(cmd)} ended with status {child.returncode}: {err.decode(errors='replace')[:500]}")
    return wall


def stream_digest(cmd, cwd, mask=None):
    """Runs cmd and returns (lines, bytes, sha256) of its stdout.

    With mask (the mask_debug filter) the output is piped through it first:
    for -d output, whose source prefixes and addresses may differ."""
    digest = hashlib.sha256()
    lines = size = 0
    child = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=cwd)
    reader = child
    if mask:
        reader = subprocess.Popen([mask], stdin=child.stdout, stdout=subprocess.PIPE, cwd=cwd)
        child.stdout.close()
    while True:
        chunk = reader.stdout.read(1 << 20)
        if not chunk:
            break
        lines += chunk.count(b"\n")
        size += len(chunk)
        digest.update(chunk)
    if child.wait() != 0 or reader.wait() != 0:
        fail(f"{' '.join(cmd)} ended with status {child.returncode}")
    return lines, size, digest.hexdigest()


def memory_run(tools, cmd, cwd):
    """Runs cmd under peak_rss; returns its report as a dict of kB values."""
    report = os.path.join(cwd, "peak_rss.txt")
    with open(os.devnull, "wb") as null:
        status = subprocess.run([tools["peak_rss"], report] + cmd, stdout=null, cwd=cwd).returncode
    if status != 0:
        fail(f"{' '.join(cmd)} under peak_rss ended with status {status}")
    with open(report) as f:
        fields = dict(item.split("=") for item in f.read().split())
    return {key: int(value) for key, value in fields.items()}


def mib(kb):
    return kb / 1024.0


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def verdict(ok):
    return "met" if ok else "NOT met"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build-bench"),
                        help="build folder with sarvek and bench/ tools (default: build-bench)")
    parser.add_argument("--base", default=os.path.join(REPO, "build-bench-base"),
                        help="build folder of the baseline, -DSARVEK_FAST_SCAN=OFF (default: build-bench-base)")
    parser.add_argument("--size", type=int, default=256, help="database size in MiB (default 256)")
    parser.add_argument("--seed", type=int, default=1, help="generator seed (default 1)")
    parser.add_argument("--layout", choices=LAYOUTS, default="runs",
                        help="deletions in runs and single rows (runs, the default) or one row in 7 "
                             "at random (scattered)")
    parser.add_argument("--compare", help="build folder of another sarvek to time in every mode beside this one")
    parser.add_argument("--runs", type=int, default=3, help="timed runs per measurement (default 3)")
    parser.add_argument("--data", help="folder for the databases (default: <build>/bench-data)")
    parser.add_argument("--debug-size", type=int, default=4,
                        help="size in MiB of the database for the -d comparison (default 4; 0 skips it)")
    parser.add_argument("--debug-modes", default="all",
                        help="modes compared under -d: comma-separated from default,fine,freespace, or all "
                             "(default: all)")
    parser.add_argument("--gib", action="store_true",
                        help="also make a 1 GiB database and check memory on it")
    parser.add_argument("--no-base", action="store_true", help="skip the baseline binary")
    parser.add_argument("--regen", action="store_true", help="remake the databases even if present")
    args = parser.parse_args()
    if args.runs < 1:
        fail("--runs must be at least 1")

    tools = {name: need(os.path.join(args.build, "bench", name))
             for name in ("make_bench_db", "read_floor", "output_floor", "peak_rss", "mask_debug")}
    fast = need(os.path.join(args.build, "sarvek"))
    base = None if args.no_base else need(os.path.join(args.base, "sarvek"))
    other = need(os.path.join(os.path.abspath(args.compare), "sarvek")) if args.compare else None
    sqlite3 = shutil.which("sqlite3")
    data = os.path.abspath(args.data or os.path.join(args.build, "bench-data"))
    scratch = os.path.join(data, "scratch")  # the working folder of every run
    os.makedirs(scratch, exist_ok=True)

    db = make_db(tools, data, args.size, args.seed, args.regen, args.layout)
    db_bytes = os.path.getsize(db)
    db_mb = db_bytes / 1e6

    # Warm the page cache so that every measurement reads from memory.
    timed_run([tools["read_floor"], db], scratch)

    # Output of every mode: line and byte counts and hashes, once per binary.
    log("counting and hashing the output of each mode ...")
    out = {}
    for name, options in MODES:
        out[("fast", name)] = stream_digest([fast, "-i", db] + options, scratch)
        if base:
            out[("base", name)] = stream_digest([base, "-i", db] + options, scratch)
    rows_default, bytes_default, _ = out[("fast", "default")]

    # The timed measurements, interleaved round by round so that a change in
    # the machine's load affects all of them alike.
    plan = [("(a) read floor", [tools["read_floor"], db]),
            ("(b) output floor", [tools["output_floor"], str(rows_default), str(bytes_default)])]
    if sqlite3:
        plan.append(("(c) sqlite3 .dump", [sqlite3, "-readonly", db, ".dump"]))
    for name, options in MODES:
        plan.append((name, [fast, "-i", db] + options))
    if other:
        for name, options in MODES:
            plan.append((f"compare {name}", [other, "-i", db] + options))
    if base:
        plan.append(("baseline --fine-search", [base, "-i", db, "--fine-search"]))
    walls = {label: [] for label, _ in plan}
    for round_number in range(args.runs):
        log(f"timing, round {round_number + 1} of {args.runs} ...")
        for label, cmd in plan:
            walls[label].append(timed_run(cmd, scratch))
    median = {label: statistics.median(values) for label, values in walls.items()}

    # Memory apart from the file mapping, at this size and optionally 1 GiB.
    log("measuring memory ...")
    peaks = {label: memory_run(tools, cmd, scratch) for label, cmd in plan}
    memory = {(args.size, name): peaks[name] for name, _ in MODES}
    if args.gib and args.size != 1024:
        path = make_db(tools, data, 1024, args.seed, args.regen, args.layout)
        for name, options in MODES:
            memory[(1024, name)] = memory_run(tools, [fast, "-i", path] + options, scratch)

    # -d output of both binaries on a small database.
    debug = {}
    if base and args.debug_size > 0:
        wanted = {"default": "default", "fine": "--fine-search", "freespace": "--freespace"}
        names = list(wanted) if args.debug_modes == "all" else args.debug_modes.split(",")
        small = make_db(tools, data, args.debug_size, args.seed, args.regen, args.layout)
        for key in names:
            if key not in wanted:
                fail(f"unknown -d mode {key!r}")
            name = wanted[key]
            options = dict(MODES)[name]
            log(f"hashing -d output, {name} ...")
            debug[name] = (stream_digest([fast, "-d", "-i", small] + options, scratch, tools["mask_debug"]),
                           stream_digest([base, "-d", "-i", small] + options, scratch, tools["mask_debug"]))

    # Report.
    a, b = median["(a) read floor"], median["(b) output floor"]
    c = median.get("(c) sqlite3 .dump")
    print(f"sarvek benchmark on {cpu_model()}, {os.cpu_count()} CPUs, {platform.system()} {platform.release()}")
    print(f"database {db}: {db_bytes} bytes ({db_bytes / 2**20:.1f} MiB), seed {args.seed}, "
          f"deletions {args.layout}")
    print(f"wall times are medians of {args.runs} runs; MB = 10^6 bytes; stdout to /dev/null")
    print(f"fast build: {args.build}" + (f"; baseline build: {args.base}" if base else "") +
          (f"; compared build: {args.compare}" if other else ""))
    print()
    print("Ratios")
    ratio_lines = []
    default = median["default"]
    ratio_lines.append((f"default / (a + b)", default / (a + b),
                        f"target <= {DEFAULT_TARGET}: {verdict(default / (a + b) <= DEFAULT_TARGET)}"))
    ratio_lines.append(("--fine-search / (a)", median["--fine-search"] / a, ""))
    ratio_lines.append(("--freespace / (a)", median["--freespace"] / a, ""))
    if base:
        speedup = median["baseline --fine-search"] / median["--fine-search"]
        ratio_lines.append(("baseline / fast, --fine-search", speedup,
                            f"target >= {FINE_SPEEDUP_TARGET}: {verdict(speedup >= FINE_SPEEDUP_TARGET)}"))
    if other:
        for name, _ in MODES:
            ratio_lines.append((f"{name} / compared build", median[name] / median[f"compare {name}"], ""))
    if c:
        for name, _ in MODES:
            ratio_lines.append((f"{name} / (c)", median[name] / c, ""))
    for label, value, note in ratio_lines:
        print(f"  {label:<32} {value:8.2f}  {note}")
    print()
    print(f"  {'measurement':<24} {'wall s':>8} {'MB/s':>8} {'rows':>9} {'rows/s':>10} "
          f"{'peak RSS MiB':>13} {'not file MiB':>13}")
    for label, _ in plan:
        wall = median[label]
        rows = ""
        rate = ""
        if label in dict(MODES) or label.startswith("baseline"):
            name = "--fine-search" if label.startswith("baseline") else label
            lines = out[("base" if label.startswith("baseline") else "fast", name)][0]
            rows, rate = f"{lines:9d}", f"{lines / wall:10.0f}"
        elif label.startswith("(b)"):
            rows, rate = f"{rows_default:9d}", f"{rows_default / wall:10.0f}"
        m = peaks[label]
        print(f"  {label:<24} {wall:8.3f} {db_mb / wall:8.1f} {rows:>9} {rate:>10} "
              f"{mib(m['VmHWM']):13.1f} {mib(m['VmHWM'] - m['RssFile']):13.1f}")
    print(f"  (default output: {rows_default} lines, {bytes_default} bytes; "
          f"MB/s is the database's size over the wall time)")
    print()
    print(f"Memory of the fast build (MiB): peak RSS includes the touched pages of the mapped file;")
    print(f"'not file' = peak RSS - file-backed RSS at exit, 'anon max' = largest sampled anonymous RSS;")
    print(f"target: not file < {MEMORY_TARGET_MIB} MiB")
    print(f"  {'size':>8} {'mode':<15} {'peak RSS':>9} {'file':>9} {'not file':>9} {'anon max':>9}  verdict")
    for (size, name), m in memory.items():
        not_file = mib(m["VmHWM"] - m["RssFile"])
        anon = mib(m["MaxRssAnon"])
        ok = max(not_file, anon) < MEMORY_TARGET_MIB
        print(f"  {str(size) + ' MiB':>8} {name:<15} {mib(m['VmHWM']):9.1f} {mib(m['RssFile']):9.1f} "
              f"{not_file:9.1f} {anon:9.1f}  {verdict(ok)}")
    if base:
        print()
        print("Output equality, baseline vs fast build (sha256 of stdout)")
        for name, _ in MODES:
            f, s = out[("fast", name)], out[("base", name)]
            print(f"  {name:<22} {'equal' if f == s else 'DIFFERENT'}  "
                  f"({f[0]} lines, {f[1]} bytes, {f[2][:16]})")
        for name, (f, s) in debug.items():
            label = f"-d {name}"
            print(f"  {label:<22} {'equal' if f[2] == s[2] else 'DIFFERENT'}  "
                  f"({f[0]} lines, {f[1]} bytes, masked, {args.debug_size} MiB database, {f[2][:16]})")


if __name__ == "__main__":
    main()
