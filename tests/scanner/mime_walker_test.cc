// The walker where only memory can put it: position queries that fail, and
// messages placed at the 4 GiB edge. Its walks of whole messages are the
// end-to-end cases in tests/testdata/e2e/walker/.
#include "scanner/mime_walker.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/memory_line_source.h"
#include "scanner/message_file.h"

namespace zentry {
namespace {

// The one name a walk from `start` finds.
std::string onlyName(MemoryLineSource& file, std::uint32_t start) {
  StringSink output;
  Console console(output);
  AttachmentNames names;
  auto context = std::make_unique<ScanContext>(file, console, names);
  scanMessage(*context, start, wholeFileEndOffset);
  return names.count() == 1 ? names.back().cStr() : "(" + std::to_string(names.count()) + " names)";
}

// A failing position query reads as 0xFFFFFFFF: nothing is below it.
TEST(MimeWalker, FailingPositionsEndTheReading) {
  MemoryLineSource file("XXXXContent-Type: a/b; name=a.exe\n\nbody\n");
  file.failPositionQueries();
  EXPECT_EQ("File0.tmp", onlyName(file, messageStartOffset));
}

// Near the 4 GiB edge the last line that ends below 0xFFFFFFFE is the last
// one used; positions never wrap around to small numbers.
TEST(MimeWalker, PositionsNearTheLimit) {
  const std::string message = "Content-Type: a/b; name=a.exe\n\n";  // 31 bytes
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0xFFFFFFFEull - 31 - 1, "a.exe"},  // ends at 0xFFFFFFFD: used
      {0xFFFFFFFEull - 31, "File0.tmp"},  // ends at 0xFFFFFFFE: not below the limit
      {0xFFFFFFFFull - 31, "File0.tmp"},  // ends at 0xFFFFFFFF: a failed query
      {0x100000000ull - 4, "File0.tmp"},  // would wrap to 27
  };
  for (const auto& [base, name] : cases) {
    MemoryLineSource file(message, base);
    EXPECT_EQ(name, onlyName(file, static_cast<std::uint32_t>(base))) << base;
  }
}

}  // namespace
}  // namespace zentry
