#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zentry::milter {

/// The request head of the metrics endpoint ends within this many bytes; a
/// scraper sends a few hundred.
constexpr std::size_t maxRequestHeadBytes = 8192;

/// Where the bytes of a request head stand: still arriving, ended (blank
/// line), or past the size the endpoint reads.
enum class HeadState { incomplete, complete, tooLarge };
HeadState headState(std::string_view received);

/// What the metrics endpoint answers to a complete request head: 200 for GET
/// or HEAD of /metrics (a query string is ignored), 404 for another path, 405
/// for another method on /metrics, 400 for a request line it cannot read,
/// 505 for an HTTP version other than 1.x.
struct HttpAnswer {
  int status = 400;
  bool bodyWanted = true;  ///< false for HEAD: the header lines only
};
HttpAnswer answerFor(std::string_view head);

/// The whole response: status line, header lines, then (unless the request
/// was HEAD) `exposition` for 200, or the reason for another status; the
/// connection is closed after it.
std::string httpResponse(const HttpAnswer& answer, const std::string& exposition);

}  // namespace zentry::milter
