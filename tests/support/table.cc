#include "support/table.h"

#include <fstream>

namespace zentry::test {

std::string unescape(const std::string& text, std::size_t& at, char stop, bool& noLineEnd,
                     std::string& problem) {
  std::string out;
  while (at < text.size() && text[at] != stop) {
    const char c = text[at++];
    if (c != '\\') {
      out += c;
      continue;
    }
    const char e = at < text.size() ? text[at++] : '\\';
    switch (e) {
      case '\\':
        out += '\\';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case 'c':
        noLineEnd = true;
        break;
      case 'x':
        out += static_cast<char>(std::stoi(text.substr(at, 2), nullptr, 16));
        at += 2;
        break;
      case '{': {
        const std::size_t colon = text.find(':', at);
        const std::size_t count = std::stoul(text.substr(at, colon - at));
        at = colon + 1;
        const std::string unit = unescape(text, at, '}', noLineEnd, problem);
        for (std::size_t i = 0; i < count; ++i) out += unit;
        break;
      }
      default:
        problem = "unknown escape \\" + std::string(1, e) + " in: " + text;
    }
  }
  if (at < text.size()) ++at;
  return out;
}

std::vector<Row> readTable(const std::string& name) {
  const std::string path = std::string(ZENTRY_TESTDATA) + "/tables/" + name;
  std::ifstream file(path, std::ios::binary);
  std::vector<Row> rows;
  std::string line, problem;
  for (int number = 1; std::getline(file, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    Row row{{}, path + ":" + std::to_string(number)};
    for (std::size_t at = 0; at < line.size();) {
      const std::size_t end = line.find('\t', at);
      const std::string field = line.substr(at, end - at);
      if (!field.empty()) {
        std::size_t from = 0;
        bool ignored = false;
        row.fields.push_back(field == "\"\"" ? "" : unescape(field, from, '\0', ignored, problem));
      }
      at = end == std::string::npos ? line.size() : end + 1;
    }
    if (!problem.empty()) row.where += ": " + problem;
    rows.push_back(row);
  }
  if (rows.empty()) rows.push_back({{}, path + ": no rows"});
  return rows;
}

}  // namespace zentry::test
