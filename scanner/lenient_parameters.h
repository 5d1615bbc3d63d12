#pragma once

#include <string>
#include <string_view>

namespace zentry {

/// Whether a Content-Type or Content-Disposition value (after the colon)
/// has something a strict reading of its parameters may get wrong where a
/// lenient client does not: outside quoted strings, a comment "(...)", a ','
/// or more '=' than ';' (a parameter not led by ';'). One pass, no copy:
/// most fields have none of these and are read once.
bool mayNeedLenientReading(std::string_view value);

/// The value rewritten as a parameter list the usual parser reads as a
/// lenient client reads the original: comments (nested, with backslash
/// pairs) are left out, ',' separates like ';', and outside quoted strings a
/// blank separates too, except around '=': so `attachment filename=a.exe
/// (copy)` becomes `attachment;filename=a.exe`. Quoted strings are kept as
/// they are. Linear in the value's length however deep comments nest.
std::string lenientParameterList(std::string_view value);

}  // namespace zentry
