#pragma once

#include <cstddef>
#include <string>

#include "scanner/attachment_examination.h"
#include "scanner/content_kind.h"

namespace zentry {

/// Where an archive being listed came from.
struct ArchiveOrigin {
  std::string name;   ///< its own base name (an attachment's or a member's)
  std::string route;  ///< the trace route to it, its own name last
  int depth;          ///< 1 for an attachment, 1 more per enclosing archive
};

/// Lists the archive in [data, data + size), whose first bytes were
/// classified as `kind` (an archive kind), and everything nested in it:
/// every member's base name reaches the sink, and members whose content
/// disagrees with their names add "|content.<ext>" names. Returns the kind
/// the listing found the archive to be: JavaArchive for a zip with a
/// manifest, else `kind`. Adds "<name>|incomplete-archive" once when the
/// listing is not complete. Never fails.
ContentKind listArchive(const ArchiveOrigin& origin, const unsigned char* data, std::size_t size,
                        bool truncated, ContentKind kind, ExaminationBudget& budget, ExaminationSink& sink);

/// Examines one whole file that a carrier holds (a TNEF attachment):
/// classifies its first bytes, lists it with everything nested in it when
/// it is an archive (at `origin.depth`; deeper than maxArchiveDepth it gets
/// the marker instead) and reports a kind that disagrees with its name.
/// Returns the kind found. `truncated` when the file is cut short.
ContentKind examineCarriedFile(const ArchiveOrigin& origin, const unsigned char* data, std::size_t size,
                               bool truncated, ExaminationBudget& budget, ExaminationSink& sink);

/// A member's name as it is recorded: the part after the last '/' or '\',
/// cut to its last maxMemberNameBytes.
std::string memberBaseName(const std::string& path);

/// The name of the one file inside a compressed stream: the original name a
/// gzip header stores (its base name), else `streamName` less its last
/// suffix ("invoice.exe.gz" gives "invoice.exe"), else `streamName` itself.
std::string compressedMemberName(const std::string& streamName, const unsigned char* data, std::size_t size);

}  // namespace zentry
