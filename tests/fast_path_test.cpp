// The byte scan's fast path only skips work: the tool built without it
// prints the same bytes, on the benchmark's databases (both layouts of their
// deletions) and on the sample, in every mode of the scan.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run.h"
#include "support/sqlite_db.h"
#include "support/text.h"

namespace {

struct database {
  std::string name;
  std::string path;
  bool narrate;  // -d too (its output grows a hundredfold: small files only)
};

std::vector<database> databases(const scratch_dir& dir) {
  std::vector<database> dbs = {{"sample", SAMPLE_DB, true}};
#ifndef SARVEK_SANITIZED  // the plain scan runs ten times slower there: the small case only
  for (const char* layout : {"runs", "scattered"}) {
    const std::string path = dir.file(std::string("bench-") + layout + ".db");
    const run_result made = run_program({MAKE_BENCH_DB, path, "2", "3", layout});
    EXPECT_EQ(made.status, 0) << made.err;
    dbs.push_back({layout, path, false});
  }
#else
  (void)dir;
#endif
  return dbs;
}

// -d output without what differs between two runs: source positions,
// addresses and the negated search address of "ROW found at offset".
std::string masked(const std::string& narration) {
  static const std::string found = "ROW found at offset: ";
  std::string out = mask_debug(narration);
  for (size_t at = out.find(found); at != std::string::npos; at = out.find(found, at)) {
    at += found.size();
    const size_t end = out.find_first_not_of("-0123456789", at);
    out.replace(at, end - at, "ADDR");
  }
  return out;
}

}  // namespace

TEST(FastPath, ThePlainScanPrintsWhatTheFastOnePrints) {
  scratch_dir dir;
  const std::vector<std::vector<std::string>> modes = {
      {}, {"--freespace"}, {"--fine-search"}, {"--removed-only"}, {"--cellcount-min=3", "--rowsize-max=200"}};
  for (const database& db : databases(dir)) {
    std::vector<std::vector<std::string>> runs = modes;
    if (db.narrate) runs.push_back({"-d"});
    for (const std::vector<std::string>& options : runs) {
      std::vector<std::string> args = {"-i", db.path};
      args.insert(args.end(), options.begin(), options.end());
      SCOPED_TRACE(db.name + " " + (options.empty() ? "(default)" : options[0]));
      const run_result fast = run_sarvek(args);
      args.insert(args.begin(), SARVEK_PLAIN_BIN);
      const run_result plain = run_program(args);
      EXPECT_EQ(fast.status, plain.status);
      EXPECT_EQ(fast.err, plain.err);
      if (db.narrate && options == std::vector<std::string>{"-d"})
        EXPECT_TRUE(masked(fast.out) == masked(plain.out));
      else
        EXPECT_TRUE(fast.out == plain.out) << fast.out.size() << " vs " << plain.out.size() << " bytes";
      EXPECT_GT(fast.out.size(), 0u);
    }
  }
}
