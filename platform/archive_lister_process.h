#pragma once

#include <cstddef>
#include <string>

#include "scanner/archive_lister.h"

namespace zentry {

// AddressSanitizer reserves terabytes of address space at start-up, so a
// sanitized lister cannot run under an address-space limit; such builds set
// none (they are for tests, not for mail).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool listerAddressSpaceLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool listerAddressSpaceLimited = false;
#else
constexpr bool listerAddressSpaceLimited = true;
#endif
#else
constexpr bool listerAddressSpaceLimited = true;
#endif

/// Limits on one run of the archive lister. The defaults hold every hostile
/// archive the listing bounds are made for with room to spare: the worst
/// known takes under half a second of CPU, and memory stays below the
/// attachment plus the message's decompression allowance plus a few MB.
struct ListerLimits {
  unsigned cpuSeconds = 2;                               ///< CPU time (RLIMIT_CPU): killed past it
  std::size_t addressSpaceBytes = std::size_t{1} << 30;  ///< RLIMIT_AS: allocations fail past it
  int wallMilliseconds = 5000;                           ///< killed by the filter past it (a stall)
};

/// Runs the zentry-archive program at `program` on each archive: a child
/// process under `limits`, given the attachment as a memory file (which it
/// maps) and answering on a pipe, with no other descriptor of ours, its
/// errors to /dev/null; it is always reaped, also when killed. An empty
/// `program` means the zentry-archive beside the
/// running program, looked up at each archive. Threads may share one.
class ProcessArchiveLister : public ArchiveLister {
 public:
  explicit ProcessArchiveLister(std::string program = "", ListerLimits limits = {})
      : program_(std::move(program)), limits_(limits) {}

  bool list(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
            ExaminationBudget& budget, ExaminationSink& sink) override;

 private:
  std::string program_;
  ListerLimits limits_;
};

/// The path of `program` in the directory of the running executable, or ""
/// when that directory cannot be found.
std::string besideThisProgram(const std::string& program);

}  // namespace zentry
