#pragma once

#include <string>
#include <vector>

namespace zentry::host {

/// Where each attachment name came from, in the order of `names`, inferred
/// from the scanner's trace lines and the message text: "part 2
/// (application/octet-stream)", "part 1 (text/plain), no name given",
/// "uuencoded file in part 1 (text/plain)", with "message in part 3, " before the
/// parts of an embedded message. An empty text where the trace does not tell.
///
/// The inference follows the scanner's walk: every non-multipart entity
/// records exactly one name when it ends, an embedded message/rfc822 entity
/// only after the names of the message inside it, and uuencoded files are
/// recorded while the body of their entity is read, before the entity's own
/// name.
std::vector<std::string> inferNameOrigins(const std::vector<std::string>& scannerLines,
                                          const std::vector<std::string>& names, const std::string& message);

}  // namespace zentry::host
