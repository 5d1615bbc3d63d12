#pragma once

#include <memory>

#include "platform/line_source.h"
#include "platform/text_sink.h"

namespace zentry {

/// The working directory the host runs the filter in.
class Workspace {
 public:
  virtual ~Workspace() = default;
  /// The named file opened for reading as text; null when it can't be opened.
  virtual std::unique_ptr<LineSource> openText(const char* name, TextReading reading) = 0;
  /// The named file opened for appending; null when it can't be opened.
  virtual std::unique_ptr<TextSink> openAppend(const char* name) = 0;
};

/// Files relative to a directory ("" is the current directory).
std::unique_ptr<Workspace> makeDirectoryWorkspace(const char* directory);

}  // namespace zentry
