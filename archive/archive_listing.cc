#include "archive/archive_listing.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "archive/archive_member_reader.h"
#include "archive/carried_message_listing.h"
#include "archive/tnef_listing.h"
#include "archive/zip_central_directory.h"
#include "scanner/archive_limits.h"
#include "scanner/carried_message.h"

namespace zentry {
namespace {

const char* const incompleteMarker = "|incomplete-archive";
const char* const routeSeparator = " > ";
// Where a name came from, when not from libarchive's usual reading; shown
// after the member's path in the trace.
const char* const fromCentralDirectory = " (central directory)";
const char* const fromFolderWithData = " (folder with data)";
const char* const fromJoliet = " (Joliet)";
const char* const fromIso9660 = " (ISO 9660)";

// Registers the one format the first bytes named, so libarchive spends no
// time asking every other format's bidder; a compressed stream may hold any
// of them, or a plain file (the raw format, which takes any input as one
// member and so bids last).
void supportFormats(archive* reader, ContentKind kind) {
  switch (kind) {
    case ContentKind::Zip:
      archive_read_support_format_zip(reader);
      return;
    case ContentKind::SevenZip:
      archive_read_support_format_7zip(reader);
      return;
    case ContentKind::Rar:
      archive_read_support_format_rar(reader);
      archive_read_support_format_rar5(reader);
      return;
    case ContentKind::Tar:
      archive_read_support_format_tar(reader);
      return;
    case ContentKind::Cabinet:
      archive_read_support_format_cab(reader);
      return;
    case ContentKind::IsoImage:
      archive_read_support_format_iso9660(reader);
      return;
    case ContentKind::Cpio:
      archive_read_support_format_cpio(reader);
      return;
    default:
      break;
  }
  archive_read_support_filter_gzip(reader);
  archive_read_support_filter_bzip2(reader);
  archive_read_support_filter_xz(reader);
  archive_read_support_filter_zstd(reader);
  archive_read_support_format_zip(reader);
  archive_read_support_format_7zip(reader);
  archive_read_support_format_rar(reader);
  archive_read_support_format_rar5(reader);
  archive_read_support_format_tar(reader);
  archive_read_support_format_cab(reader);
  archive_read_support_format_iso9660(reader);
  archive_read_support_format_cpio(reader);
  archive_read_support_format_raw(reader);
}

// A reader over bytes in memory, which it can seek in, so zip is read by its
// central directory and ISO by its directories.
archive* openArchive(const unsigned char* data, std::size_t size, ContentKind kind,
                     bool withoutRockRidge = false) {
  archive* reader = archive_read_new();
  if (reader == nullptr) return nullptr;
  supportFormats(reader, kind);
  // Without Rock Ridge libarchive reads the Joliet names, or else the plain
  // ISO 9660 ones.
  if (withoutRockRidge) archive_read_set_format_option(reader, "iso9660", "rockridge", nullptr);
  // Only names and first bytes are wanted, not integrity: no CRC over every
  // block of every member.
  if (kind == ContentKind::Zip || isCompressedStreamKind(kind)) {
    archive_read_set_format_option(reader, "zip", "ignorecrc32", "1");
  }
  if (archive_read_open_memory(reader, data, size) != ARCHIVE_OK) {
    archive_read_free(reader);
    return nullptr;
  }
  return reader;
}

struct ReaderCloser {
  archive* reader;
  ~ReaderCloser() {
    if (reader != nullptr) archive_read_free(reader);
  }
};

std::string keepTail(const std::string& text, std::size_t limit) {
  return text.size() <= limit ? text : text.substr(text.size() - limit);
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool equalsNoCase(const std::string& text, const char* literal) {
  const std::size_t length = std::strlen(literal);
  if (text.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const char a = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
    const char b = literal[i] >= 'a' && literal[i] <= 'z' ? static_cast<char>(literal[i] - 32) : literal[i];
    if (a != b) return false;
  }
  return true;
}

// Whether the member's bytes come out of a decompressor rather than
// straight from the archive in memory.
bool dataDecompresses(archive* reader) {
  if (archive_filter_count(reader) > 1) return true;
  switch (archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_TAR:
    case ARCHIVE_FORMAT_CPIO:
    case ARCHIVE_FORMAT_ISO9660:
      return false;
    default:
      return true;
  }
}

// Whether moving past a member costs decompression (which must be bounded)
// rather than a seek.
bool skipDecompresses(archive* reader, archive_entry* entry) {
  if (archive_filter_count(reader) > 1) return true;
  switch (archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_7ZIP:
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5:
    case ARCHIVE_FORMAT_CAB:
      return true;
    default:
      // A streamed zip member whose size follows its data is found only by inflating it.
      return archive_entry_size_is_set(entry) == 0;
  }
}

// Whether an ISO 9660 image has a Joliet volume: a supplementary volume
// descriptor whose escape sequence names UCS-2, among the descriptors that
// follow the 32 KiB system area.
bool hasJolietDescriptor(const unsigned char* data, std::size_t size) {
  for (std::size_t at = 32768; at <= size && size - at >= 2048; at += 2048) {
    const unsigned char* descriptor = data + at;
    if (std::memcmp(descriptor + 1, "CD001", 5) != 0 || descriptor[0] == 255) return false;
    if (descriptor[0] == 2 && descriptor[88] == '%' && descriptor[89] == '/' &&
        (descriptor[90] == '@' || descriptor[90] == 'C' || descriptor[90] == 'E'))
      return true;
    if (at >= 32768 + 2048 * 32) return false;
  }
  return false;
}

class ArchiveLister {
 public:
  ArchiveLister(const ArchiveOrigin& origin, ExaminationBudget& budget, ExaminationSink& sink)
      : origin_(origin), budget_(budget), sink_(sink) {}

  ContentKind list(const unsigned char* data, std::size_t size, bool truncated, ContentKind kind) {
    found_ = kind;
    incomplete_ = truncated;
    if (kind == ContentKind::Tnef) {
      if (!listTnef(origin_, data, size, budget_, sink_)) incomplete_ = true;
    } else {
      listWithLibarchive(data, size, kind);
    }
    if (incomplete_) sink_.foundName(origin_.name + incompleteMarker, origin_.route);
    return found_;
  }

 private:
  void listWithLibarchive(const unsigned char* data, std::size_t size, ContentKind kind) {
    ReaderCloser closer{openArchive(data, size, kind)};
    if (closer.reader == nullptr) {
      incomplete_ = true;
      return;
    }
    // The central directory is read first: the names in it that differ from
    // the local headers' are few or none, and only for those members is the
    // kind kept while libarchive lists them. An image keeps every path, for
    // the reading without Rock Ridge.
    CentralDirectory directory;
    if (kind == ContentKind::Zip) {
      directory = readDifferingCentralEntries(data, size, maxMembersPerMessage);
      for (const CentralEntry& entry : directory.entries) seen_.emplace(entry.localPath, ContentKind::None);
    }
    keepEveryPath_ = kind == ContentKind::IsoImage;
    streamMemberName_ = compressedMemberName(origin_.name, data, size);
    listMembers(closer.reader, "");
    if (kind == ContentKind::Zip) addCentralDirectoryNames(directory);
    if (kind == ContentKind::IsoImage && archive_format(closer.reader) == ARCHIVE_FORMAT_ISO9660_ROCKRIDGE)
      listWithoutRockRidge(data, size);
  }

  // An image with Rock Ridge names is listed by them; Windows shows the
  // Joliet names (or, without Joliet, the plain ISO 9660 ones), which a
  // sender can make differ. A second reading lists the members whose path
  // differs there, at most as many as the message's member bound.
  void listWithoutRockRidge(const unsigned char* data, std::size_t size) {
    ReaderCloser closer{openArchive(data, size, ContentKind::IsoImage, true)};
    if (closer.reader == nullptr) {
      incomplete_ = true;
      return;
    }
    const char* tag = hasJolietDescriptor(data, size) ? fromJoliet : fromIso9660;
    std::uint32_t headersLeft = maxMembersPerMessage;
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(closer.reader, &entry);
      if (status == ARCHIVE_EOF) return;
      if ((status != ARCHIVE_OK && status != ARCHIVE_WARN) || headersLeft == 0) {
        incomplete_ = true;
        return;
      }
      --headersLeft;
      if (seen_.count(entryPath(closer.reader, entry)) != 0) continue;
      if (budget_.membersLeft == 0) {
        incomplete_ = true;
        return;
      }
      --budget_.membersLeft;
      if (!visitMember(closer.reader, entry, tag)) return;
    }
  }

  // Names the central directory gives where they differ from the local
  // headers' (which libarchive reported): what Explorer, 7-Zip and unzip show.
  void addCentralDirectoryNames(const CentralDirectory& directory) {
    if (!directory.complete) incomplete_ = true;
    for (const CentralEntry& entry : directory.entries) {
      std::string path = entry.path;
      const char* tag = fromCentralDirectory;
      if (entry.folder) {
        if (entry.compressedSize == 0) continue;
        while (!path.empty() && path.back() == '/') path.pop_back();
        tag = fromFolderWithData;
      }
      const std::string base = keepTail(baseName(path), maxMemberNameBytes);
      if (base.empty()) continue;
      if (budget_.membersLeft == 0) {
        incomplete_ = true;
        return;
      }
      --budget_.membersLeft;
      const std::string route = origin_.route + routeSeparator + path + tag;
      sink_.foundName(base, route);
      const auto local = seen_.find(entry.localPath);
      if (local != seen_.end()) reportContentKind(base, route, local->second, sink_);
    }
  }

  std::string entryPath(archive* reader, archive_entry* entry) const {
    if ((archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW) return streamMemberName_;
    const char* path = archive_entry_pathname(entry);
    if (path == nullptr) path = archive_entry_pathname_utf8(entry);
    return path != nullptr ? path : "";
  }

  void listMembers(archive* reader, const char* tag) {
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader, &entry);
      if (!streamNamed_) nameStreamFile(reader);
      if (status == ARCHIVE_EOF) return;
      if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
        incomplete_ = true;  // damage, encrypted headers, an unsupported variant
        return;
      }
      if (budget_.membersLeft == 0) {
        incomplete_ = true;
        return;
      }
      --budget_.membersLeft;
      if (!visitMember(reader, entry, tag)) return;
    }
  }

