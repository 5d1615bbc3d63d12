// Hostile and broken messages through the real binary: each is generated
// here, and each must come out with exactly the names its lines allow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/message_text.h"
#include "support/e2e.h"

namespace zentry::test {
namespace {

std::vector<std::string> namesFrom(const std::string& fileBytes) {
  TempDir dir;
  dir.write("routing.dat", fileBytes);
  const RunResult run = runBinary(dir, {"box", "debug"}, {"subject=s"});
  EXPECT_EQ(0, run.exitCode);
  return tracedNames(run.output);
}

std::vector<std::string> namesOf(const std::string& message) { return namesFrom(routingFile(message)); }

std::vector<std::string> generated(int from, int to) {
  std::vector<std::string> names;
  for (int number = from; number <= to; ++number) names.push_back("File" + std::to_string(number) + ".tmp");
  return names;
}

const std::string mixed = "Content-Type: multipart/mixed; boundary=\"A\"\n\n";
using Names = std::vector<std::string>;

struct BadCase {
  const char* what;
  std::string file;  // routing.dat, prefix included
  Names names;
};

TEST(ScannerBadInput, SmallShapes) {
  const std::string nul(1, '\0');
  const BadCase cases[] = {
      {"empty file", "", {"File0.tmp"}},
      {"one byte", "X", {"File0.tmp"}},
      {"prefix only", "XXXX", {"File0.tmp"}},
      {"no header/body separator",
       routingFile("X-Other: 1\nContent-Type: text/plain; name=a.exe\n"),
       {"File0.tmp"}},
      {"headers only, separator last", routingFile("Content-Type: text/plain; name=a.exe\n\n"), {"a.exe"}},
      {"0x1A and NUL in the prefix are skipped",
       "\x1a" + nul + "\x1a" + nul + "Content-Type: a/b; name=p.exe\n\n",
       {"p.exe"}},
      {"NUL in a header value cuts the field",
       routingFile("Content-Type: a/b; name=x" + nul + ".exe\n\n"),
       {"x"}},
      {"NUL in a body line",
       routingFile(mixed + "--A\n\n" + nul + nul + "\n--A\nContent-Type: a/b; name=n.exe\n\n--A--\n"),
       {"File1.tmp", "n.exe"}},
      {"0x1A in a body ends the scan",
       routingFile(mixed + "--A\n\nx\x1ay\n--A\nContent-Type: a/b; name=n.exe\n\n"),
       {"File1.tmp"}},
      {"delimiter as the last line",
       routingFile(mixed + "--A\nContent-Type: a/b; name=one.exe\n\nbody\n--A\n"),
       {"one.exe", "File2.tmp"}},
      {"empty boundary",
       routingFile("Content-Type: multipart/mixed; boundary=\n\n--\n\nx\n--\n"
                   "Content-Type: a/b; name=e.exe\n\n----\n"),
       {"File1.tmp", "e.exe"}},
  };
  for (const BadCase& c : cases) EXPECT_EQ(c.names, namesFrom(c.file)) << c.what;
}

// Lines around the 9999-character read limit, and one of 20 MB, inside a
// part: none may hide the delimiter on the next line or the part after it.
TEST(ScannerBadInput, LongLines) {
  for (const std::size_t length : {9998u, 9999u, 10000u, 20u << 20}) {
    const std::string message = mixed + "--A\n\n" + std::string(length, 'x') + "\n--A\n" +
                                "Content-Type: a/b; name=after.exe\n\n" + std::string(length, 'y') +
                                "\n--A--\n";
    EXPECT_EQ((Names{"File1.tmp", "after.exe"}), namesOf(message)) << length;
  }
  // A 20 MB header line: cut into pieces, none of which is a known field.
  EXPECT_EQ((Names{"h.exe"}),
            namesOf("X-Long: " + std::string(20u << 20, 'z') + "\nContent-Type: a/b; name=h.exe\n\n"));
}

TEST(ScannerBadInput, HugeHeaderFieldOfContinuationLines) {
  std::string field = "Content-Type: application/octet-stream;";
  while (field.size() < (8u << 20)) field += "\n\tx-padding=\"0123456789012345678901234567890123456789\";";
  const std::string message = mixed + "--A\n" + field + "\n\tname=\"huge.exe\"\n\nbody\n--A--\n";
  EXPECT_EQ((Names{"huge.exe"}), namesOf(message));
}

TEST(ScannerBadInput, ManySiblingParts) {
  std::string message = mixed;
  for (int i = 0; i < 5000; ++i) message += "--A\n\nsmall part\n";
  message += "--A--\n";
  EXPECT_EQ(generated(1, 5000), namesOf(message));
}

TEST(ScannerBadInput, LongBoundary) {
  const std::string boundary(5000, 'b');
  const std::string message = "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n--" +
                              boundary + "\nContent-Type: a/b; name=one.exe\n\nx\n--" + boundary +
                              "\n\ny\n--" + boundary + "--\n";
  EXPECT_EQ((Names{"one.exe", "File2.tmp"}), namesOf(message));
}

}  // namespace
}  // namespace zentry::test
