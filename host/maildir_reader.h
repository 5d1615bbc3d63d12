#pragma once

#include <memory>
#include <string>

#include "host/mailbox_reader.h"

namespace zentry::host {

/// Reads a maildir: the files of its cur/ and new/ folders in name order
/// (maildir names begin with the delivery time, so that is arrival order;
/// tmp/ and dot files are not mail yet or not mail at all). Symbolic links
/// (cur/ and new/ themselves too) are never followed and only regular files
/// are opened: a link or a device in a mailbox is reported as skipped, so a
/// replay run by root reads nothing the mailbox's owner could not. Files that
/// do not begin like a message are skipped too.
std::unique_ptr<MailboxReader> openMaildir(const std::string& path, MailboxStatus* status,
                                           std::string* error);

}  // namespace zentry::host
