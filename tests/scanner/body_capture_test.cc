#include "scanner/body_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentry {
namespace {

struct CaptureCase {
  const char* what;
  BodyEncoding encoding;
  std::vector<std::string> lines;
  std::string bytes;
  bool truncated;
};

// A zip's first bytes keep the whole body decoded; text may be a tar header.
const std::string zipHead = "PK\x03\x04";

const CaptureCase captureCases[] = {
    {"base64 groups split over lines, junk skipped",
     BodyEncoding::Base64,
     {"UEsD", "BA\r\n", "=\n", "YW Jj\n"},
     zipHead + "abc",
     false},
    {"quoted-printable soft and hard breaks",
     BodyEncoding::QuotedPrintable,
     {"PK=03=04a=\n", "b=4 \n", "c"},
     zipHead + "ab=4\r\nc",
     false},
    {"uuencoded lines keep their counted bytes",
     BodyEncoding::Uuencode,
     {"$4$L#!```\n", "\"86)C\n"},
     zipHead + "ab",
     false},
    {"random bytes stop after the first look",
     BodyEncoding::Unencoded,
     {std::string(40, '\xF1') + "\n", std::string(40, 'x') + "\n", "more\n"},
     std::string(40, '\xF1') + "\n" + std::string(40, 'x') + "\n",
     true},
    {"a printable start waits for the first sector",
     BodyEncoding::Unencoded,
     {std::string(600, 'x'), "more"},
     std::string(600, 'x'),
     true},
    {"an all-zero first sector is kept whole",
     BodyEncoding::Unencoded,
     {std::string(600, '\0'), "more"},
     std::string(600, '\0') + "more",
     false},
};

TEST(BodyCapture, Table) {
  BodyCapture capture;
  for (const CaptureCase& c : captureCases) {
    capture.start(c.encoding);
    for (const std::string& line : c.lines) capture.addLine(line.data(), line.size());
    EXPECT_EQ(c.bytes, std::string(reinterpret_cast<const char*>(capture.data()), capture.size())) << c.what;
    EXPECT_EQ(c.truncated, capture.truncated()) << c.what;
  }
}

// Past the bound the body is kept as far as it fits and marked truncated.
TEST(BodyCapture, StopsAtTheBound) {
  BodyCapture capture;
  capture.start(BodyEncoding::Unencoded);
  const std::string line = zipHead + std::string(9995, 'z');
  const std::size_t lines = maxInspectedBytes / line.size() + 2;
  for (std::size_t i = 0; i < lines; ++i) capture.addLine(line.data(), line.size());
  EXPECT_TRUE(capture.truncated());
  EXPECT_LE(capture.size(), maxInspectedBytes);
  EXPECT_GT(capture.size(), maxInspectedBytes - 2 * line.size());
}

}  // namespace
}  // namespace zentry
