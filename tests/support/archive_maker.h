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

/// One attachment of a TNEF stream: its title record, the long file name
/// among its properties when not empty, and its data record when not empty.
struct TnefAttachment {
  std::string title;
  std::string longName;
  std::string bytes;
};

/// An Outlook TNEF stream (winmail.dat) carrying `attachments`: signature,
/// key, then per attachment its records, each with its checksum.
std::string makeTnef(const std::vector<TnefAttachment>& attachments);

/// Runs `script` with /bin/sh in a fresh temporary directory and returns
/// the bytes of the file `output` it leaves there; throws when the script
/// fails (a tool it needs is missing: tools/install-deps.sh installs them).
std::string runImageTool(const std::string& script, const std::string& output);

/// Smallest headers that the content classifier must recognise.
std::string peHeader(bool library);
std::string elfHeader();
std::string machOHeader();
std::string shortcutHeader();
/// An OLE file whose root entry carries the Windows Installer class (or a
/// Word document's).
std::string oleFile(bool installer);

}  // namespace zentry::test
