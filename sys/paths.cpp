#include "sys/paths.h"

#include <winternl.h>

#include "sys/system.h"
#include "sys/wide_text.h"

namespace {

constexpr DWORD kFolderBit = FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kReadOnlyBit = FILE_ATTRIBUTE_READONLY;

// The record is cleared before every call: the platform leaves fields alone that it does not
// define for an entry, and they would keep the previous entry's values.
bool FindNext(TSearchRec& rec) {
  rec.PlatformData = {};
  return FindNextFileW(rec.SearchHandle, &rec.PlatformData);
}

// Fills the entry fields, passing over entries whose attributes meet SkipMask.
int32_t AcceptEntry(TSearchRec& rec) {
  while (rec.PlatformData.dwFileAttributes & rec.SkipMask) {
    if (!FindNext(rec)) return static_cast<int32_t>(GetLastError());
  }
  rec.EntrySize = (static_cast<int64_t>(rec.PlatformData.nFileSizeHigh) << 32) | rec.PlatformData.nFileSizeLow;
  rec.EntryAttributes = rec.PlatformData.dwFileAttributes;
  rec.EntryName = Utf8FromWide(rec.PlatformData.cFileName, wcsnlen(rec.PlatformData.cFileName, MAX_PATH));
  return 0;
}

}  // namespace

bool IsExistingFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(WidePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & kFolderBit);
}

bool IsExistingFile(const std::string& path) {
  DWORD a = GetFileAttributesW(WidePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & kFolderBit);
}

int32_t ReadAttributes(const std::string& path) {
  return static_cast<int32_t>(GetFileAttributesW(WidePath(path).c_str()));
}

int32_t WriteAttributes(const std::string& path, uint32_t attributes) {
  return SetFileAttributesW(WidePath(path).c_str(), attributes) ? 0 : static_cast<int32_t>(GetLastError());
}

int LastIndexOfAny(const std::string& set, const std::string& text) {
  for (size_t i = text.size(); i > 0; --i) {
    char c = text[i - 1];
    if (c != '\0' && set.find(c) != std::string::npos) return static_cast<int>(i);
  }
  return 0;
}

std::string FolderOfPath(const std::string& path) {
  return path.substr(0, LastIndexOfAny("\\:", path));
}

std::string NameOfPath(const std::string& path) {
  return path.substr(LastIndexOfAny("\\:", path));
}

std::string ExtensionOfPath(const std::string& path) {
  int i = LastIndexOfAny(".\\:", path);
  return (i > 0 && path[i - 1] == '.') ? path.substr(i - 1) : std::string();
}

std::string FullPathOf(const std::string& path) {
  wchar_t buffer[MAX_PATH];
  std::wstring wide = WidePath(path);
  DWORD n = wide.empty() ? 0 : GetFullPathNameW(wide.c_str(), MAX_PATH, buffer, nullptr);
  // A result that does not fit reports the size it needs; a cut path would name
  // another place, so it counts as a failure.
  if (n >= MAX_PATH) return std::string();
  return Utf8FromWide(buffer, n);
}

std::string WithoutTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

std::string WithTrailingBackslash(const std::string& path) {
  if (path.empty() || path.back() != '\\') return path + '\\';
  return path;
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
  int i = LastIndexOfAny(".\\:", path);
  std::string stem = (i == 0 || path[i - 1] != '.') ? path : path.substr(0, i - 1);
  return stem + extension;
}

HANDLE OpenPath(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                SECURITY_ATTRIBUTES* security) {
  return CreateFileW(WidePath(path).c_str(), access, share, security, disposition, flags, nullptr);
}

bool MakeFolder(const std::string& path) {
  return CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(WidePath(path).c_str()) != 0;
}

bool RemoveEmptyFolder(const std::string& path) {
  return RemoveDirectoryW(WidePath(path).c_str()) != 0;
}

int32_t ScanFirst(const std::string& pattern, uint32_t mask, TSearchRec& rec) {
  rec.SkipMask = ~mask & 0x16;
  rec.PlatformData = {};
  rec.SearchHandle = FindFirstFileW(WidePath(pattern).c_str(), &rec.PlatformData);
  if (rec.SearchHandle == INVALID_HANDLE_VALUE) return static_cast<int32_t>(GetLastError());
  int32_t result = AcceptEntry(rec);
  if (result != 0) ScanClose(rec);
  return result;
}

int32_t ScanNext(TSearchRec& rec) {
  if (!FindNext(rec)) return static_cast<int32_t>(GetLastError());
  return AcceptEntry(rec);
}

void ScanClose(TSearchRec& rec) {
  if (rec.SearchHandle != INVALID_HANDLE_VALUE) {
    FindClose(rec.SearchHandle);
    rec.SearchHandle = INVALID_HANDLE_VALUE;
  }
}

namespace {

// A reparse tag means something only where the reparse-point bit is set; one that was not learnt
// (zero: Wine never fills the find record's tag) counts as a link, the cautious answer.
bool IsLinkReparse(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (tag == 0 || IsReparseTagNameSurrogate(tag));
}

// Where a full path's first folder begins: after "C:\" or "\\server\share\"; 0 for other paths.
size_t RootLength(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') return 3;
  if (path.compare(0, 2, "\\\\") != 0) return 0;
  size_t server = path.find('\\', 2);
  size_t share = server == std::string::npos ? server : path.find('\\', server + 1);
  return share == std::string::npos ? 0 : share + 1;
}

// The system's error code for a native status.
DWORD ErrorOfStatus(NTSTATUS status) {
  static const auto convert =
      LookUpFunction<decltype(&RtlNtStatusToDosError)>(GetModuleHandleA("ntdll.dll"), "RtlNtStatusToDosError");
  return convert ? convert(status) : ERROR_GEN_FAILURE;
}

}  // namespace

