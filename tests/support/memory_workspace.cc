#include "support/memory_workspace.h"

#include "platform/memory_line_source.h"

namespace zentry::test {
namespace {

class AppendingSink : public TextSink {
 public:
  explicit AppendingSink(std::string& file) : file_(file) {}
  void write(const char* data, std::size_t size) override { file_.append(data, size); }

 private:
  std::string& file_;
};

}  // namespace

std::string MemoryWorkspace::read(const std::string& name) const {
  const auto file = files_.find(name);
  return file == files_.end() ? std::string() : file->second;
}

std::unique_ptr<LineSource> MemoryWorkspace::openText(const char* name, TextReading reading) {
  const auto file = files_.find(name);
  if (file == files_.end()) return nullptr;
  return std::make_unique<MemoryLineSource>(file->second, 0, reading);
}

std::unique_ptr<TextSink> MemoryWorkspace::openAppend(const char* name) {
  return std::make_unique<AppendingSink>(files_[name]);
}

}  // namespace zentry::test
