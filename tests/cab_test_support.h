// Cabinets for the cabinet tests, made with our own writer, and the bytes to patch in them.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "packager/cab_writer.h"

inline CabFile MakeCabFile(const std::string& name, const std::string& data, uint16_t attributes = 0x20,
                           uint16_t date = 0x2821, uint16_t time = 0x6000) {
  CabFile file;
  file.Name = name;
  file.Data = data;
  file.Attributes = attributes;
  file.Date = date;
  file.Time = time;
  return file;
}

inline std::string MakeCabinet(const std::string& path, const std::vector<CabFile>& files,
                               CabCompression compression = CabCompression::Mszip, uint16_t reserved = 0,
                               unsigned lzxWindowBits = 21) {
  CabOptions options;
  options.Compression = compression;
  options.ReservedHeaderBytes = reserved;
  options.LzxWindowBits = lzxWindowBits;
  std::string error;
  if (!WriteCabinet(files, options, path, error)) return error;
  return std::string();
}

inline uint32_t Get32(const std::string& bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
         uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

inline void Put32At(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

inline void Put16At(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

// Offsets of the file entries of a one-folder cabinet, as its header gives them.
struct TCabLayout {
  size_t FolderOffset = 0;
  std::vector<size_t> Entries;
};

inline TCabLayout LayoutOf(const std::string& cab) {
  TCabLayout layout;
  uint16_t flags = uint8_t(cab[30]) | uint8_t(cab[31]) << 8;
  layout.FolderOffset = 36 + ((flags & 4) ? 4 + (uint8_t(cab[36]) | uint8_t(cab[37]) << 8) : 0);
  size_t at = Get32(cab, 16);
  unsigned count = uint8_t(cab[28]) | uint8_t(cab[29]) << 8;
  for (unsigned i = 0; i < count && at + 16 < cab.size(); ++i) {
    layout.Entries.push_back(at);
    at = cab.find('\0', at + 16) + 1;
  }
  return layout;
}

inline FILETIME WriteTimeOf(const std::string& path, FILETIME* creation = nullptr, FILETIME* access = nullptr) {
  FILETIME c{}, a{}, w{};
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  GetFileTime(h, &c, &a, &w);
  CloseHandle(h);
  if (creation) *creation = c;
  if (access) *access = a;
  return w;
}
