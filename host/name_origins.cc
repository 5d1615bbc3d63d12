#include "host/name_origins.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>

namespace zentry::host {
namespace {

// One entity as the trace shows it.
struct Entity {
  long number = 0;
  std::string type;
  bool multipart = false;
  std::optional<std::uint64_t> end;            // position after its ending delimiter line
  std::optional<std::uint64_t> embeddedLimit;  // set when an embedded message scan follows
};

struct OpenFrame {
  std::uint64_t limit;
  std::size_t entity;  // the message/rfc822 entity whose body this scan reads
};

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Reads "<a> - <b>" from `text` (digits only); false for anything else.
bool readRange(const std::string& text, std::uint64_t* first, std::uint64_t* second) {
  const std::size_t dash = text.find(" - ");
  if (dash == std::string::npos || dash == 0 || dash + 3 >= text.size()) return false;
  const std::string left = text.substr(0, dash);
  const std::string right = text.substr(dash + 3);
  if (left.find_first_not_of("0123456789") != std::string::npos ||
      right.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *first = std::strtoull(left.c_str(), nullptr, 10);
  *second = std::strtoull(right.c_str(), nullptr, 10);
  return true;
}

std::vector<Entity> readEntities(const std::vector<std::string>& lines) {
  std::vector<Entity> entities;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (startsWith(line, "Process MIME Part ")) {
      Entity entity;
      entity.number = std::strtol(line.c_str() + sizeof "Process MIME Part " - 1, nullptr, 10);
      // The content type is always the next line, whatever it says.
      if (i + 1 < lines.size()) entity.type = lines[++i];
      entities.push_back(entity);
    } else if (entities.empty()) {
      continue;
    } else if (line == "Into multipart") {
      entities.back().multipart = true;
    } else if (startsWith(line, "ProcessFile2 ") && readRange(line.substr(13), &first, &second)) {
      if (entities.back().end) entities.back().embeddedLimit = second;
    } else if (startsWith(line, " ") && readRange(line.substr(1), &first, &second)) {
      entities.back().end = second;
    }
  }
  return entities;
}

// The names of uuencoded files as their "begin" lines give them.
std::map<std::string, int> uuencodedNames(const std::string& message) {
  std::map<std::string, int> counts;
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    std::string line = message.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 10 && startsWith(line, "begin ") && line.find_first_not_of("01234567", 6) >= 9) {
      ++counts[line.substr(10, 300)];
    }
    start = end + 1;
  }
  return counts;
}

bool isGeneratedUuName(const std::string& name) {
  return startsWith(name, "File") && name.size() > 8 && name.compare(name.size() - 4, 4, ".DAT") == 0 &&
         name.find_first_not_of("0123456789", 4) == name.size() - 4;
}

std::string describe(const Entity& entity, const std::string& context) {
  return context + "part " + std::to_string(entity.number) + " (" + entity.type + ")";
}

struct Slot {
  std::size_t entity;
  std::string context;
};

// The order in which entities record their names.
std::vector<Slot> recordingOrder(const std::vector<Entity>& entities) {
  std::vector<Slot> slots;
  std::vector<OpenFrame> frames;
  std::vector<std::string> contexts{""};
  auto closeFrame = [&]() {
    slots.push_back({frames.back().entity, contexts[contexts.size() - 2]});
    frames.pop_back();
    contexts.pop_back();
  };
  for (std::size_t i = 0; i < entities.size(); ++i) {
    const Entity& entity = entities[i];
    if (entity.multipart) continue;
    while (!frames.empty() && entity.end && *entity.end >= frames.back().limit) closeFrame();
    if (entity.embeddedLimit) {
      frames.push_back({*entity.embeddedLimit, i});
      contexts.push_back(contexts.back() + "message in part " + std::to_string(entity.number) + ", ");
      continue;
    }
    slots.push_back({i, contexts.back()});
    // Without an ending line the entity ran to the end of its scan.
    if (!entity.end && !frames.empty()) closeFrame();
  }
  while (!frames.empty()) closeFrame();
  return slots;
}

}  // namespace

std::vector<std::string> inferNameOrigins(const std::vector<std::string>& scannerLines,
                                          const std::vector<std::string>& names, const std::string& message) {
  const std::vector<Entity> entities = readEntities(scannerLines);
  std::map<std::string, int> uuNames = uuencodedNames(message);
  std::vector<std::string> origins(names.size());
  std::size_t next = 0;
  for (const Slot& slot : recordingOrder(entities)) {
    const Entity& entity = entities[slot.entity];
    // A uuencoded name comes before the entity's own, which must still follow.
    while (next + 1 < names.size() && (isGeneratedUuName(names[next]) || uuNames[names[next]] > 0)) {
      if (uuNames[names[next]] > 0) --uuNames[names[next]];
      origins[next++] = "uuencoded file in " + describe(entity, slot.context);
    }
    if (next == names.size()) break;
    origins[next] = describe(entity, slot.context);
    if (names[next] == "File" + std::to_string(entity.number) + ".tmp") origins[next] += ", no name given";
    ++next;
  }
  return origins;
}

}  // namespace zentry::host
