// Soak driver: generated messages through the real binary, each run twice.
// Every message mixes real structures (nested multiparts, embedded messages,
// encoded names, uuencoded files) with random mutations and the inputs that
// broke mail scanners before (long lines, 0x1A and NUL bytes, lone CRs,
// missing boundaries, unterminated blocks, deep nesting). A run must exit
// normally, within its CPU limit, with the banner, whole CR LF lines and a
// verdict of two lines or none; its twin must print the same bytes.
//
//   soak --binary PATH [--count N] [--seed S] [--work DIR] [--keep DIR]
//
// Failing inputs are copied to the keep directory (default: DIR/failures) as
// one directory each, laid out as the host does it: routing.dat,
// zentry.dat, subject and arguments. Standalone on purpose: it links nothing
// of the filter, so it can drive any build of it.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Far above any real run (a few milliseconds); only a loop reaches it.
constexpr rlim_t cpuSecondsPerRun = 10;
// Past the walker's depth bound, so the bound itself is exercised.
constexpr int deepestNesting = 1100;

struct Options {
  std::string binary;
  std::uint64_t count = 100000;
  std::uint64_t seed = 1;
  std::string work = "soak-work";
  std::string keep;
};

struct Input {
  std::string message;  // routing.dat, the host's four bytes included
  std::string rules;
  std::string subject;
  std::vector<std::string> arguments;
};

