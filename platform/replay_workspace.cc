#include "platform/replay_workspace.h"

#include "platform/file_line_source.h"

namespace zentry {
namespace {

class DroppingSink : public TextSink {
 public:
  void write(const char*, std::size_t) override {}
};

}  // namespace

std::unique_ptr<LineSource> ReplayWorkspace::openText(const char* name, TextReading reading) {
  const auto file = paths_.find(name);
  if (file == paths_.end()) return HeldWorkspace::openText(name, reading);
  return FileLineSource::open(file->second.c_str(), reading);
}

// A sink, not null: the filter traces only while its log is open.
std::unique_ptr<TextSink> ReplayWorkspace::openAppend(const char*) {
  return std::make_unique<DroppingSink>();
}

}  // namespace zentry
