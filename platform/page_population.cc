#include "platform/page_population.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

// Older C library headers lack the name; kernels before 5.14 answer EINVAL.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace zentry {

bool populateForWriting(void* begin, std::size_t size) {
  static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t misaligned = reinterpret_cast<std::uintptr_t>(begin) % page;
  const std::size_t skipped = misaligned == 0 ? 0 : page - misaligned;
  if (size < skipped + page) return true;
  const std::size_t length = (size - skipped) / page * page;
  return madvise(static_cast<unsigned char*>(begin) + skipped, length, MADV_POPULATE_WRITE) == 0 ||
         errno != EINVAL;
}

}  // namespace zentry
