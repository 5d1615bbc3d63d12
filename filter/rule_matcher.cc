#include "filter/rule_matcher.h"

#include "filter/wildcard.h"

namespace zentry {

namespace {

bool subjectHits(const Rule& rule, const String& subjectText, const String* otherSubjectText) {
  if (rule.subjectMask.length() == 0) return true;
  if (subjectText.wildcardMismatch(rule.subjectMask) == 0) return true;
  return otherSubjectText != nullptr && otherSubjectText->wildcardMismatch(rule.subjectMask) == 0;
}

}  // namespace

Hit findHit(const RuleList& rules, const AttachmentNames& names, const String& subjectText,
            const String* otherSubjectText) {
  for (const Rule& rule : rules) {
    if (!subjectHits(rule, subjectText, otherSubjectText)) continue;
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
