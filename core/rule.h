#pragma once

#include "core/string.h"
#include "core/value_list.h"

namespace zentry {

/// One rule of the rule file. Copies and destroys its Strings in field order
/// (and reverse), which the loader relies on when it reuses one working Rule.
struct Rule {
  String fileMask;     ///< third line: mask for attachment names; empty = no file condition
  String label;        ///< first line: shown in the verdict
  String subjectMask;  ///< second line: mask for the subject; empty = no subject condition
};

using RuleList = ValueList<Rule>;
using AttachmentNames = ValueList<String>;
using BoundaryStack = ValueList<String>;

}  // namespace zentry
