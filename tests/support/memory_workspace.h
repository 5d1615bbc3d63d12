#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/workspace.h"

namespace zentry::test {

/// A working directory held in memory, so a whole run can happen in process:
/// files are byte strings by name, read with the same text reading as real
/// files, and appending adds to the stored bytes.
class MemoryWorkspace : public Workspace {
 public:
  void write(const std::string& name, std::string bytes) { files_[name] = std::move(bytes); }
  /// The file's bytes; empty when it does not exist.
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const { return files_.count(name) != 0; }

  std::unique_ptr<LineSource> openText(const char* name, TextReading reading) override;
  std::unique_ptr<TextSink> openAppend(const char* name) override;

 private:
  // A map keeps each file's string at one address, so an open sink can keep
  // appending to it while other files are added.
  std::map<std::string, std::string> files_;
};

}  // namespace zentry::test
