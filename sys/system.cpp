#include "sys/system.h"

#include <shlobj.h>

#include "sys/paths.h"
#include "sys/security.h"

namespace {

const char* const kMakerFolders[] = {"Morvane", "Common"};

// The text of a buffer the platform filled, up to its first NUL.
std::string BufferText(const char* buffer, size_t capacity) {
  return std::string(buffer, strnlen(buffer, capacity));
}

}  // namespace

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                        static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool StartsWithIgnoringCase(const std::string& prefix, const std::string& text) {
  if (text.size() < prefix.size()) return false;
  int n = static_cast<int>(prefix.size());
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.data(), n, prefix.data(), n) == CSTR_EQUAL;
}

std::string WithoutTrailingBlanks(const std::string& text) {
  size_t n = text.size();
  while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= 0x20) --n;
  return text.substr(0, n);
}

bool IsUserAdministrator() {
  HMODULE shell = LoadLibraryA("shell32.dll");
  if (!shell) return false;
  auto isUserAnAdmin = LookUpFunction<BOOL(WINAPI*)()>(shell, "IsUserAnAdmin");
  bool admin = isUserAnAdmin && isUserAnAdmin() != 0;
  FreeLibrary(shell);
  return admin;
}

bool IsNt6OrLater() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;  // the basic record, 148 bytes
  static_assert(sizeof info == 148, "basic OSVERSIONINFOA");
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 6;
}

std::string SystemLanguageAbbreviation() {
  char buffer[256];
  if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVLANGNAME, buffer, sizeof buffer) > 0) {
    std::string name = BufferText(buffer, sizeof buffer);
    if (name.size() == 3) return name;
  }
  return "ENU";
}

std::string CommonDataFolder() {
  std::string result;
  bool loadedHere = false;
  HMODULE shell = GetModuleHandleA("Shell32.dll");
  if (!shell) {
    shell = LoadLibraryA("Shell32.dll");
    loadedHere = shell != nullptr;
  }
  if (!shell) return result;

  using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  auto getFolderPath = LookUpFunction<GetFolderPath>(shell, "SHGetFolderPathA");
  char buffer[MAX_PATH];
  if (getFolderPath && getFolderPath(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK) {
    std::string folder = BufferText(buffer, sizeof buffer);
    // Every user may add folders here: one found must be beyond their reach, one made gets
    // the private rights.
    bool trusted = IsExistingFolder(folder);
    for (const char* name : kMakerFolders) {
      if (!trusted) break;
      folder = WithTrailingBackslash(folder) + name;
      if (!IsExistingFolder(folder)) MakePrivateFolder(folder);
      trusted = IsTrustedFolder(folder);
    }
    if (trusted) result = folder;
  }
  if (loadedHere) FreeLibrary(shell);
  return result;
}

namespace {

// The temp folder; SYSTEM's, C:\Windows\Temp, lies open to every user, and systems that have
// GetTempPath2A give SYSTEM one of its own.
std::string TempFolderPath() {
  using TempPathFunction = DWORD(WINAPI*)(DWORD, LPSTR);
  auto getTempPath = LookUpFunction<TempPathFunction>(GetModuleHandleA("kernel32.dll"), "GetTempPath2A");
  char buffer[MAX_PATH + 1];
  DWORD length = (getTempPath ? getTempPath : GetTempPathA)(sizeof buffer, buffer);
  // A length that does not fit is the size needed; the buffer then holds nothing.
  return length != 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

// The platform makes the unique name; the file, and with withFolder the extract folder "_<name>"
// beside it, are made here, exclusively and with private rights, so that neither name is ever
// free between its making and its use. A number of which either name is taken is passed over.
std::string CreateWorkFiles(const std::string& folder, HANDLE* file, bool withFolder) {
  char buffer[MAX_PATH + 1];
  UINT start = GetTickCount();
  for (UINT step = 0; step < 0xFFFF; ++step) {
    UINT unique = (start + step) % 0xFFFF + 1;
    if (GetTempFileNameA(folder.c_str(), "cab", unique, buffer) == 0) break;
    std::string path = BufferText(buffer, sizeof buffer);
    std::string extract = FolderOfPath(path) + "_" + NameOfPath(path);
    // The folder's name first: a name that is there is found at once, one that is not may cost a
    // look through the whole folder.
    if ((withFolder && ReadAttributes(extract) != -1) || ReadAttributes(path) != -1) continue;
    HANDLE made = CreatePrivateFile(path);
    if (made != INVALID_HANDLE_VALUE && withFolder && !MakePrivateFolder(extract)) {
      CloseHandle(made);
      RemoveFile(path);
      made = INVALID_HANDLE_VALUE;
      if (ReadAttributes(extract) == -1) break;  // the folder refuses, not another user
    }
    if (made == INVALID_HANDLE_VALUE) {
      if (ReadAttributes(path) == -1 && ReadAttributes(extract) == -1) break;
      continue;
    }
    if (file)
      *file = made;
    else
      CloseHandle(made);
    return path;
  }
  return std::string();
}

}  // namespace

std::string CreateCabinetTempFile(HANDLE* file, bool withExtractFolder) {
  // Where every pair of names in the maker's folder is taken, the temp folder serves as it does
  // when that folder cannot be trusted.
  std::string common = CommonDataFolder();
  std::string made = common.empty() ? std::string() : CreateWorkFiles(common, file, withExtractFolder);
  if (!made.empty()) return made;
  std::string temp = TempFolderPath();
  if (temp.empty() || !IsExistingFolder(temp)) return std::string();
  return CreateWorkFiles(temp, file, withExtractFolder);
}

std::string SystemFolder() {
  char buffer[MAX_PATH + 1] = "";
  GetSystemDirectoryA(buffer, sizeof buffer);
  return BufferText(buffer, sizeof buffer);
}

std::string CurrentFolder() {
  char buffer[MAX_PATH + 1] = "";
  GetCurrentDirectoryA(sizeof buffer, buffer);
  return BufferText(buffer, sizeof buffer);
}

void RestrictDllSearchToSystemFolder() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefaultDllDirectories = LookUpFunction<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories");
  if (setDefaultDllDirectories) {
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return;
  }
  // Older systems: at least the current folder leaves the search.
  auto setDllDirectory = LookUpFunction<BOOL(WINAPI*)(LPCSTR)>(kernel, "SetDllDirectoryA");
  if (setDllDirectory) setDllDirectory("");
}
