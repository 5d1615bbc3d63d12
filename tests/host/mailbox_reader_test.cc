#include "host/mailbox_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace zentry::host {
namespace {

const std::string envelope = "From a@example.com Mon Jan  1 10:00:00 2024\n";

struct MboxCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> messages;
};

TEST(SplitMbox, Messages) {
  const MboxCase cases[] = {
      {"one, separator dropped", envelope + "Subject: a\n\nbody\n\n", {"Subject: a\n\nbody\n"}},
      {"two", envelope + "S: 1\n\nx\n\n" + envelope + "S: 2\n\ny\n", {"S: 1\n\nx\n", "S: 2\n\ny\n"}},
      {"crlf", envelope + "S: 1\r\n\r\nx\r\n\r\n" + envelope + "S: 2\r\n", {"S: 1\r\n\r\nx\r\n", "S: 2\r\n"}},
      {"quoted From lines lose one >",
       envelope + "S: 1\n\n>From me\n>>From you\n> From not\n",
       {"S: 1\n\nFrom me\n>From you\n> From not\n"}},
      // A body line starting with "From " after an empty line, left unquoted:
      // without a time of day it is not taken for an envelope.
      {"unquoted body From", envelope + "S: 1\n\nFrom here on\n", {"S: 1\n\nFrom here on\n"}},
      {"From line not after an empty line",
       envelope + "S: 1\n" + envelope + "x\n",
       {"S: 1\n" + envelope + "x\n"}},
      {"envelope only", "From a@b Mon Jan  1 10:00:00 2024", {""}},
      {"empty message between", envelope + "\n" + envelope + "S: 2\n", {"", "S: 2\n"}},
  };
  for (const MboxCase& c : cases) {
    std::vector<MailboxEntry> messages;
    ASSERT_TRUE(splitMbox(c.bytes, &messages)) << c.name;
    ASSERT_EQ(c.messages.size(), messages.size()) << c.name;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      EXPECT_EQ(c.messages[i], messages[i].message) << c.name << " #" << i;
      EXPECT_EQ(std::to_string(i + 1), messages[i].id) << c.name;
    }
  }
}

TEST(SplitMbox, RefusesWhatIsNotAnMbox) {
  for (const std::string bytes : {"Subject: x\n\n", "\nFrom a Mon Jan  1 10:00:00 2024\n", "from a\n"}) {
    std::vector<MailboxEntry> messages;
    EXPECT_FALSE(splitMbox(bytes, &messages)) << bytes;
  }
}

TEST(ReadMailbox, MaildirSkipsWhatIsNotMail) {
  test::TempDir dir;
  for (const char* folder : {"cur", "new", "tmp", "cur/sub"})
    std::filesystem::create_directory(dir.path() + "/" + folder);
  dir.write("new/200.b", "Subject: second\n\n");
  dir.write("cur/100.a:2,S", "Subject: first\n\n");
  dir.write("cur/300.c:2,", envelope + "Subject: third\n\n");
  dir.write("cur/.hidden", "Subject: hidden\n\n");
  dir.write("tmp/050.x", "Subject: in delivery\n\n");
  dir.write("cur/400.d", "");
  dir.write("cur/500.e", "just text\n");
  dir.write("dovecot-uidlist", "3 V1 N4\n");

  Mailbox mailbox;
  std::string error;
  ASSERT_EQ(MailboxStatus::ok, readMailbox(dir.path(), &mailbox, &error));
  std::vector<std::string> ids;
  for (const MailboxEntry& entry : mailbox.messages) ids.push_back(entry.id);
  EXPECT_EQ((std::vector<std::string>{"cur/100.a:2,S", "new/200.b", "cur/300.c:2,"}), ids);
  EXPECT_EQ("Subject: third\n\n", mailbox.messages[2].message);
  ASSERT_EQ(3u, mailbox.skipped.size());
  EXPECT_NE(std::string::npos, mailbox.skipped[0].find("400.d: empty file"));
  EXPECT_NE(std::string::npos, mailbox.skipped[1].find("500.e: not a mail message"));
  EXPECT_NE(std::string::npos, mailbox.skipped[2].find("sub: not a regular file"));
}

TEST(ReadMailbox, Failures) {
  test::TempDir dir;
  dir.write("empty.mbox", "");
  dir.write("text.mbox", "hello\n");
  std::filesystem::create_directory(dir.path() + "/plain");
  struct Case {
    std::string path;
    MailboxStatus status;
  };
  const Case cases[] = {
      {dir.path() + "/missing", MailboxStatus::missing},
      {dir.path() + "/empty.mbox", MailboxStatus::notMailbox},
      {dir.path() + "/text.mbox", MailboxStatus::notMailbox},
      {dir.path() + "/plain", MailboxStatus::notMailbox},
  };
  for (const Case& c : cases) {
    Mailbox mailbox;
    std::string error;
    EXPECT_EQ(c.status, readMailbox(c.path, &mailbox, &error)) << c.path;
    EXPECT_NE(std::string::npos, error.find(c.path)) << error;
  }
}

}  // namespace
}  // namespace zentry::host
