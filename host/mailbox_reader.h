#pragma once

#include <string>
#include <vector>

#include "host/input_file.h"

namespace zentry::host {

struct MailboxEntry {
  std::string id;       ///< the message number in an mbox, the file path within a maildir
  std::string message;  ///< the message without envelope line
};

struct Mailbox {
  std::vector<MailboxEntry> messages;
  std::vector<std::string> skipped;  ///< one sentence per file that is not a message
};

/// The messages of an mbox file: each starts with a "From " line at the start
/// of the file or after an empty line; the empty line before the next "From "
/// line belongs to the mbox, not to the message, and ">From " lines lose one
/// '>'. False when the bytes do not begin with a "From " line.
[[nodiscard]] bool splitMbox(const std::string& bytes, std::vector<MailboxEntry>* messages);

enum class MailboxStatus { ok, missing, unreadable, notMailbox };

/// Reads an mbox file or a maildir folder (its cur/ and new/ files, sorted by
/// name; tmp/ and dot files are not mail yet or not mail at all). Files that
/// do not look like a message are listed in `skipped`, not failed.
[[nodiscard]] MailboxStatus readMailbox(const std::string& path, Mailbox* mailbox, std::string* error);

}  // namespace zentry::host
