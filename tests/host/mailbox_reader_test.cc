#include "host/mailbox_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace zentry::host {
namespace {

const std::string envelope = "From a@example.com Mon Jan  1 10:00:00 2024\n";

// Every entry of a mailbox: "id=message" for a message (without the stored
// prefix), "skipped: reason" for the rest.
std::vector<std::string> readAll(const std::string& path, MailboxStatus* status = nullptr) {
  std::unique_ptr<MailboxReader> reader;
  std::string error;
  const MailboxStatus opened = MailboxReader::open(path, &reader, &error);
  if (status != nullptr) *status = opened;
  std::vector<std::string> entries;
  if (opened != MailboxStatus::ok) return {error};
  test::TempDir out;
  RoutingWriter writer;
  for (;;) {
    std::string id, problem;
    EXPECT_TRUE(writer.open(out.path() + "/routing.dat", &error));
    const MailboxReader::Next next = reader->next(writer, &id, &problem);
    if (next == MailboxReader::Next::end) break;
    EXPECT_TRUE(writer.close(&error));
    if (next == MailboxReader::Next::message) {
      entries.push_back(id + "=" + out.read("routing.dat").substr(4));
    } else {
      entries.push_back("skipped: " + problem);
      if (next == MailboxReader::Next::failed) break;
    }
  }
  return entries;
}

struct MboxCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> entries;
};

TEST(Mbox, Messages) {
  const std::string cr = "From a Mon Jan  1 10:00:00 2024\r\n";
  const MboxCase cases[] = {
      {"one, separator dropped", envelope + "Subject: a\n\nbody\n\n", {"1=Subject: a\n\nbody\n"}},
      {"two", envelope + "S: 1\n\nx\n\n" + envelope + "S: 2\n\ny\n", {"1=S: 1\n\nx\n", "2=S: 2\n\ny\n"}},
      {"crlf", cr + "S: 1\r\n\r\nx\r\n\r\n" + cr + "S: 2\r\n", {"1=S: 1\r\n\r\nx\r\n", "2=S: 2\r\n"}},
      {"lf then crlf empty line kept", envelope + "S: 1\n\r\n" + envelope + "S: 2\n", {"1=S: 1\n\r\n", "2=S: 2\n"}},
      {"quoted From lines lose one >",
       envelope + "S: 1\n\n>From me\n>>From you\n> From not\n>>\n",
       {"1=S: 1\n\nFrom me\n>From you\n> From not\n>>\n"}},
      // A body line starting with "From " after an empty line, left unquoted:
      // without a time of day it is not taken for an envelope.
      {"unquoted body From", envelope + "S: 1\n\nFrom here on 10\n", {"1=S: 1\n\nFrom here on 10\n"}},
      {"From line not after an empty line", envelope + "S: 1\n" + envelope + "x\n", {"1=S: 1\n" + envelope + "x\n"}},
      {"no final LF", envelope + "S: 1\n\nbody", {"1=S: 1\n\nbody"}},
      // Former fault: an envelope line alone was replayed as a clean message.
      {"envelope only", "From a@b Mon Jan  1 10:00:00 2024", {"skipped: message 1: empty (an envelope line without a message)"}},
      {"empty message between",
       envelope + "\n" + envelope + "S: 2\n",
       {"skipped: message 1: empty (an envelope line without a message)", "2=S: 2\n"}},
      {"envelope at the end", envelope + "S: 1\n\nFrom b 10:00", {"1=S: 1\n", "skipped: message 2: empty (an envelope line without a message)"}},
  };
  for (const MboxCase& c : cases) {
    test::TempDir dir;
    dir.write("box", c.bytes);
    EXPECT_EQ(c.entries, readAll(dir.path() + "/box")) << c.name;
  }
}

// Lines far longer than any buffer, and a quote run split over reads.
TEST(Mbox, LongLinesCrossEveryBuffer) {
  const std::string longLine(200000, 'x');
  const std::string quotes(70000, '>');
  test::TempDir dir;
  dir.write("box", envelope + "S: 1\n\n" + longLine + "\n" + quotes + "From x\n\n" + "From " + longLine +
                       " 10:00\nS: 2\n");
  EXPECT_EQ((std::vector<std::string>{"1=S: 1\n\n" + longLine + "\n" + quotes.substr(1) + "From x\n", "2=S: 2\n"}),
            readAll(dir.path() + "/box"));
}

TEST(Maildir, SkipsWhatIsNotMailAndNeverFollowsLinks) {
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
  dir.write("secret", "Subject: not in the maildir\n\n");
  std::filesystem::create_symlink(dir.path() + "/secret", dir.path() + "/cur/600.f");
  mkfifo((dir.path() + "/cur/700.g").c_str(), 0600);
  const std::string root = dir.path() + "/";
  EXPECT_EQ((std::vector<std::string>{
                "cur/100.a:2,S=Subject: first\n\n", "new/200.b=Subject: second\n\n",
                "cur/300.c:2,=Subject: third\n\n", "skipped: " + root + "cur/400.d: empty file",
                "skipped: " + root + "cur/500.e: not a mail message (no header field on its first line)",
                "skipped: " + root + "cur/600.f: a symbolic link, not followed",
                "skipped: " + root + "cur/700.g: not a regular file",
                "skipped: " + root + "cur/sub: not a regular file"}),
            readAll(dir.path()));
}

TEST(Maildir, LinkedFolderIsNotFollowed) {
  test::TempDir dir, elsewhere;
  elsewhere.write("100.a", "Subject: x\n\n");
  std::filesystem::create_symlink(elsewhere.path(), dir.path() + "/cur");
  EXPECT_EQ((std::vector<std::string>{"skipped: " + dir.path() + "/cur: a symbolic link, not followed"}),
            readAll(dir.path()));
}

TEST(MailboxReader, Failures) {
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
    MailboxStatus status = MailboxStatus::ok;
    const std::vector<std::string> error = readAll(c.path, &status);
    EXPECT_EQ(c.status, status) << c.path;
    EXPECT_NE(std::string::npos, error.at(0).find(c.path)) << error.at(0);
  }
}

}  // namespace
}  // namespace zentry::host
