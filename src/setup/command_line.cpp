#include "setup/command_line.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

const char* const help_text =
    "-i <sqlite DB> [-d] [-v] [-V|--version] [--cellcount-min=<count>] "
    "[--cellcount-max=<count>] [--rowsize-min=<bytes>] [--rowsize-max=<bytes>] "
    "[--no-blobs] [--blob-size-limit=<bytes>] [--page-size=<bytes>] "
    "[--page-start=<number>] [--page-end=<number>] [--freespace] "
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

static const char* const version_banner =
    "sarvek version " SARVEK_VERSION ", by the sarvek developers ( sarvek-dev@example.org )\n";

int32_t parse_number(const char* text) {
  errno = 0;
  long long value = strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

namespace {

enum class option_kind { version, help, flag, number, text, list };

struct long_option {
  const char* literal;
  option_kind kind;
  int32_t* flag;      // set to flag_value for option_kind::flag
  int32_t flag_value;
  int32_t* number;    // signed destination, or
  uint32_t* unsigned_number;  // unsigned destination (two's complement)
  const char** text = nullptr;  // option_kind::text: the rest of the argument
  int32_t* given = nullptr;     // set to 1 when the option is used
  std::vector<const char*>* list = nullptr;  // option_kind::list: each use appends its text
};

// Applies one matched option; `value` is the rest of the argument.
void apply_option(const long_option& option, const char* value, const char* program) {
  switch (option.kind) {
    case option_kind::version:
      fputs(version_banner, stderr);
      exit(0);
    case option_kind::help:
      fprintf(stderr, "%s %s", program, help_text);
      exit(0);
    case option_kind::flag:
      *option.flag = option.flag_value;
      break;
    case option_kind::number: {
      const int32_t number = parse_number(value);
      if (option.number) *option.number = number;
      else *option.unsigned_number = static_cast<uint32_t>(number);
      break;
    }
    case option_kind::text:
      *option.text = value;
      break;
    case option_kind::list:
      option.list->push_back(value);
      break;
  }
  if (option.given) *option.given = 1;
}

// Tries the long options in their fixed order; a prefix match of the
// literal's own length selects the option. Returns false when none matches.
bool apply_long_option(const char* arg, const char* program, run_options* opt) {
  const long_option table[] = {
      {"--version", option_kind::version, nullptr, 0, nullptr, nullptr},
      {"--help", option_kind::help, nullptr, 0, nullptr, nullptr},
      {"--no-blobs", option_kind::flag, &opt->dump_blobs, 0, nullptr, nullptr},
      {"--blob-size-limit=", option_kind::number, nullptr, 0, nullptr, &opt->blob_size_limit},
      {"--page-start=", option_kind::number, nullptr, 0, &opt->start_page, nullptr},
      {"--page-end=", option_kind::number, nullptr, 0, &opt->end_page, nullptr},
      {"--page-size=", option_kind::number, nullptr, 0, nullptr, &opt->page_size},
      {"--freespace-minimum=", option_kind::number, nullptr, 0, nullptr, &opt->freespace_minimum},
      {"--cellcount-min=", option_kind::number, nullptr, 0, &opt->cellcount_min, nullptr, nullptr,
       &opt->scan_limit_given},
      {"--cellcount-max=", option_kind::number, nullptr, 0, &opt->cellcount_max, nullptr, nullptr,
       &opt->scan_limit_given},
      {"--rowsize-min=", option_kind::number, nullptr, 0, nullptr, &opt->rowsize_min, nullptr,
       &opt->scan_limit_given},
      {"--rowsize-max=", option_kind::number, nullptr, 0, nullptr, &opt->rowsize_max, nullptr,
       &opt->scan_limit_given},
      {"--fine-search", option_kind::flag, &opt->fine_search, 1, nullptr, nullptr},
      {"--freespace", option_kind::flag, &opt->freespace, 1, nullptr, nullptr},
      {"--removed-only", option_kind::flag, &opt->removed_only, 1, nullptr, nullptr},
      {"--deep", option_kind::flag, &opt->deep, 1, nullptr, nullptr},
      {"--no-inferred", option_kind::flag, &opt->no_inferred, 1, nullptr, nullptr},
      {"--export=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->export_file},
      {"--wal=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->wal_file},
      {"--journal=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->journal_file},
      {"--as-of=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->as_of_text},
      {"--table=", option_kind::list, nullptr, 0, nullptr, nullptr, nullptr, nullptr, &opt->only_tables},
      {"--out-dir=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->out_dir},
      {"--format=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->format},
      {"--xlsx=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->xlsx_file},
      {"--no-times", option_kind::flag, &opt->no_times, 1, nullptr, nullptr},
      {"--quiet", option_kind::flag, &opt->quiet, 1, nullptr, nullptr},
      {"--shard=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->shard_text},
      {"--merge-inventories", option_kind::flag, &opt->merge, 1, nullptr, nullptr},
      {"--facts=", option_kind::text, nullptr, 0, nullptr, nullptr, &opt->facts_file},
  };
  for (const long_option& option : table) {
    const size_t length = strlen(option.literal);
    if (strncmp(arg, option.literal, length) != 0) continue;
    apply_option(option, arg + length, program);
    return true;
  }
  return false;
}

// --as-of=N: N decimal digits, a commit number up to 2^32 - 1.
void read_as_of(run_options* opt) {
  const char* text = opt->as_of_text;
  if (!text) return;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = strtoull(text, &end, 10);
  if (!isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' || errno != 0 || value > UINT32_MAX) {
    fprintf(stderr, "ERROR: --as-of= needs a commit number (0 for the database file alone), not '%s'\n", text);
    exit(1);
  }
  opt->as_of = static_cast<int64_t>(value);
}

// --shard=K/N: 1 <= K <= N, N up to 65536.
void read_shard(run_options* opt) {
  const char* text = opt->shard_text;
  if (!text) return;
  unsigned k = 0, n = 0;
  char tail = 0;
  if (sscanf(text, "%u/%u%c", &k, &n, &tail) != 2 || !isdigit(static_cast<unsigned char>(text[0])) ||
      k < 1 || n < 1 || k > n || n > 65536) {
    fprintf(stderr, "ERROR: --shard= needs K/N with 1 <= K <= N <= 65536, not '%s'\n", text);
    exit(1);
  }
  opt->shard_index = k - 1;
  opt->shard_count = n;
}

// --merge-inventories OUT... --out-dir=CASE: no other option applies.
void check_merge_options(const run_options* opt) {
  if (!opt->out_dir || opt->out_dir[0] == '\0' || opt->merge_inputs.empty()) {
    fputs("ERROR: --merge-inventories needs the output folders to join and --out-dir=\n", stderr);
    exit(1);
  }
}

// The usage errors of the deep mode's options: "ERROR: " and exit 1.
void check_deep_options(run_options* opt) {
  const char* conflict = nullptr;
  if (opt->freespace) conflict = "--freespace";
  else if (opt->fine_search) conflict = "--fine-search";
  else if (opt->debug) conflict = "-d";
  else if (opt->scan_limit_given) conflict = "--cellcount-min=, --cellcount-max=, --rowsize-min= or --rowsize-max=";
  if (opt->deep && conflict) {
    fprintf(stderr, "ERROR: --deep does not combine with %s\n", conflict);
    exit(1);
  }
  if (opt->no_inferred && !opt->deep) {
    fputs("ERROR: --no-inferred needs --deep\n", stderr);
    exit(1);
  }
  const struct {
    const char* value;
    const char* name;
  } deep_only[] = {{opt->export_file, "--export="}, {opt->wal_file, "--wal="}, {opt->journal_file, "--journal="},
                   {opt->out_dir, "--out-dir="}, {opt->xlsx_file, "--xlsx="}};
  for (const auto& option : deep_only) {
    if (!option.value) continue;
    if (!opt->deep) {
      fprintf(stderr, "ERROR: %s needs --deep\n", option.name);
      exit(1);
    }
    if (option.value[0] == '\0') {
      fprintf(stderr, "ERROR: %s needs a file name\n", option.name);
      exit(1);
    }
  }
  const char* needs_deep = opt->as_of_text ? "--as-of=" : !opt->only_tables.empty() ? "--table="
                           : opt->format ? "--format=" : opt->no_times ? "--no-times" : opt->quiet ? "--quiet"
                           : opt->shard_text ? "--shard=" : opt->jobs != 0 ? "-j" : opt->facts_file ? "--facts=" : nullptr;
  if (needs_deep && !opt->deep) {
    fprintf(stderr, "ERROR: %s needs --deep\n", needs_deep);
    exit(1);
  }
  if (opt->format && strcmp(opt->format, "csv") != 0 && strcmp(opt->format, "jsonl") != 0) {
    fprintf(stderr, "ERROR: --format= needs csv or jsonl, not '%s'\n", opt->format);
    exit(1);
  }
  read_as_of(opt);
  read_shard(opt);
}

}  // namespace

int parse_parameters(int argc, char** argv, run_options* opt) {
  if (argc < 2) {
    fputs(help_text, stderr);
    exit(1);
  }
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcmp(arg, "-V") == 0) {
      fputs(version_banner, stdout);
      exit(0);
    } else if (strcmp(arg, "-h") == 0) {
      printf("%s %s", argv[0], help_text);
      exit(0);
    } else if (strcmp(arg, "-d") == 0) {
      opt->debug = 1;
    } else if (strcmp(arg, "-v") == 0) {
      opt->verbose = 1;
    } else if (strcmp(arg, "-j") == 0) {
      if (i + 1 >= argc || parse_number(argv[i + 1]) < 1) {
        fputs("ERROR: -j needs a number of workers of at least 1\n", stderr);
        exit(1);
      }
      opt->jobs = parse_number(argv[++i]);
    } else if (strncmp(arg, "-j", 2) == 0 && isdigit(static_cast<unsigned char>(arg[2]))) {
      opt->jobs = parse_number(arg + 2);  // -jN, as make takes it
      if (opt->jobs < 1) {
        fputs("ERROR: -j needs a number of workers of at least 1\n", stderr);
        exit(1);
      }
    } else if (strcmp(arg, "-i") == 0) {
      if (i + 1 >= argc) {
        fputs("Not enough paramters\n", stderr);
        exit(1);
      }
      opt->input_file = argv[++i];
    } else if (strncmp(arg, "--", 2) == 0) {
      if (opt->debug) fprintf(stderr, "Parameter: '%s' %d\n", arg, 18);
      if (!apply_long_option(arg, argv[0], opt)) {
        fprintf(stderr, "Cannot interpret extended parameter: \"%s\"\n", arg);
        exit(1);
      }
    } else if (opt->merge) {
      opt->merge_inputs.push_back(arg);  // the folders --merge-inventories joins
    }
    // Any other argument is ignored without a message.
  }
  if (opt->merge) {
    check_merge_options(opt);
    return 0;
  }
  check_deep_options(opt);
  if (!opt->input_file) {
    fputs("ERROR: Need input file\n", stderr);
    exit(1);
  }
  return 0;
}
