#include "base/KernelRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  size_t filled = 0;
  while (filled < bytes) {
    ssize_t n = getrandom(raw.data() + filled, bytes - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("the kernel gives no randomness");
    filled += static_cast<size_t>(n);
  }
  static const char* kHex = "0123456789abcdef";
  std::string text;
  text.reserve(2 * bytes);
  for (unsigned char b : raw) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}
