#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/filter_process.h"
#include "host/message_text.h"
#include "host/work_dir.h"

namespace zentry::host {

/// One message through the filter in `dir`, which already holds zentry.dat:
/// stores the message as routing.dat, clears the previous run's log, passes
/// the subject and runs the filter with `arguments` (mailbox and switches).
/// A file that cannot be written gives Status::notStarted with the reason.
FilterResult runMessage(const WorkDir& dir, const std::string& filterPath, const std::string& message,
                        const std::optional<std::string>& subject, const std::vector<std::string>& arguments,
                        int slot);

/// The same for a message already stored as routing.dat in `dir`.
FilterResult runStoredMessage(const WorkDir& dir, const std::string& filterPath,
                              const std::optional<std::string>& subject,
                              const std::vector<std::string>& arguments, int slot);

/// Says on standard error how the Subject field was cut, if it was.
void reportSubjectCuts(const SubjectField& subject, const std::string& where);

/// Appends `bytes` to the file at `path`; false with the reason in *error.
[[nodiscard]] bool appendToFile(const std::string& path, const std::string& bytes, std::string* error);

}  // namespace zentry::host
