#pragma once

#include <string>
#include <string_view>

namespace zentry::milter {

/// The SHA-256 of `bytes` in lower-case hex (64 characters), as sha256sum
/// prints it, so an administrator can compare a host's rules with a file.
std::string sha256Hex(std::string_view bytes);

}  // namespace zentry::milter
