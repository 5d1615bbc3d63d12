#include "scanner/content_kind.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zentry {
namespace {

// One row per kind: its usual extension and the extensions it is commonly
// saved under, space-separated. A kind whose name agrees adds nothing, so the
// lists lean to the generous side: a zip called .docx or .apk is no surprise.
struct KindRow {
  ContentKind kind;
  const char* extension;
  const char* agreeing;
};

const KindRow kindRows[] = {
    {ContentKind::WindowsProgram, "exe", "exe com scr cpl pif sys drv ocx efi mui ax dll"},
    {ContentKind::WindowsLibrary, "dll", "dll ocx cpl drv sys ax mui exe scr efi"},
    {ContentKind::Elf, "elf", "elf so o ko bin axf prx run out"},
    {ContentKind::MachO, "macho", "macho dylib bundle so o"},
    {ContentKind::Shortcut, "lnk", "lnk"},
    {ContentKind::Installer, "msi", "msi msp mst"},
    {ContentKind::JavaArchive, "jar", "jar war ear apk aar zip"},
    {ContentKind::Zip, "zip",
     "zip zipx docx docm dotx dotm xlsx xlsm xltx xltm xlsb xlam pptx pptm potx potm ppsx ppsm "
     "odt ods odp odg odf odc ott ots otp otg epub jar war ear apk aar xpi crx kmz vsdx vsdm 3mf "
     "nupkg appx appxbundle msix ipa whl cbz oxps xps"},
    {ContentKind::SevenZip, "7z", "7z"},
    {ContentKind::Rar, "rar", "rar cbr r00"},
    {ContentKind::Tar, "tar", "tar ova cbt"},
    {ContentKind::Gzip, "gz", "gz tgz gzip z taz svgz"},
    {ContentKind::Bzip2, "bz2", "bz2 bz tbz tbz2"},
    {ContentKind::Xz, "xz", "xz txz"},
    {ContentKind::Zstd, "zst", "zst zstd tzst"},
    {ContentKind::Cabinet, "cab", "cab"},
    {ContentKind::IsoImage, "iso", "iso img"},
    {ContentKind::Cpio, "cpio", "cpio"},
    {ContentKind::Tnef, "tnef", "dat tnef"},
    {ContentKind::DiskImage, "img", "img ima flp vfd dsk raw"},
    {ContentKind::Vhd, "vhd", "vhd"},
    {ContentKind::Vhdx, "vhdx", "vhdx avhdx"},
};

const KindRow* rowOf(ContentKind kind) {
  for (const KindRow& row : kindRows) {
    if (row.kind == kind) return &row;
  }
  return nullptr;
}

bool startsWith(const unsigned char* data, std::size_t size, std::size_t offset, const char* magic,
                std::size_t length) {
  return offset <= size && size - offset >= length && std::memcmp(data + offset, magic, length) == 0;
}

std::uint32_t le16(const unsigned char* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t be32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// "MZ" starts many texts too; a DOS header is believed only when the PE
// signature is where e_lfanew points, or when its page fields are ones a
// linker writes (a text's letters make both values at least 0x2020).
ContentKind classifyMz(const unsigned char* data, std::size_t size) {
  if (size < 64) return ContentKind::None;
  const std::uint32_t peOffset = le32(data + 0x3C);
  if (peOffset <= size && size - peOffset >= 24 && std::memcmp(data + peOffset, "PE\0\0", 4) == 0) {
    const std::uint32_t characteristics = le16(data + peOffset + 22);
    return (characteristics & 0x2000) != 0 ? ContentKind::WindowsLibrary : ContentKind::WindowsProgram;
  }
  const std::uint32_t lastPageBytes = le16(data + 2);
  const std::uint32_t headerParagraphs = le16(data + 8);
  if (lastPageBytes < 512 && headerParagraphs >= 4 && headerParagraphs < 0x1000) {
    return ContentKind::WindowsProgram;
  }
  return ContentKind::None;
}

// Where an OLE file's root directory entry starts: the sector after the
// header's own, numbered from the header's first-directory-sector field.
// 0 when the header is not usable.
std::size_t oleRootEntryOffset(const unsigned char* data, std::size_t size) {
  if (size < 0x34) return 0;
  const std::uint32_t sectorShift = le16(data + 0x1E);
  if (sectorShift != 9 && sectorShift != 12) return 0;
  const std::uint64_t sector = le32(data + 0x30);
  const std::uint64_t offset = (sector + 1) << sectorShift;
  return offset + 0x60 <= oleRootEntryReach ? static_cast<std::size_t>(offset) : 0;
}

// Windows Installer class identifiers {000C1084,1086,1082-0000-0000-C000-
// 000000000046} (package, patch, transform) as stored, little-endian first.
ContentKind classifyOle(const unsigned char* data, std::size_t size) {
  const std::size_t root = oleRootEntryOffset(data, size);
  if (root == 0 || size < root + 0x60) return ContentKind::None;
  const unsigned char* clsid = data + root + 0x50;
  static const unsigned char tail[] = {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  const bool installerClass = (clsid[0] == 0x84 || clsid[0] == 0x86 || clsid[0] == 0x82) &&
                              clsid[1] == 0x10 && std::memcmp(clsid + 2, tail, sizeof tail) == 0;
  return installerClass ? ContentKind::Installer : ContentKind::None;
}

// Whether a zip end record at `at` closes a central directory: its disk
// fields are those of a single-file archive and the directory it sizes ends
// right before it and starts with a directory entry (a zip64 archive: its
// locator lies right before it). Offsets inside the record are left alone:
// behind leading data they count from the zip's own start.
bool zipEndRecordHolds(const unsigned char* data, std::size_t at) {
  const unsigned char* record = data + at;
  const std::uint32_t entries = le16(record + 10);
  if (le16(record + 4) != le16(record + 6) || le16(record + 8) != entries || entries == 0) return false;
  const std::uint32_t directorySize = le32(record + 12);
  if (entries == 0xFFFF || directorySize == 0xFFFFFFFF || le32(record + 16) == 0xFFFFFFFF) {
    return at >= 20 && std::memcmp(record - 20, "PK\x06\x07", 4) == 0;
  }
  if (directorySize < 46 || directorySize > at) return false;
  return std::memcmp(data + at - directorySize, "PK\x01\x02", 4) == 0;
}

const unsigned char oleMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

bool isOle(const unsigned char* data, std::size_t size) {
  return size >= sizeof oleMagic && std::memcmp(data, oleMagic, sizeof oleMagic) == 0;
}

// A fat (universal) Mach-O file and a Java class file share CAFEBABE; the
// next word is the architecture count (a few) or the class version (45 up).
ContentKind classifyCafeBabe(const unsigned char* data, std::size_t size) {
  if (size < 8) return ContentKind::None;
  const std::uint32_t count = be32(data + 4);
  return count >= 1 && count < 20 ? ContentKind::MachO : ContentKind::None;
}

bool isShortcut(const unsigned char* data, std::size_t size) {
  // Header size 0x4C, then the shell link class {00021401-0000-0000-C000-000000000046}.
  static const unsigned char magic[] = {0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  return size >= sizeof magic && std::memcmp(data, magic, sizeof magic) == 0;
}

// A FAT boot sector: a jump, then a parameter block whose fields hold
// values a formatter writes, and the boot signature.
bool isFatBootSector(const unsigned char* d, std::size_t n) {
  if (n < 512 || d[510] != 0x55 || d[511] != 0xAA) return false;
  if (d[0] != 0xEB && d[0] != 0xE9) return false;
  const std::uint32_t sectorBytes = le16(d + 11);
  const unsigned clusterSectors = d[13];
  const unsigned fats = d[16];
  const bool sectorSizeValid =
      sectorBytes == 512 || sectorBytes == 1024 || sectorBytes == 2048 || sectorBytes == 4096;
  const bool clusterValid = clusterSectors != 0 && (clusterSectors & (clusterSectors - 1)) == 0;
  return sectorSizeValid && clusterValid && le16(d + 14) != 0 && (fats == 1 || fats == 2) && d[21] >= 0xF0;
}

// A partitioned disk: a master boot record whose first entry is a FAT or
// NTFS partition (or the guard entry of a GUID partition table).
bool isPartitionedDisk(const unsigned char* d, std::size_t n) {
  if (n < 512 || d[510] != 0x55 || d[511] != 0xAA) return false;
  const unsigned char* entry = d + 446;
  if (entry[0] != 0x00 && entry[0] != 0x80) return false;
  static const unsigned char types[] = {0x01, 0x04, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0xEE};
  const bool known = std::find(std::begin(types), std::end(types), entry[4]) != std::end(types);
  return known && le32(entry + 8) != 0 && le32(entry + 12) != 0;
}

ContentKind classifyDisk(const unsigned char* d, std::size_t n) {
  return isFatBootSector(d, n) || isPartitionedDisk(d, n) ? ContentKind::DiskImage : ContentKind::None;
}

ContentKind classifyByMagic(const unsigned char* d, std::size_t n) {
  if (startsWith(d, n, 0, "MZ", 2)) return classifyMz(d, n);
  if (startsWith(d, n, 0,
                 "\x7F"
                 "ELF",
                 4) &&
      n >= 6 && (d[4] == 1 || d[4] == 2) && (d[5] == 1 || d[5] == 2)) {
    return ContentKind::Elf;
  }
  if (startsWith(d, n, 0, "\xFE\xED\xFA\xCE", 4) || startsWith(d, n, 0, "\xFE\xED\xFA\xCF", 4) ||
      startsWith(d, n, 0, "\xCE\xFA\xED\xFE", 4) || startsWith(d, n, 0, "\xCF\xFA\xED\xFE", 4)) {
    return ContentKind::MachO;
  }
  if (startsWith(d, n, 0, "\xCA\xFE\xBA\xBE", 4)) return classifyCafeBabe(d, n);
  if (isShortcut(d, n)) return ContentKind::Shortcut;
  if (isOle(d, n)) return classifyOle(d, n);
  if (startsWith(d, n, 0, "PK\x03\x04", 4)) return ContentKind::Zip;
  // A split zip of one segment starts with the spanning marker.
  if (startsWith(d, n, 0, "PK\x07\x08PK\x03\x04", 8) || startsWith(d, n, 0, "PK00PK\x03\x04", 8)) {
    return ContentKind::Zip;
  }
  if (startsWith(d, n, 0, "\x78\x9F\x3E\x22", 4)) return ContentKind::Tnef;
  if (startsWith(d, n, 0, "vhdxfile", 8)) return ContentKind::Vhdx;
  // A dynamic disk starts with a copy of the footer a fixed one ends in.
  if (startsWith(d, n, 0, "conectix", 8)) return ContentKind::Vhd;
  if (startsWith(d, n, 0, "7z\xBC\xAF\x27\x1C", 6)) return ContentKind::SevenZip;
  if (startsWith(d, n, 0, "Rar!\x1A\x07", 6)) return ContentKind::Rar;
  if (startsWith(d, n, 0, "\x1F\x8B\x08", 3)) return ContentKind::Gzip;
  if (startsWith(d, n, 0, "BZh", 3) && n > 3 && d[3] >= '1' && d[3] <= '9') return ContentKind::Bzip2;
  if (startsWith(d, n, 0,
                 "\xFD"
                 "7zXZ\0",
                 6))
    return ContentKind::Xz;
  if (startsWith(d, n, 0, "\x28\xB5\x2F\xFD", 4)) return ContentKind::Zstd;
  if (startsWith(d, n, 0, "MSCF\0\0\0\0", 8)) return ContentKind::Cabinet;
  if (startsWith(d, n, 0, "07070", 5) && n > 5 && (d[5] == '7' || d[5] == '1' || d[5] == '2')) {
    return ContentKind::Cpio;
  }
  if (startsWith(d, n, 257, "ustar", 5)) return ContentKind::Tar;
  if (startsWith(d, n, 32769, "CD001", 5)) return ContentKind::IsoImage;
  if (tarChecksumHolds(d, n)) return ContentKind::Tar;
  return classifyDisk(d, n);
}

}  // namespace

ContentKind classifyContent(const unsigned char* data, std::size_t size) {
  return data == nullptr ? ContentKind::None : classifyByMagic(data, size);
}

std::size_t bytesToClassify(const unsigned char* data, std::size_t size) {
  if (isOle(data, size)) {
    const std::size_t root = oleRootEntryOffset(data, size);
    return root == 0 ? size : std::max(size, root + 0x60);
  }
  // An ISO image's system area is zeros, or a boot record ending in 55 AA
  // (hybrid images); only then is reading on to its descriptor worth it.
  // A hybrid image's boot record may also look like a partitioned disk.
  const auto open = [&] {
    const ContentKind early = classifyContent(data, size);
    return early == ContentKind::None || early == ContentKind::DiskImage;
  };
  if (size >= contentSniffBytes && size < isoSignatureEnd && open()) {
    static const unsigned char zeros[512] = {};
    const bool bootRecord = data[510] == 0x55 && data[511] == 0xAA;
    if (bootRecord || std::memcmp(data, zeros, sizeof zeros) == 0) return isoSignatureEnd;
  }
  return size;
}

std::size_t zipEndRecordAt(const unsigned char* data, std::size_t size) {
  if (size < 22 + 46) return 0;
  std::size_t found = 0;
  const unsigned char* cursor = data + (size > 65557 ? size - 65557 : 0);
  const unsigned char* last = data + size - 22;  // the last place a whole record fits
  while (cursor <= last) {
    cursor = static_cast<const unsigned char*>(
        std::memchr(cursor, 'P', static_cast<std::size_t>(last - cursor) + 1));
    if (cursor == nullptr) break;
    const auto at = static_cast<std::size_t>(cursor - data);
    if (std::memcmp(cursor, "PK\x05\x06", 4) == 0 && zipEndRecordHolds(data, at)) found = at;
    ++cursor;
  }
  return found;
}

bool tarChecksumHolds(const unsigned char* data, std::size_t size) {
  // The field holds octal digits, blanks and NULs only; most data fails here.
  if (data == nullptr || size < 512) return false;
  for (std::size_t i = 148; i < 156; ++i) {
    if (data[i] != ' ' && data[i] != 0 && (data[i] < '0' || data[i] > '7')) return false;
  }
  unsigned long sum = 0;
  for (std::size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : data[i];
  unsigned long written = 0;
  std::size_t i = 148;
  while (i < 156 && data[i] == ' ') ++i;
  const std::size_t digitsStart = i;
  while (i < 156 && data[i] >= '0' && data[i] <= '7') written = written * 8 + (data[i++] - '0');
  return i > digitsStart && written == sum;
}

ContentKind carriedKind(const unsigned char* data, std::size_t size) {
  if (data == nullptr) return ContentKind::None;
  if (startsWith(data, size, 32769, "CD001", 5)) return ContentKind::IsoImage;
  if (zipEndRecordAt(data, size) != 0) return ContentKind::Zip;
  // A fixed disk is the raw disk with a 512-byte footer behind it.
  if (size >= 1024 && std::memcmp(data + size - 512, "conectix", 8) == 0) return ContentKind::Vhd;
  return ContentKind::None;
}

bool isArchiveKind(ContentKind kind) {
  switch (kind) {
    case ContentKind::JavaArchive:
    case ContentKind::Zip:
    case ContentKind::SevenZip:
    case ContentKind::Rar:
    case ContentKind::Tar:
    case ContentKind::Cabinet:
    case ContentKind::IsoImage:
    case ContentKind::Cpio:
    case ContentKind::Tnef:
      return true;
    default:
      return isCompressedStreamKind(kind);
  }
}

bool isCompressedStreamKind(ContentKind kind) {
  return kind == ContentKind::Gzip || kind == ContentKind::Bzip2 || kind == ContentKind::Xz ||
         kind == ContentKind::Zstd;
}

const char* usualExtension(ContentKind kind) {
  const KindRow* row = rowOf(kind);
  return row != nullptr ? row->extension : "";
}

bool nameAgreesWithKind(const std::string& name, ContentKind kind) {
  const KindRow* row = rowOf(kind);
  if (row == nullptr) return true;
  std::size_t end = name.size();
  while (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) --end;
  const std::size_t dot = name.rfind('.', end == 0 ? 0 : end - 1);
  if (dot == std::string::npos || end == 0) return false;
  std::string extension;
  for (std::size_t i = dot + 1; i < end; ++i) {
    const char c = name[i];
    extension += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (extension.empty()) return false;
  // Whole words of the space-separated list only: "ex" must not agree with
  // "exe". The extension may hold any byte, NUL included.
  for (const char* word = row->agreeing; *word != '\0';) {
    const std::size_t length = std::strcspn(word, " ");
    if (length == extension.size() && extension.compare(0, length, word, length) == 0) return true;
    word += length;
    while (*word == ' ') ++word;
  }
  return false;
}

}  // namespace zentry
