#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zentry {

// BinHex 4.0 sends a Macintosh file inside a text body: a line announcing
// it, then a stream between two ':' of six-bit characters whose bytes are
// run-length coded. The stream's header opens with the length of the file
// name and the name; mail clients show the block as an attachment so named.
// Only that much is decoded: the name, never the file.

/// Whether the line (its `size` bytes, line end included or not) is the
/// announcement "(This file must be converted with BinHex 4.0)", blanks
/// after it allowed.
bool announcesBinHex(const char* line, std::size_t size);

/// Most lines after the announcement read for the name: blank lines before
/// the stream and the stream's first lines. A name of 255 bytes, the most
/// its length byte can say, needs 343 characters, six lines as BinHex
/// writes them (64 characters each).
constexpr int maxBinHexNameLines = 16;

/// Decodes a BinHex 4.0 stream's header, line by line, as far as its file
/// name. Fed the lines after the announcement.
class BinHexNameReader {
 public:
  /// Takes the next line (`size` bytes, line end included or not); false
  /// once nothing after it is needed: the name is whole, or the line cannot
  /// belong to the stream (a character outside its alphabet, the stream's
  /// end, a non-blank line before its start).
  bool takeLine(const char* line, std::size_t size);
  /// The file name once the header gave it whole; empty otherwise (a length
  /// byte of 0, or a stream that ends or breaks before the name does).
  std::string name() const { return complete_ ? name_ : std::string(); }

 private:
  /// Takes one decoded byte through the run-length decoder.
  void takeByte(std::uint8_t byte);
  /// Takes one byte of the header as the run-length decoder gives it.
  void takeHeaderByte(std::uint8_t byte);

  bool started_ = false;   // the ':' that opens the stream was seen
  bool finished_ = false;  // the name is whole, or the stream cannot give it
  bool complete_ = false;
  std::uint32_t bits_ = 0;  // six-bit values not yet made into bytes
  int held_ = 0;            // how many of bits_ count
  bool afterMarker_ = false;
  std::uint8_t last_ = 0;  // the byte a run repeats
  int nameLength_ = -1;    // -1 until the length byte arrives
  std::string name_;
};

}  // namespace zentry
