#pragma once

#include <cstddef>
#include <memory>
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

/// Limits on the archive lister of one message, all its archives together.
/// The defaults hold every hostile archive the listing bounds are made for
/// with room to spare: the worst known takes under half a second of CPU,
/// and memory stays below the attachment plus the message's decompression
/// allowance plus a few MB.
struct ListerLimits {
  unsigned cpuSeconds = 2;                               ///< CPU time (RLIMIT_CPU): killed past it
  std::size_t addressSpaceBytes = std::size_t{1} << 30;  ///< RLIMIT_AS: allocations fail past it
  int wallMilliseconds = 5000;                           ///< time waited for its answers: killed past it
};

/// How each attachment reaches the lister. A memory file is the default: the
/// lister maps it, so the bytes are neither copied through the socket nor
/// again into a buffer of the lister's. Streaming them on the socket is what
/// is left when no memory file can be made, and what a lister that cannot
/// take a descriptor (a shell script standing in for one) needs.
enum class ListerHandOver { MemoryFile, Stream };

/// Runs the zentry-archive program at `program`, one child process per
/// message, started at the message's first archive under `limits`: it gets
/// one socket as its standard input and output, /dev/null for its errors,
/// no other descriptor of ours and an empty environment, and it is always
/// reaped, also when killed. Its start is the message's one start: when it
/// fails or is killed, the message's later archives are not listed. An empty
/// `program` means the zentry-archive beside the running program, looked up
/// at each message. Threads may share one.
///
/// Children are waited for, so SIGCHLD is set to its default when it is
/// ignored (an ignored SIGCHLD has the system reap them unseen): a process
/// that uses one must not rely on that.
class ProcessArchiveLister : public ArchiveLister {
 public:
  explicit ProcessArchiveLister(std::string program = "", ListerLimits limits = {},
                                ListerHandOver handOver = ListerHandOver::MemoryFile);

  std::unique_ptr<ListingSession> startSession() override;

 private:
  std::string program_;
  ListerLimits limits_;
  ListerHandOver handOver_;
};

/// The path of `program` in the directory of the running executable, or ""
/// when that directory cannot be found.
std::string besideThisProgram(const std::string& program);

}  // namespace zentry
