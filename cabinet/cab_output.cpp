#include "cabinet/cab_output.h"

#include "cabinet/raw_file.h"
#include "sys/paths.h"

namespace {

constexpr int OutputOpenFlags = 0x8121;   // write-only, sequential, create, binary
constexpr int OutputPermission = 0x180;   // read and write
constexpr uint16_t DiskAttributeMask = 0x27;  // read-only, hidden, system, archive

// Makes the folders of the target and opens it for writing, emptied; -1 when that fails.
INT_PTR OpenOutputFile(TCabReader& reader, const FDINOTIFICATION& record) {
  std::string name = record.psz1 ? record.psz1 : "";
  std::string target = reader.DestFolder + name;
  // A name that leads out of the destination folder is refused, and with it the rest of the copy.
  std::string base = FullPathOf(reader.DestFolder);
  std::string full = FullPathOf(target);
  if (!IsSafeStoredName(name) || base.empty() || full.compare(0, base.size(), base) != 0) {
    CabLastError = ERROR_INVALID_NAME;
    return -1;
  }

  reader.DoneBytes += record.cb;
  bool cancel = false;
  if (reader.OnProgress) reader.OnProgress(reader.ProgressContext, target, reader.DoneBytes, reader.TotalBytes, cancel);
  if (cancel) return -1;

  if (!MakeFolderChain(FolderOfPath(target))) {
    CabLastError = -1;
    return -1;
  }
  if (IsExistingFile(target)) {
    int32_t attributes = ReadAttributes(target);
    if (attributes != -1 && (attributes & FILE_ATTRIBUTE_READONLY))
      WriteAttributes(target, static_cast<uint32_t>(attributes) & ~FILE_ATTRIBUTE_READONLY);
  }
  int32_t error = 0;
  intptr_t handle = RawOpen(target.c_str(), OutputOpenFlags, OutputPermission, error);
  if (error != 0) {
    CabLastError = error;
    return handle;
  }
  // An older, longer file must not keep its tail behind the new data.
  if (!SetEndOfFile(reinterpret_cast<HANDLE>(handle))) {
    CabLastError = static_cast<int32_t>(GetLastError());
    RawClose(handle, error);
    return -1;
  }
  return handle;
}

INT_PTR FinishOutputFile(TCabReader& reader, const FDINOTIFICATION& record) {
  int32_t error = 0;
  RawClose(record.hf, error);
  std::string name = record.psz1 ? record.psz1 : "";
  SetOutputFileInfo(reader.DestFolder + name, record.date, record.time, record.attribs, error);
  if (record.cb & 1) reader.LaunchFileName = name;
  return 1;
}

bool IsDotsAndBlanks(const std::string& segment) {
  return segment.find_first_not_of(". ") == std::string::npos;
}

}  // namespace

bool IsSafeStoredName(const std::string& name) {
  if (name.empty() || name.find(':') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    size_t end = name.find_first_of("\\/", start);
    std::string segment = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // Empty segments cover absolute and UNC names; dots and blanks alone climb or vanish.
    if (IsDotsAndBlanks(segment)) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

INT_PTR HandleNotification(TCabReader& reader, FDINOTIFICATIONTYPE kind, FDINOTIFICATION& record) {
  switch (kind & 0xFF) {
    case fdintCOPY_FILE:
      return OpenOutputFile(reader, record);
    case fdintCLOSE_FILE_INFO:
      return FinishOutputFile(reader, record);
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
      // A package is one self-contained cabinet; data from another cabinet is a damaged package.
      CabLastError = ERROR_INVALID_DATA;
      return -1;
    default:
      return 0;
  }
}

bool SetOutputFileInfo(const std::string& path, uint16_t date, uint16_t time, uint16_t attributes, int32_t& error) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = static_cast<int32_t>(GetLastError());
    return false;
  }
  FILETIME local, utc;
  if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(h, &utc, nullptr, &utc);
  CloseHandle(h);
  SetFileAttributesA(path.c_str(), attributes & DiskAttributeMask);
  return true;
}
