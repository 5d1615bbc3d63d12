#pragma once

#include <string_view>

namespace zentry::test {

/// The matcher's steps written out plainly, as a reference for the bounded
/// matcher: it recurses at every candidate after a star and has no bound on
/// its work. Never use it on input that a sender controls. Tails are views
/// rather than copies, which gives the same results for texts without NUL
/// bytes. Returns 0 for a match and 1 for a mismatch.
int wildcardMismatchOracle(std::string_view text, std::string_view mask);

}  // namespace zentry::test
