// Scans the same messages on many threads at once, as the milter does, and
// checks every answer against the one-thread answer. Built with
// ThreadSanitizer by tools/check.sh, so shared state in the filter's library
// shows up as a race; plain builds run it as a quick consistency test.
//
//   zentry_parallel_scan SOURCE_DIR

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "milter/message_scan.h"
#include "milter/rules_store.h"

namespace {

using zentry::milter::ScanVerdict;

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// Every example's routing file, and every message under tests/milter/testdata
// (routing files as they are, messages given the routing file's four leading
// bytes): among them a zip holding setup.exe, so strict mode lists archives
// on every thread at once.
std::vector<std::string> messages(const std::string& source) {
  std::vector<std::string> list;
  for (const auto& entry : std::filesystem::directory_iterator(source + "/examples"))
    if (std::filesystem::exists(entry.path() / "routing.dat"))
      list.push_back(readFile(entry.path() / "routing.dat"));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(source + "/tests/milter/testdata")) {
    if (!entry.is_regular_file()) continue;
    const std::string bytes = readFile(entry.path());
    list.push_back(entry.path().extension() == ".dat" ? bytes : "XXXX" + bytes);
  }
  return list;
}

auto fields(const ScanVerdict& v) {
  return std::tie(v.hit, v.subject, v.ruleLabel, v.name, v.interceptMailbox);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zentry_parallel_scan SOURCE_DIR\n");
    return 2;
  }
  const std::vector<std::string> list = messages(argv[1]);
  zentry::milter::RulesStore store(std::string(argv[1]) + "/examples/rules/zentry.dat");
  std::string error;
  store.reload(true, &error);
  // Exact and strict scans alike: every message is scanned both ways.
  std::vector<ScanVerdict> expected;
  for (const bool strict : {false, true})
    for (const std::string& message : list)
      expected.push_back(zentry::milter::scanHeldMessage(message, *store.current(), "s", "q", strict));

  constexpr int threadCount = 8, rounds = 40;
  std::vector<int> mismatches(threadCount, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < rounds; ++round) {
        for (std::size_t m = 0; m < expected.size(); ++m) {
          const auto held = store.current();
          const bool strict = m >= list.size();
          const ScanVerdict got =
              zentry::milter::scanHeldMessage(list[m % list.size()], *held, "s", "q", strict);
          mismatches[t] += fields(expected[m]) != fields(got);
        }
      }
    });
  }
  // The same rules read again and again: every reload swaps the bytes under
  // the scans without changing what they say.
  threads.emplace_back([&] {
    for (int i = 0; i < 50; ++i) store.reload(true, &error);
  });
  for (std::thread& thread : threads) thread.join();
  int total = 0;
  for (const int count : mismatches) total += count;
  std::printf("%d threads x %d rounds x %zu scans: %d mismatches\n", threadCount, rounds, expected.size(),
              total);
  return total == 0 && !list.empty() ? 0 : 1;
}