struct Outcome {
  bool exited = false;
  int status = 0;  // exit code, or the signal that ended the run
  std::string output;
};

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : random_(seed) {}

  Input next() {
    Input input;
    std::string message = pick(10) == 0 ? badShape() : entity(0);
    const int mutations = pick(3) == 0 ? 1 + pick(6) : 0;
    for (int i = 0; i < mutations; ++i) mutate(message);
    if (pick(2) == 0) message = withCrLf(message);
    input.message = (pick(40) == 0 ? std::string() : std::string("XXXX")) + message;
    input.rules = rules();
    input.subject = subject();
    input.arguments = {pick(20) == 0 ? std::string(120, 'm') : "infected"};
    if (pick(2) == 0) input.arguments.emplace_back("errorlevel");
    if (pick(3) == 0) input.arguments.emplace_back(pick(2) == 0 ? "debug" : "DEBUG");
    return input;
  }

 private:
  int pick(int n) { return static_cast<int>(random_() % static_cast<std::uint64_t>(n)); }
  template <std::size_t N>
  const char* oneOf(const char* const (&items)[N]) {
    return items[pick(static_cast<int>(N))];
  }

  std::string name() {
    static const char* const stems[] = {"invoice", "photo", "readme", "a", "x y", "data.tar", "it's"};
    static const char* const extensions[] = {".exe", ".pif", ".scr", ".zip", ".txt", ".EXE", "", ".doc.exe"};
    std::string plain = std::string(oneOf(stems)) + oneOf(extensions);
    switch (pick(6)) {
      case 0:
        return "=?iso-8859-1?Q?" + plain + "=E9?=";
      case 1:
        return "=?us-ascii?B?" + base64(plain) + "?=";
      case 2:
        return std::string(300 + static_cast<std::size_t>(pick(20)), 'n') + plain;
      default:
        return plain;
    }
  }

  static std::string base64(const std::string& bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char byte : bytes) {
      bits = (bits << 8) | static_cast<unsigned char>(byte);
      for (count += 8; count >= 6; count -= 6) out += alphabet[(bits >> (count - 6)) & 63];
    }
    if (count > 0) out += alphabet[(bits << (6 - count)) & 63];
    while (out.size() % 4 != 0) out += '=';
    return out;
  }

  std::string nameFields() {
    std::string fields;
    const std::string quote = pick(3) == 0 ? "" : pick(4) == 0 ? "'" : "\"";
    if (pick(2) == 0)
      fields += ";" + std::string(pick(2) == 0 ? "\n\t" : " ") + "name=" + quote + name() + quote;
    fields += "\n";
    if (pick(3) == 0) fields += "Content-Disposition: attachment; filename=" + quote + name() + quote + "\n";
    return fields;
  }

  std::string text() {
    std::string body;
    const int lines = pick(6);
    for (int i = 0; i < lines; ++i)
      body += pick(5) == 0 ? "\n" : "Some text on line " + std::to_string(i) + "\n";
    return body;
  }

  std::string uuencodeBlock() {
    static const char* const opens[] = {"begin 644 ", "begin 0644 ", "begin 755 ", "begin 644", "Begin 644 "};
    std::string block = std::string(oneOf(opens)) + (pick(3) == 0 ? std::string() : name()) + "\n";
    const int lines = pick(4);
    for (int i = 0; i < lines; ++i) block += "M86)C9&5F9VAI:FML;6YO<'%R<W1U=G=X>7I!0D-$149'2$E*2TQ-3D]0\n";
    if (pick(2) == 0) block += "`\n";
    static const char* const ends[] = {"end\n", "end\n", "end \n", "END\n", ""};
    return block + oneOf(ends);
  }

  std::string leafBody(int depth) {
    switch (pick(8)) {
      case 0:
        return uuencodeBlock() + text();
      case 1:
        return text() + uuencodeBlock();
      case 2:
        return depth < 12 ? entity(depth + 1) : text();  // an embedded message
      case 3:
        return std::string(9998 + static_cast<std::size_t>(pick(4)), 'L') + "\n" + text();
      default:
        return text();
    }
  }

  // One entity with its header block; multiparts nest further ones.
  std::string entity(int depth) {
    std::string header;
    if (pick(4) == 0) header += "From: sender@example.com\nSubject: soak\n";
    const bool multipart = depth < 8 && pick(3) == 0;
    if (!multipart) {
      static const char* const types[] = {"text/plain", "application/octet-stream", "message/rfc822",
                                          "TEXT/PLAIN", "image/gif"};
      static const char* const encodings[] = {"base64", "Quoted-Printable", "7bit", "x-uuencode", "base64 "};
      const char* type = oneOf(types);
      if (pick(5) != 0) header += std::string("Content-Type: ") + type + nameFields();
      if (pick(3) == 0) header += std::string("Content-Transfer-Encoding: ") + oneOf(encodings) + "\n";
      return header + "\n" + leafBody(depth);
    }
    const std::string boundary = "b" + std::to_string(depth) + "_" + std::to_string(pick(1000));
    header += "Content-Type: multipart/" + std::string(pick(2) == 0 ? "mixed" : "alternative") +
              "; boundary=" + (pick(2) == 0 ? boundary : "\"" + boundary + "\"") + "\n\n";
    std::string body = pick(2) == 0 ? "preamble\n" : "";
    const int parts = pick(4);
    for (int i = 0; i < parts; ++i) body += "--" + boundary + "\n" + entity(depth + 1);
    if (pick(5) != 0) body += "--" + boundary + "--\n";
    if (pick(3) == 0) body += "epilogue\n";
    return header + body;
  }

  // The shapes that broke scanners before, each on its own.
  std::string badShape() {
    switch (pick(9)) {
      case 0: {  // multiparts nested past the walker's bound
        std::string nest;
        const int levels = 1 + pick(deepestNesting);
        for (int i = 0; i < levels; ++i)
          nest += "Content-Type: multipart/mixed; boundary=d" + std::to_string(i) + "\n\n--d" +
                  std::to_string(i) + "\n";
        return nest + "Content-Type: text/plain; name=deep.exe\n\nx\n";
      }
      case 1: {  // embedded messages nested past the frame bound
        std::string nest;
        const int levels = 1 + pick(40);
        for (int i = 0; i < levels; ++i)
          nest += "Content-Type: multipart/mixed; boundary=e\n\n--e\nContent-Type: message/rfc822\n\n";
        return nest + "Content-Type: text/plain; name=inner.exe\n\nx\n--e--\n";
      }
      case 2:
        return std::string(9999 * static_cast<std::size_t>(1 + pick(3)), 'x') + "\n\n--x\n";
      case 3:
        return "Content-Type: text/plain\n\nab\x1a" + entity(0);
      case 4:
        return std::string("Content-Type: text/plain; name=a\0b.exe\n\nbody\0\n", 40);
      case 5:
        return "Content-Type: multipart/mixed\n\n--A\n\n--A--\n";
      case 6:
        return "Content-Type: text/plain; name=x.exe";  // no empty line, no LF
      case 7:
        return "\nbegin 644 a.exe\nM\n" + std::string(pick(3), '\r') + "end";
      default:
        return std::string(static_cast<std::size_t>(pick(4)), 'X');
    }
  }

  void mutate(std::string& message) {
    if (message.empty()) return;
    const std::size_t at = static_cast<std::size_t>(random_() % message.size());
    static const char specials[] = {'\r', '\n', '\x1a', '\0', '-', '=', '?', ';', '"', ' ', '\t', 'A'};
    switch (pick(6)) {
      case 0:
        message[at] = static_cast<char>(random_());
        break;
      case 1:
        message.insert(at, 1, specials[pick(sizeof specials)]);
        break;
      case 2:
        message.erase(at, 1 + static_cast<std::size_t>(pick(40)));
        break;
      case 3:
        message.resize(at);
        break;
      case 4: {  // duplicate the line that holds `at`
        const std::size_t start =
            message.rfind('\n', at) == std::string::npos ? 0 : message.rfind('\n', at) + 1;
        const std::size_t end = message.find('\n', at);
        message.insert(start,
                       message.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start));
        break;
      }
      default:
        message.insert(at, std::string(static_cast<std::size_t>(pick(12000)), 'y'));
        break;
    }
  }

  static std::string withCrLf(const std::string& text) {
    std::string out;
    for (const char byte : text) {
      if (byte == '\n') out += '\r';
      out += byte;
    }
    return out;
  }

  std::string rules() {
    std::string file =
        "Executable\n\n*.exe\nScreen saver\n\n*.scr\nProgram information\n\n*.pif\n"
        "Subject\n*I love you*\n\nDouble\n\n*.doc.exe\nDeep\n\ndeep.exe\n";
    if (pick(10) == 0) file += std::string(1200, '*') + "\n\n" + std::string(50, '*') + "?" + "\n";
    if (pick(10) == 0) file += "Starry\n\n*a*a*a*a*a*a*a*a*b\n";
    if (pick(20) == 0) file.erase(static_cast<std::size_t>(random_() % file.size()));
    return pick(2) == 0 ? withCrLf(file) : file;
  }

  std::string subject() {
    static const char* const subjects[] = {"Hello", "I love you", "=?iso-8859-1?Q?I_love_you=21?=",
                                           "",      "  padded\t", "=?x?B?SSBsb3ZlIHlvdQ==?="};
    std::string text = oneOf(subjects);
    if (pick(10) == 0) text += std::string(250, 's');
    if (pick(20) == 0) text += "\nsecond line";
    return text;
  }

  std::mt19937_64 random_;
};

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

