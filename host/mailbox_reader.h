#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "host/routing_writer.h"

namespace zentry::host {

enum class MailboxStatus { ok, missing, unreadable, notMailbox };

/// The messages of an mbox file or a maildir folder, handed out one at a
/// time and stored straight into a RoutingWriter, so that neither the mailbox
/// nor its largest message is ever held in memory. Not thread-safe: replay
/// workers take turns.
class MailboxReader {
 public:
  enum class Next { message, skipped, end, failed };

  /// Opens an mbox file or a maildir (chosen by what `path` is).
  [[nodiscard]] static MailboxStatus open(const std::string& path, std::unique_ptr<MailboxReader>* reader,
                                          std::string* error);
  virtual ~MailboxReader() = default;

  /// Stores the next message in `writer` (already open) and sets *id to its
  /// number in an mbox or its file within a maildir. `skipped`: *problem
  /// says why this entry is not mail; `failed`: *problem says what broke.
  virtual Next next(RoutingWriter& writer, std::string* id, std::string* problem) = 0;

  /// How far the reading has come, in the reader's own units (mbox: KiB,
  /// maildir: files), and the whole; for the progress bar.
  std::uint64_t done() const { return done_.load(); }
  std::uint64_t total() const { return total_.load(); }

 protected:
  std::atomic<std::uint64_t> done_{0};
  std::atomic<std::uint64_t> total_{0};
};

}  // namespace zentry::host
