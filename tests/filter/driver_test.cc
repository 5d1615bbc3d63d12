// Strict mode only adds: real messages (the examples, and a few kinds they
// lack) with a NUL or a 0x1A byte put in at every line's start and end and
// inside lines, each run in process in both modes. Strict mode must hold
// every name exact mode found, its first names must be exact mode's in
// order, and a rule that hits in exact mode must hit in strict mode too.
#include "filter/driver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scanner/archive_lister.h"
#include "support/memory_workspace.h"

namespace zentry {
namespace {

// Rules that hit on names only one reading may give.
const char* const rules =
    "Dot\n\n*.\n"
    "Generated\n\nFile*.tmp\n"
    "Uuencoded\n\nFile*.DAT\n"
    "Executable\n\n*.exe\n"
    "Any\n\n*\n";

struct ModeRun {
  std::vector<std::string> names;
  std::size_t exactNames = 0;
  int hitRule = -1;
};

ModeRun run(const std::string& routing, bool strict) {
  test::MemoryWorkspace workspace;
  workspace.write("routing.dat", routing);
  workspace.write("zentry.dat", rules);
  std::vector<std::string> arguments{"zentry", "box"};
  if (strict) arguments.emplace_back("strict");
  StringSink output;
  RunState state;
  runZentry(arguments, {"subject=s"}, workspace, output, state);
  ModeRun result;
  for (const String& name : state.attachmentNames) result.names.emplace_back(name.cStr());
  result.exactNames = state.exactNameCount;
  int index = 0;
  for (const Rule& rule : state.ruleList) {
    if (&rule == state.hit.rule) result.hitRule = index;
    ++index;
  }
  return result;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Stored messages, each with its four prefix bytes.
std::vector<std::string> messages() {
  std::vector<std::string> stored;
  for (const char* example : {"encoded-name", "invoice", "named-attachment", "nested-multipart"})
    stored.push_back(fileBytes(std::string(ZENTRY_EXAMPLES) + "/" + example + "/routing.dat"));
  for (const char* mail : {"mail/invoice.eml", "mail/sample.mbox"})
    stored.push_back("XXXX" + fileBytes(std::string(ZENTRY_EXAMPLES) + "/" + mail));
  stored.push_back(
      "XXXXContent-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\n"
      "begin 644 evil.exe\r\n#86)C\r\n`\r\nend\r\n--B\r\n"
      "Content-Type: application/octet-stream; filename*=UTF-8''x.pdf; name=\"report.pdf.\"\r\n\r\nMZ\r\n"
      "--B\r\nContent-Type: message/rfc822\r\n\r\nContent-Type: a/b; name=inner.exe\r\n\r\nx\r\n--B--\r\n");
  return stored;
}

// Where a byte is put: every line's start and end, and every 7th byte.
std::vector<std::size_t> positions(const std::string& message) {
  std::vector<std::size_t> at;
  for (std::size_t i = 4; i <= message.size(); ++i) {
    if (i % 7 == 0 || message[i - 1] == '\n' || (i < message.size() && message[i] == '\r')) at.push_back(i);
  }
  return at;
}

TEST(StrictMode, OnlyAddsToExactModeOnMutatedMessages) {
  useArchiveLister(nullptr);  // archives get their marker; this is about reading
  std::size_t runs = 0;
  for (const std::string& message : messages()) {
    for (const char byte : {'\0', '\x1a'}) {
      for (const std::size_t at : positions(message)) {
        std::string mutated = message;
        mutated.insert(at, 1, byte);
        const ModeRun exact = run(mutated, false);
        const ModeRun strict = run(mutated, true);
        ++runs;
        const std::string where =
            "byte " + std::to_string(static_cast<int>(byte)) + " at " + std::to_string(at);
        ASSERT_LE(strict.exactNames, strict.names.size()) << where;
        EXPECT_EQ(exact.names, std::vector<std::string>(
                                   strict.names.begin(),
                                   strict.names.begin() + static_cast<std::ptrdiff_t>(strict.exactNames)))
            << where;
        const std::set<std::string> strictNames(strict.names.begin(), strict.names.end());
        for (const std::string& name : exact.names)
          EXPECT_EQ(1u, strictNames.count(name)) << where << " " << name;
        if (exact.hitRule >= 0) {
          EXPECT_GE(strict.hitRule, 0) << where;
          EXPECT_LE(strict.hitRule, exact.hitRule) << where;
        }
      }
    }
  }
  EXPECT_GT(runs, 500u);
}

}  // namespace
}  // namespace zentry
