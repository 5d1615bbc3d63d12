#pragma once

#include <cstddef>

namespace zentry {

/// Decoded bytes at the start of a body that decide whether the rest of it
/// is decoded for examination: a first look, then the first sector for the
/// bodies that the first look cannot rule out.
constexpr std::size_t firstLookBytes = 48;
constexpr std::size_t signatureProbeBytes = 512;

/// A byte that rules out a first look (below): text and NULs, as a tar
/// header's name field holds (UTF-8 names included), have none; control
/// bytes are common in any binary data.
inline bool isControlByte(unsigned char byte) {
  return (byte < 0x20 && byte != 0 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7F;
}

/// Whether the first bytes of a body (up to firstLookBytes) leave it open
/// that the body holds an archive: a magic number at the start, or bytes that
/// could begin a tar header or an ISO 9660 system area (no control bytes but
/// NUL, tab, CR and LF; or the first byte of boot code). Random, compressed
/// and most media data is ruled out here.
bool firstLookLeavesOpen(const unsigned char* data, std::size_t size);

/// Whether these first bytes of a body (fewer than firstLookBytes + 3 in all
/// so far) already make firstLookLeavesOpen false for the first look at the
/// body, whatever bytes follow: no signature can start there and a control
/// byte is among them. Then no content kind can be told from them either.
/// Lets a body be ruled out after a few decoded bytes. The first `checked`
/// bytes are taken to hold no control byte: a caller that asks again after
/// more bytes came passes the size of its previous question.
bool firstBytesRuleOut(const unsigned char* data, std::size_t size, std::size_t checked);
/// Whether firstBytesRuleOut can ever say yes for a body that begins with
/// these three bytes (or more), whatever bytes follow.
bool firstBytesMayRuleOut(const unsigned char* data);

/// Whether a body whose first bytes are these (up to signatureProbeBytes of
/// them) may be an archive, a compressed file, a disk image or an executable
/// that carries one, judged by what such files hold at fixed places: the
/// magic numbers of zip, 7z, rar, gzip, bzip2, xz, zstd, lzip, lzma,
/// compress, cab, ar, xar, cpio, lha, TNEF, virtual disks, executables,
/// compound files and shortcuts (whose kind examination tells from bytes
/// further in), and pictures (a zip may follow them); a tar header (by its
/// magic or its checksum); a first sector that is all zeros or ends in a
/// boot signature (the system area of an ISO 9660 image). Deliberately
/// broad: a
/// body that says yes is only decoded whole, not taken for an archive.
bool mayHoldContainer(const unsigned char* data, std::size_t size);

}  // namespace zentry
