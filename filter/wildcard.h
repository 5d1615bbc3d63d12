#pragma once

namespace zentry {

/// 1 when the two bytes are equal after upper-casing (Windows-1252 rules for
/// bytes 128 to 255), else 0.
int charEqualNoCase(unsigned char left, unsigned char right);

}  // namespace zentry
