#include "host/mailbox_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host/mbox_reader.h"
#include "support/e2e.h"

namespace zentry::host {
namespace {

// Every entry of a mailbox, in the form of the testdata/mbox/*.split files:
// "== message ID, N bytes\n" and the message and a LF, or "== skipped: why\n".
std::string readAll(const std::string& path) {
  std::unique_ptr<MailboxReader> reader;
  std::string out;
  if (MailboxReader::open(path, &reader, &out) != MailboxStatus::ok) return "== failed: " + out + "\n";
  test::TempDir dir;
  RoutingWriter writer;
  for (;;) {
    std::string id, problem, error;
    EXPECT_TRUE(writer.open(dir.path() + "/routing.dat", &error)) << error;
    const MailboxReader::Next next = reader->next(writer, &id, &problem);
    EXPECT_TRUE(writer.close(&error)) << error;
    if (next == MailboxReader::Next::end) return out;
    if (next != MailboxReader::Next::message) {
      out += "== skipped: " + problem + "\n";
      continue;
    }
    const std::string message = dir.read("routing.dat").substr(4);
    out += "== message " + id + ", " + std::to_string(message.size()) + " bytes\n";
    out += message + "\n";
  }
}

// One mbox per file, each beside the entries it must split into.
TEST(Mbox, SplitsAsTheGoldenFilesSay) {
  const std::filesystem::path folder = std::filesystem::path(__FILE__).parent_path() / "testdata" / "mbox";
  int cases = 0;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    if (item.path().extension() != ".mbox") continue;
    std::filesystem::path split = item.path();
    std::ifstream file(split.replace_extension(".split"), std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(expected, readAll(item.path().string())) << item.path();
    ++cases;
  }
  EXPECT_GE(cases, 10);
}

TEST(Mbox, ReadErrorIsNamed) {
  test::TempDir dir;
  MailboxStatus status = MailboxStatus::ok;
  std::string error;
  EXPECT_EQ(nullptr, openMbox(open(dir.path().c_str(), O_RDONLY), "box", &status, &error));
  EXPECT_EQ("box: Is a directory", error);
}

// Lines far longer than any buffer, and a run of '>' split over reads.
TEST(Mbox, LongLinesCrossEveryBuffer) {
  const std::string line(200000, 'x'), quotes(70000, '>');
  test::TempDir dir;
  dir.write("box",
            "From a 10:00\nS: 1\n\n" + line + "\n" + quotes + "From x\n\nFrom " + line + " 10:00\nS: 2\n");
  const std::string first = "S: 1\n\n" + line + "\n" + quotes.substr(1) + "From x\n";
  EXPECT_EQ("== message 1, " + std::to_string(first.size()) + " bytes\n" + first +
                "\n== message 2, 5 bytes\nS: 2\n\n",
            readAll(dir.path() + "/box"));
}

// Former fault: links were followed, so a replay run by root read any file.
TEST(Maildir, SkipsWhatIsNotMailAndNeverFollowsLinks) {
  test::TempDir dir, elsewhere;
  for (const char* folder : {"cur", "new", "tmp", "cur/sub"})
    std::filesystem::create_directory(dir.path() + "/" + folder);
  dir.write("new/200.b", "Subject: second\n");
  dir.write("cur/100.a:2,S", "Subject: first\n");
  dir.write("cur/300.c:2,", "From a@b Mon Jan  1 10:00:00 2024\nSubject: third\n");
  dir.write("cur/.hidden", "Subject: hidden\n");
  dir.write("tmp/050.x", "Subject: in delivery\n");
  dir.write("cur/400.d", "");
  dir.write("cur/500.e", "just text\n");
  elsewhere.write("secret", "root:x:0:0\n");
  std::filesystem::create_symlink(elsewhere.path() + "/secret", dir.path() + "/cur/600.f");
  mkfifo((dir.path() + "/cur/700.g").c_str(), 0600);
  const std::string cur = "== skipped: " + dir.path() + "/cur/";
  EXPECT_EQ(
      "== message cur/100.a:2,S, 15 bytes\nSubject: first\n\n== message new/200.b, 16 bytes\nSubject: "
      "second\n\n"
      "== message cur/300.c:2,, 15 bytes\nSubject: third\n\n" +
          cur + "400.d: empty file\n" + cur +
          "500.e: not a mail message (no header field on its first line)\n" + cur +
          "600.f: a symbolic link, not followed\n" + cur + "700.g: not a regular file\n" + cur +
          "sub: not a regular file\n",
      readAll(dir.path()));
  std::filesystem::remove_all(dir.path() + "/cur");
  std::filesystem::create_symlink(elsewhere.path(), dir.path() + "/cur");
  EXPECT_EQ("== skipped: " + dir.path() +
                "/cur: a symbolic link, not followed\n== message new/200.b, 16 bytes\n"
                "Subject: second\n\n",
            readAll(dir.path()));
}

}  // namespace
}  // namespace zentry::host
