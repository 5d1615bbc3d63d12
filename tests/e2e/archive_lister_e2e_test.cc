// Strict mode meets an archive, whole runs of a copy of zentry: with the real
// lister beside it the member is caught; with the lister missing, or killed
// as by its CPU limit, the archive still reaches the rules by its marker.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/archive_maker.h"
#include "support/e2e.h"

namespace zentry::test {
namespace {

std::string base64(const std::string& bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    for (std::size_t k = 0; k < 4; ++k)
      text += i + k <= bytes.size() ? digits[(group >> (18 - 6 * k)) & 63] : '=';
    if (i % 57 == 54) text += "\r\n";
  }
  return text + "\r\n";
}

struct ListerCase {
  const char* label;
  const char* lister;  // "real", a shell script, or nullptr for none
  std::string output;  // LF line ends
};

const std::string verdict =
    "Zentry V1.3 - Attachment Worm/virus protector for Movra\n"
    "Free software for mail servers; no warranty of any kind.\n"
    "To: infected\nSubject: Infected (%s) - hello\n";

std::string expected(const std::string& rule) {
  std::string text = verdict;
  text.replace(text.find("%s"), 2, rule);
  return crlf(text);
}

TEST(ArchiveListerEndToEnd, EveryFailureLeavesTheMarker) {
  const ListerCase cases[] = {
      {"real lister", "real", expected("Executable")},
      {"lister missing", nullptr, expected("Unlisted archive")},
      {"lister killed by its CPU limit", "#!/bin/sh\nkill -XCPU $$\n", expected("Unlisted archive")},
  };
  const std::string zip = makeArchive(ArchiveFormat::Zip, {{"docs/invoice.exe", peHeader(false)}});
  const std::string message =
      "Content-Type: multipart/mixed; boundary=A\r\n\r\n--A\r\n\r\ntext\r\n--A\r\n"
      "Content-Type: application/zip; name=files.zip\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n" +
      base64(zip) + "--A--\r\n";
  for (const ListerCase& c : cases) {
    TempDir directory;
    directory.write("routing.dat", routingFile(message));
    directory.write("zentry.dat",
                    "Executable\r\n\r\n*.exe\r\nUnlisted archive\r\n\r\n*|incomplete-archive\r\n");
    // A copy of the filter, and beside it the lister under test.
    const std::string program = directory.path() + "/zentry";
    std::filesystem::copy_file(ZENTRY_BINARY, program);
    const std::string lister = directory.path() + "/zentry-archive";
    if (c.lister != nullptr && std::string(c.lister) == "real") {
      std::filesystem::copy_file(ZENTRY_ARCHIVE_BINARY, lister);
    } else if (c.lister != nullptr) {
      directory.write("zentry-archive", c.lister);
      chmod(lister.c_str(), 0755);
    }
    const RunResult result = runProgram(program, directory, {"infected", "strict"}, {"subject=hello"});
    EXPECT_EQ(c.output, result.output) << c.label;
    EXPECT_EQ(0, result.exitCode) << c.label;
  }
}

// The filter hands the lister a memory file, which it maps; by hand it may
// get a pipe, which it reads. Both must give the same answer.
TEST(ArchiveListerEndToEnd, MappedAndPipedInputAnswerAlike) {
  TempDir directory;
  directory.write("files.zip", makeArchive(ArchiveFormat::Zip, {{"docs/invoice.exe", peHeader(false)}}));
  const std::string lister = std::string(ZENTRY_ARCHIVE_BINARY) + " files.zip 0 100 1000000";
  const RunResult mapped = runProgram("/bin/sh", directory, {"-c", lister + " <files.zip"});
  const RunResult piped = runProgram("/bin/sh", directory, {"-c", "cat files.zip | " + lister});
  EXPECT_NE(std::string::npos, mapped.output.find("invoice.exe")) << mapped.output;
  EXPECT_EQ(mapped.output, piped.output);
  EXPECT_EQ(0, mapped.exitCode);
  EXPECT_EQ(0, piped.exitCode);
}

}  // namespace
}  // namespace zentry::test
