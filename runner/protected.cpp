#include "runner/protected.h"

#include "format/byte_order.h"
#include "format/protected_cipher.h"

std::string DecodeProtected(uint8_t id) {
  std::string result;
  for (int e = 0; e < ProtectedCount; ++e) {
    const uint8_t* entry = ProtectedIndex + e * ProtectedEntrySize;
    if (entry[0] != id) continue;
    uint16_t start = static_cast<uint16_t>(Get16(entry + 1));
    uint16_t length = static_cast<uint16_t>(Get16(entry + 3));
    uint8_t key = ProtectedInitialKey(start, length);
    uint8_t prev = 0;
    for (uint32_t pos = start; pos < static_cast<uint32_t>(start) + length; ++pos) {
      uint8_t x = ProtectedText[pos - 1];
      result += static_cast<char>(static_cast<uint8_t>(~(x ^ key)) ^ prev);
      prev = x;
      key = ProtectedNextKey(key, start, length, static_cast<uint8_t>(e));
    }
    break;
  }
  return result;
}
