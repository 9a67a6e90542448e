#include "cabinet/cab_reader.h"

#include <cstdlib>

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

FNOPEN(CabOpen) {
  int32_t error = 0;
  intptr_t result = RawOpen(pszFile, oflag, pmode, error);
  NoteError(error);
  return result;
}

FNREAD(CabRead) {
  int32_t error = 0;
  int32_t result = RawRead(hf, pv, cb, error);
  NoteError(error);
  return static_cast<UINT>(result);
}

FNWRITE(CabWrite) {
  int32_t error = 0;
  int32_t result = RawWrite(hf, pv, cb, error);
  NoteError(error);
  if (result > 0) HashWritten(pv, static_cast<uint32_t>(result));
  return static_cast<UINT>(result);
}

FNCLOSE(CabClose) {
  int32_t error = 0;
  int32_t result = RawClose(hf, error);
  NoteError(error);
  return result;
}

FNSEEK(CabSeek) {
  int32_t error = 0;
  int32_t result = RawSeek(hf, dist, seektype, error);
  NoteError(error);
  return result;
}

FNFDINOTIFY(CabNotify) {
  auto& reader = *static_cast<TCabReader*>(pfdin->pv);
  if (fdint == fdintCLOSE_FILE_INFO) ++reader.FinishedFiles;
  return HandleNotification(reader, fdint, *pfdin);
}

class TReadOnlyFile {
 public:
  explicit TReadOnlyFile(const std::string& path)
      : Handle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                           nullptr)) {}
  ~TReadOnlyFile() {
    if (IsOpen()) CloseHandle(Handle);
  }
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  bool IsOpen() const { return Handle != INVALID_HANDLE_VALUE; }
  bool ReadExactly(void* buffer, DWORD count) {
    DWORD done = 0;
    return ReadFile(Handle, buffer, count, &done, nullptr) && done == count;
  }
  // INVALID_SET_FILE_POINTER is the failure value, also when it equals the position asked for.
  bool MoveTo(uint32_t position) {
    return position != INVALID_SET_FILE_POINTER &&
           SetFilePointer(Handle, static_cast<LONG>(position), nullptr, FILE_BEGIN) == position;
  }

 private:
  HANDLE Handle;
};

// The number of files the cabinet's header lists; 0 when it cannot be read.
unsigned ListedFiles(const std::string& cabinetPath) {
  TReadOnlyFile file(cabinetPath);
  unsigned char header[CfHeader::Size];
  if (!file.IsOpen() || !file.ReadExactly(header, CfHeader::Size)) return 0;
  return Get16(header + CfHeader::FileCount);
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
}

int32_t TCabReader::CheckCabinet(const std::string& cabinetPath) {
  TotalBytes = 0;
  if (!Context) return 0;
  TReadOnlyFile file(cabinetPath);
  if (!file.IsOpen()) return 0;
  unsigned char header[CfHeader::Size];
  if (!file.ReadExactly(header, CfHeader::Size) || Get32(header + CfHeader::Signature) != CabSignature) return 0;
  if (!file.MoveTo(Get32(header + CfHeader::FilesOffset))) return 0;
  const unsigned folders = Get16(header + CfHeader::FolderCount), count = Get16(header + CfHeader::FileCount);
  // The sum wraps like a signed 32-bit value, so a total of 2 GB or more shows as negative.
  uint32_t total = 0;
  for (unsigned i = 0; i < count; ++i) {
    unsigned char entry[CfFile::Name];
    if (!file.ReadExactly(entry, CfFile::Name)) break;
    // A file in a folder the cabinet does not have (or continued from or into another cabinet):
    // the library would take it from its last folder and report it extracted.
    if (Get16(entry + CfFile::FolderIndex) >= folders) {
      CabLastError = ERROR_INVALID_DATA;
      return 0;
    }
    // The name is skipped a byte at a time; a table cut off inside it ends the scan.
    bool named = true;
    for (char c = 1; c != '\0' && named;) named = file.ReadExactly(&c, 1);
    if (!named) break;
    total += Get32(entry + CfFile::Size);
  }
  TotalBytes = static_cast<int32_t>(total);
  return TotalBytes;
}

bool TCabReader::Expand(const std::string& cabinetPath, const std::string& destinationFolder) {
  DoneBytes = 0;
  FinishedFiles = 0;
  StartedFiles = 0;
  RefusedFile.clear();
  std::string fullPath = FullPathOf(cabinetPath);
  DestFolder = WithTrailingBackslash(destinationFolder);
  CabLastError = 0;
  if (!Context) {
    CabLastError = ERROR_MOD_NOT_FOUND;
    return false;
  }
  MakeFolder(WithoutTrailingBackslash(DestFolder));
  HANDLE destination = HoldFolder(WithoutTrailingBackslash(DestFolder));
  if (destination == INVALID_HANDLE_VALUE) {
    CabLastError = ERROR_CANT_ACCESS_FILE;
    return false;
  }
  HeldFolders.assign(1, {WithoutTrailingBackslash(DestFolder), destination});
  // Without the platform's SHA-256 the digests cannot be checked, and the files are not trusted.
  if (Digests && !CryptAcquireContextA(&HashProvider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    HashProvider = 0;
    CabLastError = static_cast<int32_t>(GetLastError());
  }
  std::string name = NameOfPath(fullPath);
  std::string folder = FolderOfPath(fullPath);
  BOOL copied = CabLastError == 0 && FdiFunctions().Copy(Context, name.data(), folder.data(), 0, CabNotify, nullptr, this);
  // A replacement left unfinished goes; the file it was to replace stays as it was.
  if (!Replacement.empty() && !IsLinkByName(Replacement)) DeleteFileA(Replacement.c_str());
  Replacement.clear();
  for (const auto& held : HeldFolders) CloseHandle(held.second);
  HeldFolders.clear();
  // The library also gives up by itself (damaged data, bad checksum, unknown compression);
  // only a cancellation through the hook ends the copy early without being a failure.
  if (!copied && CabLastError == 0 && ErrorRecord.erfOper != FDIERROR_USER_ABORT) CabLastError = ERROR_INVALID_DATA;
  // The library passes over files whose folder does not exist: a whole copy finishes every file.
  if (copied && CabLastError == 0 && FinishedFiles < ListedFiles(fullPath)) CabLastError = ERROR_INVALID_DATA;
  EndDigest();
  if (HashProvider) CryptReleaseContext(HashProvider, 0);
  HashProvider = 0;
  if (copied && CabLastError == 0 && Digests && FinishedFiles != DigestCount) CabLastError = ERROR_CRC;
  return CabLastError == 0;
}
