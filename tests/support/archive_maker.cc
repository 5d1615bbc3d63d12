#include "support/archive_maker.h"

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zentry::test {
namespace {

void put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void put32(std::string& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}
void set32(std::string& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
std::uint32_t crc(const std::string& bytes, std::size_t from = 0) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + from), static_cast<uInt>(bytes.size() - from)));
}

void check(int status, archive* writer) {
  if (status < ARCHIVE_WARN) throw std::runtime_error(archive_error_string(writer));
}

void setFormat(archive* writer, ArchiveFormat format) {
  switch (format) {
    case ArchiveFormat::Zip:
      check(archive_write_set_format_zip(writer), writer);
      break;
    case ArchiveFormat::SevenZip:
      check(archive_write_set_format_7zip(writer), writer);
      break;
    case ArchiveFormat::Tar:
      check(archive_write_set_format_pax_restricted(writer), writer);
      break;
    case ArchiveFormat::Iso:
      check(archive_write_set_format_iso9660(writer), writer);
      break;
    case ArchiveFormat::Cpio:
      check(archive_write_set_format_cpio(writer), writer);
      break;
  }
}

void addFilter(archive* writer, ArchiveFilter filter) {
  switch (filter) {
    case ArchiveFilter::None:
      break;
    case ArchiveFilter::Gzip:
      check(archive_write_add_filter_gzip(writer), writer);
      break;
    case ArchiveFilter::Bzip2:
      check(archive_write_add_filter_bzip2(writer), writer);
      break;
    case ArchiveFilter::Xz:
      check(archive_write_add_filter_xz(writer), writer);
      break;
    case ArchiveFilter::Zstd:
      check(archive_write_add_filter_zstd(writer), writer);
      break;
  }
}

}  // namespace

std::string makeArchive(ArchiveFormat format, const std::vector<ArchiveMember>& members, ArchiveFilter filter,
                        const char* passphrase) {
  std::size_t capacity = 1 << 20;
  for (const ArchiveMember& member : members) capacity += member.bytes.size() + member.path.size() + 1024;
  std::string out(capacity, '\0');
  std::size_t used = 0;
  archive* writer = archive_write_new();
  setFormat(writer, format);
  addFilter(writer, filter);
  if (passphrase != nullptr) {
    check(archive_write_set_options(writer, "zip:encryption=zipcrypt"), writer);
    check(archive_write_set_passphrase(writer, passphrase), writer);
  }
  check(archive_write_set_bytes_in_last_block(writer, 1), writer);
  check(archive_write_open_memory(writer, out.data(), out.size(), &used), writer);
  for (const ArchiveMember& member : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, member.path.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(member.bytes.size()));
    check(archive_write_header(writer, entry), writer);
    if (!member.bytes.empty()) archive_write_data(writer, member.bytes.data(), member.bytes.size());
    archive_entry_free(entry);
  }
  check(archive_write_close(writer), writer);
  archive_write_free(writer);
  out.resize(used);
  return out;
}

std::string gzipFile(const std::string& storedName, const std::string& bytes) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  gz_header header{};
  std::string name = storedName;
  header.name = reinterpret_cast<Bytef*>(name.data());
  if (!storedName.empty()) deflateSetHeader(&stream, &header);
  std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + name.size() + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// One folder, one file, one stored data block.
std::string makeCabinet(const ArchiveMember& member) {
  const std::uint32_t dataSize = static_cast<std::uint32_t>(member.bytes.size());
  const std::uint32_t filesOffset = 36 + 8;
  const std::uint32_t dataOffset = filesOffset + 16 + static_cast<std::uint32_t>(member.path.size()) + 1;
  std::string cab = "MSCF";
  put32(cab, 0);
  put32(cab, dataOffset + 8 + dataSize);  // cabinet size
  put32(cab, 0);
  put32(cab, filesOffset);
  put32(cab, 0);
  cab += '\x03';
  cab += '\x01';  // version 1.3
  put16(cab, 1);  // folders
  put16(cab, 1);  // files
  put16(cab, 0);  // flags
  put16(cab, 0);  // set id
  put16(cab, 0);  // index in set
  put32(cab, dataOffset);
  put16(cab, 1);  // data blocks
  put16(cab, 0);  // stored
  put32(cab, dataSize);
  put32(cab, 0);  // offset in folder
  put16(cab, 0);  // folder
  put16(cab, 0x5A21);
  put16(cab, 0);
  put16(cab, 0x20);
  cab += member.path + '\0';
  put32(cab, 0);  // no checksum
  put16(cab, dataSize);
  put16(cab, dataSize);
  return cab + member.bytes;
}

