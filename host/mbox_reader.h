#pragma once

#include <memory>
#include <string>

#include "host/mailbox_reader.h"

namespace zentry::host {

/// Reads an mbox file from `fd` (owned from here on): each message starts
/// with a "From " envelope line at the start of the file or after an empty
/// line, and an envelope line after the first carries a time of day; the
/// empty line before the next envelope belongs to the mbox, not to the
/// message, and ">From " lines lose one '>'. An envelope line alone is an
/// empty message, reported as skipped. Null, with the reason, when the file
/// does not begin with "From ".
std::unique_ptr<MailboxReader> openMbox(int fd, const std::string& path, MailboxStatus* status,
                                        std::string* error);

}  // namespace zentry::host
