#include "cabinet/cab_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cabinet/cab_output.h"
#include "cabinet/raw_file.h"
#include "format/byte_order.h"
#include "format/cabinet.h"
#include "sys/paths.h"
#include "sys/system.h"

int32_t CabLastError = 0;

namespace {

struct TFdiFunctions {
  decltype(&FDICreate) Create = nullptr;
  decltype(&FDICopy) Copy = nullptr;
  decltype(&FDIDestroy) Destroy = nullptr;
};

// cabinet.dll is taken from the system folder only, never through the search path: an elevated
// runner started from a download folder must not load a planted copy. Systems that do not know
// LOAD_LIBRARY_SEARCH_SYSTEM32 (Windows 7 without its update) refuse the flag; they are given the
// full path.
const TFdiFunctions& FdiFunctions() {
  static const TFdiFunctions functions = [] {
    TFdiFunctions f;
    HMODULE module = LoadLibraryExA("cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
      module = LoadLibraryExA((WithTrailingBackslash(SystemFolder()) + "cabinet.dll").c_str(), nullptr,
                              LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return f;
    f.Create = LookUpFunction<decltype(&FDICreate)>(module, "FDICreate");
    f.Copy = LookUpFunction<decltype(&FDICopy)>(module, "FDICopy");
    f.Destroy = LookUpFunction<decltype(&FDIDestroy)>(module, "FDIDestroy");
    if (!f.Create || !f.Copy || !f.Destroy) f = TFdiFunctions();
    return f;
  }();
  return functions;
}

void NoteError(int32_t error) {
  if (error != 0) CabLastError = error;
}

FNALLOC(CabAlloc) {
  return static_cast<int32_t>(cb) > 0 ? std::malloc(cb) : nullptr;
}

FNFREE(CabFree) {
  std::free(pv);
}

// The cabinet being read: cabinet.dll opens it once, by the name Expand gives it, and reads it
// through these callbacks. The only other handles the library is given are the output files the
// notifications open; it writes them and, when it gives up inside one, closes it.
constexpr char CabinetName[] = "package";
struct TCabinetCursor {
  TCabinetImage Image;
  uint32_t Position = 0;
} Cabinet;

bool IsCabinet(INT_PTR hf) { return hf == reinterpret_cast<INT_PTR>(&Cabinet); }

FNOPEN(CabOpen) {
  if (std::string_view(pszFile) != CabinetName) {
    NoteError(ERROR_FILE_NOT_FOUND);
    return -1;
  }
  Cabinet.Position = 0;
  return reinterpret_cast<INT_PTR>(&Cabinet);
}

FNREAD(CabRead) {
  if (!IsCabinet(hf)) return static_cast<UINT>(-1);
  uint32_t count = std::min<uint32_t>(cb, Cabinet.Image.Size - Cabinet.Position);
  memcpy(pv, Cabinet.Image.Data + Cabinet.Position, count);
  Cabinet.Position += count;
  return count;
}

FNWRITE(CabWrite) {
  int32_t error = 0;
  int32_t result = RawWrite(hf, pv, cb, error);
  NoteError(error);
  if (result > 0) HashWritten(pv, static_cast<uint32_t>(result));
  return static_cast<UINT>(result);
}

FNCLOSE(CabClose) {
  if (IsCabinet(hf)) return 0;
  int32_t error = 0;
  int32_t result = RawClose(hf, error);
  NoteError(error);
  return result;
}

FNSEEK(CabSeek) {
  int64_t base = seektype == SEEK_CUR ? Cabinet.Position : seektype == SEEK_END ? Cabinet.Image.Size : 0;
  int64_t position = base + dist;
  if (!IsCabinet(hf) || position < 0 || position > Cabinet.Image.Size) {
    NoteError(ERROR_NEGATIVE_SEEK);
    return -1;
  }
  Cabinet.Position = static_cast<uint32_t>(position);
  return static_cast<LONG>(position);
}

FNFDINOTIFY(CabNotify) {
  auto& reader = *static_cast<TCabReader*>(pfdin->pv);
  if (fdint == fdintCLOSE_FILE_INFO) ++reader.FinishedFiles;
  return HandleNotification(reader, fdint, *pfdin);
}

// The number of files the cabinet's header lists; 0 when it has no header.
unsigned ListedFiles(const TCabinetImage& cabinet) {
  return cabinet.Size >= CfHeader::Size ? Get16(cabinet.Data + CfHeader::FileCount) : 0;
}

}  // namespace

TCabReader::TCabReader() : Context(nullptr), ErrorRecord(), TotalBytes(0), DoneBytes(0) {
  CabLastError = 0;
  const TFdiFunctions& fdi = FdiFunctions();
  if (fdi.Create)
    Context = fdi.Create(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek, cpuUNKNOWN, &ErrorRecord);
}

TCabReader::~TCabReader() {
  if (Context) FdiFunctions().Destroy(Context);
  if (LaunchFileHold != INVALID_HANDLE_VALUE) CloseHandle(LaunchFileHold);
}

int32_t TCabReader::CheckCabinet(const TCabinetImage& cabinet) {
  TotalBytes = 0;
  if (!Context || !cabinet.Data || cabinet.Size < CfHeader::Size) return 0;
  const uint8_t* header = cabinet.Data;
  if (Get32(header + CfHeader::Signature) != CabSignature) return 0;
  const unsigned folders = Get16(header + CfHeader::FolderCount), count = Get16(header + CfHeader::FileCount);
  // The sum wraps like a signed 32-bit value, so a total of 2 GB or more shows as negative.
  uint32_t total = 0;
  for (uint32_t at = Get32(header + CfHeader::FilesOffset), i = 0; i < count; ++i) {
    // A table cut off inside an entry or its name ends the scan.
    if (at > cabinet.Size || cabinet.Size - at <= CfFile::Name) break;
    const uint8_t* entry = cabinet.Data + at;
    // A file in a folder the cabinet does not have (or continued from or into another cabinet):
    // the library would take it from its last folder and report it extracted.
    if (Get16(entry + CfFile::FolderIndex) >= folders) {
      CabLastError = ERROR_INVALID_DATA;
      return 0;
    }
    uint32_t room = cabinet.Size - at - CfFile::Name;
    uint32_t name = static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(entry + CfFile::Name), room));
    if (name == room) break;
    total += Get32(entry + CfFile::Size);
    at += CfFile::Name + name + 1;
  }
  TotalBytes = static_cast<int32_t>(total);
  return TotalBytes;
}