  // A compressed stream holds one file, whatever format that file has: its
  // name is recorded before its members (a tar's), or as the one member when
  // it has no format of its own. Even a file that lists as empty (1 KiB of
  // zeros is a whole tar) cannot hide the stream's file name.
  void nameStreamFile(archive* reader) {
    streamNamed_ = true;
    if (!isCompressedStreamKind(found_)) return;
    if ((archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW) return;
    if (streamMemberName_.empty()) return;  // a nameless attachment: nothing to call its file
    sink_.foundName(streamMemberName_, origin_.route + routeSeparator + streamMemberName_);
  }

  // False when the listing cannot go on.
  bool visitMember(archive* reader, archive_entry* entry, const char* tag) {
    std::string path = entryPath(reader, entry);
    if (found_ == ContentKind::Zip && equalsNoCase(path, "META-INF/MANIFEST.MF")) {
      found_ = ContentKind::JavaArchive;
    }
    bool folder = archive_entry_filetype(entry) == AE_IFDIR;
    ContentKind* seenKind = nullptr;
    if (keepEveryPath_) {
      seenKind = &seen_.emplace(path, ContentKind::None).first->second;
    } else if (!seen_.empty()) {
      const auto wanted = seen_.find(path);
      if (wanted != seen_.end()) seenKind = &wanted->second;
    }
    // A zip entry flagged as a folder that holds data is extracted as a file.
    if (folder && (archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP &&
        archive_entry_size(entry) > 0) {
      folder = false;
      while (!path.empty() && path.back() == '/') path.pop_back();
      tag = fromFolderWithData;
    }
    const std::string base = keepTail(baseName(path), maxMemberNameBytes);
    if (folder || base.empty()) return true;
    const std::string route = origin_.route + routeSeparator + keepTail(path, maxMemberNameBytes) + tag;
    sink_.foundName(base, route);
    if (archive_entry_is_data_encrypted(entry) != 0) {
      // Named, but its content cannot be looked at: nor read as mail.
      if (looksLikeMailMessage(base, nullptr, 0)) sink_.foundName(base + incompleteMessageMarker, route);
      incomplete_ = true;
      return true;
    }
    MemberReader member(reader, dataDecompresses(reader), budget_);
    ContentKind kind = ContentKind::None;
    const ReadEnd end = examineMember(member, base, route, &kind);
    if (seenKind != nullptr) *seenKind = kind;
    if (end == ReadEnd::Failed || end == ReadEnd::BudgetSpent) incomplete_ = true;
    if (end == ReadEnd::MemberEnded || !skipDecompresses(reader, entry)) return true;
    // Past this member only by decompressing the rest of it: within the budget or not at all.
    if (end == ReadEnd::Reached && member.drain() == ReadEnd::MemberEnded) return true;
    incomplete_ = true;
    return false;
  }

  // Reads the member's first bytes, classifies them, lists it when it is an
  // archive itself and reports a kind that disagrees with its name.
  ReadEnd examineMember(MemberReader& member, const std::string& base, const std::string& route,
                        ContentKind* found) {
    std::vector<unsigned char> bytes;
    ReadEnd end = member.readTo(bytes, contentSniffBytes);
    std::size_t window = std::min(bytes.size(), contentSniffBytes);
    while (end == ReadEnd::Reached || bytes.size() > window) {
      const std::size_t needed = bytesToClassify(bytes.data(), window);
      if (needed <= window) break;
      if (bytes.size() < needed && end == ReadEnd::Reached) end = member.readTo(bytes, needed);
      window = std::min(bytes.size(), needed);
    }
    if (end == ReadEnd::Failed) {
      if (looksLikeMailMessage(base, nullptr, 0)) sink_.foundName(base + incompleteMessageMarker, route);
      return end;
    }
    ContentKind kind = classifyContent(bytes.data(), window);
    if (!isArchiveKind(kind) && looksLikeMailMessage(base, bytes.data(), window)) {
      end = readCarriedMessage(member, bytes, end, base, route);
    } else if (isArchiveKind(kind)) {
      if (origin_.depth >= maxArchiveDepth) {
        sink_.foundName(base + incompleteMarker, route);
      } else {
        if (end == ReadEnd::Reached) end = member.readTo(bytes, SIZE_MAX);
        if (end == ReadEnd::Failed) return end;
        const ArchiveOrigin inner{base, route, origin_.depth + 1};
        kind = ArchiveLister(inner, budget_, sink_)
                   .list(bytes.data(), bytes.size(), end != ReadEnd::MemberEnded, kind);
      }
    }
    reportContentKind(base, route, kind, sink_);
    *found = kind;
    return end;
  }

  // A member that is a mail message is read whole (up to the bound) and
  // then as mail, one level below its archive.
  ReadEnd readCarriedMessage(MemberReader& member, std::vector<unsigned char>& bytes, ReadEnd end,
                             const std::string& base, const std::string& route) {
    if (end == ReadEnd::Reached && origin_.depth < maxArchiveDepth)
      end = member.readTo(bytes, maxCarriedMessageBytes);
    const bool whole = end == ReadEnd::MemberEnded;
    const ArchiveOrigin message{base, route, origin_.depth + 1};
    listCarriedMessage(message, bytes.data(), bytes.size(), !whole, budget_, sink_);
    return end;
  }

  const ArchiveOrigin& origin_;
  ExaminationBudget& budget_;
  ExaminationSink& sink_;
  ContentKind found_ = ContentKind::None;
  bool incomplete_ = false;
  bool streamNamed_ = false;
  std::string streamMemberName_;
  // Member paths with the kind their first bytes showed: every path of an
  // image, whose second reading adds only the paths the first did not give;
  // for a zip, the local names of the entries its directory names otherwise.
  std::unordered_map<std::string, ContentKind> seen_;
  bool keepEveryPath_ = false;
};

// The original name in a gzip header (flag FNAME), or empty.
std::string gzipStoredName(const unsigned char* data, std::size_t size) {
  if (size < 10 || data[0] != 0x1F || data[1] != 0x8B) return std::string();
  const unsigned flags = data[3];
  std::size_t position = 10;
  if ((flags & 0x04) != 0) {  // FEXTRA: a two-byte length, then that many bytes
    if (size - position < 2) return std::string();
    position += 2 + static_cast<std::size_t>(data[position] | data[position + 1] << 8);
  }
  if ((flags & 0x08) == 0 || position >= size) return std::string();
  const std::size_t reach = std::min(size - position, maxMemberNameBytes * 4);
  const void* terminator = std::memchr(data + position, 0, reach);
  if (terminator == nullptr) return std::string();
  const std::size_t length =
      static_cast<std::size_t>(static_cast<const unsigned char*>(terminator) - (data + position));
  return std::string(reinterpret_cast<const char*>(data + position), length);
}

}  // namespace

ContentKind listArchive(const ArchiveOrigin& origin, const unsigned char* data, std::size_t size,
                        bool truncated, ContentKind kind, ExaminationBudget& budget, ExaminationSink& sink) {
  return ArchiveLister(origin, budget, sink).list(data, size, truncated, kind);
}

ContentKind examineCarriedFile(const ArchiveOrigin& origin, const unsigned char* data, std::size_t size,
                               bool truncated, ExaminationBudget& budget, ExaminationSink& sink) {
  std::size_t window = std::min(size, contentSniffBytes);
  window = std::min(size, bytesToClassify(data, window));
  ContentKind kind = classifyContent(data, window);
  if (!isArchiveKind(kind) && looksLikeMailMessage(origin.name, data, window)) {
    const std::size_t kept = std::min(size, maxCarriedMessageBytes);
    listCarriedMessage(origin, data, kept, truncated || kept < size, budget, sink);
  } else if (isArchiveKind(kind)) {
    if (origin.depth > maxArchiveDepth) {
      sink.foundName(origin.name + incompleteMarker, origin.route);
    } else {
      kind = ArchiveLister(origin, budget, sink).list(data, size, truncated, kind);
    }
  }
  reportContentKind(origin.name, origin.route, kind, sink);
  return kind;
}

std::string memberBaseName(const std::string& path) { return keepTail(baseName(path), maxMemberNameBytes); }

std::string compressedMemberName(const std::string& streamName, const unsigned char* data, std::size_t size) {
  std::string stored = keepTail(baseName(gzipStoredName(data, size)), maxMemberNameBytes);
  if (!stored.empty()) return stored;
  const std::size_t dot = streamName.rfind('.');
  if (dot != std::string::npos && dot > 0) return streamName.substr(0, dot);
  return streamName;
}

}  // namespace zentry
