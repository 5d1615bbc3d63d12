// The archive lister's work (archive listing and content kinds) over any
// bytes. The input is an attachment name, a newline, then the attachment's
// decoded bytes; a name starting with '!' stands for a body cut short. The
// promises: no crash, every name found is non-empty and bounded, crosses the
// lister's answer format unchanged, and the message's budget is never
// overdrawn.
// The seed corpus is the examination test table, one file per row:
//   ZENTRY_WRITE_EXAMINATION_SEEDS=fuzz/corpus/examination_fuzzer
//     build/dev/tests/zentry_tests --gtest_filter=ExamineAttachment.Table
// (one command line).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/attachment_listing.h"
#include "fuzz_check.h"
#include "scanner/archive_limits.h"
#include "scanner/archive_lister.h"

namespace {

using zentry::fuzz::require;

class LastName : public zentry::ExaminationSink {
 public:
  void foundName(const std::string& name, const std::string& route) override {
    lastName = name;
    lastRoute = route;
  }
  std::string lastName;
  std::string lastRoute;
};

class CheckingSink : public zentry::ExaminationSink {
 public:
  explicit CheckingSink(std::size_t attachmentNameSize)
      : longest_(attachmentNameSize + 32), nameless_(attachmentNameSize == 0) {
    if (longest_ < zentry::maxMemberNameBytes + 32) longest_ = zentry::maxMemberNameBytes + 32;
  }
  // Member names may hold '|' themselves (a Unix tar can), so only the
  // length is checked: a name plus the longest marker.
  void foundName(const std::string& name, const std::string& route) override {
    ++count;
    require(!name.empty(), "a found name is never empty", route);
    require(!route.empty() || nameless_, "every name has a route", name);
    require(name.size() <= longest_, "names are bounded", route);
    LastName parsed;
    zentry::ListerReplyReader reader(parsed);
    const std::string line = zentry::listerFoundLine(name, route);
    require(reader.take(line.data(), line.size()), "an answer line reads back", route);
    require(parsed.lastName == name && parsed.lastRoute == route, "names cross the answer unchanged", route);
  }
  std::size_t count = 0;

 private:
  std::size_t longest_;
  bool nameless_;  // the route starts with the attachment's name, which may be empty
};

}  // namespace

// The lister runs under a 1 GiB address-space limit, so a header claiming a
// huge name or block (a cpio header can claim 4 GiB) makes libarchive's
// allocation fail and the attachment gets the incomplete-archive marker.
// In process there is no such limit: let the allocator refuse the same
// requests instead of stopping the run as out of memory.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1024 * 1024) return 0;  // larger archives add time, not paths
  const void* newline = std::memchr(data, '\n', size < 256 ? size : 256);
  std::string name = "attachment";
  std::size_t start = 0;
  if (newline != nullptr) {
    start = static_cast<std::size_t>(static_cast<const std::uint8_t*>(newline) - data) + 1;
    name.assign(reinterpret_cast<const char*>(data), start - 1);
  }
  const bool truncated = !name.empty() && name[0] == '!';
  // An exact-size copy, so a read past the end trips AddressSanitizer.
  std::vector<unsigned char> body(data + start, data + size);
  zentry::ExaminationBudget budget;
  // A sixteenth of the real allowance: mutated streams often inflate to the
  // limit, and 64 MiB per input would leave the fuzzer a few runs a second.
  budget.decompressedBytesLeft /= 16;
  CheckingSink sink(name.size());
  zentry::listAttachment(name, body.data(), body.size(), truncated, budget, sink);
  require(budget.decompressedBytesLeft <= zentry::maxDecompressedBytesPerMessage,
          "decompression budget kept");
  require(budget.membersLeft <= zentry::maxMembersPerMessage, "member budget kept");
  // A member adds at most itself, a content name and a marker; so does each
  // archive (a compressed stream's file name, its marker, its content name),
  // and there is at most one archive more than there are members.
  const std::size_t members = zentry::maxMembersPerMessage - budget.membersLeft;
  require(sink.count <= 6u * members + 3u, "names bounded by members");
  return 0;
}
