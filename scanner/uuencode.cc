// Placeholder until the uuencode reader lands.
#include "scanner/uuencode.h"

namespace zentry {

void scanUuencodeBlock(ScanContext&, String&, std::uint32_t, std::int32_t&, const String&, const String&) {}

int decodeUuLine(const String&, unsigned char*) { return 0; }

}  // namespace zentry
