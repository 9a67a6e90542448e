#include "cabinet/cab_output.h"

#include "cabinet/raw_file.h"
#include "format/cabinet.h"
#include "format/package_resources.h"
#include "sys/number_text.h"
#include "sys/paths.h"

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
    for (const auto& entry : reader.HeldFolders) held |= entry.first == folder;
    if (held) continue;
    MakeFolder(folder);
    HANDLE handle = HoldFolder(folder);
    if (handle == INVALID_HANDLE_VALUE) return false;
    reader.HeldFolders.push_back({folder, handle});
  }
  return true;
}

HANDLE CreateNewOutput(const std::string& target) {
  return CreateFileA(target.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Opens target for writing as a new file, made exclusively, so that nothing is ever written
// through a link or into a file with a second name. A file there already is replaced whole: the
// data goes to a new file beside it (reader.Replacement), which takes its name when it is
// complete; a rename replaces a link itself, never what it leads to. A link or a second name seen
// at the name (on a handle opened on a link itself) ends the expansion.
HANDLE OpenOutputHandle(TCabReader& reader, const std::string& target, int32_t& error) {
  HANDLE file = CreateNewOutput(target);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    HANDLE old = CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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
  bool moved = MoveFileExA(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  int32_t attributes = moved ? -1 : ReadAttributes(target);
  if (attributes != -1 && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY |
                                         FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_READONLY) {
    WriteAttributes(target, static_cast<uint32_t>(attributes) & ~FILE_ATTRIBUTE_READONLY);
    moved = MoveFileExA(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  if (!moved) {
    CabLastError = static_cast<int32_t>(GetLastError());
    DeleteFileA(replacement.c_str());
  }
  return moved;
}

unsigned Backslashes(const char* text) {
  unsigned count = 0;
  while (*text) count += *text++ == '\\';
  return count;
}

// cabinet.dll passes a name flagged as UTF-8 on as stored, flag and all, and the A functions
// would read it in the system's code page: it is spelled in that code page here, before any check
// of it. A character that the code page cannot hold, or spells with a trail byte that the
// byte-wise splitting here would take for a backslash, refuses the name rather than let it
// become another.
bool SpellInSystemCodePage(std::string& name) {
  wchar_t wide[CB_MAX_FILENAME];
  char spelled[2 * CB_MAX_FILENAME];
  BOOL lost = FALSE;
  if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.c_str(), -1, wide, CB_MAX_FILENAME)) return false;
  // A system whose code page is UTF-8 takes the name as it is (asked about losses, it fails the call).
  if (GetACP() == CP_UTF8) return true;
  if (!WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, spelled, sizeof spelled, nullptr, &lost) ||
      lost || Backslashes(spelled) != Backslashes(name.c_str()))
    return false;
  name = spelled;
  return true;
}

// Makes the folders of the target and opens it for writing; -1 when that fails.
INT_PTR OpenOutputFile(TCabReader& reader, const FDINOTIFICATION& record) {
  std::string name = record.psz1 ? record.psz1 : "";
  if ((record.attribs & CabAttributeNameIsUtf8) && !SpellInSystemCodePage(name)) {
    // Logged as stored; control characters would let the name forge lines of the log.
    for (char& c : name) c = static_cast<unsigned char>(c) < ' ' ? '?' : c;
    reader.RefusedFile = name;
    CabLastError = ERROR_NO_UNICODE_TRANSLATION;
    return -1;
  }
  reader.FileName = name;
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
    FILE_DISPOSITION_INFO remove{TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
    int32_t ignored = 0;
    RawClose(record.hf, ignored);
    reader.Replacement.clear();
    reader.RefusedFile = name;
    CabLastError = ERROR_CRC;
    return 0;
  }
  int32_t error = 0;
  RawClose(record.hf, error);
  if (!PutReplacementInPlace(reader, reader.DestFolder + name)) return 0;
  if (record.cb & 1) reader.LaunchFileName = name;
  return 1;
}

bool IsDotsAndBlanks(const std::string& segment) {
  return segment.find_first_not_of(". ") == std::string::npos;
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
