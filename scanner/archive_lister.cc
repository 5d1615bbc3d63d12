#include "scanner/archive_lister.h"

#include <cstdint>
#include <cstring>

namespace zentry {
namespace {

ArchiveLister* currentLister = nullptr;

const char hexDigits[] = "0123456789ABCDEF";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool needsEscape(unsigned char c) { return c < 0x21 || c == 0x7F || c == '%'; }

// A decimal number that fits `limit`; no sign, no leading '+', no spaces.
bool parseNumber(const std::string& text, std::uint64_t limit, std::uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (result > (limit - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t space = line.find(' ', start);
    const std::size_t end = space == std::string::npos ? line.size() : space;
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

}  // namespace

std::string escapeListerField(const std::string& text) {
  if (text.empty()) return "%";
  std::string field;
  field.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (needsEscape(byte)) {
      field += '%';
      field += hexDigits[byte >> 4];
      field += hexDigits[byte & 0xF];
    } else {
      field += c;
    }
  }
  return field;
}

bool unescapeListerField(const std::string& field, std::string* text) {
  text->clear();
  if (field == "%") return true;
  if (field.empty()) return false;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto byte = static_cast<unsigned char>(field[i]);
    if (byte != '%') {
      if (needsEscape(byte)) return false;
      *text += field[i];
      continue;
    }
    if (field.size() - i < 3) return false;
    const int high = hexValue(field[i + 1]);
    const int low = hexValue(field[i + 2]);
    if (high < 0 || low < 0) return false;
    *text += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string listerFoundLine(const std::string& name, const std::string& route) {
  return "found " + escapeListerField(name) + ' ' + escapeListerField(route) + '\n';
}

std::string listerLeftLine(const ExaminationBudget& budget) {
  return "left " + std::to_string(budget.membersLeft) + ' ' + std::to_string(budget.decompressedBytesLeft) +
         '\n';
}

bool ListerReplyReader::take(const char* bytes, std::size_t size) {
  while (!garbage_ && size > 0) {
    const void* newline = std::memchr(bytes, '\n', size);
    if (newline == nullptr) {
      // No line of a whole answer is longer than two escaped names and a word.
      pending_.append(bytes, size);
      if (pending_.size() > 2 * 3 * (maxMemberNameBytes + 64) * (maxArchiveDepth + 2)) garbage_ = true;
      break;
    }
    const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - bytes);
    pending_.append(bytes, length);
    bytes += length + 1;
    size -= length + 1;
    const std::string line = std::move(pending_);
    pending_.clear();
    if (left_ || !takeLine(line)) garbage_ = true;  // nothing may follow the "left" line
  }
  return !garbage_;
}

bool ListerReplyReader::takeLine(const std::string& line) {
  const std::vector<std::string> fields = splitFields(line);
  if (fields.size() != 3) return false;
  if (fields[0] == "found") {
    std::string name;
    std::string route;
    if (!unescapeListerField(fields[1], &name) || !unescapeListerField(fields[2], &route)) return false;
    if (name.empty()) return false;
    sink_.foundName(name, route);
    return true;
  }
  if (fields[0] != "left") return false;
  std::uint64_t members = 0;
  std::uint64_t bytes = 0;
  if (!parseNumber(fields[1], UINT32_MAX, &members) || !parseNumber(fields[2], UINT64_MAX, &bytes))
    return false;
  budget_.membersLeft = static_cast<std::uint32_t>(members);
  budget_.decompressedBytesLeft = bytes;
  left_ = true;
  return true;
}

void useArchiveLister(ArchiveLister* lister) { currentLister = lister; }

ArchiveLister* archiveLister() { return currentLister; }

}  // namespace zentry
