// The rule loader over any rule file. The promises: it finishes; no field
// holds an LF or more than one read's worth of bytes; loading again replaces
// the rules instead of adding to them; and the file with CR LF line ends
// gives the same rules as with LF alone.
#include <cstdint>
#include <string>
#include <vector>

#include "core/rule.h"
#include "filter/rule_file.h"
#include "fuzz_check.h"
#include "support/memory_workspace.h"

namespace {

using zentry::fuzz::require;
using zentry::fuzz::visible;

// One read of the loader's 1000-byte line buffer.
constexpr std::uint32_t longestField = 999;

std::vector<std::string> load(const std::string& file) {
  zentry::test::MemoryWorkspace workspace;
  workspace.write("zentry.dat", file);
  zentry::RuleList rules;
  zentry::loadRules(workspace, rules);
  const std::uint32_t firstCount = rules.count();
  zentry::loadRules(workspace, rules);
  require(rules.count() == firstCount, "loading again replaces the rules", [&] { return visible(file); });
  std::vector<std::string> fields;
  for (const zentry::Rule& rule : rules) {
    for (const zentry::String* field : {&rule.label, &rule.subjectMask, &rule.fileMask}) {
      const std::string text(field->cStr(), field->length());
      require(field->length() <= longestField && text.find('\n') == std::string::npos,
              "a field is at most one read and holds no LF", [&] { return visible(text); });
      fields.push_back(text);
    }
  }
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A few lines past the 999-byte read are all the loader has to offer.
  if (size > 16 * 1024) return 0;
  const std::string file(reinterpret_cast<const char*>(data), size);
  load(file);

  // Without any CR the two spellings of a line end are comparable.
  std::string lfOnly;
  std::string crlf;
  for (const char byte : file) {
    if (byte == '\r') continue;
    lfOnly.push_back(byte);
    if (byte == '\n') crlf.push_back('\r');
    crlf.push_back(byte);
  }
  require(load(lfOnly) == load(crlf), "CR LF line ends give the same rules", [&] { return visible(lfOnly); });
  return 0;
}
