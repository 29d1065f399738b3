// Element symbols and the atom labels of the report.
#include "core/elements.h"

#include <gtest/gtest.h>

namespace {

TEST(ElementSymbols, LabelsByAtomicNumber) {
  EXPECT_EQ(mv::mend(1), "  H ");
  EXPECT_EQ(mv::mend(2), " He ");
  EXPECT_EQ(mv::mend(6), "  C ");
  EXPECT_EQ(mv::mend(17), " Cl ");
  EXPECT_EQ(mv::mend(26), " Fe ");
  EXPECT_EQ(mv::mend(53), "  I ");
  EXPECT_EQ(mv::mend(62), " Sm ");
  EXPECT_EQ(mv::mend(79), " Au ");
  EXPECT_EQ(mv::mend(92), "  U ");
  EXPECT_EQ(mv::mend(93), " Np ");
  EXPECT_EQ(mv::mend(118), " Og ");
  EXPECT_EQ(mv::mend(0), " Bq ");
  EXPECT_EQ(mv::mend(119), "  ? ");
  EXPECT_EQ(mv::mend(-1), "  ? ");
  EXPECT_EQ(mv::elementSymbol(8), "O");
  EXPECT_EQ(mv::elementSymbol(0), "Bq");
  EXPECT_EQ(mv::elementSymbol(mv::kMaxElement + 1), "?");
}

}  // namespace
