// Examines one file as strict mode examines a decoded attachment, for the
// archive benchmark: reads it whole, then lists it with listAttachment, as zentry-archive does.
// Prints the names and routes with --names, then how many names were found,
// how many were markers, and the time the examination itself took.
//
//   examine_file [--names] FILE [ATTACHMENT-NAME]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/attachment_listing.h"

namespace {

class CountingSink : public zentry::ExaminationSink {
 public:
  explicit CountingSink(bool print) : print_(print) {}
  void foundName(const std::string& name, const std::string& route) override {
    ++names;
    if (name.find('|') != std::string::npos) ++markers;
    if (print_) std::printf("%s\t%s\n", name.c_str(), route.c_str());
  }
  std::size_t names = 0;
  std::size_t markers = 0;

 private:
  bool print_;
};

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const bool print = argc > 1 && std::strcmp(argv[1], "--names") == 0;
  if (print) ++first;
  if (argc - first < 1) {
    std::fprintf(stderr, "usage: examine_file [--names] FILE [ATTACHMENT-NAME]\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[first], "rb");
  if (file == nullptr) return 2;
  // One allocation of the file's size, as the walker holds a decoded body.
  std::fseek(file, 0, SEEK_END);
  const long length = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  std::vector<unsigned char> bytes(length > 0 ? static_cast<std::size_t>(length) : 0);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
  const std::string name = argc - first >= 2 ? argv[first + 1] : "attachment.zip";
  zentry::ExaminationBudget budget;
  CountingSink sink(print);
  const auto start = std::chrono::steady_clock::now();
  zentry::listAttachment(name, bytes.data(), bytes.size(), false, budget, sink);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("names %zu markers %zu examination_us %lld\n", sink.names, sink.markers,
              static_cast<long long>(micros));
  return 0;
}
