// Little-endian numbers in byte strings, as the PE and cabinet formats keep them.
// Portable: the runner reads with the pointer forms; the packager writes with the string ones.
#pragma once
#include <cstdint>
#include <string>

inline uint32_t Get16(const unsigned char* p) { return p[0] | uint32_t(p[1]) << 8; }
inline uint32_t Get32(const unsigned char* p) { return Get16(p) | Get16(p + 2) << 16; }
inline uint32_t Get16(const std::string& b, size_t at) { return Get16(reinterpret_cast<const unsigned char*>(b.data() + at)); }
inline uint32_t Get32(const std::string& b, size_t at) { return Get32(reinterpret_cast<const unsigned char*>(b.data() + at)); }

inline void Set16(std::string& b, size_t at, uint32_t v) {
  b[at] = char(v & 0xFF);
  b[at + 1] = char((v >> 8) & 0xFF);
}
inline void Set32(std::string& b, size_t at, uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}

// Appended at the end.
inline void Put16(std::string& b, uint32_t v) {
  b += char(v & 0xFF);
  b += char((v >> 8) & 0xFF);
}
inline void Put32(std::string& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
