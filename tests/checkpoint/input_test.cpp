// The input layer: files and streams as bytes, gzip and xz recognised by
// their first bytes and decompressed, damaged streams refused, and the
// decompressed size bounded.  The compressed files are made by the gzip and
// xz programs, independently of the decompression under test.
#include "checkpoint/input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "checkpoint/text.h"
#include "core/stop.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using mvtest::readFile;
using mvtest::writeFile;

namespace {

// `text` compressed by the system's tool ("gzip" or "xz"); "" without one.
std::string compressed(const std::string& dir, const std::string& tool, const std::string& text) {
  writeFile(dir + "/plain", text);
  const std::string cmd = tool + " -c " + dir + "/plain > " + dir + "/packed";
  if (std::system(cmd.c_str()) != 0) return "";
  return readFile(dir + "/packed");
}

// The stop an input gives, or none.
std::optional<mv::Stop> stopOf(const std::string& bytes, std::uint64_t limit = 0) {
  try {
    (void)mv::InputBytes::fromString(bytes, "in.fchk", limit);
  } catch (const mv::Stop& s) {
    return s;
  }
  return std::nullopt;
}

class InputBytesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = mvtest::makeTempDir("mvinput");
    // Text that compresses well but is not trivial: a real checkpoint file.
    text_ = readFile(mvtest::dataPath("h2o_mp2_ccpvdz.fchk"));
    ASSERT_FALSE(text_.empty());
    gz_ = compressed(dir_, "gzip", text_);
    xz_ = compressed(dir_, "xz", text_);
    if (gz_.empty() || xz_.empty()) GTEST_SKIP() << "gzip or xz not available";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_, text_, gz_, xz_;
};

TEST_F(InputBytesTest, EveryFormOfTheSameTextGivesTheSameBytes) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string text;
    mv::Compression kind;
  };
  const std::string half = text_.substr(0, text_.size() / 2), rest = text_.substr(half.size());
  const std::vector<Case> cases = {
      {"plain", text_, text_, mv::Compression::none},
      {"gzip", gz_, text_, mv::Compression::gzip},
      {"xz", xz_, text_, mv::Compression::xz},
      {"two gzip members", compressed(dir_, "gzip", half) + compressed(dir_, "gzip", rest), text_,
       mv::Compression::gzip},
      {"two xz streams", compressed(dir_, "xz", half) + compressed(dir_, "xz", rest), text_,
       mv::Compression::xz},
      {"gzip padded with zero bytes", gz_ + std::string(512, '\0'), text_, mv::Compression::gzip},
      {"an empty text in gzip", compressed(dir_, "gzip", ""), "", mv::Compression::gzip},
      {"an empty file", "", "", mv::Compression::none},
      // Only the first bytes decide: a text that merely begins like one is
      // not taken for compressed.
      {"one byte of the gzip magic", "\x1f rest", "\x1f rest", mv::Compression::none},
  };
  for (const Case& c : cases) {
    const std::string path = dir_ + "/case";
    writeFile(path, c.bytes);
    const mv::InputBytes fromFile = mv::InputBytes::fromFile(path, "case");
    EXPECT_EQ(fromFile.bytes(), c.text) << c.what;
    EXPECT_EQ(fromFile.compression(), c.kind) << c.what;
    std::istringstream stream(c.bytes);
    const mv::InputBytes fromStream = mv::InputBytes::fromStream(stream, "standard input");
    EXPECT_EQ(fromStream.bytes(), c.text) << c.what;
    EXPECT_EQ(fromStream.name(), "standard input");
  }
  // The lines of the decompressed text are the lines of the plain file.
  const mv::CheckpointText plain =
      mv::CheckpointText::fromFile(mvtest::dataPath("h2o_mp2_ccpvdz.fchk"), "x");
  const mv::InputBytes in = mv::InputBytes::fromString(xz_, "x");
  const mv::CheckpointText fromXz = mv::CheckpointText::fromBytes(in.bytes(), in.name());
  ASSERT_EQ(fromXz.lineCount(), plain.lineCount());
  for (int k = 1; k <= plain.lineCount(); ++k) ASSERT_EQ(fromXz.line(k), plain.line(k)) << k;
}

TEST_F(InputBytesTest, DamagedStreamsAreRefusedWithTheirReason) {
  std::string flippedGz = gz_;
  for (std::size_t k = 20; k < 60; ++k) flippedGz[k] = static_cast<char>(flippedGz[k] ^ 0x55);
  std::string flippedXz = xz_;
  for (std::size_t k = 80; k < 120; ++k) flippedXz[k] = static_cast<char>(flippedXz[k] ^ 0x55);
  std::string badCrc = gz_;
  badCrc[badCrc.size() - 6] = static_cast<char>(badCrc[badCrc.size() - 6] ^ 1);
  struct Case {
    const char* what;
    std::string bytes;
    std::string message;  // the whole message, or its beginning when it ends in "..."
  };
  const std::vector<Case> cases = {
      {"gzip cut short", gz_.substr(0, gz_.size() / 2),
       "truncated gzip stream: it ends before its last block"},
      {"gzip without its trailer", gz_.substr(0, gz_.size() - 4),
       "truncated gzip stream: it ends before its last block"},
      {"the gzip magic alone", gz_.substr(0, 2),
       "truncated gzip stream: it ends before its last block"},
      {"gzip with damaged blocks", flippedGz, "corrupt gzip stream: ..."},
      {"gzip with a wrong check sum", badCrc, "corrupt gzip stream: incorrect data check"},
      {"gzip followed by other data", gz_ + "trailing text",
       "data after the end of the gzip stream"},
      {"xz cut short", xz_.substr(0, xz_.size() / 2),
       "truncated xz stream: it ends before its last block"},
      {"the xz magic alone", xz_.substr(0, 6),
       "truncated xz stream: it ends before its last block"},
      {"xz with damaged blocks", flippedXz, "corrupt xz stream..."},
  };
  for (const Case& c : cases) {
    const std::optional<mv::Stop> s = stopOf(c.bytes);
    ASSERT_TRUE(s.has_value()) << c.what;
    EXPECT_TRUE(s->isError()) << c.what;
    EXPECT_EQ(s->file, "in.fchk") << c.what;
    const std::string m = s->message();
    if (c.message.size() > 3 && c.message.substr(c.message.size() - 3) == "...")
      EXPECT_EQ(m.substr(0, c.message.size() - 3), c.message.substr(0, c.message.size() - 3))
          << c.what << ": " << m;
    else
      EXPECT_EQ(m, c.message) << c.what;
  }
}

TEST_F(InputBytesTest, DecompressionStopsAtTheLimit) {
  // 16 MB of blanks: a few kilobytes compressed.
  const std::string big(std::size_t{16} << 20, ' ');
  for (const std::string tool : {"gzip", "xz"}) {
    const std::string packed = compressed(dir_, tool, big);
    ASSERT_LT(packed.size(), std::size_t{1} << 20) << tool;
    const std::optional<mv::Stop> s = stopOf(packed, std::uint64_t{1} << 20);
    ASSERT_TRUE(s.has_value()) << tool;
    EXPECT_EQ(s->code, mv::kCodeLimit) << tool;
    EXPECT_EQ(s->message(), "the decompressed " + tool +
                                " text expands beyond 1 MB, the memory a run may use for it")
        << tool;
    // Exactly at the limit is allowed.
    EXPECT_EQ(mv::InputBytes::fromString(packed, "x", big.size()).bytes().size(), big.size())
        << tool;
    EXPECT_TRUE(stopOf(packed, big.size() - 1).has_value()) << tool;
  }
}

}  // namespace
