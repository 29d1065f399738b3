// The layout writer and the free-format writer.  Expected records are
// worked out by hand from the formatting rules.
#include "report/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

using mv::formatFree;
using mv::formatLayout;
using mv::Item;

namespace {

TEST(LayoutWriter, FixedPointRoundingSignAndOverflow) {
  EXPECT_EQ(formatLayout("(F9.4)", {1.23456}), "   1.2346\n");
  // A negative value that rounds to zero has no sign.
  EXPECT_EQ(formatLayout("(F9.4)", {-0.00004}), "   0.0000\n");
  EXPECT_EQ(formatLayout("(F5.1)", {-0.0}), "  0.0\n");
  EXPECT_EQ(formatLayout("(F9.4)", {-0.00005001}), "  -0.0001\n");
  // One column too many: the 0 before the point goes.
  EXPECT_EQ(formatLayout("(F6.4)", {-0.1234}), "-.1234\n");
  EXPECT_EQ(formatLayout("(F5.4)", {0.1234}), ".1234\n");
  // Too long otherwise: asterisks.
  EXPECT_EQ(formatLayout("(F6.4)", {-1.1234}), "******\n");
  EXPECT_EQ(formatLayout("(F5.4)", {-0.1234}), "*****\n");
  EXPECT_EQ(formatLayout("(F8.5)", {123.456}), "********\n");
  // Halfway cases follow the printf conversion (0.125 is exact in binary).
  EXPECT_EQ(formatLayout("(F5.2)", {0.125}), " 0.12\n");
  EXPECT_EQ(formatLayout("(F5.2)", {0.375}), " 0.38\n");
  EXPECT_EQ(formatLayout("(F4.0)", {2.5}), "  2.\n");
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(formatLayout("(F6.2)", {inf}), "******\n");
  EXPECT_EQ(formatLayout("(F6.2)", {-inf}), "******\n");
  EXPECT_EQ(formatLayout("(F6.2)", {std::nan("")}), "******\n");
}

TEST(LayoutWriter, IntegersAndTexts) {
  EXPECT_EQ(formatLayout("(I3)", {0}), "  0\n");
  EXPECT_EQ(formatLayout("(I3)", {-12}), "-12\n");
  EXPECT_EQ(formatLayout("(I3)", {1234}), "***\n");
  EXPECT_EQ(formatLayout("(I3)", {-123}), "***\n");
  EXPECT_EQ(formatLayout("(I4)", {std::numeric_limits<long long>::min()}), "****\n");
  EXPECT_EQ(formatLayout("(A4)", {"H"}), "   H\n");
  EXPECT_EQ(formatLayout("(A2)", {"ABCD"}), "AB\n");
  EXPECT_EQ(formatLayout("(A,A)", {"xy", " z"}), "xy z\n");
  EXPECT_EQ(formatLayout("('It''s',1X,\"ok\")"), "It's ok\n");
  EXPECT_EQ(formatLayout("(1X,2H  ,'a',1H-)"), "   a-\n");
  EXPECT_EQ(formatLayout("(1P,F6.2)", {1.5}), "  1.50\n");
}

TEST(LayoutWriter, ReportRecords) {
  EXPECT_EQ(formatLayout("(' SUM= ',F14.7)", {10.0}), " SUM=     10.0000000\n");
  EXPECT_EQ(formatLayout("(I5,F15.10)", {1, 6.0}), "    1   6.0000000000\n");
  EXPECT_EQ(formatLayout("(I5,F15.10)", {2, -0.5}), "    2  -0.5000000000\n");
  EXPECT_EQ(formatLayout("(1X,79(1H-))"), " " + std::string(79, '-') + "\n");
  // Data descriptors without items end the record; the 1X before them and
  // the trailing 1X of the last group write nothing.
  EXPECT_EQ(formatLayout("(10X,8(1X,I3,A4,1X))", {1, "  C ", 12, " Cl "}),
            "             1  C    12 Cl \n");
  EXPECT_EQ(formatLayout("(1X,I3,A4,8F9.4)", {1, "  H ", 1.0, -0.5}),
            "   1  H    1.0000  -0.5000\n");
}

TEST(LayoutWriter, SlashesBlanksAndEmptyRecords) {
  EXPECT_EQ(formatLayout("(1X)"), "\n");
  EXPECT_EQ(formatLayout("(1X,/,/,/)"), "\n\n\n\n");
  EXPECT_EQ(formatLayout("(I2,3X)", {5}), " 5\n");
  EXPECT_EQ(formatLayout("(I2,3X,/,2X,I2)", {5, 6}), " 5\n   6\n");
  EXPECT_EQ(formatLayout("(/,/,11X,'FREE VALENCES',/)"),
            "\n\n" + std::string(11, ' ') + "FREE VALENCES\n\n");
  EXPECT_EQ(formatLayout("(20X,28(1H-),/)"), std::string(20, ' ') + std::string(28, '-') + "\n\n");
  EXPECT_EQ(formatLayout("(2/,'a')"), "\n\na\n");
}

TEST(LayoutWriter, ValueTableFiveAtomsToARecord) {
  const char* layout = "(20(I3,A4,F8.5,4(I3,A4,1X,F8.5),/))";
  mv::Items two{1, "  C ", 3.91234, 2, "  H ", 0.97};
  EXPECT_EQ(formatLayout(layout, two), "  1  C  3.91234  2  H   0.97000\n");

  mv::Items five{1,        "  C ", 3.91234, 2,         "  H ", 0.97,   3,      "  H ",
                 -0.00001, 4,      "  O ",  12.345678, 5,      "  N ", 123.456};
  const std::string full =
      "  1  C  3.91234  2  H   0.97000  3  H  -0.00001  4  O  12.34568  5  N  ********\n";
  // The "/" after the fifth atom is still carried out: an empty record follows.
  EXPECT_EQ(formatLayout(layout, five), full + "\n");

  mv::Items seven = five;
  for (Item it : {Item(6), Item("  H "), Item(0.5), Item(7), Item(" Cl "), Item(1.0)})
    seven.push_back(it);
  EXPECT_EQ(formatLayout(layout, seven), full + "  6  H  0.50000  7 Cl   1.00000\n");
}

TEST(LayoutWriter, ReuseFromLastTopLevelGroup) {
  EXPECT_EQ(formatLayout("(1X,I1,2(I2))", {1, 2, 3, 4, 5, 6}), " 1 2 3\n 4 5\n 6\n");
  EXPECT_EQ(formatLayout("(I2,I2)", {1, 2, 3, 4, 5}), " 1 2\n 3 4\n 5\n");
  EXPECT_EQ(formatLayout("('x',I2)", {1, 2}), "x 1\nx 2\n");
}

TEST(LayoutWriter, MalformedLayoutsAndMisuseAreProgrammingErrors) {
  for (const char* bad : {"I3", "(I3", "(I3))", "(Q3)", "(F9)", "(I)", "(3Hab)", "(I3,)", "(,I3)",
                          "(I3 I4)", "('abc)", "(0X)", "(F9.)", "(99999999999I3)"}) {
    EXPECT_THROW(formatLayout(bad, {1}), std::logic_error) << bad;
  }
  EXPECT_THROW(formatLayout("(I3)", {1.0}), std::logic_error);
  EXPECT_THROW(formatLayout("(F9.4)", {1}), std::logic_error);
  EXPECT_THROW(formatLayout("(A4)", {1}), std::logic_error);
  // Items left over but nothing to take them.
  EXPECT_THROW(formatLayout("('x')", {1}), std::logic_error);
  EXPECT_THROW(formatLayout("(I3,('x'))", {1, 2}), std::logic_error);
}

TEST(FreeWriter, ItemShapes) {
  EXPECT_EQ(formatFree({1.5}), "  1.5\n");
  EXPECT_EQ(formatFree({-2.0}), " -2.\n");
  EXPECT_EQ(formatFree({0.000012}), "  1.2E-05\n");
  EXPECT_EQ(formatFree({1.0e10}), "  1.E+10\n");
  EXPECT_EQ(formatFree({0.0}), "  0.\n");
  EXPECT_EQ(formatFree({-0.0}), "  0.\n");
  EXPECT_EQ(formatFree({0.0001}), "  0.0001\n");
  EXPECT_EQ(formatFree({123456789.0}), "  123456789.\n");
  EXPECT_EQ(formatFree({1.0e9}), "  1.E+09\n");
  EXPECT_EQ(formatFree({-1.0 / 3.0}), " -0.333333333\n");
  EXPECT_EQ(formatFree({7}), " 7\n");
  EXPECT_EQ(formatFree({-42}), " -42\n");
  EXPECT_EQ(formatFree({" "}), "  \n");
  EXPECT_EQ(formatFree({"Number of atoms:", 3}), " Number of atoms: 3\n");
  EXPECT_EQ(formatFree({3, " ATOMS, ", 3, " ATOMIC PAIRS"}), " 3 ATOMS,  3 ATOMIC PAIRS\n");
  EXPECT_EQ(formatFree({}), "\n");
}

TEST(FreeWriter, EightyColumnRule) {
  // " 123" is four characters; the check uses the 3 digits, so twenty fit
  // (position 76 + 3 < 80) and the 21st starts a new record.
  mv::Items ints(25, Item(123));
  std::string r20;
  for (int k = 0; k < 20; ++k) r20 += " 123";
  EXPECT_EQ(formatFree(ints), r20 + "\n" + " 123 123 123 123 123\n");

  // "  1.5" is five characters: after 15 of them 75 + 5 >= 80 breaks.
  mv::Items reals(16, Item(1.5));
  std::string r15;
  for (int k = 0; k < 15; ++k) r15 += "  1.5";
  EXPECT_EQ(formatFree(reals), r15 + "\n  1.5\n");

  // A text that would reach column 80 goes to a new record, which then
  // begins with a blank; an over-long text is written whole.
  const std::string t40(40, 'a');
  EXPECT_EQ(formatFree({t40, t40}), " " + t40 + "\n " + t40 + "\n");
  EXPECT_EQ(formatFree({"x", std::string(78, 'b')}), " x\n " + std::string(78, 'b') + "\n");
  EXPECT_EQ(formatFree({std::string(90, 'c')}), " " + std::string(90, 'c') + "\n");
}

TEST(Writers, GoToTheGivenStream) {
  std::ostringstream out;
  mv::writeFree(out, {"E(SCF)=", -1.5});
  mv::writeLayout(out, "(I2)", {4});
  mv::writeLayout(out, "(1X)");
  EXPECT_EQ(out.str(), " E(SCF)= -1.5\n 4\n\n");
}

}  // namespace
