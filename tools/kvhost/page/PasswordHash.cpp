#include "page/PasswordHash.h"

#include <sodium.h>

namespace {

// libsodium may be initialised any number of times from any thread; it picks
// its fastest code and opens its randomness source once.
bool SodiumReady() { return sodium_init() >= 0; }

}  // namespace

// The interactive costs (64 MiB, two passes) are libsodium's advice for
// checks a person waits for; each page slot may hold one such work area.
std::string HashPassword(std::string_view password) {
  if (!SodiumReady()) return {};
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    return {};
  return hash;
}

bool VerifyPassword(std::string_view password, std::string_view hash) {
  // libsodium reads the hash as a C string of bounded length.
  if (!SodiumReady() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES ||
      hash.find('\0') != std::string_view::npos)
    return false;
  char stored[crypto_pwhash_STRBYTES] = {};
  hash.copy(stored, hash.size());
  return crypto_pwhash_str_verify(stored, password.data(), password.size()) == 0;
}
