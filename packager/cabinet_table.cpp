#include "packager/cabinet_table.h"

#include <algorithm>
#include <fstream>

#include "format/byte_order.h"
#include "packager/text.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t LargestFileEntry = CfFile::Name + 256;  // fixed part and a name of up to 255 bytes with its NUL
constexpr uint32_t LargestTableStart = 32 << 20;  // header, reserved area and 65535 folders fit well below

}  // namespace

bool ReadCabinetTable(const std::string& b, CabinetTable& table, std::string& error) {
  table = CabinetTable();
  error = "the cabinet is damaged or not a cabinet";
  if (b.size() < CfHeader::Size || !LooksLikeCabinet(b)) return false;
  table.CabinetSize = Get32(b, CfHeader::CabinetSize);
  uint32_t filesAt = Get32(b, CfHeader::FilesOffset);
  uint32_t folders = Get16(b, CfHeader::FolderCount), count = Get16(b, CfHeader::FileCount);
  table.Flags = uint16_t(Get16(b, CfHeader::Flags));
  size_t at = CfHeader::Size, folderReserve = 0;
  if (table.Flags & CabFlagReservePresent) {
    if (b.size() < CfHeader::SizeWithReserve) return false;
    folderReserve = uint8_t(b[CfHeader::ReservedFolderBytes]);
    at = CfHeader::SizeWithReserve + Get16(b, CfHeader::ReservedHeaderBytes);
  }
  // Each neighbour in a set is named twice: the cabinet's file name and the disk's.
  const int setNames = ((table.Flags & CabFlagPreviousCabinet) ? 2 : 0) + ((table.Flags & CabFlagNextCabinet) ? 2 : 0);
  for (int name = 0; name < setNames; ++name) {
    size_t zero = b.find('\0', at);
    if (zero == std::string::npos) return false;
    at = zero + 1;
  }
  for (uint32_t i = 0; i < folders; ++i, at += CfFolder::Size + folderReserve) {
    if (at + CfFolder::Size > b.size()) return false;
    table.FolderCompression.push_back(uint16_t(Get16(b, at + CfFolder::Compression)));
  }
  at = filesAt;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + CfFile::Name > b.size()) return false;
    size_t zero = b.find('\0', at + CfFile::Name);
    if (zero == std::string::npos) return false;
    CabinetEntry e;
    e.At = uint32_t(at);
    e.Size = Get32(b, at + CfFile::Size);
    e.Folder = uint16_t(Get16(b, at + CfFile::FolderIndex));
    e.Date = uint16_t(Get16(b, at + CfFile::Date));
    e.Time = uint16_t(Get16(b, at + CfFile::Time));
    e.Attributes = uint16_t(Get16(b, at + CfFile::Attributes));
    e.Name = b.substr(at + CfFile::Name, zero - at - CfFile::Name);
    table.Files.push_back(e);
    at = zero + 1;
  }
  error.clear();
  return true;
}

bool ReadCabinetTable(const FileSpan& cabinet, CabinetTable& table, std::string& error) {
  std::string head, part;
  if (!ReadSpan(cabinet, CfHeader::Size, head)) {
    error = "the cabinet cannot be read";
    return false;
  }
  if (head.size() < CfHeader::Size || Get32(head, CfHeader::FilesOffset) > LargestTableStart)
    return ReadCabinetTable(head, table, error);
  const uint64_t tableEnd =
      Get32(head, CfHeader::FilesOffset) + uint64_t(Get16(head, CfHeader::FileCount)) * LargestFileEntry;
  if (!ReadSpan(cabinet, tableEnd, part)) {
    error = "the cabinet cannot be read";
    return false;
  }
  return ReadCabinetTable(part, table, error);
}

bool LooksLikeCabinet(const std::string& start) { return start.size() >= 4 && Get32(start, CfHeader::Signature) == CabSignature; }

bool FlagFileToRun(const fs::path& cabinet, const std::string& run, std::string& error) {
  FileSpan span;
  CabinetTable table;
  if (!WholeFileSpan(cabinet, span) || !ReadCabinetTable(span, table, error)) return false;
  std::string wanted = Upper(run);
  std::replace(wanted.begin(), wanted.end(), '/', '\\');
  auto named = [&](const CabinetEntry& e) { return Upper(e.Name) == wanted; };
  if (std::none_of(table.Files.begin(), table.Files.end(), named)) {
    error = "--run \"" + run + "\" is not a file in the cabinet";
    return false;
  }
  std::fstream file(cabinet, std::ios::in | std::ios::out | std::ios::binary);
  for (const CabinetEntry& e : table.Files) {
    uint16_t flagged = named(e) ? e.Attributes | CabAttributeRunAfterExtraction : e.Attributes & ~CabAttributeRunAfterExtraction;
    std::string bytes(2, '\0');
    Set16(bytes, 0, flagged);
    if (flagged != e.Attributes) file.seekp(e.At + CfFile::Attributes).write(bytes.data(), 2);
  }
  file.close();
  if (!file) error = "cannot write the cabinet's file table";
  return bool(file);
}

bool CheckRunnable(const CabinetTable& table, std::string& error) {
  uint64_t total = 0;
  bool flagged = false;
  for (const CabinetEntry& e : table.Files) {
    total += e.Size;
    flagged = flagged || (e.Attributes & CabAttributeRunAfterExtraction);
  }
  if (table.Flags & (CabFlagPreviousCabinet | CabFlagNextCabinet))
    error = "the cabinet is part of a set; a package needs one self-contained cabinet";
  else if (table.Files.empty())
    error = "the cabinet holds no files";
  else if (total >= RunnerSizeLimit)
    error = "the cabinet's files add up to " + std::to_string(total) +
            " bytes; the runner can only check a cabinet whose files add up to less than 2^31 bytes";
  else if (total == 0)
    error = "every file in the cabinet is empty; the runner does not expand a cabinet without content";
  else if (!flagged)
    error = "no file in the cabinet is flagged to be run (attribute 0x40; --run NAME flags one)";
  else
    return true;
  return false;
}

std::string CompressionName(uint16_t typeCompress) {
  switch (typeCompress & CabCompressMask) {
    case CabCompressNone: return "none";
    case CabCompressMszip: return "MSZIP";
    case CabCompressQuantum: return "Quantum";
    case CabCompressLzx: return "LZX (window 2^" + std::to_string(CabLzxWindowBits(typeCompress)) + ")";
    default: return "unknown (" + std::to_string(typeCompress) + ")";
  }
}
