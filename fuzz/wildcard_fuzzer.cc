// The wildcard matcher against the plain step-by-step reference: the input is
// the mask, a NUL, then the text. Any disagreement is a crash.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/string.h"
#include "filter/wildcard.h"
#include "fuzz_check.h"
#include "support/wildcard_oracle.h"

namespace {

using zentry::fuzz::require;
using zentry::fuzz::visible;

// The reference recurses at every candidate after every star run, so its
// work grows like (text length) ^ (star runs). Inputs beyond this budget
// would only slow the fuzzer down on the reference's account.
constexpr std::uint64_t referenceBudget = 1u << 22;

bool withinBudget(std::string_view mask, std::size_t textLength) {
  std::uint64_t work = 1;
  for (std::size_t m = 0; m < mask.size(); ++m) {
    const bool runStart = mask[m] == '*' && (m == 0 || mask[m - 1] != '*');
    if (!runStart) continue;
    work *= textLength + 1;
    if (work > referenceBudget) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8 * 1024) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = bytes.find('\0');
  const std::string mask = bytes.substr(0, split);
  // Neither side can hold a NUL, so the text ends at the next one.
  std::string text = split == std::string::npos ? std::string() : bytes.substr(split + 1);
  text.resize(std::min(text.size(), text.find('\0')));
  if (!withinBudget(mask, text.size())) return 0;

  const zentry::String maskString(mask.c_str());
  const zentry::String textString(text.c_str());
  const int fast = textString.wildcardMismatch(maskString);
  const int reference = zentry::test::wildcardMismatchOracle(text, mask);
  require(fast == reference, "the matcher agrees with the reference", [&] {
    return "mask " + visible(mask) + "\ntext " + visible(text) + "\nfast " + std::to_string(fast);
  });
  // The rule matcher prepares a mask once and tests every name against it.
  const zentry::PreparedMask prepared(maskString);
  const int viaPrepared = prepared.mismatch(textString);
  require(viaPrepared == reference, "the prepared mask agrees with the reference", [&] {
    return "mask " + visible(mask) + "\ntext " + visible(text) + "\nprepared " + std::to_string(viaPrepared);
  });
  return 0;
}
