// Stored passwords: slow, salted argon2id hashes from libsodium, kept as the
// self-describing text "$argon2id$v=19$m=...,t=...,p=...$salt$hash", so that
// a hash made with other costs still verifies.
#pragma once

#include <string>
#include <string_view>

// The hash text of password (its bytes as given; pages pass UTF-8). Empty
// when libsodium cannot make one (no memory for the hash's work area).
std::string HashPassword(std::string_view password);

// True when password is the one hash was made from. A text that is no hash
// of ours never matches.
bool VerifyPassword(std::string_view password, std::string_view hash);
