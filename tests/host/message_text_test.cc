#include "host/message_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/table.h"

namespace zentry::host {
namespace {

TEST(ExtractSubject, AsTheServerPassesIt) {
  for (const test::Row& row : test::readTable("../../host/testdata/subjects.txt")) {
    const std::optional<std::string> subject =
        row.fields.size() > 3 ? std::optional<std::string>(row[3]) : std::nullopt;
    const SubjectField field = extractSubject(row[1]);
    EXPECT_EQ(subject, field.value) << row.where;
    EXPECT_EQ(row[2], field.cutAtNul ? "nul" : field.cutAtLimit ? "limit" : "-") << row.where;
    // The same bytes one at a time, as reads may cut them anywhere.
    SubjectReader reader;
    for (const char byte : row[1]) reader.feed(&byte, 1);
    EXPECT_EQ(subject, reader.finish().value) << row.where << " (byte by byte)";
  }
}

TEST(MessageShape, EnvelopeLineAndHeaderTest) {
  for (const test::Row& row : test::readTable("../../host/testdata/message_shapes.txt")) {
    EXPECT_EQ(row[1] == "1", looksLikeMessage(row[0])) << row.where;
    EXPECT_EQ(row[2], stripEnvelopeLine(row[0])) << row.where;
  }
}

}  // namespace
}  // namespace zentry::host
