#pragma once

#include <string>
#include <vector>

namespace zentry::milter {

/// How to delete one recipient so that the server really drops it. Postfix
/// drops a recipient only when the address handed to it matches, after its
/// own parsing, the address exactly as it first received it: over SMTP that
/// is the RCPT argument without a source route; from local submission
/// (sendmail(1), pickup) it is the address as submitted, while the milter is
/// shown that address already rewritten (`alice` arrives as `alice@origin`).
struct RecipientDeletion {
  std::vector<std::string> forms;  ///< each one to delete; deleting one the server lacks does nothing
  bool certain = false;            ///< one of `forms` is the received address for sure
};

/// The forms for a recipient as the milter was given it. An address in angle
/// brackets is an SMTP RCPT argument as sent (the server's local-submission
/// path never adds brackets): it and its form without source route are
/// certain. An address without brackets may be a rewritten local submission:
/// its local part alone is tried as well, and the deletion is not certain
/// (a canonical map may have changed it beyond recognition).
RecipientDeletion deletionFormsOf(const std::string& given);

}  // namespace zentry::milter
