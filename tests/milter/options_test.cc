#include "milter/options.h"

#include <gtest/gtest.h>

#include "support/e2e.h"

namespace zentry::milter {
namespace {

bool parse(std::vector<std::string> words, Options* options, std::string* error) {
  words.insert(words.begin(), "zentry-milter");
  return parseOptions(words, options, error);
}

const std::vector<std::string> required{"--socket", "unix:/run/z.sock", "--rules", "r", "--mailbox", "m"};

TEST(MilterOptions, SocketsBindLoopbackUnlessTold) {
  const std::pair<const char*, const char*> cases[] = {
      {"inet:8890", "inet:8890@127.0.0.1"},
      {"inet:8890@192.0.2.1", "inet:8890@192.0.2.1"},
      {"inet6:8890", "inet6:8890@::1"},
      {"unix:/run/z.sock", "unix:/run/z.sock"},
  };
  for (const auto& [given, used] : cases) {
    Options options;
    std::string error;
    ASSERT_TRUE(parse({"--socket", given, "--rules", "r", "--mailbox", "m"}, &options, &error)) << error;
    EXPECT_EQ(used, options.socket);
  }
}

TEST(MilterOptions, Mistakes) {
  const std::vector<std::vector<std::string>> cases = {
      {"--rules", "r", "--mailbox", "m"},
      {"--socket", "unix:s", "--rules", "r", "--mailbox", std::string(101, 'm')},
      {"--action", "bounce"},
      {"--max-message-size", "0"},
      {"--max-message-size", "12k"},
      {"--rules-check-seconds", "3601"},
      {"--unknown"},
      {"--socket"},
  };
  for (std::vector<std::string> words : cases) {
    if (words.size() <= 2) words.insert(words.end(), required.begin(), required.end());
    Options options;
    std::string error;
    EXPECT_FALSE(parse(words, &options, &error)) << words[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(MilterOptions, ConfigFileUnderCommandLine) {
  test::TempDir dir;
  dir.write(
      "milter.conf",
      "# comment\n\nsocket inet:9000\nrules /etc/zentry/zentry.dat  \r\nmailbox quarantine@example.org\n"
      "action tag\nstrict\nmax-message-size 1000\n");
  Options options;
  std::string error;
  ASSERT_TRUE(parse({"--config", dir.path() + "/milter.conf", "--action", "reject", "--rules", "mine"},
                    &options, &error))
      << error;
  EXPECT_EQ("inet:9000@127.0.0.1", options.socket);
  EXPECT_EQ("mine", options.rules);
  EXPECT_EQ("quarantine@example.org", options.mailbox);
  EXPECT_EQ(Action::reject, options.action);
  EXPECT_TRUE(options.strict);
  EXPECT_EQ(1000u, options.maxMessageBytes);

  dir.write("bad.conf", "colour blue\n");
  EXPECT_FALSE(parse({"--config", dir.path() + "/bad.conf"}, &options, &error));
  EXPECT_NE(std::string::npos, error.find("colour"));
}

}  // namespace
}  // namespace zentry::milter