HANDLE OpenBelow(HANDLE parent, const std::string& name, DWORD access, DWORD share, DWORD disposition, DWORD options,
                 PSECURITY_DESCRIPTOR security) {
  static const auto create = LookUpFunction<decltype(&NtCreateFile)>(GetModuleHandleA("ntdll.dll"), "NtCreateFile");
  std::wstring wide = WidePath(name);
  if (!create || wide.empty() || wide.size() > 0x7FFF) {
    SetLastError(create ? ERROR_INVALID_NAME : ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text{static_cast<USHORT>(2 * wide.size()), static_cast<USHORT>(2 * wide.size()), &wide[0]};
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = parent;
  attributes.ObjectName = &text;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  attributes.SecurityDescriptor = security;
  IO_STATUS_BLOCK status{};
  HANDLE handle = INVALID_HANDLE_VALUE;
  NTSTATUS result = create(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                           disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (result >= 0) return handle;
  SetLastError(ErrorOfStatus(result));
  return INVALID_HANDLE_VALUE;
}

bool IsLinkByName(const std::string& path) {
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW(WidePath(path).c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return IsLinkReparse(entry.dwFileAttributes, entry.dwReserved0);
}

bool IsLinkOnHandle(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) return true;
  return IsLinkReparse(info.FileAttributes, info.ReparseTag);
}

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & kFolderBit) &&
         info.nNumberOfLinks == 1 && !IsLinkOnHandle(file);
}

bool IsSameFile(HANDLE file, const std::string& path) {
  HANDLE named = OpenPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  bool same = GetFileInformationByHandle(file, &a) && GetFileInformationByHandle(named, &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
              a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

HANDLE HoldFolder(const std::string& folder) {
  if (!IsExistingFolder(folder) || IsLinkByName(folder)) return INVALID_HANDLE_VALUE;
  HANDLE held = OpenPath(folder, HeldFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  BY_HANDLE_FILE_INFORMATION info{};
  if (held != INVALID_HANDLE_VALUE &&
      (!GetFileInformationByHandle(held, &info) || !(info.dwFileAttributes & kFolderBit) || IsLinkOnHandle(held))) {
    CloseHandle(held);
    return INVALID_HANDLE_VALUE;
  }
  return held;
}

bool HoldFolderChain(const std::string& path, std::vector<THeldFolder>& chain) {
  std::string full = WithoutTrailingBackslash(path);
  size_t start = RootLength(full);
  if (start == 0) return false;
  while (start < full.size()) {
    size_t end = full.find('\\', start);
    if (end == std::string::npos) end = full.size();
    std::string folder = full.substr(0, end);
    bool made = MakeFolder(folder);
    HANDLE handle = HoldFolder(folder);
    if (handle == INVALID_HANDLE_VALUE) {
      if (made) RemoveEmptyFolder(folder);
      return false;
    }
    chain.push_back({folder, handle, made});
    start = end + 1;
  }
  return true;
}

void ReleaseFolders(std::vector<THeldFolder>& chain) {
  for (const THeldFolder& folder : chain) CloseHandle(folder.Handle);
  chain.clear();
}

void DeleteMadeFolders(std::vector<THeldFolder>& chain) {
  bool deepest = true;
  while (!chain.empty() && chain.back().Made) {
    THeldFolder folder = chain.back();
    chain.pop_back();
    CloseHandle(folder.Handle);
    // The deepest holds what the run put there; a program that has just ended, or anyone looking
    // in, may hold it a moment longer, so it is tried again for up to a second. Above it, a folder
    // goes only when the run's own was all it held.
    bool removed = deepest ? DeleteFolderTree(folder.Path) : RemoveEmptyFolder(folder.Path);
    for (int attempt = 0; deepest && !removed && attempt < 10 && IsExistingFolder(folder.Path); ++attempt) {
      Sleep(100);
      removed = DeleteFolderTree(folder.Path);
    }
    deepest = false;
    if (!removed) break;
  }
  ReleaseFolders(chain);
}

bool DeleteFolderTree(const std::string& folder) {
  std::string f = WithoutTrailingBackslash(folder);
  // A junction or symbolic link is removed as itself; its target may belong to someone else, so it
  // is never entered. The folder is walked while held, so it cannot be replaced meanwhile.
  HANDLE held = HoldFolder(f);
  if (held == INVALID_HANDLE_VALUE) return RemoveEmptyFolder(f);

  bool ok = true;
  TSearchRec rec;
  for (int32_t r = ScanFirst(f + "\\*.*", 0x3F, rec); r == 0; r = ScanNext(rec)) {
    if (rec.EntryName == "." || rec.EntryName == "..") continue;
    std::string child = f + "\\" + rec.EntryName;
    if (rec.EntryAttributes & kReadOnlyBit) WriteAttributes(child, rec.EntryAttributes & ~kReadOnlyBit);
    // One entry that stays (a link Wine cannot remove, a file still open) keeps none of the others.
    bool removed = (rec.EntryAttributes & kFolderBit) ? DeleteFolderTree(child) : RemoveFile(child);
    ok = removed && ok;
  }
  ScanClose(rec);
  CloseHandle(held);
  return ok && RemoveEmptyFolder(f);
}

void DeleteFolderIfPresent(const std::string& folder) {
  if (!folder.empty() && IsExistingFolder(folder)) DeleteFolderTree(folder);
}

void DeleteFileIfPresent(const std::string& file) {
  if (!file.empty() && IsExistingFile(file)) RemoveFile(file);
}
