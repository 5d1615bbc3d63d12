#include "milter/counting_archive_lister.h"

#include <cstring>

#include "milter/metrics_registry.h"

namespace zentry::milter {

bool CountingArchiveLister::list(const std::string& name, const unsigned char* data, std::size_t size,
                                 bool truncated, ExaminationBudget& budget, ExaminationSink& sink) {
  metrics_.listerStarted();
  const bool listed = inner_.list(name, data, size, truncated, budget, sink);
  metrics_.listerEnded(listed);
  return listed;
}

std::size_t incompleteArchiveCount(const AttachmentNames& names) {
  // The marker rules match (see the rules documentation): NAME|incomplete-archive.
  static const char marker[] = "|incomplete-archive";
  const std::size_t markerLength = std::strlen(marker);
  std::size_t count = 0;
  for (const String& name : names) {
    const std::size_t length = name.length();
    if (length >= markerLength && std::memcmp(name.cStr() + length - markerLength, marker, markerLength) == 0)
      ++count;
  }
  return count;
}

}  // namespace zentry::milter
