#include "cabinet/cab_output.h"

#include "cabinet/raw_file.h"
#include "format/cabinet.h"
#include "format/package_resources.h"
#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/wide_text.h"

namespace {

constexpr uint16_t DiskAttributeMask = 0x27;  // read-only, hidden, system, archive

// The digest of the file being written, where the package has digests.
HCRYPTHASH WrittenHash = 0;

// An entry planted by another user where the target folder lies open to them: a link or a second
// name of another file would redirect the write.
constexpr int32_t RedirectedEntry = ERROR_CANT_ACCESS_FILE;

// Makes or enters each folder of the stored name below the destination, holding each one; a
// folder that is, or has become, a link ends the expansion.
bool EnterFolders(TCabReader& reader, const std::string& name) {
  for (size_t end = name.find('\\'); end != std::string::npos; end = name.find('\\', end + 1)) {
    std::string folder = reader.DestFolder + name.substr(0, end);
    bool held = false;
    for (const THeldFolder& entry : reader.HeldFolders) held |= entry.Path == folder;
    if (held) continue;
    MakeFolder(folder);
    HANDLE handle = HoldFolder(folder);
    if (handle == INVALID_HANDLE_VALUE) return false;
    reader.HeldFolders.push_back({folder, handle, false});
  }
  return true;
}

// Whether the file goes when its handle is closed.
void SetDeletedOnClose(HANDLE file, bool deleted) {
  FILE_DISPOSITION_INFO disposition{deleted};
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Until it is finished and checked, a new file goes with its handle: an expansion that gives up
// inside it (damaged data, a cancel, the process's end) leaves no part of it behind.
HANDLE CreateNewOutput(const std::string& target) {
  HANDLE file = OpenPath(target, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT);
  if (file != INVALID_HANDLE_VALUE) SetDeletedOnClose(file, true);
  return file;
}

// A handle on the written file that reads and lets others only read, reached through the writer,
// never by the name. The first one must share what the writer holds (writing, deletion), so the
// second is taken from it once the writer is closed; the folder lets nobody else in meanwhile.
HANDLE HoldWrittenFile(HANDLE writer, int32_t& error) {
  HANDLE reader = ReOpenFile(writer, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  RawClose(reinterpret_cast<intptr_t>(writer), error);
  if (reader == INVALID_HANDLE_VALUE) return reader;
  HANDLE held = ReOpenFile(reader, GENERIC_READ, FILE_SHARE_READ, 0);
  CloseHandle(reader);
  return held;
}

// Opens target for writing as a new file, made exclusively, so that nothing is ever written
// through a link or into a file with a second name. A file there already is replaced whole: the
// data goes to a new file beside it (reader.Replacement), which takes its name when it is
// complete; a rename replaces a link itself, never what it leads to. A link or a second name seen
// at the name (on a handle opened on a link itself) ends the expansion.
HANDLE OpenOutputHandle(TCabReader& reader, const std::string& target, int32_t& error) {
  HANDLE file = CreateNewOutput(target);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    HANDLE old = OpenPath(target, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    bool plain = old != INVALID_HANDLE_VALUE && IsPlainFile(old) && !IsLinkByName(target);
    if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
    if (!plain) {
      error = RedirectedEntry;
      return INVALID_HANDLE_VALUE;
    }
    for (int32_t attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
      reader.Replacement = target + ".cabrun" + DecimalText(attempt);
      file = CreateNewOutput(reader.Replacement);
    }
    if (file == INVALID_HANDLE_VALUE) reader.Replacement.clear();
  }
  // A file just made exclusively is the run's own: whatever names are made for it or at its name
  // later, the writes through this handle go to it.
  if (file == INVALID_HANDLE_VALUE) error = static_cast<int32_t>(GetLastError());
  return file;
}

// Gives a finished replacement its target's name; a read-only old file gives way too.
bool PutReplacementInPlace(TCabReader& reader, const std::string& target) {
  std::string replacement = reader.Replacement;
  reader.Replacement.clear();
  if (replacement.empty()) return true;
  std::wstring from = WidePath(replacement), to = WidePath(target);
  bool moved = MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
  int32_t attributes = moved ? -1 : ReadAttributes(target);
  if (attributes != -1 && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY |
                                         FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_READONLY) {
    WriteAttributes(target, static_cast<uint32_t>(attributes) & ~FILE_ATTRIBUTE_READONLY);
    moved = MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  if (!moved) {
    CabLastError = static_cast<int32_t>(GetLastError());
    RemoveFile(replacement);
  }
  return moved;
}

unsigned Separators(const std::string& text) {
  unsigned count = 0;
  for (char c : text) count += c == '\\' || c == '/';
  return count;
}

// The stored name in UTF-8, the form every path of the run takes: a name flagged as UTF-8 as it
// is (cabinet.dll passes it on as stored, flag and all), any other read in the system's code page,
// as it always was, and checked there as it always was. False for a flagged name that is not
// UTF-8, or an unflagged one that leads elsewhere.
bool TakeStoredName(const std::string& stored, bool utf8, std::string& name) {
  name = utf8 ? stored : Utf8FromCodePage(stored, CP_ACP);
  return utf8 ? !WidePath(stored).empty() : IsSafeStoredName(stored);
}

// Whether a program of the system's code page reads the name as the same path: its ANSI functions
// spell names with best fit, so that "．．＼" would reach it as "..\\" on a Western system.
bool ReadsAlikeInSystemCodePage(const std::string& name) {
  std::string seen = Utf8FromCodePage(AsAnsiFunctionsSpellIt(WidePath(name)), CP_ACP);
  return Separators(seen) == Separators(name) && IsSafeStoredName(seen);
}

// Refuses the name with error, logged as stored: control characters would let it forge lines.
__attribute__((noinline)) INT_PTR RefuseName(TCabReader& reader, const std::string& name, int32_t error) {
  reader.RefusedFile = name;
  for (char& c : reader.RefusedFile) c = static_cast<unsigned char>(c) < ' ' ? '?' : c;
  CabLastError = error;
  return -1;
}

// Makes the folders of the target and opens it for writing; -1 when that fails.
INT_PTR OpenOutputFile(TCabReader& reader, const FDINOTIFICATION& record) {
  std::string stored = record.psz1 ? record.psz1 : "", name;
  bool utf8 = record.attribs & CabAttributeNameIsUtf8;
  if (!TakeStoredName(stored, utf8, name))
    return RefuseName(reader, utf8 ? stored : name, utf8 ? ERROR_NO_UNICODE_TRANSLATION : ERROR_INVALID_NAME);
  reader.FileName = name;
  std::string target = reader.DestFolder + name;
  // A name that leads out of the destination folder, or to a device, is refused, and with it the
  // rest of the copy.
  std::string base = FullPathOf(reader.DestFolder);
  std::string full = FullPathOf(target);
  if (!IsSafeStoredName(name) || base.empty() || full.compare(0, base.size(), base) != 0)
    return RefuseName(reader, name, ERROR_INVALID_NAME);
  if (utf8 && !ReadsAlikeInSystemCodePage(name)) return RefuseName(reader, name, ERROR_NO_UNICODE_TRANSLATION);

  reader.DoneBytes += record.cb;
  bool cancel = false;
  if (reader.OnProgress) reader.OnProgress(reader.ProgressContext, target, reader.DoneBytes, reader.TotalBytes, cancel);
  if (cancel) return -1;

  if (!EnterFolders(reader, name)) {
    CabLastError = -1;
    return -1;
  }
  // A file beyond the digests has none to match.
  if (reader.Digests && reader.StartedFiles++ >= reader.DigestCount) {
    reader.RefusedFile = name;
    CabLastError = ERROR_CRC;
    return -1;
  }
  int32_t error = 0;
  HANDLE file = OpenOutputHandle(reader, target, error);
  if (error == 0 && reader.Digests && !CryptCreateHash(reader.HashProvider, CALG_SHA_256, 0, 0, &WrittenHash)) {
    error = static_cast<int32_t>(GetLastError());
    CloseHandle(file);
  }
  if (error != 0) {
    CabLastError = error;
    return -1;
  }
  return reinterpret_cast<INT_PTR>(file);
}

// Whether the bytes written match the file's digest; true for a package without digests.
bool DigestMatches(const TCabReader& reader) {
  if (!WrittenHash) return !reader.Digests;
  BYTE digest[DigestSize]{};
  DWORD size = sizeof digest;
  bool read = CryptGetHashParam(WrittenHash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest;
  EndDigest();
  return read && memcmp(digest, reader.Digests + DigestSize * (reader.StartedFiles - 1), sizeof digest) == 0;
}

// Times and attributes go through the handle that wrote the file: by its name, a link put in its
// place after the close would pass them on to another file.
INT_PTR FinishOutputFile(TCabReader& reader, const FDINOTIFICATION& record) {
  HANDLE file = reinterpret_cast<HANDLE>(record.hf);
  FILE_BASIC_INFO basic{};  // times left at zero stay as they are
  FILETIME local{}, utc{};
  if (DosDateTimeToFileTime(record.date, record.time, &local) && LocalFileTimeToFileTime(&local, &utc)) {
    basic.CreationTime.LowPart = basic.LastWriteTime.LowPart = utc.dwLowDateTime;
    basic.CreationTime.HighPart = basic.LastWriteTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
  }
  uint32_t attributes = record.attribs & DiskAttributeMask;
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
  std::string name = reader.FileName;
  if (!DigestMatches(reader)) {
    // The file goes with its handle; a file it was to replace stays as it was.
    int32_t ignored = 0;
    RawClose(record.hf, ignored);
    reader.Replacement.clear();
    reader.RefusedFile = name;
    CabLastError = ERROR_CRC;
    return 0;
  }
  SetDeletedOnClose(file, false);
  int32_t error = 0;
  // The flagged file is held from here on, unless it is to take another's name (extract-only).
  bool launched = record.cb & 1;
  if (launched && reader.LaunchFileHold != INVALID_HANDLE_VALUE) {
    CloseHandle(reader.LaunchFileHold);
    reader.LaunchFileHold = INVALID_HANDLE_VALUE;
  }
  if (launched && reader.Replacement.empty())
    reader.LaunchFileHold = HoldWrittenFile(file, error);
  else
    RawClose(record.hf, error);
  if (!PutReplacementInPlace(reader, reader.DestFolder + name)) return 0;
  if (launched) reader.LaunchFileName = name;
  return 1;
}

bool IsDotsAndBlanks(const std::string& segment) {
  return segment.find_first_not_of(". ") == std::string::npos;
}

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT with a digit or ¹ ² ³: whatever its extension,
// in any folder, Windows opens the device for such a name (a file's data would go to a port).
bool IsDeviceName(const std::string& segment) {
  std::string base = segment.substr(0, segment.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (base == device) return true;
  if (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0) return false;
  std::string number = base.substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
         (number.size() == 2 && number[0] == '\xC2' && strchr("\xB9\xB2\xB3", number[1]));
}

}  // namespace

void HashWritten(const void* data, uint32_t size) {
  if (WrittenHash) CryptHashData(WrittenHash, static_cast<const BYTE*>(data), size, 0);
}

void EndDigest() {
  if (WrittenHash) CryptDestroyHash(WrittenHash);
  WrittenHash = 0;
}

bool IsSafeStoredName(const std::string& name) {
  if (name.empty() || name.find(':') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    size_t end = name.find_first_of("\\/", start);
    std::string segment = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // Empty segments cover absolute and UNC names; dots and blanks alone climb or vanish.
    if (IsDotsAndBlanks(segment) || IsDeviceName(segment)) return false;
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
