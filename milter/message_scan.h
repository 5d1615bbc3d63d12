#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zentry::milter {

/// What the filter answered for one message, and what the milter reports of it.
struct ScanVerdict {
  bool hit = false;
  std::string interceptMailbox;  ///< the verdict's To line, without "To: "
  std::string subject;           ///< the verdict's Subject line, without "Subject: "
  std::string ruleLabel;         ///< the rule that hit
  std::string name;              ///< the attachment name that hit; empty when the subject alone did
  /// Strict mode: how many archives the names mark incomplete-archive.
  std::size_t incompleteArchives = 0;
  /// Why the filter gave no verdict (a fault of the installation, such as an
  /// archive lister that cannot be started); empty when it gave one.
  std::string temporaryFailure;
};

/// Runs the filter in process, exactly as the server runs `zentry`: the
/// stored message as "routing.dat" (`routingBytes`: four prefix bytes, then
/// the message), `rules` as "zentry.dat", `subject` in the "subject" variable
/// (none: the variable is absent), arguments the mailbox and, when `strict`,
/// "strict". The verdict is read from the filter's own output, so it is the
/// program's byte for byte; the rule and name are those the filter matched.
/// Safe to call on several threads at once.
ScanVerdict scanHeldMessage(std::string_view routingBytes, std::string_view rules,
                            const std::optional<std::string>& subject, const std::string& mailbox,
                            bool strict);

}  // namespace zentry::milter
