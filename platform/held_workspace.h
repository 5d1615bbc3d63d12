#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/workspace.h"

namespace zentry {

/// A working directory whose files are bytes the caller holds in memory, so a
/// process that already has the message and the rules runs the filter without
/// writing either to disk. Files are read with the same text reading as real
/// ones; what the filter appends (its debug log) is kept per name.
class HeldWorkspace : public Workspace {
 public:
  /// Serves `bytes` as the file `name`. The bytes are borrowed: they must stay
  /// alive and unchanged while the workspace or a source it opened is in use.
  void hold(const std::string& name, std::string_view bytes) { files_[name] = bytes; }
  /// What has been appended to `name` (empty when nothing).
  std::string appended(const std::string& name) const;

  std::unique_ptr<LineSource> openText(const char* name, TextReading reading) override;
  std::unique_ptr<TextSink> openAppend(const char* name) override;

 private:
  std::map<std::string, std::string_view> files_;
  // A map keeps each string at one address while a sink appends to it.
  std::map<std::string, std::string> appends_;
};

}  // namespace zentry
