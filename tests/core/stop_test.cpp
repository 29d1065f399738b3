// Stops as values, and the owning matrices the stages exchange.
#include "core/stop.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "core/matrix.h"

namespace {

TEST(Stops, EachKindCarriesItsCodeRecordsAndStatus) {
  try {
    mv::refuse(" Number of atoms -1 is negative", mv::kCodeBadIndex, 3);
    FAIL() << "no stop";
  } catch (const mv::Stop& s) {
    EXPECT_EQ(s.code, "8300");
    EXPECT_EQ(s.records, std::vector<std::string>{" Number of atoms -1 is negative"});
    EXPECT_EQ(s.line, 3);
    EXPECT_EQ(s.status, mv::kStatusStopped);
    EXPECT_FALSE(s.isError());
    EXPECT_EQ(s.message(), "Number of atoms -1 is negative");
  }
  try {
    mv::stopPlain({"   TOO MANY ATOMS, STOP", " ", "  second"});
    FAIL() << "no stop";
  } catch (const mv::Stop& s) {
    EXPECT_EQ(s.code, "");
    EXPECT_EQ(s.records.size(), 3u);
    // Records without their leading blanks, blank records left out.
    EXPECT_EQ(s.message(), "TOO MANY ATOMS, STOP second");
  }
  try {
    mv::stopCode("1000", "no section 'Shell types '");
    FAIL() << "no stop";
  } catch (const mv::Stop& s) {
    EXPECT_EQ(s.code, "1000");
    EXPECT_TRUE(s.records.empty());
    EXPECT_EQ(s.message(), "no section 'Shell types '");
  }
  try {
    mv::inputError("Test.FChk", 14, "section 'Nuclear charges ': 'x' is not a real number");
    FAIL() << "no stop";
  } catch (const mv::Stop& s) {
    EXPECT_TRUE(s.isError());
    EXPECT_EQ(s.status, mv::kStatusInputError);
    EXPECT_EQ(s.code, "");
    EXPECT_EQ(s.file, "Test.FChk");
    EXPECT_EQ(s.line, 14);
    EXPECT_EQ(s.message(), "section 'Nuclear charges ': 'x' is not a real number");
  }
}

TEST(Matrices, ZeroedAlignedColumnsAndRelease) {
  mv::Matrix a(5, 3);
  EXPECT_EQ(a.rows(), 5);
  EXPECT_EQ(a.cols(), 3);
  EXPECT_GE(a.ld(), 5);
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.col(j)) % 64, 0u) << j;
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(a(i, j), 0.0);
  }
  a(2, 3) = 7.5;
  EXPECT_EQ(a.view()(2, 3), 7.5);
  EXPECT_EQ(a.col(3)[1], 7.5);
  // A leading dimension of a multiple of 4 kB is avoided.
  const mv::Matrix b(512, 2);
  EXPECT_NE((b.ld() * sizeof(double)) % 4096, 0u);
  a.release();
  EXPECT_TRUE(a.empty());

  mv::Vec1<int> v(4, 2);
  EXPECT_EQ(v.size(), 4);
  v(4) = 9;
  EXPECT_EQ(v.data()[3], 9);
  EXPECT_EQ(mv::Vec1<int>(-3).size(), 0);
}

}  // namespace
