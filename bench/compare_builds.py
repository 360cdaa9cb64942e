#!/usr/bin/env python3
"""Compares two builds' outputs byte for byte.

Runs sarvek of build A and of build B on the same databases with the same
options and reports every difference in standard output, standard error,
exit status and the files a run writes (--export=, --out-dir=, --xlsx=,
blob files). The databases: the bundled sample, benchmark databases made
by make_bench_db, and a set of shapes made here with the SQLite library
(deleted rows, WAL with several commits, a hot journal, WITHOUT ROWID,
overflow, UTF-16, small pages, indexes, AUTOINCREMENT, a dropped table).

  bench/compare_builds.py BUILD_A BUILD_B [--work DIR] [--bench-mib 8,32]

Exit status 0 when every output is the same, 1 otherwise.
"""
import argparse
import filecmp
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import zipfile

# The option sets: the byte scan's modes and narration, the deep mode's
# streams and files. {out} is replaced by a fresh folder per run.
OPTION_SETS = [
    [],
    ["--freespace"],
    ["--fine-search"],
    ["--removed-only"],
    ["-d"],
    ["--freespace", "-d"],
    ["--blob-size-limit=64"],
    ["--deep"],
    ["--deep", "--no-inferred"],
    ["--deep", "--format=jsonl"],
    ["--deep", "--export={out}/export.db"],
    ["--deep", "--out-dir={out}/dir"],
    ["--deep", "--out-dir={out}/dir", "--format=jsonl", "--blob-size-limit=64"],
    ["--deep", "--xlsx={out}/book.xlsx"],
]


def execute(script, path, page_size=1024, encoding=None):
    con = sqlite3.connect(path, isolation_level=None)
    con.execute(f"PRAGMA page_size={page_size}")
    if encoding:
        con.execute(f"PRAGMA encoding='{encoding}'")
    con.execute("PRAGMA secure_delete=OFF")
    con.executescript(script)
    return con


def rows_sql(table, count, width, start=0):
    return "".join(
        f"INSERT INTO {table} VALUES({i}, 'row {i} ' || hex(randomblob({width})), {i * 7 % 1000});"
        for i in range(start, start + count))


