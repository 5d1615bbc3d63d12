// The walker over messages held in memory: which names come out, in which
// order, for the structures and the malformed shapes a mail server meets.
#include "scanner/mime_walker.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/memory_line_source.h"
#include "scanner/message_file.h"

namespace zentry {
namespace {

// Scans the message as the whole-file scan does, after the host's four bytes,
// and returns the names as "a|b|c".
std::string namesOf(const std::string& message) {
  MemoryLineSource file("XXXX" + message);
  StringSink output;
  Console console(output);
  AttachmentNames names;
  auto context = std::make_unique<ScanContext>(file, console, names);
  scanMessage(*context, messageStartOffset, wholeFileEndOffset);
  std::string joined;
  for (const String& name : names) joined += (joined.empty() ? "" : "|") + std::string(name.cStr());
  return joined;
}

struct WalkCase {
  const char* what;
  std::string message;
  const char* names;
};

const std::string mixedA = "Content-Type: multipart/mixed; boundary=A\n\n";

const WalkCase walkCases[] = {
    {"no MIME fields, text body", "From: x\nSubject: y\n\nhello\n", "File0.tmp"},
    {"header ends at the file end without LF", "Content-Type: text/plain; name=a.exe", "File0.tmp"},
    {"separator then nothing", "Content-Type: text/plain; name=a.exe\n\n", "a.exe"},
    {"CR LF lines", "Content-Type: text/plain;\r\n name=a.exe\r\n\r\nbody\r\n", "a.exe"},
    {"walker example",
     mixedA + "--A\n\ntext\n--A\nContent-Type: multipart/alternative; boundary=B\n\n--B\n\none\n--B\n\ntwo\n"
              "--B--\n--A\nContent-Type: application/x; name=a.exe\n\nzz\n--A--\n",
     "File1.tmp|File3.tmp|File4.tmp|a.exe"},
    {"preamble and epilogue are skipped", mixedA + "pre\n--A\n\nx\n--A--\npost\n--A\n\ny\n",
     "File1.tmp|File2.tmp"},
    {"top-level multipart without boundary reads nothing", "Content-Type: multipart/mixed\n\n--A\n\n--A--\n",
     ""},
    {"nested multipart without boundary borrows the enclosing one",
     mixedA + "--A\nContent-Type: multipart/mixed\n\nskipped\n--A\n\nx\n--A--\n", "File2.tmp"},
    {"missing close delimiter runs to the end",
     mixedA + "--A\n\nx\n--A\nContent-Type: a/b; name=n.exe\n\ny\n", "File1.tmp|n.exe"},
    {"delimiter as the last line without LF", mixedA + "--A\n\nx\n--A", "File1.tmp|File2.tmp"},
    {"trailing blank or other case is no delimiter", mixedA + "--A\n\n--A \n--a\n--A--\n", "File1.tmp"},
    {"a 0 byte cuts the line: still a delimiter",
     mixedA + "--A\n\nx\n--A" + std::string(1, '\0') + "junk\n\ny\n--A--\n", "File1.tmp|File2.tmp"},
    {"a 0 byte at the start of a header line ends the header",
     "Content-Type: a/b; name=a.exe\n" + std::string(1, '\0') + "x\nContent-Type: a/b; name=b.exe\n\n",
     "a.exe"},
    {"0x1A ends the message", mixedA + "--A\n\nx\x1a\n--A\n\ny\n--A--\n", "File1.tmp"},
    {"0x1A in the header drops the last field", "Content-Type: a/b; name=a.exe\x1a\n\n", "File0.tmp"},
    {"empty boundary makes -- the delimiter",
     "Content-Type: multipart/mixed; boundary=\"\"\n\n--\n\nx\n----\n", "File1.tmp"},
    {"a leaf with a boundary parameter ends at it",
     mixedA + "--A\nContent-Type: text/plain; boundary=Q\n\n--A\n--Q\n\ny\n--A--\n", "File1.tmp|File2.tmp"},
    {"continuation line carries the name", "Content-Type: application/octet-stream;\n\tname=\"b.exe\"\n\nx\n",
     "b.exe"},
    {"blank before the colon is not the field", "Content-Type : a/b; name=a.exe\n\n", "File0.tmp"},
    {"names in the order the parts end",
     mixedA + "--A\nContent-Disposition: attachment; filename=one.exe\n\n--A\n"
              "Content-Type: a/b; name=two.exe\nContent-Disposition: inline; filename=three.exe\n\n--A--\n",
     "one.exe|three.exe"},
    {"embedded message numbered afresh, names before its own",
     mixedA + "--A\nContent-Type: message/rfc822; name=m.eml\n\nSubject: inner\n\nbody\n--A--\n",
     "File0.tmp|m.eml"},
    {"embedded message at the end of the file is not scanned",
     mixedA + "--A\nContent-Type: message/rfc822; name=m.eml\n\nContent-Type: a/b; name=in.exe\n\n", "m.eml"},
    {"embedded multipart keeps its boundaries to itself",
     mixedA + "--A\nContent-Type: message/rfc822\n\nContent-Type: multipart/mixed; boundary=B\n\n"
              "--B\n\nin\n--B--\n--A\n\nout\n--A--\n",
     "File1.tmp|File1.tmp|File2.tmp"},
};

TEST(MimeWalker, Names) {
  for (const WalkCase& c : walkCases) EXPECT_EQ(c.names, namesOf(c.message)) << c.what;
}

// Lines longer than the buffer arrive in pieces of 9999 characters.
TEST(MimeWalker, LongLinesArriveInPieces) {
  struct LongCase {
    std::size_t length;
    const char* names;
  };
  // A header line of n bytes, then a part that only counts if the header
  // ended at the empty line; a multiple of 9999 leaves an empty last piece
  // that ends the header block early.
  const LongCase cases[] = {{9998, "a.exe"}, {9999, "File0.tmp"}, {10000, "a.exe"}, {19998, "File0.tmp"}};
  for (const LongCase& c : cases) {
    const std::string message =
        "X-Long: " + std::string(c.length - 8, 'h') + "\nContent-Type: a/b; name=a.exe\n\nbody\n";
    EXPECT_EQ(c.names, namesOf(message)) << c.length;
  }
  // A delimiter at the start of a long line is no delimiter.
  EXPECT_EQ("File1.tmp", namesOf(mixedA + "--A\n\n--A" + std::string(10000, ' ') + "\n--A--\n"));
}

// A failing position query reads as 0xFFFFFFFF: nothing is below it.
TEST(MimeWalker, FailingPositionsEndTheReading) {
  MemoryLineSource file("XXXXContent-Type: a/b; name=a.exe\n\nbody\n");
  file.failPositionQueries();
  StringSink output;
  Console console(output);
  AttachmentNames names;
  auto context = std::make_unique<ScanContext>(file, console, names);
  scanMessage(*context, messageStartOffset, wholeFileEndOffset);
  ASSERT_EQ(1u, names.count());
  EXPECT_STREQ("File0.tmp", names.back().cStr());
}

// Near the 4 GiB edge the last line that ends below 0xFFFFFFFE is the last
// one used; positions never wrap around to small numbers.
TEST(MimeWalker, PositionsNearTheLimit) {
  struct EdgeCase {
    std::uint64_t base;
    const char* names;
  };
  const std::string message = "Content-Type: a/b; name=a.exe\n\n";  // 31 bytes
  const EdgeCase cases[] = {
      {0xFFFFFFFEull - 31 - 1, "a.exe"},  // ends at 0xFFFFFFFD: used
      {0xFFFFFFFEull - 31, "File0.tmp"},  // ends at 0xFFFFFFFE: not below the limit
      {0xFFFFFFFFull - 31, "File0.tmp"},  // ends at 0xFFFFFFFF: a failed query
      {0x100000000ull - 4, "File0.tmp"},  // would wrap to 27
  };
  for (const EdgeCase& c : cases) {
    MemoryLineSource file(message, c.base);
    StringSink output;
    Console console(output);
    AttachmentNames names;
    auto context = std::make_unique<ScanContext>(file, console, names);
    scanMessage(*context, static_cast<std::uint32_t>(c.base), wholeFileEndOffset);
    ASSERT_EQ(1u, names.count()) << c.base;
    EXPECT_STREQ(c.names, names.back().cStr()) << c.base;
  }
}

}  // namespace
}  // namespace zentry
