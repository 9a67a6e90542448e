// The protected strings: stored enciphered, decoded once at start-up.
#pragma once
#include <cstdint>
#include <string>

#include "format/protected_ids.h"

// The enciphered tables, generated at build time from the plain table.
extern const uint8_t ProtectedText[];
extern const uint8_t ProtectedIndex[];

// The plain text of one protected string; empty when no entry has that id.
std::string DecodeProtected(uint8_t id);
