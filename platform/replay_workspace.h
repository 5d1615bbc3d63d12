#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/held_workspace.h"

namespace zentry {

/// The files of one in-process run over a message of a mailbox: what a
/// HeldWorkspace holds, and a message left in a file on disk when it was too
/// large to hold in memory. The debug log is dropped as it is written: the
/// trace reaches standard output all the same, and a replay keeps no log.
class ReplayWorkspace : public HeldWorkspace {
 public:
  /// Serves the file at `path` as `name`.
  void holdFile(const std::string& name, std::string path) { paths_[name] = std::move(path); }

  std::unique_ptr<LineSource> openText(const char* name, TextReading reading) override;
  std::unique_ptr<TextSink> openAppend(const char* name) override;

 private:
  std::map<std::string, std::string> paths_;
};

}  // namespace zentry