Outcome runOnce(const Options& options, const fs::path& directory, const Input& input) {
  const fs::path outputPath = directory / "stdout";
  fs::remove(directory / "zentry.log");
  std::vector<std::string> argv{options.binary};
  argv.insert(argv.end(), input.arguments.begin(), input.arguments.end());
  std::vector<std::string> environment{"subject=" + input.subject};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
  }
  std::vector<char*> argvPointers;
  for (std::string& argument : argv) argvPointers.push_back(argument.data());
  argvPointers.push_back(nullptr);
  std::vector<char*> environmentPointers;
  for (std::string& entry : environment) environmentPointers.push_back(entry.data());
  environmentPointers.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const rlimit cpu{cpuSecondsPerRun, cpuSecondsPerRun};
    setrlimit(RLIMIT_CPU, &cpu);
    if (chdir(directory.c_str()) != 0 || freopen("stdout", "wb", stdout) == nullptr) _exit(126);
    execve(argvPointers[0], argvPointers.data(), environmentPointers.data());
    _exit(127);
  }
  Outcome outcome;
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return outcome;
  outcome.exited = WIFEXITED(status);
  outcome.status = outcome.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  outcome.output = readFile(outputPath);
  return outcome;
}

// What the host relies on; empty when all is well.
std::string problemWith(const Outcome& run) {
  if (!run.exited)
    return run.status == SIGXCPU || run.status == SIGKILL ? "hang"
                                                          : "crash, signal " + std::to_string(run.status);
  if (run.status != 0 && run.status != 1) return "exit code " + std::to_string(run.status);
  static const std::string banner = "Zentry V1.3 - Attachment Worm/virus protector for Movra\r\n";
  if (run.output.compare(0, banner.size(), banner) != 0) return "no banner";
  for (std::size_t i = 0; i < run.output.size(); ++i) {
    const char byte = run.output[i];
    if (byte == '\r' && (i + 1 == run.output.size() || run.output[i + 1] != '\n')) return "lone CR";
    if (byte == '\n' && (i == 0 || run.output[i - 1] != '\r')) return "lone LF";
  }
  if (run.output.back() != '\n') return "last line unfinished";
  const std::size_t to = run.output.rfind("\r\nTo: ");
  if (run.status == 1 &&
      (to == std::string::npos || run.output.find("\r\nSubject: Infected (", to) == std::string::npos))
    return "exit code 1 without a verdict";
  return "";
}

