// Scans the same messages on many threads at once, as the milter does, and
// checks every answer against the one-thread answer. Built with
// ThreadSanitizer by tools/check.sh, so shared state in the filter's library
// shows up as a race; plain builds run it as a quick consistency test.
//
//   zentry_parallel_scan SOURCE_DIR

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "milter/message_scan.h"
#include "milter/rules_store.h"

namespace {

using zentry::milter::RulesStore;
using zentry::milter::scanHeldMessage;
using zentry::milter::ScanVerdict;

constexpr int threadCount = 8;
constexpr int roundsPerThread = 40;

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::vector<std::string> messages(const std::string& source) {
  std::vector<std::string> list;
  for (const char* example : {"encoded-name", "invoice", "named-attachment", "nested-multipart"}) {
    list.push_back(readFile(source + "/examples/" + example + "/routing.dat"));
  }
  const std::string multipart = "XXXXContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n";
  list.push_back(multipart +
                 "Content-Type: a/b; name=\"=?utf-8?Q?r=C3=A9sum=C3=A9.scr?=\"\r\n\r\nx\r\n--b--\r\n");
  list.push_back(multipart +
                 "Content-Type: text/plain\r\n\r\nbegin 644 a.pif\r\n#86)C\r\n`\r\nend\r\n--b--\r\n");
  list.push_back("XXXXSubject: plain\r\n\r\nnothing here\r\n");
  // A zip holding setup.exe: strict mode lists archives on every thread at once.
  list.push_back(
      multipart +
      "Content-Type: application/zip; name=\"tools.zip\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "UEsDBBQAAAAAADcZh10WDfUIKgAAACoAAAAPAAAAaW5uZXIvc2V0dXAuZXhlTVp4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4"
      "eHh4eHh4eHh4eHh4UEsBAhQDFAAAAAAANxmHXRYN9QgqAAAAKgAAAA8AAAAAAAAAAAAAAIABAAAAAGlubmVyL3NldHVwLmV4ZVBL"
      "BQYAAAAAAQABAD0AAABXAAAAAAA=\r\n--b--\r\n");
  return list;
}

bool same(const ScanVerdict& a, const ScanVerdict& b) {
  return a.hit == b.hit && a.subject == b.subject && a.ruleLabel == b.ruleLabel && a.name == b.name &&
         a.interceptMailbox == b.interceptMailbox;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zentry_parallel_scan SOURCE_DIR\n");
    return 2;
  }
  const std::string source = argv[1];
  const std::vector<std::string> list = messages(source);
  char dir[] = "/tmp/zentry-parallel-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 2;
  const std::string rulesPath = std::string(dir) + "/zentry.dat";
  const std::string rules = readFile(source + "/examples/rules/zentry.dat");
  std::ofstream(rulesPath, std::ios::binary) << rules;
  RulesStore store(rulesPath);
  std::string error;
  store.reload(true, &error);

  // Exact and strict scans alike: every message is scanned both ways.
  std::vector<ScanVerdict> expected;
  for (const bool strict : {false, true}) {
    for (const std::string& message : list)
      expected.push_back(scanHeldMessage(message, rules, "s", "q", strict));
  }

  std::vector<int> mismatches(threadCount, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < roundsPerThread; ++round) {
        for (std::size_t m = 0; m < expected.size(); ++m) {
          const auto held = store.current();
          const bool strict = m >= list.size();
          if (!same(expected[m], scanHeldMessage(list[m % list.size()], *held, "s", "q", strict)))
            ++mismatches[t];
        }
      }
    });
  }
  // The same rules written again and again: every reload swaps the bytes
  // under the scans without changing what they say.
  std::thread reloader([&] {
    for (int i = 0; i < 50; ++i) {
      std::string why;
      store.reload(true, &why);
    }
  });
  for (std::thread& thread : threads) thread.join();
  reloader.join();
  unlink(rulesPath.c_str());
  rmdir(dir);

  int total = 0;
  for (const int count : mismatches) total += count;
  std::printf("%d threads x %d rounds x %zu scans: %d mismatches\n", threadCount, roundsPerThread,
              expected.size(), total);
  return total == 0 ? 0 : 1;
}
