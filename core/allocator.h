#pragma once

#include <cstddef>
#include <cstdint>

namespace zentry {

/// The program's allocator: malloc that hands back null on failure and never
/// throws. Every String buffer and every decoder scratch block comes from here,
/// so tests can make any single allocation fail.
[[nodiscard]] void* allocateBytes(std::size_t size);
/// A block of `size` bytes holding what `block` (from allocateBytes or here)
/// held, as far as it fits; on failure null, and `block` is left as it was.
/// Large blocks grow by remapping their pages, without a copy, so growing a
/// buffer step by step costs no more than its final size.
[[nodiscard]] void* resizeBytes(void* block, std::size_t size);
void releaseBytes(void* block);

/// Test hook: the `index`-th allocation from now on (1 = the next one) on the
/// calling thread fails; 0 switches injection off.
void failAllocationAt(std::uint64_t index);
/// Allocations the calling thread made since it started (failed ones included).
std::uint64_t allocationCount();

}  // namespace zentry
