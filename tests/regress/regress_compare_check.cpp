// The regression comparator fails on a changed status, a missing or extra
// epoch and a coordinate moved beyond its tolerance, and passes within it.
#include <gtest/gtest.h>

#include "regress_compare.h"

namespace {

using regress::compare_solutions;

const std::string HEADER =
    "          EPOCH           DATE            UTC         STATUS    AGE_OF_DIFF          RATIO            LAT     "
    "       LON            ALT              X              Y              Z       BASELINE\n";
const std::string L1 =
    "              1     2023/01/15   09:59:42.000          FLOAT           0.00           1.00    48.77999209     "
    "9.20721818        320.854    4156825.568     673796.261    4774713.174       2000.460\n";
const std::string L2 =
    "              2     2023/01/15   09:59:43.000            FIX           0.00          10.00    48.77999678     "
    "9.20721192        320.317    4156824.905     673795.688    4774713.114       2000.000\n";
const std::string L3 =
    "              3     2023/01/15   09:59:44.000            FIX           0.00          10.00    48.77999680     "
    "9.20721190        320.314    4156824.901     673795.686    4774713.113       1999.999\n";
const std::string EXPECTED = HEADER + L1 + L2 + L3;

// EXPECTED with the first occurrence of `from` replaced by `to`.
std::string altered(const std::string& from, const std::string& to) {
  std::string s = EXPECTED;
  return s.replace(s.find(from), from.size(), to);
}

TEST(RegressCompare, IdenticalFilesAgree) { EXPECT_EQ(compare_solutions(EXPECTED, EXPECTED), ""); }

TEST(RegressCompare, ChangedStatusFails) {
  const std::string why =
      compare_solutions(EXPECTED, altered("      FIX           0.00          10.00    48.77999678",
                                          "    FLOAT           0.00          10.00    48.77999678"));
  EXPECT_NE(why.find("line 3: STATUS differs"), std::string::npos) << why;
}

TEST(RegressCompare, ChangedRatioFails) {
  EXPECT_NE(compare_solutions(EXPECTED, altered("10.00    48.77999678", " 9.99    48.77999678")).find("RATIO"),
            std::string::npos);
}

TEST(RegressCompare, MissingOrExtraEpochFails) {
  EXPECT_NE(compare_solutions(EXPECTED, HEADER + L1 + L3).find("epoch differs"), std::string::npos);
  EXPECT_NE(compare_solutions(EXPECTED, HEADER + L1 + L2).find("epoch missing"), std::string::npos);
  EXPECT_NE(compare_solutions(EXPECTED, EXPECTED + L3).find("extra epoch"), std::string::npos);
}

TEST(RegressCompare, CoordinateWithinToleranceAgreesBeyondFails) {
  // One unit of the last digit (1 mm, 1e-8 deg) is within the tolerance, two are not.
  EXPECT_EQ(compare_solutions(EXPECTED, altered("4156824.905", "4156824.906")), "");
  EXPECT_EQ(compare_solutions(EXPECTED, altered("48.77999678", "48.77999679")), "");
  EXPECT_EQ(compare_solutions(EXPECTED, altered("2000.000", "1999.999")), "");
  EXPECT_NE(compare_solutions(EXPECTED, altered("4156824.905", "4156824.907")).find("X beyond"), std::string::npos);
  EXPECT_NE(compare_solutions(EXPECTED, altered("48.77999678", "48.77999680")).find("LAT beyond"), std::string::npos);
  EXPECT_NE(compare_solutions(EXPECTED, altered("2000.000", "2000.002")).find("BASELINE beyond"), std::string::npos);
}

TEST(RegressCompare, HeaderAndColumnCountAreExact) {
  EXPECT_NE(compare_solutions(EXPECTED, altered("BASELINE", "BASELINF")).find("text line differs"), std::string::npos);
  EXPECT_NE(compare_solutions(EXPECTED, altered("1999.999\n", "1999.999 7\n")).find("number of columns"),
            std::string::npos);
}

TEST(RegressCompare, StderrFilterDropsWallTimeAndKeepsTheLastProgressLine) {
  const std::string raw =
      "\rRTK   0.0% read, 10 epochs, FIX   0.0%\rRTK 100.0% read, 300 epochs, FIX  96.7%\n"
      "RTK summary: 300 epochs\nRTK wall time: 0.016 s\nRTK input: 601 rover epochs\n";
  EXPECT_EQ(regress::filter_stderr(raw),
            "RTK 100.0% read, 300 epochs, FIX  96.7%\nRTK summary: 300 epochs\nRTK input: 601 rover epochs\n");
}

TEST(RegressCompare, TextIsExact) {
  EXPECT_EQ(regress::compare_text("a\nb\n", "a\nb\n"), "");
  EXPECT_NE(regress::compare_text("a\nb\n", "a\nc\n"), "");
  EXPECT_NE(regress::compare_text("a\nb\n", "a\n"), "");
}

}  // namespace
