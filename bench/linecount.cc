// The floor for a line-oriented scan: read the file in 64 KiB blocks and find
// every LF with memchr. Prints the line count.
//
//   linecount FILE

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: linecount FILE\n", stderr);
    return 2;
  }
  const int file = open(argv[1], O_RDONLY);
  if (file < 0) {
    std::perror(argv[1]);
    return 1;
  }
  static char block[64 * 1024];
  unsigned long long lines = 0;
  for (;;) {
    const ssize_t got = read(file, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const char* at = block;
    const char* end = block + got;
    while (const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
      ++lines;
      at = static_cast<const char*>(lf) + 1;
    }
  }
  close(file);
  std::printf("%llu\n", lines);
  return 0;
}
