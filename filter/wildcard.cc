// Placeholder until the matcher lands.
#include "filter/wildcard.h"

#include "core/string.h"

namespace zentry {

int charEqualNoCase(unsigned char left, unsigned char right) { return left == right ? 1 : 0; }

int String::wildcardMismatch(const String& mask) const { return equals(mask) ? 0 : 1; }

}  // namespace zentry
