#include "core/allocator.h"

#include <cstdlib>

namespace zentry {

namespace {

// Counted per thread: the milter scans on many threads at once, and a test's
// injected failure must hit its own thread's allocation, never another's.
// With one thread this is exactly a process-wide count.
thread_local std::uint64_t madeSoFar = 0;
// The value madeSoFar takes on the allocation that must fail; 0 = none.
thread_local std::uint64_t failingAllocation = 0;

// Counts one allocation; true when it is the one a test made to fail.
bool failsNow() {
  ++madeSoFar;
  if (madeSoFar != failingAllocation) return false;
  failingAllocation = 0;
  return true;
}

}  // namespace

void* allocateBytes(std::size_t size) {
  if (failsNow()) return nullptr;
  // malloc(0) may hand back null, which callers would take for a failure.
  return std::malloc(size == 0 ? 1 : size);
}

void* resizeBytes(void* block, std::size_t size) {
  if (failsNow()) return nullptr;
  return std::realloc(block, size == 0 ? 1 : size);
}

void releaseBytes(void* block) { std::free(block); }

void failAllocationAt(std::uint64_t index) { failingAllocation = index == 0 ? 0 : madeSoFar + index; }

std::uint64_t allocationCount() { return madeSoFar; }

}  // namespace zentry
