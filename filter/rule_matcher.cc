#include "filter/rule_matcher.h"

namespace zentry {

Hit findHit(const RuleList& rules, const AttachmentNames& names, const String& subjectText) {
  for (const Rule& rule : rules) {
    if (rule.subjectMask.length() != 0 && subjectText.wildcardMismatch(rule.subjectMask) != 0) continue;
    if (rule.fileMask.length() == 0) return Hit{&rule, nullptr};
    for (const String& name : names) {
      if (name.wildcardMismatch(rule.fileMask) == 0) return Hit{&rule, &name};
    }
  }
  return Hit{};
}

}  // namespace zentry