def shapes(work):
    """The databases made with the SQLite library: {name: path}."""
    made = {}

    def fresh(name):
        path = os.path.join(work, name + ".db")
        for suffix in ("", "-wal", "-shm", "-journal"):
            if os.path.exists(path + suffix):
                os.remove(path + suffix)
        made[name] = path
        return path

    # Deleted rows in freeblocks and on free pages, an index, overflow.
    con = execute("CREATE TABLE t(id INTEGER PRIMARY KEY, body TEXT, n INT);"
                  "CREATE INDEX t_n ON t(n);" + rows_sql("t", 300, 20) +
                  "INSERT INTO t VALUES(1000, hex(randomblob(3000)), 1);"
                  "DELETE FROM t WHERE id % 3 = 0 OR id = 1000;", fresh("deleted"))
    con.close()
    # WITHOUT ROWID, AUTOINCREMENT, a dropped table, small pages.
    con = execute("CREATE TABLE k(name TEXT PRIMARY KEY, v INT) WITHOUT ROWID;"
                  "CREATE TABLE a(id INTEGER PRIMARY KEY AUTOINCREMENT, s TEXT);"
                  "CREATE TABLE gone(x TEXT, y BLOB);" +
                  "".join(f"INSERT INTO k VALUES('key{i:04d}', {i});" for i in range(200)) +
                  "".join(f"INSERT INTO a(s) VALUES('auto {i}');" for i in range(100)) +
                  "".join(f"INSERT INTO gone VALUES('gone {i}', randomblob(40));" for i in range(60)) +
                  "DELETE FROM k WHERE v % 4 = 1; DELETE FROM a WHERE id % 5 = 0; DROP TABLE gone;",
                  fresh("shapes512"), page_size=512)
    con.close()
    # UTF-16 with updates that reuse freed space.
    con = execute("CREATE TABLE notes(id INTEGER PRIMARY KEY, title TEXT, body TEXT);" +
                  "".join(f"INSERT INTO notes VALUES({i}, 'title {i}', 'body of note {i}');" for i in range(150)) +
                  "UPDATE notes SET body = body || ' edited' WHERE id % 2 = 0;"
                  "DELETE FROM notes WHERE id % 7 = 0;", fresh("utf16"), encoding="UTF-16le")
    con.close()
    # A WAL with several commits, copied while the connection holds it.
    wal = fresh("wal")
    live = wal + ".live"
    con = execute("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                  "CREATE TABLE m(id INTEGER PRIMARY KEY, body TEXT, n INT);" + rows_sql("m", 100, 8), live)
    con.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    con.executescript("UPDATE m SET body = body || ' v2' WHERE id % 3 = 0;"
                      "DELETE FROM m WHERE id % 5 = 0;" + rows_sql("m", 20, 8, 500) +
                      "DELETE FROM m WHERE id > 510;")
    shutil.copy(live, wal)
    shutil.copy(live + "-wal", wal + "-wal")
    con.close()
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(live + suffix):
            os.remove(live + suffix)
    # A hot journal: a writer that died mid-transaction.
    hot = fresh("hot")
    con = execute("CREATE TABLE s(id INTEGER PRIMARY KEY, body TEXT, n INT);" + rows_sql("s", 200, 30), hot)
    con.close()
    pid = os.fork()
    if pid == 0:
        con = sqlite3.connect(hot, isolation_level=None)
        con.execute("PRAGMA cache_size=1")
        con.execute("BEGIN")
        con.execute("DELETE FROM s WHERE id % 2 = 0")
        con.execute("UPDATE s SET body = 'changed' WHERE id % 3 = 0")
        os._exit(0)
    os.waitpid(pid, 0)
    return made


def bench_dbs(build, work, sizes):
    made = {}
    tool = os.path.join(build, "bench", "make_bench_db")
    if not os.path.exists(tool):  # a build without the benchmarks: the usual one beside it
        tool = os.path.join(os.path.dirname(os.path.abspath(build)), "build-bench", "bench", "make_bench_db")
    if not os.path.exists(tool):
        print(f"note: {tool} not built; no benchmark databases", file=sys.stderr)
        return made
    for mib in sizes:
        path = os.path.join(work, f"bench{mib}.db")
        if not os.path.exists(path):
            subprocess.run([tool, path, str(mib)], check=True, stdout=subprocess.DEVNULL)
        made[f"bench{mib}"] = path
    return made


def run(binary, db, options, out, cwd):
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    if os.path.exists(cwd):
        shutil.rmtree(cwd)
    os.makedirs(cwd)
    args = [binary, "-i", db] + [o.replace("{out}", out) for o in options]
    done = subprocess.run(args, cwd=cwd, capture_output=True)
    return done


# What differs between two runs of one build: -d prints source positions
# and addresses; an export records the run's times and command line; a
# workbook its creation time.
MASKS = [(re.compile(rb"[\w.+-]+\.(?:cpp|h|inc):\d+:"), b"F:L:"),
         (re.compile(rb"0x[0-9a-f]{9,}|\(nil\)"), b"0xADDR"),
         (re.compile(rb"ROW found at offset: -?\d+"), b"ROW found at offset: ADDR")]
TIME = re.compile(rb"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")


def mask_debug(data):
    for pattern, replacement in MASKS:
        data = pattern.sub(replacement, data)
    return data


def file_content(path, out):
    """A file's bytes, or for an export and a workbook what must not vary."""
    if path.endswith(".db"):
        dump = subprocess.run(["sqlite3", "-readonly", path, ".dump"], capture_output=True).stdout
        return TIME.sub(b"TIME", dump.replace(out.encode(), b"{out}"))
    if path.endswith(".xlsx"):
        with zipfile.ZipFile(path) as book:
            return b"".join(name.encode() + book.read(name) for name in sorted(book.namelist())
                            if name != "docProps/core.xml")
    with open(path, "rb") as f:
        return f.read()


def tree_differences(a, b):
    """The relative paths whose presence or bytes differ between two folders."""
    found = []
    for root, _, files in os.walk(a):
        for name in files:
            rel = os.path.relpath(os.path.join(root, name), a)
            other = os.path.join(b, rel)
            if not os.path.exists(other):
                found.append(rel)
            elif not filecmp.cmp(os.path.join(root, name), other, shallow=False) and \
                    file_content(os.path.join(root, name), a) != file_content(other, b):
                found.append(rel)
    for root, _, files in os.walk(b):
        for name in files:
            rel = os.path.relpath(os.path.join(root, name), b)
            if not os.path.exists(os.path.join(a, rel)):
                found.append(rel)
    return found


def normalise(data, out_a, out_b, side, debug):
    """The run's own folder names differ between the two sides."""
    data = data.replace((out_a if side == "a" else out_b).encode(), b"{out}")
    return mask_debug(data) if debug else data


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_a")
    parser.add_argument("build_b")
    parser.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "sarvek-compare"),
                        type=os.path.abspath)
    parser.add_argument("--bench-mib", default="8", help="benchmark database sizes, comma-separated ('' for none)")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    dbs = {"sample": os.path.abspath(os.path.join(args.build_a, "sample.db"))}
    dbs.update(shapes(args.work))
    dbs.update(bench_dbs(args.build_a, args.work, [int(s) for s in args.bench_mib.split(",") if s]))
    bins = {side: os.path.abspath(os.path.join(build, "sarvek")) for side, build in (("a", args.build_a), ("b", args.build_b))}
    differences = 0
    runs = 0
    for name, db in dbs.items():
        for options in OPTION_SETS:
            if name.startswith("bench") and "-d" in options:
                continue  # gigabytes of narration; the smaller databases cover it
            outs = {side: os.path.join(args.work, "out-" + side) for side in "ab"}
            cwds = {side: os.path.join(args.work, "cwd-" + side) for side in "ab"}
            results = {side: run(bins[side], db, options, outs[side], cwds[side]) for side in "ab"}
            runs += 1
            label = f"{name} {' '.join(options) or '(default)'}"
            a, b = results["a"], results["b"]
            problems = []
            if a.returncode != b.returncode:
                problems.append(f"exit {a.returncode} vs {b.returncode}")
            for stream in ("stdout", "stderr"):
                debug = "-d" in options
                da = normalise(getattr(a, stream), outs["a"], outs["b"], "a", debug)
                db_ = normalise(getattr(b, stream), outs["a"], outs["b"], "b", debug)
                if da != db_:
                    problems.append(f"{stream} differs ({len(da)} vs {len(db_)} bytes)")
            for kind, (fa, fb) in (("files", (outs["a"], outs["b"])), ("blob files", (cwds["a"], cwds["b"]))):
                diff = tree_differences(fa, fb)
                if diff:
                    problems.append(f"{kind} differ: {', '.join(sorted(diff)[:5])}")
            if problems:
                differences += 1
                print(f"DIFFERENT  {label}: {'; '.join(problems)}")
    print(f"{runs} runs over {len(dbs)} databases: {differences} with differences")
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
