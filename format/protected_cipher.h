// The key schedule shared by the build-time encoder and the runner's decoder.
// Portable: no platform headers.
#pragma once
#include <cstdint>

// Size of one packed entry of ProtectedIndex: id, start (16 bits), length (16 bits).
constexpr int ProtectedEntrySize = 5;

// The key for the first byte of a string that starts at `start` (1-based) and has `length` bytes.
inline uint8_t ProtectedInitialKey(uint16_t start, uint16_t length) {
  uint8_t s0 = static_cast<uint8_t>(start);
  uint16_t low = static_cast<uint16_t>(s0 * length);
  uint16_t full = static_cast<uint16_t>(start * length);
  return static_cast<uint8_t>((low & 0xFF) ^ (full >> 8));
}

// The key for the next byte; `position` is the entry's 0-based place in the index table.
inline uint8_t ProtectedNextKey(uint8_t key, uint16_t start, uint16_t length, uint8_t position) {
  uint8_t factor = static_cast<uint8_t>(static_cast<uint8_t>(start) + static_cast<uint8_t>(length));
  return static_cast<uint8_t>(key * factor + position);
}
