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
  int32_t error = 0;
  intptr_t handle = RawOpen(target.c_str(), OutputOpenFlags, OutputPermission, error);
  // Only a refused open looks for a read-only file to overwrite: a name looked up before the
  // open costs every new file a search of its folder.
  int32_t attributes = error == ERROR_ACCESS_DENIED ? ReadAttributes(target) : -1;
  if (attributes != -1 &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == FILE_ATTRIBUTE_READONLY) {
    WriteAttributes(target, static_cast<uint32_t>(attributes) & ~FILE_ATTRIBUTE_READONLY);
    error = 0;
    handle = RawOpen(target.c_str(), OutputOpenFlags, OutputPermission, error);
  }
  if (error != 0) {
    CabLastError = error;
    return handle;
  }
  // An older, longer file must not keep its tail behind the new data; the open leaves
  // ERROR_ALREADY_EXISTS behind when it found one.
  if (GetLastError() == ERROR_ALREADY_EXISTS && !SetEndOfFile(reinterpret_cast<HANDLE>(handle))) {
    CabLastError = static_cast<int32_t>(GetLastError());
    RawClose(handle, error);
    return -1;
  }
  return handle;
}

// Creation and last-write time from the stored local DOS time; a rejected date changes nothing.
void SetOutputFileTime(HANDLE file, uint16_t date, uint16_t time) {
  FILETIME local, utc;
  if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(file, &utc, nullptr, &utc);
}

// The times go through the handle that wrote the file, which is not opened a second time.
// Attributes are set only when they differ: most files keep the archive bit a new file has.
INT_PTR FinishOutputFile(TCabReader& reader, const FDINOTIFICATION& record) {
  SetOutputFileTime(reinterpret_cast<HANDLE>(record.hf), record.date, record.time);
  int32_t error = 0;
  RawClose(record.hf, error);
  std::string name = record.psz1 ? record.psz1 : "";
  std::string path = reader.DestFolder + name;
  uint32_t attributes = record.attribs & DiskAttributeMask;
  if (static_cast<uint32_t>(ReadAttributes(path)) != (attributes ? attributes : FILE_ATTRIBUTE_NORMAL))
    WriteAttributes(path, attributes);
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
