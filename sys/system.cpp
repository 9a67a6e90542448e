#include "sys/system.h"

#include <shlobj.h>

#include "sys/paths.h"
#include "sys/security.h"
#include "sys/wide_text.h"

namespace {

const char* const kMakerFolders[] = {"Morvane", "Common"};

// The text of a buffer the platform filled, up to its first NUL.
std::string BufferText(const char* buffer, size_t capacity) {
  return std::string(buffer, strnlen(buffer, capacity));
}

// The same of a wide buffer, in UTF-8.
std::string WideBufferText(const wchar_t* buffer, size_t capacity) {
  return Utf8FromWide(buffer, wcsnlen(buffer, capacity));
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

namespace {

// shell32, which the runner imports and so has loaded; a program that does not gets it from the
// system folder.
HMODULE ShellModule() {
  HMODULE shell = GetModuleHandleA("shell32.dll");
  return shell ? shell : LoadLibraryExA("shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

bool IsUserAdministrator() {
  auto isUserAnAdmin = LookUpFunction<BOOL(WINAPI*)()>(ShellModule(), "IsUserAnAdmin");
  return isUserAnAdmin && isUserAnAdmin() != 0;
}

std::string SystemLanguageAbbreviation() {
  char buffer[256];
  if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVLANGNAME, buffer, sizeof buffer) > 0) {
    std::string name = BufferText(buffer, sizeof buffer);
    if (name.size() == 3) return name;
  }
  return "ENU";
}

namespace {

// The common application-data folder; empty when the system cannot say.
std::string CommonAppDataFolder() {
  std::string result;
  using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
  auto getFolderPath = LookUpFunction<GetFolderPath>(ShellModule(), "SHGetFolderPathW");
  wchar_t buffer[MAX_PATH];
  if (getFolderPath && getFolderPath(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK)
    result = WideBufferText(buffer, MAX_PATH);
  return result;
}

}  // namespace

std::string CommonDataFolder() {
  std::string folder = CommonAppDataFolder();
  // Every user may add folders here: one found must be beyond their reach, one made gets
  // the private rights.
  bool trusted = !folder.empty() && IsExistingFolder(folder);
  for (const char* name : kMakerFolders) {
    if (!trusted) break;
    folder = WithTrailingBackslash(folder) + name;
    if (!IsExistingFolder(folder)) MakePrivateFolder(folder);
    trusted = IsTrustedFolder(folder);
  }
  return trusted ? folder : std::string();
}

namespace {

// The temp folder; SYSTEM's, C:\Windows\Temp, lies open to every user, and systems that have
// GetTempPath2W give SYSTEM one of its own.
std::string TempFolderPath() {
  using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);
  auto getTempPath = LookUpFunction<TempPathFunction>(GetModuleHandleA("kernel32.dll"), "GetTempPath2W");
  wchar_t buffer[MAX_PATH + 1];
  DWORD length = (getTempPath ? getTempPath : GetTempPathW)(MAX_PATH + 1, buffer);
  // A length that does not fit is the size needed; the buffer then holds nothing.
  return length != 0 && length <= MAX_PATH ? Utf8FromWide(buffer, length) : std::string();
}

// A new private folder "_cab<number>.tmp" in place, made by the handle of place (held, with the
// folders above it, in chain) and held itself as the chain's last; a number whose name is taken is
// passed over. Empty, with the chain released, when none can be made.
__attribute__((noinline)) std::string MakeWorkFolderIn(const std::string& place, std::vector<THeldFolder>& chain) {
  if (!place.empty() && IsExistingFolder(place) && HoldFolderChain(place, chain)) {
    UINT start = GetTickCount();
    for (UINT step = 0; step < 0xFFFF; ++step) {
      char name[16];
      wsprintfA(name, "_cab%x.tmp", (start + step) % 0xFFFF + 1);
      HANDLE made = OpenBelow(chain.back().Handle, name, HeldFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              FILE_CREATE, FILE_DIRECTORY_FILE, PrivateSecurity());
      if (made != INVALID_HANDLE_VALUE) {
        std::string path = WithTrailingBackslash(place) + name;
        chain.push_back({path, made, true});
        return path;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) break;  // the folder refuses, not another user
    }
  }
  ReleaseFolders(chain);
  return std::string();
}

}  // namespace

std::string CreateWorkFolder(std::vector<THeldFolder>& chain) {
  // Where every name in the maker's folder is taken, the next place serves as it does when that
  // folder cannot be trusted.
  std::string made = MakeWorkFolderIn(CommonDataFolder(), chain);
  if (!made.empty()) return made;
  std::string appData = CommonAppDataFolder();
  if (IsTrustedFolder(appData)) made = MakeWorkFolderIn(appData, chain);
  return made.empty() ? MakeWorkFolderIn(TempFolderPath(), chain) : made;
}

std::string SystemFolder() {
  wchar_t buffer[MAX_PATH + 1] = L"";
  GetSystemDirectoryW(buffer, MAX_PATH + 1);
  return WideBufferText(buffer, MAX_PATH + 1);
}

std::string CurrentFolder() {
  wchar_t buffer[MAX_PATH + 1] = L"";
  GetCurrentDirectoryW(MAX_PATH + 1, buffer);
  return WideBufferText(buffer, MAX_PATH + 1);
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
