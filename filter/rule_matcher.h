#pragma once

#include "core/rule.h"

namespace zentry {

struct Hit {
  const Rule* rule = nullptr;    ///< null: no rule hits
  const String* name = nullptr;  ///< the name that matched; null for an empty fileMask
};

/// The first rule, in list order, whose subject mask (when not empty) matches
/// the subject and whose file mask (when not empty) matches a name. A second
/// reading of the subject, when given, counts as well: strict mode decodes the
/// subject another way, and must only ever add hits to what exact mode finds.
Hit findHit(const RuleList& rules, const AttachmentNames& names, const String& subjectText,
            const String* otherSubjectText = nullptr);

}  // namespace zentry
