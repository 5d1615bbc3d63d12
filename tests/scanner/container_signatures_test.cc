#include "scanner/container_signatures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zentry {
namespace {

const unsigned char* bytesOf(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// The early answer must never rule out a body that the first look, made on
// all firstLookBytes, would leave open; asked again with `checked` set to the
// previous size, it must give what a question from scratch gives.
TEST(ContainerSignatures, EarlyRuleOutAgreesWithFirstLook) {
  std::uint32_t state = 12345;
  int ruledOut = 0;
  for (int round = 0; round < 4000; ++round) {
    std::vector<unsigned char> body(firstLookBytes);
    for (unsigned char& byte : body) {
      state = state * 1103515245u + 12345u;
      // Mostly text, so that many bodies hold their first control byte late.
      byte = static_cast<unsigned char>(round % 2 == 0 ? state >> 24 : 0x20 + (state >> 24) % 0x60);
    }
    const bool open = firstLookLeavesOpen(body.data(), body.size());
    std::size_t checked = 0;
    for (std::size_t size = 3; size <= body.size(); size += 3) {
      const bool early = firstBytesRuleOut(body.data(), size, checked);
      ASSERT_EQ(early, firstBytesRuleOut(body.data(), size, 0)) << round << " at " << size;
      if (early) {
        ASSERT_FALSE(open) << round << " at " << size;
        ++ruledOut;
        break;
      }
      checked = size;
    }
  }
  EXPECT_GT(ruledOut, 1000);  // random binary data is ruled out early as a rule
}

// Every pair of first bytes, each followed by bytes that go on common
// signatures or begin none, and a control byte late in the first look: the early
// answer, which looks only at the first bytes and a table of pairs, never
// rules out a body that the whole first look leaves open.
TEST(ContainerSignatures, EarlyRuleOutAgreesWithFirstLookForEveryFirstPair) {
  std::vector<unsigned char> body(firstLookBytes, 'a');
  body[firstLookBytes - 1] = 0x01;
  for (unsigned pair = 0; pair < 0x10000; ++pair) {
    body[0] = static_cast<unsigned char>(pair >> 8);
    body[1] = static_cast<unsigned char>(pair & 0xFF);
    for (const char* next : {"aa", "-l", "\x03\x04", "\x05\x06", "\x07\x08", "\xAF\x27", "h9", "zX", "!\n"}) {
      body[2] = static_cast<unsigned char>(next[0]);
      body[3] = static_cast<unsigned char>(next[1]);
      if (firstBytesRuleOut(body.data(), body.size(), 0)) {
        ASSERT_FALSE(firstLookLeavesOpen(body.data(), body.size())) << std::hex << pair << " " << next;
      }
    }
  }
}

TEST(ContainerSignatures, EarlyRuleOutWaitsForWhatMayBeginASignature) {
  const std::vector<std::string> mayBegin = {
      std::string("PK\x01\x02", 4),    // a zip's first two bytes
      std::string("\xEB\x01\x02", 3),  // boot code
      std::string("\x01\x02-lh", 5),   // lha's method at offset 2
      std::string("\x1F\x8B\x03", 3),  // gzip's first two bytes
      std::string("\x1F\x9D\x03", 3),  // compress's
      std::string("MZ\x01", 3),        // an executable's
      std::string("\x7F\x45\x4C", 3),  // an ELF one's, which begins with a control byte
  };
  for (const std::string& body : mayBegin) {
    EXPECT_FALSE(firstBytesMayRuleOut(bytesOf(body))) << body;
    EXPECT_FALSE(firstBytesRuleOut(bytesOf(body), body.size(), 0)) << body;
  }
  // A signature's first byte alone does not keep a body that goes on otherwise.
  for (const std::string& binary :
       {std::string("\x02\x91\xC3", 3), std::string("\x1F\x02\x03", 3), std::string("P\x01\x02", 3)}) {
    EXPECT_TRUE(firstBytesRuleOut(bytesOf(binary), binary.size(), 0)) << binary;
  }
  const std::string binary("\x02\x91\xC3", 3);
  const std::string text = "plain text\r\n\twith blanks";
  EXPECT_FALSE(firstBytesRuleOut(bytesOf(text), text.size(), 0));
  EXPECT_FALSE(firstBytesRuleOut(bytesOf(binary), 2, 0));  // too few bytes to say
}

// An old tar header has no magic: only its checksum, the sum of the header
// with the checksum field counted as blanks, tells it from text.
TEST(ContainerSignatures, OldTarHeaderByItsChecksum) {
  std::string header(512, '\0');
  auto field = [&header](std::size_t at, const std::string& text) { header.replace(at, text.size(), text); };
  field(0, "docs/invoice.exe");
  field(100, "0000644");
  field(124, "00000000002");
  field(156, "0");  // a regular file
  unsigned sum = 0;
  for (std::size_t i = 0; i < header.size(); ++i)
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%06o", sum);
  field(148, std::string(" ") + checksum);  // blanks before the digits, as some writers put them
  EXPECT_TRUE(firstLookLeavesOpen(bytesOf(header), firstLookBytes));
  EXPECT_TRUE(mayHoldContainer(bytesOf(header), header.size()));
  std::string changed = header;
  changed[156] = '1';  // the type flag counts in the sum
  EXPECT_FALSE(mayHoldContainer(bytesOf(changed), changed.size()));
  EXPECT_FALSE(mayHoldContainer(bytesOf(header), 511));
}

}  // namespace
}  // namespace zentry
