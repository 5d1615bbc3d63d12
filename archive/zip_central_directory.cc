#include "archive/zip_central_directory.h"

#include <algorithm>
#include <cstring>

#include "scanner/archive_limits.h"
#include "scanner/content_kind.h"

namespace zentry {
namespace {

std::uint32_t le16(const unsigned char* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

constexpr std::size_t entryHeaderBytes = 46;
constexpr std::size_t localHeaderBytes = 30;
constexpr std::uint32_t saturated32 = 0xFFFFFFFF;

// As libarchive names members written on Windows: '\' is a separator when
// the name holds no '/'.
std::string nameOf(const unsigned char* bytes, std::size_t length) {
  std::string name(reinterpret_cast<const char*>(bytes), length);
  if (name.find('/') == std::string::npos) std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

std::string keepTail(std::string text) {
  if (text.size() > maxMemberNameBytes) text.erase(0, text.size() - maxMemberNameBytes);
  return text;
}

// Where the central directory starts and how far it reaches, from the end
// record at `end` (or the zip64 record its locator points to). The
// directory's own offset counts from the zip's start, which leading data
// moves: the directory is taken to end where the end record (or the zip64
// record) begins, and the difference gives the shift of every offset.
struct DirectorySpan {
  std::size_t start = 0;
  std::size_t size = 0;
  std::uint64_t shift = 0;  // bytes of leading data before the zip
  bool valid = false;
};

DirectorySpan spanOf(const unsigned char* data, std::size_t end) {
  DirectorySpan span;
  std::uint64_t directorySize = le32(data + end + 12);
  std::uint64_t directoryOffset = le32(data + end + 16);
  std::size_t closing = end;  // where the directory ends
  if (end >= 20 && std::memcmp(data + end - 20, "PK\x06\x07", 4) == 0) {
    // The zip64 record lies right before its locator (whose offset, like
    // the directory's, counts from the zip's start).
    if (end - 20 < 56 || std::memcmp(data + end - 20 - 56, "PK\x06\x06", 4) != 0) return span;
    closing = end - 20 - 56;
    directorySize = le64(data + closing + 40);
    directoryOffset = le64(data + closing + 48);
  }
  if (directorySize > closing || directoryOffset > closing - directorySize) return span;
  span.start = closing - static_cast<std::size_t>(directorySize);
  span.size = static_cast<std::size_t>(directorySize);
  span.shift = span.start - directoryOffset;
  span.valid = true;
  return span;
}

// The zip64 extra field holds, in this order, only the values the entry
// saturated: uncompressed size, compressed size, local header offset.
void readZip64Extra(const unsigned char* extra, std::size_t length, std::uint64_t (&values)[3]) {
  std::size_t at = 0;
  while (length - at >= 4) {
    const std::uint32_t id = le16(extra + at);
    const std::size_t fieldLength = le16(extra + at + 2);
    at += 4;
    if (fieldLength > length - at) return;
    if (id == 0x0001) {
      const unsigned char* field = extra + at;
      std::size_t left = fieldLength;
      for (std::uint64_t& value : values) {
        if (value != saturated32) continue;
        if (left < 8) return;
        value = le64(field);
        field += 8;
        left -= 8;
      }
      return;
    }
    at += fieldLength;
  }
}

// The bytes of the name in the local header at `offset`, or none when no
// local header is there.
struct RawName {
  const unsigned char* bytes = nullptr;
  std::size_t length = 0;
};

RawName localName(const unsigned char* data, std::size_t size, std::uint64_t offset) {
  if (offset > size || size - offset < localHeaderBytes) return RawName{};
  const unsigned char* header = data + offset;
  if (std::memcmp(header, "PK\x03\x04", 4) != 0) return RawName{};
  const std::size_t length = le16(header + 26);
  if (size - offset - localHeaderBytes < length) return RawName{};
  return RawName{header + localHeaderBytes, length};
}

bool flaggedFolder(const std::string& path, unsigned system, std::uint32_t attributes) {
  if (!path.empty() && path.back() == '/') return true;
  if (system == 3) return (attributes >> 16 & 0xF000) == 0x4000;  // Unix S_IFDIR
  return system == 0 && (attributes & 0x10) != 0;                 // MS-DOS folder attribute
}

}  // namespace

CentralDirectory readDifferingCentralEntries(const unsigned char* data, std::size_t size, std::size_t limit) {
  CentralDirectory directory;
  const std::size_t end = zipEndRecordAt(data, size);
  if (end == 0) return directory;
  const DirectorySpan span = spanOf(data, end);
  if (!span.valid) {
    directory.complete = false;
    return directory;
  }
  std::size_t at = span.start;
  const std::size_t stop = span.start + span.size;
  while (at < stop) {
    if (stop - at < entryHeaderBytes || std::memcmp(data + at, "PK\x01\x02", 4) != 0) {
      directory.complete = false;
      return directory;
    }
    const unsigned char* header = data + at;
    const std::size_t nameLength = le16(header + 28);
    const std::size_t extraLength = le16(header + 30);
    const std::size_t commentLength = le16(header + 32);
    if (stop - at - entryHeaderBytes < nameLength + extraLength + commentLength) {
      directory.complete = false;
      return directory;
    }
    std::uint64_t values[3] = {le32(header + 24), le32(header + 20), le32(header + 42)};
    readZip64Extra(header + entryHeaderBytes + nameLength, extraLength, values);
    const std::uint64_t compressed = values[1];
    const std::uint64_t offset = values[2];
    const RawName local =
        offset <= UINT64_MAX - span.shift ? localName(data, size, offset + span.shift) : RawName{};
    at += entryHeaderBytes + nameLength + extraLength + commentLength;
    // Most names are the same bytes in both places: no copy of either then.
    if (local.bytes != nullptr && local.length == nameLength &&
        std::memcmp(local.bytes, header + entryHeaderBytes, nameLength) == 0)
      continue;
    std::string path = nameOf(header + entryHeaderBytes, nameLength);
    std::string localPath = local.bytes != nullptr ? nameOf(local.bytes, local.length) : std::string();
    if (local.bytes != nullptr && path == localPath) continue;
    if (directory.entries.size() == limit) {
      directory.complete = false;
      return directory;
    }
    CentralEntry entry;
    entry.folder = flaggedFolder(path, header[5], le32(header + 38));
    entry.compressedSize = compressed;
    entry.path = keepTail(std::move(path));
    entry.localPath = keepTail(std::move(localPath));
    directory.entries.push_back(std::move(entry));
  }
  return directory;
}

}  // namespace zentry