void keepFailure(const Options& options, std::uint64_t index, const Input& input,
                 const std::string& problem) {
  const fs::path directory = fs::path(options.keep) / ("input-" + std::to_string(index));
  fs::create_directories(directory);
  writeFile(directory / "routing.dat", input.message);
  writeFile(directory / "zentry.dat", input.rules);
  writeFile(directory / "subject", input.subject);
  std::string arguments;
  for (const std::string& argument : input.arguments) arguments += (arguments.empty() ? "" : " ") + argument;
  writeFile(directory / "arguments", arguments);
  writeFile(directory / "problem", problem + "\n");
  std::fprintf(stderr, "input %" PRIu64 ": %s (kept in %s)\n", index, problem.c_str(), directory.c_str());
}

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--binary")
      options->binary = fs::absolute(value).string();
    else if (flag == "--count")
      options->count = std::strtoull(value, nullptr, 10);
    else if (flag == "--seed")
      options->seed = std::strtoull(value, nullptr, 10);
    else if (flag == "--work")
      options->work = value;
    else if (flag == "--keep")
      options->keep = value;
    else
      return false;
  }
  if (argc % 2 == 0 || options->binary.empty()) return false;
  if (options->keep.empty()) options->keep = (fs::path(options->work) / "failures").string();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: soak --binary PATH [--count N] [--seed S] [--work DIR] [--keep DIR]\n");
    return 2;
  }
  const fs::path directory = fs::path(options.work) / "run";
  fs::create_directories(directory);
  Generator generator(options.seed);
  std::uint64_t failures = 0;
  std::uint64_t hits = 0;
  const auto started = std::chrono::steady_clock::now();
  for (std::uint64_t index = 0; index < options.count; ++index) {
    const Input input = generator.next();
    writeFile(directory / "routing.dat", input.message);
    writeFile(directory / "zentry.dat", input.rules);
    const Outcome first = runOnce(options, directory, input);
    const Outcome second = runOnce(options, directory, input);
    std::string problem = problemWith(first);
    if (problem.empty() &&
        (second.exited != first.exited || second.status != first.status || second.output != first.output))
      problem = "a second run printed something else";
    if (!problem.empty()) {
      ++failures;
      keepFailure(options, index, input, problem);
    }
    if (first.exited && first.output.find("\r\nSubject: Infected (") != std::string::npos) ++hits;
    if ((index + 1) % 10000 == 0) {
      std::fprintf(stderr, "%" PRIu64 " messages, %" PRIu64 " failures\n", index + 1, failures);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("soak: %" PRIu64 " messages, %" PRIu64 " runs, %" PRIu64 " verdicts, %" PRIu64
              " failures, %.0f s\n",
              options.count, options.count * 2, hits, failures, seconds);
  return failures == 0 ? 0 : 1;
}
