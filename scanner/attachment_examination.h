#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "scanner/archive_limits.h"
#include "scanner/content_kind.h"

namespace zentry {

// Strict mode looks inside the decoded bytes of every attachment: it lists the
// members of archives (archives inside archives too) and recognises
// executables and other risky kinds by their first bytes, whatever the name.
// Everything it finds reaches the rules as one more attachment name.
//
// Names it adds use '|' as a marker, a byte no Windows file name can hold, so
// no real name is mistaken for one:
//   "<name>|content.<ext>"      the content is of the kind whose usual
//                               extension is <ext> and the name disagrees
//                               ("photo.jpg|content.exe" is caught by *.exe);
//   "<name>|incomplete-archive" the archive could not be listed completely
//                               (damaged, encrypted headers, a bound reached);
//   "<name>|incomplete-message" a mail message that is not read whole: an
//                               embedded message or multipart nested past a
//                               depth bound, or a message inside an archive
//                               that is too deep, too large or cut short.
// A member is recorded by its base name, so a mask written for a file name
// catches it at any depth; the route to it is shown in the trace.

/// Bounds on what one message may cost strict mode, shared by all its
/// attachments (a message-wide budget, not one per attachment). A default
/// one holds the whole allowance of a message.
struct ExaminationBudget {
  std::uint64_t decompressedBytesLeft =
      maxDecompressedBytesPerMessage;                ///< bytes decompressed to look inside members
  std::uint32_t membersLeft = maxMembersPerMessage;  ///< archive members listed
};

/// The marker of a message part whose nested parts are not read.
constexpr const char* incompleteMessageMarker = "|incomplete-message";

class ListingSession;

/// What examining one message's attachments shares: the message's budget,
/// and the one lister its archives all go to, started at the first.
struct MessageExamination {
  MessageExamination();
  explicit MessageExamination(const ExaminationBudget& startBudget);
  ~MessageExamination();
  MessageExamination(const MessageExamination&) = delete;
  MessageExamination& operator=(const MessageExamination&) = delete;

  ExaminationBudget budget;
  std::unique_ptr<ListingSession> listing;
  /// Why the lister could not be started (missing, not executable, exec
  /// failed): a fault of the installation, not of the message. Empty while
  /// it could.
  std::string installationFault;
};

/// Receives what examination finds, in order.
class ExaminationSink {
 public:
  virtual ~ExaminationSink() = default;
  /// A name to record for the rules, and the route that led to it for the
  /// trace ("invoice.zip > inner.zip > docs/invoice.exe").
  virtual void foundName(const std::string& name, const std::string& route) = 0;
};

/// Examines one attachment: `name` as it was recorded, `data` its decoded
/// bytes (possibly only the first part of them when `truncated`). Never
/// fails: damage, encryption and exhausted budgets end in a marker name.
/// An archive is listed by the program's archive lister (archive_lister.h);
/// everything else is classified here.
void examineAttachment(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
                       MessageExamination& examination, ExaminationSink& sink);

/// Reports what the content of a file (attachment or member) adds: the
/// "|content.<ext>" name when its kind disagrees with its name.
void reportContentKind(const std::string& name, const std::string& route, ContentKind kind,
                       ExaminationSink& sink);

}  // namespace zentry
