// The process boundary around the archive lister: stand-in listers (shell
// scripts) that fail every way a real one can, each ending in the marker
// with the message's budget spent (a lister that cannot be started also
// as a fault of the installation), and no child or descriptor left behind.
#include "platform/archive_lister_process.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/archive_maker.h"
#include "support/e2e.h"

namespace zentry {
namespace {

using Found = std::vector<std::string>;

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
  bool installationFault = false;
};

const std::string marker = "a.zip|incomplete-archive";
const char* const limitsSeen = listerAddressSpaceLimited ? "cpu1-as131072" : "cpu1-asunlimited";
// Takes one request off the input, as a lister must before it answers.
#define TAKE_REQUEST "read -r w n t m b size; head -c $size >/dev/null; "

// clang-format off
const std::vector<Row> rows = {
    {"Missing", nullptr, {marker}, 0, true},
    {"NotExecutable", "", {marker}, 0, true},
    {"KilledByCpuLimit", "kill -XCPU $$", {marker}, 0},
    {"Stalls", "sleep 30", {marker}, 0},
    {"ClosesOutputThenStalls", "exec >&-; sleep 30", {marker}, 0},
    {"Garbage", TAKE_REQUEST "echo hello", {marker}, 0},
    {"NoLeftLine", TAKE_REQUEST "echo 'found a.exe a.zip'", {"a.exe", marker}, 0},
    {"AnswersThenExits", TAKE_REQUEST "echo 'found a.exe a.zip'; echo 'left 9 9'; exit 3", {"a.exe"}, 9},
    {"EndlessAnswer", TAKE_REQUEST "while :; do echo 'found a.exe a.zip'; done", {}, 0},  // names, then the marker
    {"OwnMarkerNotRepeated", TAKE_REQUEST "echo 'found a.zip|incomplete-archive a.zip'", {marker}, 0},
    {"DoesNotReadItsInput", "echo 'found a%20b.exe a.zip'; echo 'left 9 0'; sleep 30", {marker}, 0},
    // The limits reach the child; an answer may spend the budget, never add to it.
    {"LimitsApplied", TAKE_REQUEST "echo \"found cpu$(ulimit -t)-as$(ulimit -v) a.zip\"; echo 'left 7 99999999999'",
     {limitsSeen}, 7},
    // None of the filter's environment (the subject among it) reaches the lister.
    {"EmptyEnvironment", TAKE_REQUEST "echo \"found subject-${subject:-none} a.zip\"; echo 'left 9 9'",
     {"subject-none"}, 9},
};
// clang-format on

std::string writeLister(const test::TempDir& directory, const char* label, const char* script) {
  std::string program = directory.path() + "/" + label;
  if (script != nullptr) {
    directory.write(label, std::string("#!/bin/sh\n") + script + "\n");
    if (*script != '\0') chmod(program.c_str(), 0755);
  }
  return program;
}

Found examine(const std::string& zip, MessageExamination& examination, const std::string& name = "a.zip") {
  RecordingSink sink;
  examineAttachment(name, reinterpret_cast<const unsigned char*>(zip.data()), zip.size(), false, examination,
                    sink);
  return sink.names;
}

TEST(ProcessArchiveLister, FailuresEndInTheMarker) {
  test::TempDir directory;
  setenv("subject", "secret", 1);
  // Larger than the socket buffers, and not compressible, so a lister that
  // does not read its input is noticed.
  std::string noise(4 << 20, '\0');
  std::uint32_t state = 1;
  for (char& byte : noise) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  const std::string zip =
      test::makeArchive(test::ArchiveFormat::Zip, {{"big.bin", noise}}, test::ArchiveFilter::None);
  const int descriptorsBefore = openDescriptors();
  for (const Row& row : rows) {
    // A lister that fails is given 300 ms and must cost no more than that;
    // one that answers is given time to, however loaded the machine.
    const bool failsWithinItsTime = row.names == std::vector<std::string>{marker};
    const int wallMilliseconds = failsWithinItsTime ? 300 : 20000;
    // A shell script cannot take a descriptor: the bytes come on its input.
    ProcessArchiveLister lister(writeLister(directory, row.label, row.script),
                                ListerLimits{1, std::size_t{128} << 20, wallMilliseconds},
                                ListerHandOver::Stream);
    useArchiveLister(&lister);
    const auto start = std::chrono::steady_clock::now();
    {
      MessageExamination examination(ExaminationBudget{10, 10});
      const Found names = examine(zip, examination);
      if (failsWithinItsTime) {
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << row.label;
      }
      if (row.names.empty()) {  // an endless answer: cut at a bound
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(marker, names.back()) << row.label;
      } else {
        EXPECT_EQ(row.names, names) << row.label;
      }
      EXPECT_EQ(row.membersLeft, examination.budget.membersLeft) << row.label;
      EXPECT_EQ(row.installationFault, !examination.installationFault.empty())
          << row.label << ": " << examination.installationFault;
    }
    EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG)) << row.label << ": a child left unreaped";
    EXPECT_EQ(descriptorsBefore, openDescriptors()) << row.label;
  }
  unsetenv("subject");
  useArchiveLister(nullptr);
}

// One lister serves every archive of a message: one start, whatever the
// number of archives; once it fails, the later archives get the marker
// without another start. It is waited for even when SIGCHLD was ignored.
TEST(ProcessArchiveLister, OneStartPerMessage) {
  test::TempDir directory;
  const std::string starts = directory.path() + "/starts";
  const std::string script = "echo >>" + starts +
                             "; while read -r w n t m b size; do head -c $size >/dev/null; "
                             "[ $n = bad.zip ] && exit 1; echo \"found in-$n $n\"; echo 'left 9 9'; done";
  signal(SIGCHLD, SIG_IGN);
  ProcessArchiveLister lister(writeLister(directory, "counting", script.c_str()), {}, ListerHandOver::Stream);
  useArchiveLister(&lister);
  const std::string zip = test::makeArchive(test::ArchiveFormat::Zip, {{"a.txt", "text"}});
  {
    MessageExamination examination;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Found{"in-a.zip"}, examine(zip, examination));
    EXPECT_EQ(Found{"bad.zip|incomplete-archive"}, examine(zip, examination, "bad.zip"));
    EXPECT_EQ(Found{"a.zip|incomplete-archive"}, examine(zip, examination));
  }
  EXPECT_EQ("\n", directory.read("starts"));
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
  useArchiveLister(nullptr);
}

}  // namespace
}  // namespace zentry
