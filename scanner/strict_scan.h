#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/string.h"
#include "scanner/attachment_examination.h"
#include "scanner/body_capture.h"
#include "scanner/mime_parameters.h"

namespace zentry {

struct ScanContext;

/// What a run's scan keeps only in strict mode. A leaf's body and a uuencode
/// block inside it are gathered at the same time, so each has its own
/// capture; an embedded message is scanned as a message, not gathered, so
/// one leaf capture serves every level.
struct StrictScan {
  BodyCapture leafBody;
  BodyCapture uuencodedBody;
  ExaminationBudget budget;  ///< the whole message's allowance, all attachments together
  ShownNames testedNames;    ///< a part's names as they are tested, reused from part to part
  /// Name lists of parts that are done, lent to the next parts (one per
  /// part being read at once) so that a part costs no allocation for them.
  std::vector<ShownNames> spareShownNames;
};

/// A name as strict mode tests it: Windows drops trailing dots and spaces
/// when it opens a file, so "invoice.exe. " is "invoice.exe". A name of only
/// dots and spaces stays as it is.
std::string withoutTrailingDotsAndSpaces(const std::string& name);
/// How many of a name's `size` bytes withoutTrailingDotsAndSpaces keeps.
std::size_t trimmedLength(const char* name, std::size_t size);

/// Strict mode's recording of one name that is already decoded: trimmed as
/// above and appended to the collected names.
void recordDecodedName(ScanContext& context, const std::string& name);

/// Strict mode's recording of a name as exact mode reads it (a uuencoded
/// file's): its encoded words decoded both as strict mode decodes them and
/// as exact mode does, each distinct result trimmed and recorded. Returns
/// the first name recorded.
std::string recordNameInStrictMode(ScanContext& context, const String& raw);

/// Records every distinct name a part shows: `shown` (from its parameters),
/// then `exactName` (what exact mode reads) decoded both ways when that is
/// another one. A generated name counts only when the part shows none.
/// Then hands the part's body, when there is one, to attachment examination
/// under the first name recorded. `shown` may be added to: it is the part's
/// own list, done with once the part is.
void recordPartInStrictMode(ScanContext& context, ShownNames& shown, const String& exactName,
                            bool exactNameGenerated, const BodyCapture* body);

/// Hands a captured body to attachment examination; what it finds is
/// recorded, and its route traced.
void examineBody(ScanContext& context, const std::string& name, const BodyCapture& body);

}  // namespace zentry
