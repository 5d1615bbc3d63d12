#include "milter/held_message.h"

#include <gtest/gtest.h>

#include "support/table.h"

namespace zentry::milter {
namespace {

TEST(HeldMessage, HeaderFieldsAsReceived) {
  for (const test::Row& row : test::readTable("milter_header_fields.txt")) {
    HeldMessage message(1000);
    message.addHeaderField(row[0], row[1], row[2] == "1");
    EXPECT_EQ(row[3], message.messageBytes()) << row.where;
    EXPECT_EQ("XXXX" + row[3], message.routingBytes()) << row.where;
  }
}

// A message is held up to the limit exactly; one byte more drops what was
// held. A new transaction starts empty.
TEST(HeldMessage, LimitEdgesAndNewTransaction) {
  for (const std::size_t body : {std::size_t{8}, std::size_t{9}, std::size_t{10}}) {
    HeldMessage message(20);
    message.addRecipient("<a@b>");
    message.addHeaderField("S", " x", true);  // 6 bytes
    message.endHeader();                      // 8
    message.addBody(std::string(body - 1, 'b'));
    message.addBody("b");
    const bool over = 8 + body > 20;
    EXPECT_EQ(over, message.oversized()) << body;
    EXPECT_EQ(8 + body, message.size());
    EXPECT_EQ(over ? "" : "S: x\r\n\r\n" + std::string(body, 'b'), message.messageBytes());
    EXPECT_EQ(std::vector<std::string>{"<a@b>"}, message.recipients());
    message.clear();
    EXPECT_FALSE(message.oversized());
    EXPECT_TRUE(message.messageBytes().empty() && message.recipients().empty());
  }
}

}  // namespace
}  // namespace zentry::milter
