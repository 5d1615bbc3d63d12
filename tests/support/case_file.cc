#include "support/case_file.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/table.h"

namespace zentry::test {
namespace {

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

// One written line as bytes: escapes applied, a leading \{N} repeat, the line end.
std::string lineBytes(std::string line, const std::string& lineEnd, std::string& problem) {
  std::size_t times = 1;
  const std::size_t brace = line.find('}');
  if (line.rfind("\\{", 0) == 0 && brace != std::string::npos &&
      line.find_first_not_of("0123456789", 2) == brace) {
    times = std::stoul(line.substr(2));
    line.erase(0, brace + 1);
  }
  bool noLineEnd = false;
  std::size_t at = 0;
  std::string bytes = unescape(line, at, '\0', noLineEnd, problem);
  if (!noLineEnd) bytes += lineEnd;
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += bytes;
  return out;
}

std::string unescaped(const std::string& text, std::string& problem) {
  bool ignored = false;
  std::size_t at = 0;
  return text == "\"\"" ? "" : unescape(text, at, '\0', ignored, problem);
}

}  // namespace

Case readCase(const std::string& path) {
  Case c;
  c.path = path;
  std::ifstream file(path, std::ios::binary);
  std::getline(file, c.description);
  std::string* section = nullptr;  // the bytes the current section adds to
  std::string lineEnd;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("=== ", 0) == 0) {
      std::vector<std::string> header = words(line.substr(4));
      header.resize(std::max<std::size_t>(header.size(), 2));
      const auto has = [&](const char* option) {
        return std::find(header.begin() + 1, header.end(), option) != header.end();
      };
      const std::string& name = header[0];
      lineEnd = has("crlf") || name == "stdout" || name == "log" ? "\r\n" : "\n";
      if (name == "stdout" || name == "log")
        section = &c.expected[name];
      else if (name == "rules")
        section = &c.files["zentry.dat"];
      else if (name == "message")
        section = &(c.files["routing.dat"] = has("raw") ? "" : "XXXX");
      else if (name == "file" && !header[1].empty())
        section = &c.files[header[1]];
      else
        c.problem = "unknown section: " + line;
    } else if (section != nullptr) {
      *section += lineBytes(line, lineEnd, c.problem);
    } else if (!line.empty() && line[0] != '#') {
      const std::size_t colon = line.find(": ");
      const std::string key = line.substr(0, std::min(colon, line.find(':')));
      const std::string value = colon == std::string::npos ? "" : line.substr(colon + 2);
      if (key == "args") {
        for (const std::string& word : words(value)) c.arguments.push_back(unescaped(word, c.problem));
      } else if (key == "subject" || key == "env") {
        c.environment.push_back((key == "env" ? "" : "subject=") + unescaped(value, c.problem));
      } else if (key == "dir") {
        c.directories.push_back(value);
      } else if (key == "exit") {
        c.exitCode = std::stoi(value);
      } else {
        c.problem = "unknown header line: " + line;
      }
    }
  }
  if (c.expected.count("stdout") == 0) c.problem = "no stdout section";
  return c;
}

}  // namespace zentry::test
