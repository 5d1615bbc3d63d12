#include "milter/rules_digest.h"

#include <nettle/sha2.h>

namespace zentry::milter {

std::string sha256Hex(std::string_view bytes) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  static const char hexDigits[] = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t byte : digest) {
    hex += hexDigits[byte >> 4];
    hex += hexDigits[byte & 0x0F];
  }
  return hex;
}

}  // namespace zentry::milter
