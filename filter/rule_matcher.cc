#include "filter/rule_matcher.h"

#include "filter/wildcard.h"

namespace zentry {

Hit findHit(const RuleList& rules, const AttachmentNames& names, const String& subjectText) {
  for (const Rule& rule : rules) {
    if (rule.subjectMask.length() != 0 && subjectText.wildcardMismatch(rule.subjectMask) != 0) continue;
    if (rule.fileMask.length() == 0) return Hit{&rule, nullptr};
    // Each rule is reached once per run: its file mask is classified here,
    // once, rather than once for every name it is tested against.
    const PreparedMask fileMask(rule.fileMask);
    for (const String& name : names) {
      if (fileMask.mismatch(name) == 0) return Hit{&rule, &name};
    }
  }
  return Hit{};
}

}  // namespace zentry
