// Cabinets for the cabinet tests, made with our own writer, and the bytes to patch in them.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cabinet/cab_reader.h"
#include "format/byte_order.h"
#include "format/cabinet.h"
#include "packager/cab_writer.h"
#include "tests/test_support.h"

// A cabinet file's bytes in memory, as the runner holds its package's cabinet; a file that cannot
// be read gives none.
class CabinetBytes {
 public:
  explicit CabinetBytes(const std::string& path) : Bytes(ReadWholeFile(path)) {}
  operator TCabinetImage() const {
    return {reinterpret_cast<const uint8_t*>(Bytes.data()), static_cast<uint32_t>(Bytes.size())};
  }

 private:
  std::string Bytes;
};

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
                               unsigned lzxWindowBits = CabLzxMaxWindowBits, LzxParse parse = LzxParse::Lazy) {
  CabOptions options;
  options.Compression = compression;
  options.ReservedHeaderBytes = reserved;
  options.LzxWindowBits = lzxWindowBits;
  options.LzxParsing = parse;
  std::string error;
  if (!WriteCabinet(files, options, path, error)) return error;
  return std::string();
}

// Offsets of the file entries of a one-folder cabinet, as its header gives them.
struct TCabLayout {
  size_t FolderOffset = 0;
  std::vector<size_t> Entries;
};

inline TCabLayout LayoutOf(const std::string& cab) {
  TCabLayout layout;
  const bool reserve = Get16(cab, CfHeader::Flags) & CabFlagReservePresent;
  layout.FolderOffset = reserve ? CfHeader::SizeWithReserve + Get16(cab, CfHeader::ReservedHeaderBytes) : CfHeader::Size;
  size_t at = Get32(cab, CfHeader::FilesOffset);
  unsigned count = Get16(cab, CfHeader::FileCount);
  for (unsigned i = 0; i < count && at + CfFile::Name < cab.size(); ++i) {
    layout.Entries.push_back(at);
    at = cab.find('\0', at + CfFile::Name) + 1;
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
