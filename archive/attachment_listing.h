#pragma once

#include <cstddef>
#include <string>

#include "scanner/attachment_examination.h"

namespace zentry {

/// What the archive lister does with one attachment, in this process: the
/// first bytes give its kind, an archive is listed with everything nested
/// in it, and a kind that disagrees with the name adds its content name.
/// Same contract as examineAttachment, which hands archives to a lister
/// process that runs this. Never fails. `depth` is the attachment's level
/// of nesting: 1, or deeper for one inside a mail message that an archive
/// carries.
void listAttachment(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
                    ExaminationBudget& budget, ExaminationSink& sink, int depth = 1);

}  // namespace zentry