bool TCabReader::Expand(const TCabinetImage& cabinet, const std::string& destinationFolder, HANDLE heldDestination) {
  DoneBytes = 0;
  FinishedFiles = 0;
  StartedFiles = 0;
  RefusedFile.clear();
  Cabinet.Image = cabinet;
  DestFolder = WithTrailingBackslash(destinationFolder);
  CabLastError = 0;
  if (!Context) {
    CabLastError = ERROR_MOD_NOT_FOUND;
    return false;
  }
  HANDLE destination = heldDestination;
  if (destination == INVALID_HANDLE_VALUE) {
    MakeFolder(WithoutTrailingBackslash(DestFolder));
    destination = HoldFolder(WithoutTrailingBackslash(DestFolder));
  }
  if (destination == INVALID_HANDLE_VALUE) {
    CabLastError = ERROR_CANT_ACCESS_FILE;
    return false;
  }
  HeldFolders.assign(1, {WithoutTrailingBackslash(DestFolder), destination, false});
  // Digests that do not number the cabinet's files cannot vouch for them: nothing is expanded.
  if (Digests && DigestCount != ListedFiles(cabinet)) CabLastError = ERROR_CRC;
  // Without the platform's SHA-256 the digests cannot be checked, and the files are not trusted.
  if (CabLastError == 0 && Digests && !CryptAcquireContextA(&HashProvider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    HashProvider = 0;
    CabLastError = static_cast<int32_t>(GetLastError());
  }
  std::string name = CabinetName, folder;
  BOOL copied =
      CabLastError == 0 && FdiFunctions().Copy(Context, name.data(), folder.data(), 0, CabNotify, nullptr, this);
  // A replacement left unfinished goes; the file it was to replace stays as it was.
  if (!Replacement.empty() && !IsLinkByName(Replacement)) RemoveFile(Replacement);
  Replacement.clear();
  // A destination given held stays the caller's.
  for (const THeldFolder& held : HeldFolders)
    if (held.Handle != heldDestination) CloseHandle(held.Handle);
  HeldFolders.clear();
  // The library also gives up by itself (damaged data, bad checksum, unknown compression);
  // only a cancellation through the hook ends the copy early without being a failure.
  if (!copied && CabLastError == 0 && ErrorRecord.erfOper != FDIERROR_USER_ABORT) CabLastError = ERROR_INVALID_DATA;
  // The library passes over files whose folder does not exist: a whole copy finishes every file.
  if (copied && CabLastError == 0 && FinishedFiles < ListedFiles(cabinet)) CabLastError = ERROR_INVALID_DATA;
  EndDigest();
  if (HashProvider) CryptReleaseContext(HashProvider, 0);
  HashProvider = 0;
  if (copied && CabLastError == 0 && Digests && FinishedFiles != DigestCount) CabLastError = ERROR_CRC;
  return CabLastError == 0;
}
