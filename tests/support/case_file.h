#pragma once

#include <map>
#include <string>
#include <vector>

namespace zentry::test {

/// One end-to-end case file (tests/testdata/e2e/README.md), read.
struct Case {
  std::string path;
  std::string description;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  std::vector<std::string> directories;
  int exitCode = 0;
  std::map<std::string, std::string> files;     // input files by name, exact bytes
  std::map<std::string, std::string> expected;  // "stdout" and "log", exact bytes
  std::string problem;                          // a malformed case file
};

/// Reads the case file at `path`; a malformed one says why in `problem`.
Case readCase(const std::string& path);

}  // namespace zentry::test
