#include "scanner/container_signatures.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "scanner/content_kind.h"

namespace zentry {
namespace {

struct Signature {
  std::size_t offset;
  const char* bytes;
  std::size_t size;
};

// clang-format off
const Signature signatures[] = {
    {0, "PK\x03\x04", 4}, {0, "PK\x05\x06", 4}, {0, "PK\x07\x08", 4},  // zip
    {0, "7z\xBC\xAF\x27\x1C", 6},
    {0, "Rar!\x1A\x07", 6},
    {0, "\x1F\x8B", 2},                  // gzip
    {0, "BZh", 3},
    {0, "\xFD" "7zXZ\x00", 6},
    {0, "\x28\xB5\x2F\xFD", 4},          // zstd
    {0, "LZIP", 4},
    {0, "\x5D\x00\x00", 3},              // lzma
    {0, "\x1F\x9D", 2},                  // compress
    {0, "\x1F\xA0", 2},                  // compress, LZH variant
    {0, "MSCF", 4}, {0, "ISc(", 4},      // cab
    {0, "!<arch>\n", 8},
    {0, "xar!", 4},
    {0, "070707", 6}, {0, "070701", 6}, {0, "070702", 6}, {0, "\xC7\x71", 2}, {0, "\x71\xC7", 2},  // cpio
    {2, "-lh", 3}, {2, "-lz", 3},        // lha
    {0, "MZ", 2},                        // executables, self-extracting archives among them
    {0, "\x7F" "ELF", 4},
    // Kinds that examination tells only from bytes further in: compound files
    // (installers among them), Mach-O and universal binaries, shortcuts.
    {0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8},
    {0, "\xFE\xED\xFA\xCE", 4}, {0, "\xFE\xED\xFA\xCF", 4}, {0, "\xCE\xFA\xED\xFE", 4},
    {0, "\xCF\xFA\xED\xFE", 4}, {0, "\xCA\xFE\xBA\xBE", 4},
    {0, "\x4C\x00\x00\x00\x01\x14\x02\x00", 8},
    {0, "\x78\x9F\x3E\x22", 4},          // TNEF (winmail.dat)
    {0, "conectix", 8}, {0, "vhdxfile", 8},  // virtual disks
    // Pictures, which may have a zip behind them: only their whole bytes
    // show its end record.
    {0, "\xFF\xD8\xFF", 3}, {0, "\x89PNG", 4}, {0, "GIF8", 4},
    {257, "ustar", 5},                   // tar
};
// clang-format on

// The system area before an ISO 9660 image's descriptors is zeros, or a
// boot record ending in 55 AA (hybrid images).
bool firstSectorSaysImage(const unsigned char* data, std::size_t size) {
  if (size < 512) return false;
  if (data[510] == 0x55 && data[511] == 0xAA) return true;
  for (std::size_t i = 0; i < 512; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

// Which bytes start a signature at offset 0: most bodies are ruled out by
// their first byte alone.
struct FirstBytes {
  bool starts[256] = {};
  FirstBytes() {
    for (const Signature& signature : signatures) {
      if (signature.offset == 0) starts[static_cast<unsigned char>(signature.bytes[0])] = true;
    }
  }
};
const FirstBytes firstBytes;

bool signatureMatches(const unsigned char* data, std::size_t size) {
  if (size == 0) return false;
  // Past the first byte only lha's "-lh" at 2 and tar's magic at 257 remain.
  if (!firstBytes.starts[data[0]] && (size < 3 || data[2] != '-') && size < 257 + 5) return false;
  for (const Signature& signature : signatures) {
    if (size >= signature.offset + signature.size &&
        data[signature.offset] == static_cast<unsigned char>(signature.bytes[0]) &&
        std::memcmp(data + signature.offset, signature.bytes, signature.size) == 0)
      return true;
  }
  return false;
}

// Boot code as a hybrid image's boot record begins: a jump, cli, or xor.
bool mayBeBootCode(unsigned char first) {
  return first == 0xEB || first == 0xE9 || first == 0xFA || first == 0x33;
}

bool controlByteAmong(const unsigned char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (isControlByte(data[i])) return true;
  }
  return false;
}

}  // namespace

bool firstLookLeavesOpen(const unsigned char* data, std::size_t size) {
  if (signatureMatches(data, size)) return true;
  if (size > 0 && mayBeBootCode(data[0])) return true;
  return !controlByteAmong(data, std::min(size, firstLookBytes));
}

// Which pairs of bytes start a signature at offset 0: a random body begins
// with one of them about once in two thousand, against once in ten for the
// first byte alone.
struct FirstPairs {
  std::uint64_t bits[65536 / 64] = {};
  FirstPairs() {
    for (const Signature& signature : signatures) {
      if (signature.offset == 0)
        set(static_cast<unsigned char>(signature.bytes[0]), static_cast<unsigned char>(signature.bytes[1]));
    }
  }
  void set(unsigned first, unsigned second) {
    const unsigned pair = first << 8 | second;
    bits[pair / 64] |= std::uint64_t{1} << (pair % 64);
  }
  bool holds(unsigned first, unsigned second) const {
    const unsigned pair = first << 8 | second;
    return (bits[pair / 64] >> (pair % 64) & 1u) != 0;
  }
};
const FirstPairs firstPairs;

bool firstBytesMayRuleOut(const unsigned char* data) {
  return data[2] != '-' && !mayBeBootCode(data[0]) && !firstPairs.holds(data[0], data[1]);
}

bool firstBytesRuleOut(const unsigned char* data, std::size_t size, std::size_t checked) {
  // Past offset 2 only tar's magic at 257 could still match, and a first
  // look at fewer bytes never reaches it.
  if (size < 3 || !firstBytesMayRuleOut(data)) return false;
  const std::size_t limit = std::min(size, firstLookBytes);
  const std::size_t from = std::min(checked, limit);
  return controlByteAmong(data + from, limit - from);
}

bool mayHoldContainer(const unsigned char* data, std::size_t size) {
  return signatureMatches(data, size) || tarChecksumHolds(data, size) || firstSectorSaysImage(data, size);
}

}  // namespace zentry
