#pragma once

#include <functional>
#include <string>

#include "host/report.h"

namespace zentry::host {

/// The finished rows of a replay, kept in an unnamed temporary file under
/// $TMPDIR (or /tmp) rather than in memory, so that a mailbox of a million
/// messages costs no more memory than one of ten. The file has no name from
/// the start: nothing is left behind however the process ends.
class RowSpool {
 public:
  RowSpool() = default;
  ~RowSpool();
  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;

  [[nodiscard]] bool open(std::string* error);
  [[nodiscard]] bool append(const ReplayRow& row, std::string* error);
  std::size_t size() const { return rows_; }
  /// Hands every row to `take`, in the order appended; may be called again.
  [[nodiscard]] bool forEach(const std::function<void(const ReplayRow&)>& take, std::string* error);

 private:
  [[nodiscard]] bool flush(std::string* error);

  static constexpr std::size_t bufferLimit = 64 * 1024;
  int fd_ = -1;
  std::string pending_;  // appended rows not yet written
  std::size_t rows_ = 0;
};

}  // namespace zentry::host
