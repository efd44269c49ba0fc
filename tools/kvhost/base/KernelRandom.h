// Unguessable texts for session ids, anti-forgery tokens and error
// references: bytes from the kernel's random source as lower-case hex.
#pragma once

#include <cstddef>
#include <string>

// 2 * bytes hex digits; throws std::runtime_error when the kernel gives none.
std::string RandomHex(size_t bytes);
