#include "milter/counting_archive_lister.h"

#include <cstring>
#include <utility>

#include "milter/metrics_registry.h"

namespace zentry::milter {

namespace {

class CountingSession : public ListingSession {
 public:
  CountingSession(std::unique_ptr<ListingSession> inner, MilterMetrics& metrics)
      : inner_(std::move(inner)), metrics_(metrics) {}

  ListingResult list(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
                     ExaminationBudget& budget, ExaminationSink& sink) override {
    if (!started_) metrics_.listerStarted();
    started_ = true;
    const ListingResult result = inner_->list(name, data, size, truncated, budget, sink);
    if (result == ListingResult::Listed) {
      metrics_.listerEnded(true);
    } else if (!failed_) {
      failed_ = true;
      metrics_.listerEnded(false);
    }
    return result;
  }
  std::string fault() const override { return inner_->fault(); }

 private:
  std::unique_ptr<ListingSession> inner_;
  MilterMetrics& metrics_;
  bool started_ = false;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<ListingSession> CountingArchiveLister::startSession() {
  return std::make_unique<CountingSession>(inner_.startSession(), metrics_);
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
