// The process boundary around the archive lister: stand-in listers (shell
// scripts) that fail every way a real one can, each ending in the marker
// with the message's budget spent, and no child or descriptor left behind.
#include "platform/archive_lister_process.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "support/archive_maker.h"
#include "support/e2e.h"

namespace zentry {
namespace {

class RecordingSink : public ExaminationSink {
 public:
  void foundName(const std::string& name, const std::string&) override { names.push_back(name); }
  std::vector<std::string> names;
};

int openDescriptors() {
  int count = 0;
  DIR* directory = opendir("/proc/self/fd");
  while (directory != nullptr && readdir(directory) != nullptr) ++count;
  if (directory != nullptr) closedir(directory);
  return count;
}

struct Row {
  const char* label;
  const char* script;  // nullptr: no lister at all
  std::vector<std::string> names;
  std::uint32_t membersLeft;  // of 10 before
};

const std::string marker = "a.zip|incomplete-archive";
const char* const limitsSeen = listerAddressSpaceLimited ? "cpu1-as131072" : "cpu1-asunlimited";

// clang-format off
const std::vector<Row> rows = {
    {"Missing", nullptr, {marker}, 0},
    {"KilledByCpuLimit", "kill -XCPU $$", {marker}, 0},
    {"Stalls", "sleep 30", {marker}, 0},
    {"ClosesOutputThenStalls", "exec >&-; sleep 30", {marker}, 0},
    {"Garbage", "echo hello", {marker}, 0},
    {"NoLeftLine", "echo 'found a.exe a.zip'", {"a.exe", marker}, 0},
    {"FailsAfterAnswering", "echo 'found a.exe a.zip'; echo 'left 9 9'; exit 3", {"a.exe", marker}, 0},
    {"EndlessAnswer", "while :; do echo 'found a.exe a.zip'; done", {}, 0},  // names, then the marker at a bound
    {"OwnMarkerNotRepeated", "echo 'found a.zip|incomplete-archive a.zip'", {marker}, 0},
    // The limits reach the child; an answer may spend the budget, never add to it.
    {"LimitsApplied", "echo \"found cpu$(ulimit -t)-as$(ulimit -v) a.zip\"; echo 'left 7 99999999999'",
     {limitsSeen}, 7},
    {"StopsReadingEarly", "exec 0<&-; echo 'found a%20b.exe a.zip'; echo 'left 9 0'", {"a b.exe"}, 9},
};
// clang-format on

TEST(ProcessArchiveLister, FailuresEndInTheMarker) {
  test::TempDir directory;
  // Larger than the socket buffers, so a lister that stops reading is noticed.
  const std::string zip = test::makeArchive(
      test::ArchiveFormat::Zip, {{"big.bin", std::string(4 << 20, 'x')}}, test::ArchiveFilter::None);
  const int descriptorsBefore = openDescriptors();
  for (const Row& row : rows) {
    const std::string program = directory.path() + "/" + row.label;
    if (row.script != nullptr) {
      directory.write(row.label, std::string("#!/bin/sh\n") + row.script + "\n");
      chmod(program.c_str(), 0755);
    }
    ProcessArchiveLister lister(program, ListerLimits{1, std::size_t{128} << 20, 300});
    useArchiveLister(&lister);
    ExaminationBudget budget{10, 10};
    RecordingSink sink;
    const auto start = std::chrono::steady_clock::now();
    examineAttachment("a.zip", reinterpret_cast<const unsigned char*>(zip.data()), zip.size(), false, budget,
                      sink);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << row.label;
    if (row.names.empty()) {  // an endless answer: cut at a bound
      ASSERT_FALSE(sink.names.empty());
      EXPECT_EQ(marker, sink.names.back()) << row.label;
    } else {
      EXPECT_EQ(row.names, sink.names) << row.label;
    }
    EXPECT_EQ(row.membersLeft, budget.membersLeft) << row.label;
    EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG)) << row.label << ": a child left unreaped";
    EXPECT_EQ(descriptorsBefore, openDescriptors()) << row.label;
  }
  useArchiveLister(nullptr);
}

}  // namespace
}  // namespace zentry
