#pragma once

#include <string>
#include <vector>

namespace zentry::test {

/// One file to put into an archive the test makes.
struct ArchiveMember {
  std::string path;
  std::string bytes;
};

/// Archive formats libarchive can write, and the compression on top.
enum class ArchiveFormat { Zip, SevenZip, Tar, Iso, Cpio };
enum class ArchiveFilter { None, Gzip, Bzip2, Xz, Zstd };

/// An archive of `members` written by libarchive.
/// With a passphrase, a zip's members are encrypted (traditional PKWARE).
std::string makeArchive(ArchiveFormat format, const std::vector<ArchiveMember>& members,
                        ArchiveFilter filter = ArchiveFilter::None, const char* passphrase = nullptr);

/// One gzip member of `bytes` (zlib), with `storedName` as its original
/// name unless empty.
std::string gzipFile(const std::string& storedName, const std::string& bytes);

/// Hand-built archives of stored members, for formats libarchive only reads.
std::string makeCabinet(const ArchiveMember& member);
std::string makeRar(const ArchiveMember& member);

/// Smallest headers that the content classifier must recognise.
std::string peHeader(bool library);
std::string elfHeader();
std::string machOHeader();
std::string shortcutHeader();
/// An OLE file whose root entry carries the Windows Installer class (or a
/// Word document's).
std::string oleFile(bool installer);

}  // namespace zentry::test
