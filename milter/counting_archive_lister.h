#pragma once

#include "core/rule.h"
#include "scanner/archive_lister.h"

namespace zentry::milter {

class MilterMetrics;

/// Strict mode's archive lister with its runs counted: every archive handed
/// to `inner` is a lister start; its answer is either a listing to the end or
/// a failure (lister missing, killed, out of time, answer garbled). Holds no
/// state of its own beyond the metrics' atomics, so threads share it as they
/// share `inner`.
class CountingArchiveLister : public ArchiveLister {
 public:
  CountingArchiveLister(ArchiveLister& inner, MilterMetrics& metrics) : inner_(inner), metrics_(metrics) {}

  bool list(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
            ExaminationBudget& budget, ExaminationSink& sink) override;

 private:
  ArchiveLister& inner_;
  MilterMetrics& metrics_;
};

/// How many names in `names` mark an archive that could not be listed to the
/// end (outer archives and archives inside them alike).
std::size_t incompleteArchiveCount(const AttachmentNames& names);

}  // namespace zentry::milter
