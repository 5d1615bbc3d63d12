#include "milter/http_request.h"

#include <algorithm>

namespace zentry::milter {
namespace {

// A method is a token: letters, digits and a few marks, nothing else.
bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) return false;
  }
  return true;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 431:
      return "Request Header Fields Too Large";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Bad Request";
  }
}

}  // namespace

HeadState headState(std::string_view received) {
  // A head ends in an empty line; bare LF line ends are read too.
  const std::size_t crlf = received.find("\r\n\r\n");
  const std::size_t lf = received.find("\n\n");
  const std::size_t end =
      std::min(crlf == std::string_view::npos ? crlf : crlf + 4, lf == std::string_view::npos ? lf : lf + 2);
  if (end != std::string_view::npos && end <= maxRequestHeadBytes) return HeadState::complete;
  return received.size() >= maxRequestHeadBytes ? HeadState::tooLarge : HeadState::incomplete;
}

HttpAnswer answerFor(std::string_view head) {
  std::string_view line = head.substr(0, head.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::size_t firstSpace = line.find(' ');
  const std::size_t secondSpace = line.find(' ', firstSpace == std::string_view::npos ? 0 : firstSpace + 1);
  if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos) return {400, true};
  const std::string_view method = line.substr(0, firstSpace);
  const std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  const std::string_view version = line.substr(secondSpace + 1);
  if (!isToken(method) || target.empty() || version.find(' ') != std::string_view::npos ||
      version.rfind("HTTP/", 0) != 0)
    return {400, true};
  if (version.size() != 8 || version.rfind("HTTP/1.", 0) != 0 || version[7] < '0' || version[7] > '9')
    return {505, true};
  const std::string_view path = target.substr(0, target.find('?'));
  if (path != "/metrics") return {404, method != "HEAD"};
  if (method == "HEAD") return {200, false};
  if (method != "GET") return {405, true};
  return {200, true};
}

std::string httpResponse(const HttpAnswer& answer, const std::string& exposition) {
  const bool found = answer.status == 200;
  const std::string body = found ? exposition : std::string(reasonPhrase(answer.status)) + "\n";
  std::string response =
      "HTTP/1.1 " + std::to_string(answer.status) + " " + reasonPhrase(answer.status) + "\r\n";
  // The version parameter tells a scraper which text format this is.
  response += found ? "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                    : "Content-Type: text/plain; charset=utf-8\r\n";
  response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  if (answer.status == 405) response += "Allow: GET, HEAD\r\n";
  response += "Connection: close\r\n\r\n";
  if (answer.bodyWanted) response += body;
  return response;
}

}  // namespace zentry::milter
