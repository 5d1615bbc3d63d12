#pragma once

#include <cstddef>

namespace zentry {

/// Asks the system to give the whole pages inside [begin, begin + size) their
/// memory now, in one call, rather than one page fault at a time as a writer
/// first touches them: a fault costs far more than the page itself on some
/// virtual machines. Only a hint: nothing happens where the system cannot do
/// it, and the bytes are unchanged either way. False when the system has no
/// such call (kernels before 5.14).
bool populateForWriting(void* begin, std::size_t size);

}  // namespace zentry
