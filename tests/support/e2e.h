#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zentry::test {

/// A fresh temporary working directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& bytes) const;
  /// The file's bytes; empty when it does not exist.
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

struct RunResult {
  std::string output;     ///< standard output, byte for byte
  int exitCode = -1;      ///< -1 when the process did not exit normally
  bool timedOut = false;  ///< killed after runTimeLimitSeconds
};

/// Every run of a binary is killed after this long: even under the sanitizers
/// the largest message takes well under a second.
constexpr int runTimeLimitSeconds = 5;

/// Runs the built zentry binary in `directory` with the given arguments
/// (argument 0 is supplied) and an environment that holds only the given
/// variables ("NAME=value").
RunResult runBinary(const TempDir& directory, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {});
/// The same with another program (a copy of zentry placed elsewhere).
RunResult runProgram(const std::string& program, const TempDir& directory,
                     const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment = {});

/// The host's stored form of a message: four prefix bytes, then the message.
inline std::string routingFile(const std::string& message) { return "XXXX" + message; }

/// Converts every LF to CR LF: expected output is written with LF for reading.
std::string crlf(const std::string& text);

}  // namespace zentry::test
