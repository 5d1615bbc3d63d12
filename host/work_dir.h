#pragma once

#include <memory>
#include <string>

namespace zentry::host {

/// A fresh private directory under $TMPDIR (or /tmp) in which the filter runs,
/// as the mail server gives it one per message. The destructor removes it with
/// everything in it, so no early return can leave a partial directory behind.
class WorkDir {
 public:
  /// Null, with the reason in *error, when no directory can be made.
  static std::unique_ptr<WorkDir> create(std::string* error);
  ~WorkDir();
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  const std::string& path() const { return path_; }
  /// Writes (or replaces) the named file; false with the reason in *error.
  [[nodiscard]] bool writeFile(const std::string& name, const std::string& bytes, std::string* error) const;
  /// The named file's bytes; empty when it does not exist.
  std::string readFile(const std::string& name) const;
  void removeFile(const std::string& name) const;

 private:
  explicit WorkDir(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

/// Where working directories are made: $TMPDIR, or /tmp.
std::string tmpDirectory();

/// The stored form of a message: four prefix bytes the filter skips, then the
/// message itself.
std::string routingFileBytes(const std::string& message);

}  // namespace zentry::host
