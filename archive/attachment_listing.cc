#include "archive/attachment_listing.h"

#include <algorithm>
#include <new>

#include "archive/archive_listing.h"
#include "scanner/content_kind.h"

namespace zentry {

void listAttachment(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
                    ExaminationBudget& budget, ExaminationSink& sink, int depth) {
  // libarchive's memory and ours come from the standard allocator (bounded
  // by the lister's address-space limit); running out of it ends the
  // listing with the marker instead of the run.
  try {
    std::size_t window = std::min(size, contentSniffBytes);
    window = std::min(size, bytesToClassify(data, window));
    ContentKind kind = classifyContent(data, window);
    const ArchiveOrigin origin{name, name, depth};
    if (isArchiveKind(kind)) {
      kind = listArchive(origin, data, size, truncated, kind, budget, sink);
      reportContentKind(name, name, kind, sink);
      return;
    }
    reportContentKind(name, name, kind, sink);
    // A program or picture with an archive where its readers look for one:
    // listed too, and the archive's kind named when the name disagrees.
    ContentKind carried = carriedKind(data, size);
    if (isArchiveKind(carried)) carried = listArchive(origin, data, size, truncated, carried, budget, sink);
    if (carried != kind) reportContentKind(name, name, carried, sink);
  } catch (const std::bad_alloc&) {
    try {
      sink.foundName(name + "|incomplete-archive", name);
    } catch (const std::bad_alloc&) {
      // Nothing more can be recorded; the names found so far stand.
    }
  }
}

}  // namespace zentry
