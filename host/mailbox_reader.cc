#include "host/mailbox_reader.h"

#include <algorithm>
#include <filesystem>

#include "host/message_text.h"

namespace zentry::host {
namespace {

namespace fs = std::filesystem;

// An envelope line carries a time of day ("From sender Mon Jan  1 10:00:00
// 2024"); a body line that merely starts with "From " after an empty line
// (left unquoted by a careless writer) usually does not.
bool isEnvelopeLine(const std::string& bytes, std::size_t start, std::size_t end) {
  if (bytes.compare(start, 5, "From ") != 0) return false;
  auto digit = [&](std::size_t i) { return bytes[i] >= '0' && bytes[i] <= '9'; };
  for (std::size_t i = start + 5; i + 5 <= end; ++i) {
    if (digit(i) && digit(i + 1) && bytes[i + 2] == ':' && digit(i + 3) && digit(i + 4)) return true;
  }
  return false;
}

bool isEmptyLine(const std::string& bytes, std::size_t start, std::size_t end) {
  return end == start || (end == start + 1 && bytes[start] == '\r');
}

// Removes one '>' from every line of the form ">...>From ".
std::string unquoteFromLines(const std::string& message) {
  std::string out;
  out.reserve(message.size());
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find('\n', start);
    end = end == std::string::npos ? message.size() : end + 1;
    std::size_t quotes = start;
    while (quotes < end && message[quotes] == '>') ++quotes;
    const bool quoted = quotes > start && message.compare(quotes, 5, "From ") == 0;
    out.append(message, quoted ? start + 1 : start, end - (quoted ? start + 1 : start));
    start = end;
  }
  return out;
}

MailboxStatus readMaildir(const fs::path& root, Mailbox* mailbox, std::string* error) {
  std::error_code failure;
  std::vector<std::string> files;
  bool folders = false;
  for (const char* folder : {"cur", "new"}) {
    if (!fs::is_directory(root / folder, failure)) continue;
    folders = true;
    for (fs::directory_iterator it(root / folder, failure), end; !failure && it != end;
         it.increment(failure)) {
      const std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      files.push_back(std::string(folder) + "/" + name);
    }
    if (failure) {
      *error = (root / folder).string() + ": " + failure.message();
      return MailboxStatus::unreadable;
    }
  }
  if (!folders) {
    *error = root.string() + ": not a maildir (it has neither cur/ nor new/)";
    return MailboxStatus::notMailbox;
  }
  // Maildir names begin with the delivery time, so name order is arrival order.
  std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
    return a.substr(4) != b.substr(4) ? a.substr(4) < b.substr(4) : a < b;
  });
  for (const std::string& file : files) {
    const fs::path full = root / file;
    if (!fs::is_regular_file(full, failure)) {
      mailbox->skipped.push_back(full.string() + ": not a regular file");
      continue;
    }
    std::string bytes;
    std::string reason;
    if (readInputFile(full.string(), &bytes, &reason) != ReadStatus::ok) {
      mailbox->skipped.push_back(reason);
    } else if (bytes.empty()) {
      mailbox->skipped.push_back(full.string() + ": empty file");
    } else if (!looksLikeMessage(bytes)) {
      mailbox->skipped.push_back(full.string() + ": not a mail message (no header field on its first line)");
    } else {
      mailbox->messages.push_back({file, stripEnvelopeLine(bytes)});
    }
  }
  return MailboxStatus::ok;
}

}  // namespace

bool splitMbox(const std::string& bytes, std::vector<MailboxEntry>* messages) {
  if (bytes.compare(0, 5, "From ") != 0) return false;
  std::vector<std::size_t> starts;  // offsets of the envelope lines
  bool previousEmpty = true;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    if (previousEmpty && (starts.empty() ? start == 0 : isEnvelopeLine(bytes, start, end)))
      starts.push_back(start);
    previousEmpty = isEmptyLine(bytes, start, end);
    start = end + 1;
  }
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t headerStart = std::min(bytes.find('\n', starts[i]), bytes.size() - 1) + 1;
    std::size_t end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
    // Drop the separating empty line: "...\n\n" keeps one LF, "\r\n\r\n" one CR LF.
    // The envelope line's own LF may be the first of the two.
    if (end >= headerStart + 1 && bytes.compare(end - 2, 2, "\n\n") == 0) {
      end -= 1;
    } else if (end >= headerStart + 2 && bytes.compare(end - 4, 4, "\r\n\r\n") == 0) {
      end -= 2;
    }
    std::string message = end > headerStart ? bytes.substr(headerStart, end - headerStart) : std::string();
    messages->push_back({std::to_string(i + 1), unquoteFromLines(message)});
  }
  return true;
}

MailboxStatus readMailbox(const std::string& path, Mailbox* mailbox, std::string* error) {
  std::error_code failure;
  const fs::file_status status = fs::status(path, failure);
  if (!fs::exists(status)) {
    *error = path + ": No such file or directory";
    return MailboxStatus::missing;
  }
  if (fs::is_directory(status)) return readMaildir(path, mailbox, error);
  std::string bytes;
  switch (readInputFile(path, &bytes, error)) {
    case ReadStatus::ok:
      break;
    case ReadStatus::missing:
      return MailboxStatus::missing;
    case ReadStatus::unreadable:
      return MailboxStatus::unreadable;
  }
  if (bytes.empty()) {
    *error = path + ": empty mailbox";
    return MailboxStatus::notMailbox;
  }
  std::vector<MailboxEntry> entries;
  if (!splitMbox(bytes, &entries)) {
    *error = path + ": not an mbox file (its first line does not begin with \"From \")";
    return MailboxStatus::notMailbox;
  }
  // An envelope line with nothing but blank lines after it is not mail.
  for (MailboxEntry& entry : entries) {
    if (entry.message.find_first_not_of(" \t\r\n") == std::string::npos) {
      mailbox->skipped.push_back(path + ": message " + entry.id + " is empty");
    } else {
      mailbox->messages.push_back(std::move(entry));
    }
  }
  return MailboxStatus::ok;
}

}  // namespace zentry::host
