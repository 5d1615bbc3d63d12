#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zentry {

// libarchive names a zip's members by their local headers, even when it
// finds them through the central directory; the tools people open a zip
// with (Explorer, 7-Zip, unzip) show the directory's names. A sender can
// make the two differ. This reads the directory's own names, to set them
// beside libarchive's.

/// One entry of a zip's central directory, and what its local header says.
struct CentralEntry {
  std::string path;       ///< the directory's name, backslashes made '/'
  std::string localPath;  ///< the local header's name there, the same way; empty when none is there
  bool folder = false;    ///< flagged as a folder (a trailing '/' or the folder attribute)
  std::uint64_t compressedSize = 0;
};

/// What reading a central directory gave.
struct CentralDirectory {
  std::vector<CentralEntry> entries;
  bool complete = true;  ///< false when the directory is damaged or more entries differ than the limit
};

/// Reads the central directory of the zip that ends [data, data + size)
/// (after leading data too) and keeps the entries whose name differs from
/// the one in their local header, or that have no local header where they
/// point: at most `limit` of them, each name cut to its last
/// maxMemberNameBytes. Zip64 offsets are read from their extra fields. An
/// archive without a valid end record gives no entries and counts as
/// complete: libarchive then reads it by its local headers alone.
CentralDirectory readDifferingCentralEntries(const unsigned char* data, std::size_t size, std::size_t limit);

}  // namespace zentry
