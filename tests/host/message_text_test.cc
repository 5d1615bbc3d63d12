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
        row.fields.size() > 2 ? std::optional<std::string>(row[2]) : std::nullopt;
    EXPECT_EQ(subject, extractSubject(row[1]).value) << row.where;
    EXPECT_EQ(row[1].find('\0') != std::string::npos, extractSubject(row[1]).cutAtNul) << row.where;
    // The same bytes one at a time, as reads may cut them anywhere.
    SubjectReader reader;
    for (const char byte : row[1]) reader.feed(&byte, 1);
    EXPECT_EQ(subject, reader.finish().value) << row.where << " (byte by byte)";
  }
}

// Former fault: a Subject past the kernel's limit for one environment string
// kept the filter from starting. The filter is given the first subjectLimit bytes.
TEST(ExtractSubject, LongFieldIsCutAtTheLimit) {
  const SubjectField field = extractSubject("Subject: Invoice " + std::string(10 << 20, 'x') + "\n\n");
  ASSERT_TRUE(field.value);
  EXPECT_EQ(subjectLimit, field.value->size());
  EXPECT_EQ(0u, field.value->rfind("Invoice x", 0));
  EXPECT_TRUE(field.cutAtLimit);
  EXPECT_FALSE(extractSubject("Subject: " + std::string(subjectLimit, 'x') + "\n").cutAtLimit);
}

TEST(MessageShape, EnvelopeLineAndHeaderTest) {
  for (const test::Row& row : test::readTable("../../host/testdata/message_shapes.txt")) {
    EXPECT_EQ(row[1] == "1", looksLikeMessage(row[0])) << row.where;
    EXPECT_EQ(row[2], stripEnvelopeLine(row[0])) << row.where;
  }
}

}  // namespace
}  // namespace zentry::host
