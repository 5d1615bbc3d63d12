#include "platform/held_workspace.h"

#include "platform/memory_line_source.h"

namespace zentry {
namespace {

class AppendSink : public TextSink {
 public:
  explicit AppendSink(std::string& file) : file_(file) {}
  void write(const char* data, std::size_t size) override { file_.append(data, size); }

 private:
  std::string& file_;
};

}  // namespace

std::string HeldWorkspace::appended(const std::string& name) const {
  const auto file = appends_.find(name);
  return file == appends_.end() ? std::string() : file->second;
}

std::unique_ptr<LineSource> HeldWorkspace::openText(const char* name, TextReading reading) {
  const auto file = files_.find(name);
  if (file == files_.end()) return nullptr;
  return std::make_unique<MemoryLineSource>(MemoryLineSource::Borrowed{}, file->second, reading);
}

std::unique_ptr<TextSink> HeldWorkspace::openAppend(const char* name) {
  return std::make_unique<AppendSink>(appends_[name]);
}

}  // namespace zentry
