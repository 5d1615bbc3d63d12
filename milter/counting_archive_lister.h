#pragma once

#include <memory>

#include "core/rule.h"
#include "scanner/archive_lister.h"

namespace zentry::milter {

class MilterMetrics;

/// Strict mode's archive lister with its runs counted: a message's lister
/// process is one start, begun with its first archive; each archive it
/// answers for in full is one listed; a session whose lister failed (could
/// not start, killed, out of time, answer garbled) is one failure, however
/// many archives it leaves unlisted after that. Holds no state of its own
/// beyond the metrics' atomics, so threads share it as they share `inner`.
class CountingArchiveLister : public ArchiveLister {
 public:
  CountingArchiveLister(ArchiveLister& inner, MilterMetrics& metrics) : inner_(inner), metrics_(metrics) {}

  std::unique_ptr<ListingSession> startSession() override;

 private:
  ArchiveLister& inner_;
  MilterMetrics& metrics_;
};

/// How many names in `names` mark an archive that could not be listed to the
/// end (outer archives and archives inside them alike).
std::size_t incompleteArchiveCount(const AttachmentNames& names);

}  // namespace zentry::milter
