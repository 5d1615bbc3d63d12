#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zentry::milter {

/// The most of `X-Zentry-Original-Recipients` and `X-Zentry-Original-Subject`
/// kept in the message: well inside what servers take for one field, however
/// many and however long the recipients (a thousand recipients would
/// otherwise make a field larger than the milter protocol carries).
constexpr std::size_t originalFieldLimit = 4000;

/// `X-Zentry-Original-Recipients`: one recipient a line (folded), in the
/// order received, each made printable and cut at 512 bytes. Once the next
/// one would pass `originalFieldLimit`, the rest is counted instead:
/// "(N more, listed in the log)". The log holds them all.
std::string recipientsFieldValue(const std::vector<std::string>& recipients);

/// `X-Zentry-Original-Subject`: the first Subject as received, folding kept,
/// cut to `originalFieldLimit` bytes at the last blank before it (so an
/// encoded word is never split), or at the limit when there is no blank.
std::string originalSubjectValue(const std::string& received);

/// The filter prints at most this many bytes of the subject in its verdict.
constexpr std::size_t verdictSubjectCut = 100;

/// The verdict's Subject text for the Subject field. When the subject
/// (`subjectBytes` long) was longer than the filter prints, the cut can end
/// the verdict inside an encoded word (`=?UTF-8?B?SW5m` with no `?=`); that
/// unfinished word is dropped with the blanks before it, so the field never
/// carries a broken one. An uncut verdict is returned as it is.
std::string subjectWithoutCutWord(const std::string& verdictSubject, std::size_t subjectBytes);

}  // namespace zentry::milter
