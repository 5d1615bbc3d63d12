#include "scanner/attachment_examination.h"

#include <algorithm>
#include <new>

#include "scanner/archive_lister.h"
#include "scanner/content_kind.h"

namespace zentry {
namespace {

const char* const incompleteMarker = "|incomplete-archive";

// Passes names on and notes whether the lister already gave the marker.
class MarkerWatch : public ExaminationSink {
 public:
  MarkerWatch(ExaminationSink& sink, const std::string& marker) : sink_(sink), marker_(marker) {}
  void foundName(const std::string& name, const std::string& route) override {
    if (name == marker_) sawMarker = true;
    sink_.foundName(name, route);
  }
  bool sawMarker = false;

 private:
  ExaminationSink& sink_;
  const std::string& marker_;
};

// Hands an archive to the message's lister. When a listing fails the
// attachment gets the marker, and the rest of the message's budget is spent:
// the lister is not started again for the same message, so one message
// costs at most one lister's limits.
void listArchiveAttachment(const std::string& name, const unsigned char* data, std::size_t size,
                           bool truncated, MessageExamination& examination, ExaminationSink& sink) {
  const std::string marker = name + incompleteMarker;
  ExaminationBudget& budget = examination.budget;
  if (examination.listing == nullptr && archiveLister() != nullptr)
    examination.listing = archiveLister()->startSession();
  if (examination.listing == nullptr || budget.membersLeft == 0 || budget.decompressedBytesLeft == 0) {
    sink.foundName(marker, name);
    return;
  }
  MarkerWatch watch(sink, marker);
  const ListingResult result = examination.listing->list(name, data, size, truncated, budget, watch);
  if (result == ListingResult::Listed) return;
  if (!watch.sawMarker) sink.foundName(marker, name);
  budget.membersLeft = 0;
  budget.decompressedBytesLeft = 0;
  if (result == ListingResult::CannotStart) examination.installationFault = examination.listing->fault();
}

}  // namespace

MessageExamination::MessageExamination() = default;
MessageExamination::MessageExamination(const ExaminationBudget& startBudget) : budget(startBudget) {}
MessageExamination::~MessageExamination() = default;

void examineAttachment(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
                       MessageExamination& examination, ExaminationSink& sink) {
  try {
    // Only the first bytes decide the kind, as for an archive member.
    std::size_t window = std::min(size, contentSniffBytes);
    window = std::min(size, bytesToClassify(data, window));
    const ContentKind kind = classifyContent(data, window);
    const ContentKind carried = isArchiveKind(kind) ? ContentKind::None : carriedKind(data, size);
    if (isArchiveKind(kind) || isArchiveKind(carried)) {
      // The lister also reports the kinds: only listing tells a Java archive from a zip.
      listArchiveAttachment(name, data, size, truncated, examination, sink);
      return;
    }
    reportContentKind(name, name, kind, sink);
    if (carried != kind) reportContentKind(name, name, carried, sink);
  } catch (const std::bad_alloc&) {
    try {
      sink.foundName(name + incompleteMarker, name);
    } catch (const std::bad_alloc&) {
      // Nothing more can be recorded; the names found so far stand.
    }
  }
}

void reportContentKind(const std::string& name, const std::string& route, ContentKind kind,
                       ExaminationSink& sink) {
  if (kind == ContentKind::None || nameAgreesWithKind(name, kind)) return;
  sink.foundName(name + "|content." + usualExtension(kind), route);
}

}  // namespace zentry
