#include "scanner/client_header_reading.h"

#include <gtest/gtest.h>

#include <string>

#include "support/table.h"

namespace zentry {
namespace {

std::string boundariesOf(const std::string& value) {
  std::string out;
  for (const std::string& boundary : clientBoundaries(value.data(), value.size())) out += boundary + "|";
  return out;
}

std::string delimiterOf(const std::string& rest) {
  const DelimiterMatch match = delimiterEndOf(rest.data(), rest.size());
  if (match.end == DelimiterEnd::none) return "none";
  return std::string(match.end == DelimiterEnd::delimiter ? "delimiter" : "close") +
         (match.padded ? " padded" : "");
}

std::string fieldOf(const std::string& text) {
  std::size_t valueStart = 0;
  const StructureField field = structureFieldOf(text.data(), text.size(), &valueStart);
  const char* names[] = {"other", "type", "encoding", "disposition"};
  std::string out = names[static_cast<int>(field)];
  if (field == StructureField::other) return out;
  if (text[valueStart - 1] != ':') return out + " bad value start";
  return out + (writtenWithoutBlanksBeforeColon(text.data(), text.size(), field) ? " exact" : " blanks");
}

TEST(ClientHeaderReading, Table) {
  for (const test::Row& row : test::readTable("client_header_readings.txt")) {
    const std::string& input = row[1];
    std::string got;
    if (row[0] == "boundaries") got = boundariesOf(input);
    if (row[0] == "encoding") got = "[" + clientTransferEncoding(input.data(), input.size()) + "]";
    if (row[0] == "delimiter") got = delimiterOf(input);
    if (row[0] == "field") got = fieldOf(input);
    EXPECT_EQ(row[2], got) << row.where;
  }
}

TEST(ClientHeaderReading, UuencodingNames) {
  for (const char* name : {"x-uuencode", "X-UUE", "uue"}) EXPECT_TRUE(namesUuencoding(name)) << name;
  for (const char* name : {"uuencode", "x-uu", "uue ", "base64"}) EXPECT_FALSE(namesUuencoding(name)) << name;
}

}  // namespace
}  // namespace zentry
