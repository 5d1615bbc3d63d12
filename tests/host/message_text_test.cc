#include "host/message_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace zentry::host {
namespace {

struct SubjectCase {
  const char* name;
  std::string message;
  std::optional<std::string> subject;
};

TEST(ExtractSubject, AsTheServerPassesIt) {
  const SubjectCase cases[] = {
      {"plain", "From: a\nSubject: Hello\n\nbody\n", "Hello"},
      {"crlf", "Subject: Hello\r\nTo: b\r\n\r\n", "Hello"},
      {"case of the name", "SUBJECT: Loud\n\n", "Loud"},
      {"blank before colon", "Subject : Old style\n\n", "Old style"},
      {"folded keeps the blank", "Subject: Your\n invoice\n\tno. 5\nTo: b\n\n", "Your invoice\tno. 5"},
      {"folded with crlf", "Subject: a\r\n  b\r\n\r\n", "a  b"},
      {"trailing blanks stay", "Subject:  padded  \n\n", "padded  "},
      {"encoded word untouched", "Subject: =?x?Q?a.exe?=\n\n", "=?x?Q?a.exe?="},
      {"8-bit bytes untouched", "Subject: caf\xe9\n\n", "caf\xe9"},
      {"empty field", "Subject:\n\n", ""},
      {"first field wins", "Subject: one\nSubject: two\n\n", "one"},
      {"no field", "From: a\n\nSubject: in the body\n", std::nullopt},
      {"no header block", "", std::nullopt},
      {"similar names", "X-Subject: no\nSubjects: no\n\n", std::nullopt},
      {"last line without LF", "Subject: end", "end"},
      {"CR inside kept, CR at the end dropped", "Subject: a\rb\r", "a\rb"},
      {"lone CR line is no end", "\r\r\nSubject: after\n\n", "after"},
      {"CR LF empty line ends the header", "To: b\r\n\r\nSubject: body\n", std::nullopt},
      {"value only on the folded line", "Subject:\n  late\n\n", "late"},
      {"folded line of another field", "To: a\n Subject: no\n\n", std::nullopt},
      {"name with a blank inside", "Sub ject: no\nSubject : yes\n\n", "yes"},
  };
  for (const SubjectCase& c : cases) {
    EXPECT_EQ(c.subject, extractSubject(c.message).value) << c.name;
    // The same bytes one at a time, as reads may cut them anywhere.
    SubjectReader reader;
    for (const char byte : c.message) reader.feed(&byte, 1);
    EXPECT_EQ(c.subject, reader.finish().value) << c.name << " (byte by byte)";
  }
}

// Former fault: a Subject past the kernel's limit for one environment string
// kept the filter from starting. The filter is given the first subjectLimit bytes.
TEST(ExtractSubject, LongFieldIsCutAtTheLimit) {
  const std::string tail(10 * 1024 * 1024, 'x');
  const SubjectField field = extractSubject("Subject: Invoice " + tail + "\n\n");
  ASSERT_TRUE(field.value);
  EXPECT_EQ(subjectLimit, field.value->size());
  EXPECT_EQ(0u, field.value->rfind("Invoice x", 0));
  EXPECT_TRUE(field.cutAtLimit);
  EXPECT_FALSE(extractSubject("Subject: " + std::string(subjectLimit, 'x') + "\n").cutAtLimit);
}

TEST(ExtractSubject, NulEndsTheValueAndIsReported) {
  const SubjectField field = extractSubject(std::string("Subject: ab\0cd\n\n", 16));
  EXPECT_EQ(std::optional<std::string>("ab"), field.value);
  EXPECT_TRUE(field.cutAtNul);
}

TEST(MessageShape, EnvelopeLineAndHeaderTest) {
  struct Case {
    std::string bytes;
    bool message;
    std::string stripped;
  };
  const Case cases[] = {
      {"From a@b Mon Jan  1 10:00:00 2024\nSubject: x\n", true, "Subject: x\n"},
      {"Subject: x\n", true, "Subject: x\n"},
      {"X-Custom-1.2: y\n", true, "X-Custom-1.2: y\n"},
      {"From", false, "From"},
      {"From a@b", true, ""},
      {"hello world\n", false, "hello world\n"},
      {"Two words: no\n", false, "Two words: no\n"},
      {":empty name\n", false, ":empty name\n"},
      {"\x89PNG\r\n", false, "\x89PNG\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.message, looksLikeMessage(c.bytes)) << c.bytes;
    EXPECT_EQ(c.stripped, stripEnvelopeLine(c.bytes)) << c.bytes;
  }
}

}  // namespace
}  // namespace zentry::host
