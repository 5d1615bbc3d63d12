#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentry::milter {

/// One message as the mail server hands it over, rebuilt the way the server
/// stores it: each header field as received (its folding kept, every line
/// ending in CR LF), the empty line, the body. The bytes are held behind the
/// four prefix bytes of the filter's message file, so they are scanned where
/// they lie. Holding stops at `limit` message bytes: a larger message is
/// marked oversized and its bytes dropped, so memory per message stays bounded.
class HeldMessage {
 public:
  explicit HeldMessage(std::size_t limit) : limit_(limit) { clear(); }

  /// Forgets the message, its sender and its recipients (a new transaction).
  void clear();
  /// The size the client declared (SIZE=): room for it is made at once, up to
  /// the limit, so a large message is not copied as it grows.
  void expectSize(std::size_t declared);
  void setSender(std::string sender) { sender_ = std::move(sender); }
  void addRecipient(std::string recipient) { recipients_.push_back(std::move(recipient)); }
  /// `value` as the server passes it: with its leading blank when
  /// `leadingSpaceKept`, else without it (one space is put back then).
  /// Line breaks inside it (folding) may be LF or CR LF.
  void addHeaderField(std::string_view name, std::string_view value, bool leadingSpaceKept);
  void endHeader() { append("\r\n"); }
  void addBody(std::string_view chunk) { append(chunk); }

  bool oversized() const { return oversized_; }
  /// Message bytes received so far, held or not.
  std::size_t size() const { return received_; }
  /// The filter's message file: four prefix bytes, then the message.
  std::string_view routingBytes() const { return bytes_; }
  /// The message alone.
  std::string_view messageBytes() const { return std::string_view(bytes_).substr(prefixSize); }
  const std::string& sender() const { return sender_; }
  const std::vector<std::string>& recipients() const { return recipients_; }

  static constexpr std::size_t prefixSize = 4;

 private:
  void append(std::string_view bytes);

  std::size_t limit_;
  std::size_t received_ = 0;
  bool oversized_ = false;
  std::string bytes_;
  std::string sender_;
  std::vector<std::string> recipients_;
};

}  // namespace zentry::milter
