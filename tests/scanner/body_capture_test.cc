#include "scanner/body_capture.h"

#include <gtest/gtest.h>

#include <string>

#include "support/table.h"

namespace zentry {
namespace {

BodyEncoding encodingNamed(const std::string& name) {
  if (name == "base64") return BodyEncoding::Base64;
  if (name == "qp") return BodyEncoding::QuotedPrintable;
  return name == "uu" ? BodyEncoding::Uuencode : BodyEncoding::Unencoded;
}

TEST(BodyCapture, Table) {
  BodyCapture capture;
  for (const test::Row& row : test::readTable("body_captures.txt")) {
    capture.start(encodingNamed(row[0]));
    for (std::size_t i = 3; i < row.fields.size(); ++i) capture.addLine(row[i].data(), row[i].size());
    EXPECT_EQ(row[1], std::string(reinterpret_cast<const char*>(capture.data()), capture.size()))
        << row.where;
    EXPECT_EQ(row[2] == "1", capture.truncated()) << row.where;
  }
}

// Past the bound the body is kept as far as it fits and marked truncated.
TEST(BodyCapture, StopsAtTheBound) {
  BodyCapture capture;
  capture.start(BodyEncoding::Unencoded);
  const std::string line = "PK\x03\x04" + std::string(9995, 'z');
  const std::size_t lines = maxExaminedBytes / line.size() + 2;
  for (std::size_t i = 0; i < lines; ++i) capture.addLine(line.data(), line.size());
  EXPECT_TRUE(capture.truncated());
  EXPECT_LE(capture.size(), maxExaminedBytes);
  EXPECT_GT(capture.size(), maxExaminedBytes - 2 * line.size());
}

}  // namespace
}  // namespace zentry
