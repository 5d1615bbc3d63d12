#include "archive/carried_message_listing.h"

#include <memory>
#include <string>

#include "archive/attachment_listing.h"
#include "scanner/archive_limits.h"
#include "scanner/archive_lister.h"
#include "scanner/carried_message.h"

namespace zentry {
namespace {

// The carried message's archives are listed right here, in the lister, one
// level below the message, with the budget of the whole message they came in.
class NestedListing : public ListingSession {
 public:
  explicit NestedListing(int depth) : depth_(depth) {}

  ListingResult list(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
                     ExaminationBudget& budget, ExaminationSink& sink) override {
    const std::string shortName =
        name.size() <= maxMemberNameBytes ? name : name.substr(name.size() - maxMemberNameBytes);
    if (depth_ > maxArchiveDepth) {
      sink.foundName(shortName + "|incomplete-archive", shortName);
      return ListingResult::Listed;
    }
    listAttachment(shortName, data, size, truncated, budget, sink, depth_);
    return ListingResult::Listed;
  }
  std::string fault() const override { return std::string(); }

 private:
  int depth_;
};

}  // namespace

void listCarriedMessage(const ArchiveOrigin& origin, const unsigned char* data, std::size_t size,
                        bool truncated, ExaminationBudget& budget, ExaminationSink& sink) {
  const std::string marker = origin.name + incompleteMessageMarker;
  if (origin.depth > maxArchiveDepth) {
    sink.foundName(marker, origin.route);
    return;
  }
  MessageExamination examination(budget);
  examination.listing = std::make_unique<NestedListing>(origin.depth + 1);
  const bool complete = scanCarriedMessage(data, size, origin.route, examination, sink);
  budget = examination.budget;
  if (truncated || !complete) sink.foundName(marker, origin.route);
}

}  // namespace zentry
