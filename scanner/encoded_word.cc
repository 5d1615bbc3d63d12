// Placeholder until the decoders land.
#include "scanner/encoded_word.h"

namespace zentry {

void decodeEncodedWord(String&) {}
void decodeQuotedPrintable(String&, bool) {}
int String::decodeBase64(unsigned char*, int) const { return 0; }

}  // namespace zentry
