// The command line: options, messages, streams and exit statuses, through the
// binary for every path that ends the process, in-process for the settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/command_line.h"
#include "setup/globals.h"
#include "support/run.h"
#include "support/sqlite_db.h"

namespace {

const std::string help =
    "-i <sqlite DB> [-d] [-v] [-V|--version] [--cellcount-min=<count>] [--cellcount-max=<count>] "
    "[--rowsize-min=<bytes>] [--rowsize-max=<bytes>] [--no-blobs] [--blob-size-limit=<bytes>] "
    "[--page-size=<bytes>] [--page-start=<number>] [--page-end=<number>] [--freespace] "
    "[--freespace-minimum=<bytes>]\n"
    "\t-i: input SQLite3 format database (with --deep, also a folder: every SQLite file in its tree)\n"
    "\t-d: enable debugging output (very large dumps)\n"
    "\t-v: enable verbose output\n"
    "\t-V|--version: show version of software\n"
    "\t-h|--help: show this help\n"
    "\t--cellcount-min: define the minimum number of cells a row must have to be extracted\n"
    "\t--cellcount-max: define the maximum number of cells a row must have to be extracted\n"
    "\t--rowsize-min: define the minimum number of bytes a row must have to be extracted\n"
    "\t--rowsize-max: define the maximum number of bytes a row must have to be extracted\n"
    "\t--no-blobs: disable the dumping of blob data\n"
    "\t--blob-size-limit: all blobs larger than this size are dumped to .blob files\n"
    "\t--fine-search: search DB shifting one byte at a time, rather than records\n"
    "\t--page-size: hard code the page size for the DB (useful when header is damaged)\n"
    "\t--removed-only: Dumps rows that have their key set to -1\n"
    "\t--freespace: search for rows in the freespace\n"
    "\t--deep: read the database as the file format defines it: every row of every table, by name\n"
    "\t--export=<file>: with --deep, also write the rows into this new SQLite database\n"
    "\t--wal=<file>|none: with --deep, the write-ahead log to read (default: the one beside the database)\n"
    "\t--journal=<file>|none: with --deep, the rollback journal to read (default: the one beside the database)\n"
    "\t--as-of=<n>: with --deep, the database as it stood after commit n of the write-ahead log (0: the file alone)\n"
    "\t--no-inferred: with --deep, leave out deleted rows read on an assumption (reading 'inferred')\n"
    "\t--table=<name>: with --deep, only the rows of this table (repeatable)\n"
    "\t--out-dir=<dir>: with --deep, one file per table in this new directory instead of standard output\n"
    "\t--format=csv|jsonl: with --deep, CSV lines (the default) or one JSON object per row\n"
    "\t--xlsx=<file>: with --deep, also write the rows into this new Excel workbook, a sheet per table\n"
    "\t--no-times: with --deep, do not decode time columns in the export, the JSON and the workbook\n"
    "\t--quiet: with --deep, no summary lines and no damage notes on standard error\n"
    "\t-j <count>: with --deep and a folder, the files read at once (default: the processor count)\n"
    "\t--shard=<k>/<n>: with --deep and a folder, only the k-th of n shares of its files\n"
    "\t--merge-inventories <dir>...: join the output folders of shares into the new --out-dir=\n";

// "sarvek version <version>, by <credit> ( <contact> )", one line.
bool is_banner(const std::string& text) {
  const std::string head = "sarvek version " SARVEK_VERSION ", by ", tail = " )\n";
  if (text.size() < head.size() + tail.size() || text.rfind(head, 0) != 0 ||
      text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  const std::string middle = text.substr(head.size(), text.size() - head.size() - tail.size());
  const size_t open = middle.find(" ( ");
  return open != std::string::npos && open > 0 && open + 3 < middle.size() &&
         middle.find('\n') == std::string::npos;
}

void expect_run(const run_result& r, int status, const std::string& out, const std::string& err) {
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
}

// A 20-byte file with page size 512 in its header: a run on it prints nothing.
struct CommandLine : testing::Test {
  scratch_dir dir;
  std::string tiny = dir.file("tiny.db");
  spawn_options in_dir{dir.path, false};
  void SetUp() override {
    std::vector<uint8_t> bytes(20, 0);
    bytes[16] = 0x02;
    write_file(tiny, bytes);
  }
  run_result run(const std::vector<std::string>& args) { return run_sarvek(args, in_dir); }
  // The page size that a -d run reports in its first line.
  std::string page_size_line(const std::string& option) {
    run_result r = run({"-i", tiny, option, "-d"});
    EXPECT_EQ(r.status, 0) << option;
    return r.out.substr(0, r.out.find(','));
  }
};

TEST_F(CommandLine, HelpTextAndVersionBanner) {
  const std::string program = sarvek_path();
  expect_run(run({}), 1, "", help);
  expect_run(run({"-h"}), 0, program + " " + help, "");
  expect_run(run({"--help"}), 0, "", program + " " + help);
  expect_run(run({"--helpme", "-i"}), 0, "", program + " " + help);
  // The first argument that ends the process wins.
  expect_run(run({"-h", "-V"}), 0, program + " " + help, "");

  run_result v = run({"-V"});
  EXPECT_EQ(v.status, 0);
  EXPECT_TRUE(is_banner(v.out)) << v.out;
  EXPECT_EQ(v.err, "");
  for (const char* arg : {"--version", "--versions"}) {
    run_result lv = run({arg});
    EXPECT_EQ(lv.status, 0);
    EXPECT_EQ(lv.out, "");
    EXPECT_EQ(lv.err, v.out) << arg;
  }
  run_result vb = run({"-V", "--bogus"});
  EXPECT_EQ(vb.status, 0);
  EXPECT_EQ(vb.out, v.out);
  EXPECT_EQ(vb.err, "");
}

TEST_F(CommandLine, ArgumentErrors) {
  expect_run(run({"-i"}), 1, "", "Not enough paramters\n");
  expect_run(run({"-d", "-i"}), 1, "", "Not enough paramters\n");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-d"}, {"-x", "foo"}, {"-v", "-dv", "-", "word"}})
    expect_run(run(args), 1, "", "ERROR: Need input file\n");
  for (const char* arg : {"--bogus", "--page-size", "--cellcount-min", "--rowsize-max", "--",
                          "--blob-size-limit", "--Version", "--page-start"}) {
    expect_run(run({"-i", tiny, arg}), 1, "",
               std::string("Cannot interpret extended parameter: \"") + arg + "\"\n");
  }
  expect_run(run({"--bogus", "-V"}), 1, "", "Cannot interpret extended parameter: \"--bogus\"\n");
  // Arguments are read left to right: the error comes before the missing -i.
  expect_run(run({"-x", "--nope"}), 1, "", "Cannot interpret extended parameter: \"--nope\"\n");
}

// The deep mode takes none of the byte scan's search options, and --export=
// only with it: one "ERROR: " line, status 1, nothing on standard output.
TEST_F(CommandLine, DeepModeUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--deep", "--freespace"},       {"--fine-search", "--deep"},      {"--deep", "-d"},
      {"--deep", "--cellcount-min=1"}, {"--cellcount-max=9", "--deep"}, {"--deep", "--rowsize-min=0"},
      {"--deep", "--rowsize-max=50"},  {"--export=out.db"},             {"--deep", "--export="},
      {"--wal=x-wal"},                  {"--journal=none"},               {"--deep", "--wal="},
      {"--as-of=1"},                    {"--deep", "--as-of="},           {"--deep", "--as-of=-1"},
      {"--deep", "--as-of=1x"},         {"--deep", "--as-of=4294967296"}, {"--deep", "--as-of=1"},
      {"--no-inferred"},

      {"--table=t"},                    {"--out-dir=d"},                  {"--deep", "--out-dir="},
      {"--format=jsonl"},               {"--deep", "--format=xml"},       {"--xlsx=w.xlsx"},
      {"--deep", "--xlsx="},            {"--no-times"},                   {"--quiet"}};
  for (std::vector<std::string> args : cases) {
    args.insert(args.begin(), {"-i", tiny});
    const run_result r = run(args);
    EXPECT_EQ(r.status, 1) << args[2];
    EXPECT_EQ(r.out, "");
    const size_t last = r.err.rfind('\n', r.err.size() - 2);
    const std::string line = r.err.substr(last == std::string::npos ? 0 : last + 1);
    EXPECT_EQ(line.rfind("ERROR: ", 0), 0u) << r.err;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << r.err;
  }
  // The options it does take are accepted.
  const run_result ok = run({"-i", tiny, "--deep", "--no-blobs", "--blob-size-limit=9", "--removed-only",
                             "--no-inferred"});
  EXPECT_EQ(ok.status, 0) << ok.err;
}

TEST_F(CommandLine, EchoOfLongOptionsOnlyAfterDebug) {
  expect_run(run({"-d", "--fine-search", "-i", "missing"}), 1, "",
             "Parameter: '--fine-search' 18\n"
             "ERROR: Cannot access input file 'missing' ( No such file or directory )\n");
  expect_run(run({"--fine-search", "-d", "-i", "missing"}), 1, "",
             "ERROR: Cannot access input file 'missing' ( No such file or directory )\n");
  expect_run(run({"-d", "--bogus"}), 1, "",
             "Parameter: '--bogus' 18\nCannot interpret extended parameter: \"--bogus\"\n");
  expect_run(run({"-d", "--version"}), 0, "", "Parameter: '--version' 18\n" + run({"-V"}).out);
  run_result both = run({"-d", "--no-blobs", "--page-size=512", "-i", tiny});
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.err, "Parameter: '--no-blobs' 18\nParameter: '--page-size=512' 18\n");
}

