#include "io/read_fully.h"

#include <unistd.h>

#include <cerrno>

size_t readFully(int fd, void* data, size_t size) {
  auto* bytes = static_cast<unsigned char*>(data);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, bytes + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}
