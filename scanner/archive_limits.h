#pragma once

#include <cstddef>
#include <cstdint>

namespace zentry {

// Bounds on looking inside archives in strict mode. Each one, when reached,
// ends the listing of the archive it was reached in with the
// "|incomplete-archive" marker, so a rule can still stop the message.

/// Archive members listed in one message, all attachments and nesting levels
/// together. A 100,000-member archive costs at most this many names.
constexpr std::uint32_t maxMembersPerMessage = 10000;

/// Bytes decompressed in one message to read members: the first bytes of each
/// member, whole members that are archives themselves, and the data of
/// compressed streams that must be decompressed to reach the next member.
/// Also the most memory that nested archives can hold at once.
constexpr std::uint64_t maxDecompressedBytesPerMessage = 64ull * 1024 * 1024;

/// Archives inside archives: the attachment is level 1, an archive inside it
/// level 2. An archive deeper than this is reported by its name and the
/// marker, not opened.
constexpr int maxArchiveDepth = 8;

/// Attachments read from one TNEF stream (winmail.dat); a stream with more
/// is listed as far as this many, with the marker.
constexpr std::size_t maxTnefAttachments = 1000;

/// Longest member base name recorded, in bytes; a longer one keeps its last
/// bytes, so its extension still meets the rules. The member's path in the
/// trace is cut the same way.
constexpr std::size_t maxMemberNameBytes = 1024;

/// Most decoded bytes of one attachment handed to the archive lister; a
/// longer attachment is listed as far as this, as a truncated one.
constexpr std::size_t maxListedAttachmentBytes = std::size_t{32} << 20;

/// Most bytes of answer read from the archive lister for one attachment: room
/// for every member the message allows with long names and routes. A longer
/// answer ends the listing with the marker.
constexpr std::size_t maxListerReplyBytes = std::size_t{16} << 20;

}  // namespace zentry
