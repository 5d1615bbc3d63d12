#include "milter/held_message.h"

#include <gtest/gtest.h>

namespace zentry::milter {
namespace {

struct FieldCase {
  const char* name;
  const char* value;
  bool leadingSpaceKept;
  const char* stored;
};

TEST(HeldMessage, HeaderFieldsAsReceived) {
  const FieldCase cases[] = {
      {"Subject", "hello", false, "Subject: hello\r\n"},
      {"Subject", " hello", true, "Subject: hello\r\n"},
      {"Subject", "\thello ", true, "Subject:\thello \r\n"},
      {"Subject", "", true, "Subject:\r\n"},
      // Folding passed with bare LFs, or already with CR LF, is stored with CR LF.
      {"Content-Type", " multipart/mixed;\n\tboundary=\"b\"", true,
       "Content-Type: multipart/mixed;\r\n\tboundary=\"b\"\r\n"},
      {"X", " a\r\n b\n c", true, "X: a\r\n b\r\n c\r\n"},
  };
  for (const FieldCase& c : cases) {
    HeldMessage message(1000);
    message.addHeaderField(c.name, c.value, c.leadingSpaceKept);
    EXPECT_EQ(c.stored, message.messageBytes()) << c.value;
    EXPECT_EQ("XXXX" + std::string(c.stored), message.routingBytes());
  }
}

TEST(HeldMessage, WholeMessageAndNewTransaction) {
  HeldMessage message(1000);
  message.addRecipient("<a@b>");
  message.addHeaderField("Subject", " s", true);
  message.endHeader();
  message.addBody("line 1\r\n");
  message.addBody("line 2\r\n");
  EXPECT_EQ("Subject: s\r\n\r\nline 1\r\nline 2\r\n", message.messageBytes());
  EXPECT_EQ(std::vector<std::string>{"<a@b>"}, message.recipients());
  message.clear();
  EXPECT_EQ("", message.messageBytes());
  EXPECT_TRUE(message.recipients().empty());
}

// A message is held up to the limit exactly; one byte more drops what was held.
TEST(HeldMessage, LimitEdges) {
  for (const std::size_t body : {std::size_t{8}, std::size_t{9}, std::size_t{10}}) {
    HeldMessage message(20);
    message.addHeaderField("S", " x", true);  // 6 bytes
    message.endHeader();                      // 8
    message.addBody(std::string(body - 1, 'b'));
    message.addBody("b");
    const bool over = 8 + body > 20;
    EXPECT_EQ(over, message.oversized()) << body;
    EXPECT_EQ(8 + body, message.size());
    EXPECT_EQ(over ? 0 : 8 + body, message.messageBytes().size());
    message.clear();
    EXPECT_FALSE(message.oversized());
  }
}

}  // namespace
}  // namespace zentry::milter
