#include <gtest/gtest.h>

#include "support/run.h"

TEST(Smoke, NoArgumentsPrintsHelpAndFails) {
  run_result r = run_sarvek({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("-i: input SQLite3 format database"), std::string::npos);
}
