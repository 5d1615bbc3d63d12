#pragma once

#include <cstddef>
#include <string>

namespace zentry {

// A small table of signatures rather than libmagic: every attachment of
// every message is classified, in a process started per message, and
// libmagic's compiled database (8 MB, mapped and walked per call) costs 1 to
// 9 ms per process against 0.2 ms for the whole filter on an everyday
// message. The table knows only the kinds below, which is all a rule needs.

/// What the first bytes of a file say it is. Only the kinds a rule may want to
/// stop whatever the name says: executables, installers, shortcuts, and the
/// archive and image formats strict mode lists. Documents, pictures and text
/// are None: they never add a name.
enum class ContentKind {
  None,
  WindowsProgram,  // PE or DOS executable
  WindowsLibrary,  // PE with the DLL flag
  Elf,
  MachO,
  Shortcut,     // Windows .lnk
  Installer,    // Windows Installer database (an OLE file with the MSI class)
  JavaArchive,  // zip holding META-INF/MANIFEST.MF (known only after listing)
  Zip,
  SevenZip,
  Rar,
  Tar,
  Gzip,
  Bzip2,
  Xz,
  Zstd,
  Cabinet,
  IsoImage,
  Cpio,
  Tnef,       // Outlook's winmail.dat, which carries attachments of its own
  DiskImage,  // a FAT file system, or a disk whose first partition holds one
  Vhd,        // Virtual PC / Hyper-V disk, fixed (footer at the end) or dynamic
  Vhdx,
};

/// Bytes at the start of a file that classification reads: every signature
/// lies inside them, except the two below.
constexpr std::size_t contentSniffBytes = 4096;
/// An ISO 9660 image says so in its first volume descriptor, after a 32 KiB
/// system area: "CD001" at byte 32769.
constexpr std::size_t isoSignatureEnd = 32769 + 5;
/// An OLE file's class (installer or document) sits in its root directory
/// entry, wherever the header says; it is looked for only this far in.
constexpr std::size_t oleRootEntryReach = 1024 * 1024;

/// The kind of the bytes [data, data + size), which are the start of a file
/// (possibly all of it). Never reads outside them; short or damaged headers
/// give None.
ContentKind classifyContent(const unsigned char* data, std::size_t size);

/// How many leading bytes classifyContent needs to decide about a file whose
/// first `size` bytes are these: `size` itself when they suffice, more when
/// they begin an OLE file or might begin an ISO image. Never more than
/// oleRootEntryReach.
std::size_t bytesToClassify(const unsigned char* data, std::size_t size);

/// What a whole file of another kind carries where the tools that open it
/// look, beyond its first bytes: a zip whose end record closes the file (a
/// self-extracting program, a picture with a zip behind it), an ISO 9660
/// image behind a system area that is not blank, or the footer of a fixed
/// virtual disk. None when the bytes carry none. Reads at most the last
/// 65,557 bytes and the 5 before isoSignatureEnd.
ContentKind carriedKind(const unsigned char* data, std::size_t size);

/// Where the last valid zip end record in [data, data + size) starts,
/// searched in the last 65,557 bytes (the record and the longest comment),
/// as the tools that open a zip by its directory search: a record whose
/// directory ends right before it and starts with a directory entry (or a
/// zip64 locator before it). 0 when there is none.
std::size_t zipEndRecordAt(const unsigned char* data, std::size_t size);

/// Whether the sum of a 512-byte tar header, its checksum field counted as
/// blanks, is the octal number in that field: how a tar without the
/// `ustar` magic (an old one) is told from other data.
bool tarChecksumHolds(const unsigned char* data, std::size_t size);

/// True for the kinds the archive lister lists (libarchive's formats and
/// TNEF).
bool isArchiveKind(ContentKind kind);
/// True for a single compressed stream (gzip, bzip2, xz, zstd), whose one
/// member has no name of its own.
bool isCompressedStreamKind(ContentKind kind);

/// The kind's usual extension, lower case, without the dot ("exe"); empty for None.
const char* usualExtension(ContentKind kind);

/// Whether a file called `name` may hold content of this kind without
/// surprise: its extension (letter case ignored, trailing dots and blanks
/// dropped as Windows does) is one the kind is commonly saved under.
/// "report.docx" agrees with Zip; "photo.jpg" does not agree with WindowsProgram.
bool nameAgreesWithKind(const std::string& name, ContentKind kind);

}  // namespace zentry