TEST_F(CommandLine, InputFileArgument) {
  // -i takes the next argument whatever it looks like; the last -i wins.
  expect_run(run({"-i", "-d"}), 1, "",
             "ERROR: Cannot access input file '-d' ( No such file or directory )\n");
  expect_run(run({"-i", "missing", "-i", tiny}), 0, "", "");
  expect_run(run({"-i", tiny, "-i", "missing"}), 1, "",
             "ERROR: Cannot access input file 'missing' ( No such file or directory )\n");
  // Single-dash words other than the five are ignored silently: no -d here.
  expect_run(run({"-x", "-dv", "-", "word", "-i", tiny, "-D", "-vd"}), 0, "", "");
  expect_run(run({"-v", "-i", tiny, "--page-start=3", "--page-end=1", "--freespace-minimum=9"}),
             0, "", "");
}

TEST_F(CommandLine, NumbersSeenThroughThePageSize) {
  EXPECT_EQ(page_size_line("--page-size=99999999999"), "Pagesize: 2147483647");
  EXPECT_EQ(page_size_line("--page-size=-99999999999"), "Pagesize: 2147483648");
  EXPECT_EQ(page_size_line("--page-size=-1"), "Pagesize: 4294967295");
  EXPECT_EQ(page_size_line("--page-size= \t+300xyz"), "Pagesize: 300");
  EXPECT_EQ(page_size_line("--page-size=1"), "Pagesize: 1");
  // 0 and no digits mean "not given": the header's 512 is used.
  EXPECT_EQ(page_size_line("--page-size=0"), "Pagesize: 512");
  EXPECT_EQ(page_size_line("--page-size=abc"), "Pagesize: 512");
  EXPECT_EQ(page_size_line("--page-size=0x400"), "Pagesize: 512");
  run_result last = run({"-d", "-i", tiny, "--page-size=100", "--page-size=64"});
  EXPECT_EQ(last.out.substr(0, 12), "Pagesize: 64");
}