// RAR 4: marker, archive header, one stored file, end block; each header
// checked by the low 16 bits of its CRC-32.
std::string makeRar(const ArchiveMember& member) {
  std::string rar = "Rar!\x1A\x07";
  rar += '\0';
  std::string header("\0\0\x73\0\0\x0D\0\0\0\0\0\0\0", 13);
  header[0] = static_cast<char>(crc(header, 2) & 0xFF);
  header[1] = static_cast<char>((crc(header, 2) >> 8) & 0xFF);
  rar += header;
  std::string file("\0\0\x74\0\x80", 5);
  put16(file, 32 + static_cast<std::uint32_t>(member.path.size()));
  put32(file, static_cast<std::uint32_t>(member.bytes.size()));
  put32(file, static_cast<std::uint32_t>(member.bytes.size()));
  file += '\0';  // host OS
  put32(file, crc(member.bytes));
  put32(file, 0x5A210000);  // DOS time
  file += '\x14';           // version 2.0
  file += '\x30';           // stored
  put16(file, static_cast<std::uint32_t>(member.path.size()));
  put32(file, 0x20);
  file += member.path;
  const std::uint32_t headerCrc = crc(file, 2);
  file[0] = static_cast<char>(headerCrc & 0xFF);
  file[1] = static_cast<char>((headerCrc >> 8) & 0xFF);
  return rar + file + member.bytes + std::string("\xC4\x3D\x7B\x00\x40\x07\x00", 7);
}

// One record: level, attribute, length, data, and the sum of the data's
// bytes as its checksum.
void putTnefRecord(std::string& out, char level, std::uint32_t attribute, const std::string& data) {
  out += level;
  put32(out, attribute);
  put32(out, static_cast<std::uint32_t>(data.size()));
  out += data;
  std::uint32_t sum = 0;
  for (const char byte : data) sum += static_cast<unsigned char>(byte);
  put16(out, sum & 0xFFFF);
}

std::string makeTnef(const std::vector<TnefAttachment>& attachments) {
  std::string tnef("\x78\x9F\x3E\x22\x01\x00", 6);
  putTnefRecord(tnef, 1, 0x00089006, std::string("\0\0\x01\0", 4));  // version 1.0
  for (const TnefAttachment& attachment : attachments) {
    std::string rendering;
    put16(rendering, 1);  // a file
    put32(rendering, 0xFFFFFFFF);
    put16(rendering, 0);
    put16(rendering, 0);
    put32(rendering, 0);
    putTnefRecord(tnef, 2, 0x00069002, rendering);
    putTnefRecord(tnef, 2, 0x00018010, attachment.title + '\0');
    if (!attachment.bytes.empty()) putTnefRecord(tnef, 2, 0x0006800F, attachment.bytes);
    if (!attachment.longName.empty()) {
      // One property, PR_ATTACH_LONG_FILENAME as an 8-bit string: its tag,
      // one value, its length, its bytes padded to four.
      std::string properties;
      put32(properties, 1);
      put32(properties, 0x3707001E);
      put32(properties, 1);
      const std::string value = attachment.longName + '\0';
      put32(properties, static_cast<std::uint32_t>(value.size()));
      properties += value + std::string((4 - value.size() % 4) % 4, '\0');
      putTnefRecord(tnef, 2, 0x00069005, properties);
    }
  }
  return tnef;
}

std::string runImageTool(const std::string& script, const std::string& output) {
  char directory[] = "/tmp/zentry-image-XXXXXX";
  if (mkdtemp(directory) == nullptr) throw std::runtime_error("no temporary directory");
  const std::string command = "cd '" + std::string(directory) + "' && (" + script + ") >/dev/null 2>&1";
  // The image tools are Debian's own programs, run as a script would.
  const int status = std::system(command.c_str());  // NOLINT(cert-env33-c)
  std::ifstream file(std::string(directory) + "/" + output, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::system(("rm -rf '" + std::string(directory) + "'").c_str());  // NOLINT(cert-env33-c)
  if (status != 0 || bytes.empty()) throw std::runtime_error("image tool failed: " + script);
  return bytes;
}

std::string peHeader(bool library) {
  std::string pe(0x40, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  set32(pe, 0x3C, 0x40);
  pe += std::string("PE\0\0\x4C\x01", 6) + std::string(18, '\0');
  pe[0x40 + 22] = 0x02;
  pe[0x40 + 23] = library ? 0x21 : 0x01;
  return pe + std::string(200, '\0');
}

std::string elfHeader() {
  return std::string(
             "\x7F"
             "ELF\x02\x01\x01",
             7) +
         std::string(57, '\0');
}
std::string machOHeader() {
  return std::string("\xCF\xFA\xED\xFE\x07\x00\x00\x01", 8) + std::string(24, '\0');
}

std::string shortcutHeader() {
  return std::string("\x4C\0\0\0\x01\x14\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 20) + std::string(56, '\0');
}

std::string oleFile(bool installer) {
  std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  ole.resize(1024, '\0');
  ole[0x1E] = 9;  // 512-byte sectors; the directory starts at sector 0, right after the header
  const std::string clsid = installer ? std::string("\x84\x10\x0C\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 16)
                                      : std::string("\x06\x09\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 16);
  ole.replace(512 + 0x50, 16, clsid);
  return ole;
}

}  // namespace zentry::test