TEST(ParseParameters, SettingsAndPrefixMatching) {
  auto parse = [](std::vector<std::string> words, run_options* opt) {
    static std::vector<std::string> keep;
    keep = std::move(words);
    keep.insert(keep.begin(), "sarvek");
    static std::vector<char*> argv;
    argv.clear();
    for (std::string& w : keep) argv.push_back(w.data());
    argv.push_back(nullptr);
    run_options_init(opt);
    EXPECT_EQ(parse_parameters(static_cast<int>(keep.size()), argv.data(), opt), 0);
    return argv;
  };
  run_options opt;
  std::vector<char*> argv = parse({"-i", "a.db", "-v", "--no-blobsX", "--fine-searching",
                                   "--removed-onlyX", "--freespace-minimum"},
                                  &opt);
  EXPECT_EQ(opt.input_file, argv[2]);  // the argument text itself, not a copy
  EXPECT_EQ(opt.verbose, 1);
  EXPECT_EQ(opt.debug, 0);
  EXPECT_EQ(opt.dump_blobs, 0);
  EXPECT_EQ(opt.fine_search, 1);
  EXPECT_EQ(opt.removed_only, 1);
  EXPECT_EQ(opt.freespace, 1);  // --freespace-minimum without "=" is --freespace
  EXPECT_EQ(opt.freespace_minimum, 4294967295u);

  parse({"--freespace-minimum=5", "-i", "-d", "--freespaceX"}, &opt);
  EXPECT_STREQ(opt.input_file, "-d");
  EXPECT_EQ(opt.debug, 0);
  EXPECT_EQ(opt.freespace_minimum, 5u);
  EXPECT_EQ(opt.freespace, 1);
  parse({"--freespace-minimum=5", "-i", "x"}, &opt);
  EXPECT_EQ(opt.freespace, 0);

  parse({"-i", "a", "-i", "b", "--rowsize-min=abc", "--rowsize-max=-1", "--blob-size-limit=0",
         "--cellcount-min=-3", "--cellcount-max=  77zz", "--page-start=-2147483649",
         "--page-end=2147483648", "--freespace-minimum=-2"},
        &opt);
  EXPECT_STREQ(opt.input_file, "b");
  EXPECT_EQ(opt.rowsize_min, 0u);
  EXPECT_EQ(opt.rowsize_max, 4294967295u);
  EXPECT_EQ(opt.blob_size_limit, 0u);
  EXPECT_EQ(opt.cellcount_min, -3);
  EXPECT_EQ(opt.cellcount_max, 77);
  EXPECT_EQ(opt.start_page, INT32_MIN);
  EXPECT_EQ(opt.end_page, INT32_MAX);
  EXPECT_EQ(opt.freespace_minimum, 4294967294u);

  // Defaults, and the last occurrence wins.
  parse({"-i", "a", "--rowsize-min=20", "--rowsize-min=30", "-d"}, &opt);
  EXPECT_EQ(opt.rowsize_min, 30u);
  EXPECT_EQ(opt.debug, 1);
  EXPECT_EQ(opt.verbose, 0);
  EXPECT_EQ(opt.page_size, 0u);
  EXPECT_EQ(opt.cellcount_min, 2);
  EXPECT_EQ(opt.cellcount_max, 1000);
  EXPECT_EQ(opt.rowsize_max, 4294967295u);
  EXPECT_EQ(opt.blob_size_limit, 4294967295u);
  EXPECT_EQ(opt.dump_blobs, 1);
  globals state;  // the byte scan's state made from them
  globals_init(&state, opt);
  EXPECT_EQ(state.page_size, 0u);
  EXPECT_EQ(state.walk.page_number, 1);
  EXPECT_EQ(state.out.blob_count, 0);
  globals_release(&state);
}

}  // namespace

// The byte scan reads neither log: a non-empty one beside its input is
// named on standard error, before any row; the rows are the same.
TEST_F(CommandLine, LogsBesideTheInputAreNamed) {
  const std::string db = dir.file("l.db");
  make_db(db, "CREATE TABLE t(a, b, c); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n"
              " WHERE i < 50) INSERT INTO t SELECT i, 'row ' || i, i * 1.5 FROM n;");
  const run_result alone = run({"-i", db});
  ASSERT_EQ(alone.status, 0);
  ASSERT_FALSE(alone.out.empty());
  const auto line = [&](const char* suffix) { return "sarvek: '" + db + suffix + "' is not read by this mode; --deep reads it\n"; };
  write_file(db + "-journal", std::string());
  expect_run(run({"-i", db}), 0, alone.out, "");  // an empty journal is no journal
  write_file(db + "-wal", std::string(32, 'w'));
  expect_run(run({"-i", db}), 0, alone.out, line("-wal"));
  write_file(db + "-journal", std::string(512, 'j'));
  expect_run(run({"-i", db}), 0, alone.out, line("-wal") + line("-journal"));
}
