// The packager's platform layer on Windows (MinGW): Win32 calls, wide-character paths.
#include "packager/package_host.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <ctime>

#include "packager/text.h"

bool ReadFileFacts(const std::filesystem::path& path, int64_t& modified, uint16_t& attributes) {
  struct _stat64 st;
  DWORD a = GetFileAttributesW(path.c_str());
  if (_wstat64(path.c_str(), &st) != 0 || a == INVALID_FILE_ATTRIBUTES) return false;
  modified = st.st_mtime;
  attributes = uint16_t(a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE));
  return true;
}

bool IsLink(const std::filesystem::path& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CalendarTime(int64_t seconds, bool utc, std::tm& out) {
  __time64_t t = seconds;
  return (utc ? _gmtime64_s(&out, &t) : _localtime64_s(&out, &t)) == 0;
}

bool ConvertToCodePage(const std::string& utf8, int codePage, std::string& out) {
  out.clear();
  if (utf8.empty()) return true;
  if (!IsValidCodePage(UINT(codePage))) return false;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), &wide[0], n);
  BOOL usedDefault = FALSE;
  int m = WideCharToMultiByte(UINT(codePage), WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, nullptr,
                              &usedDefault);
  if (m <= 0 || usedDefault) return false;
  out.resize(size_t(m));
  WideCharToMultiByte(UINT(codePage), WC_NO_BEST_FIT_CHARS, wide.data(), n, &out[0], m, nullptr, &usedDefault);
  return !usedDefault;
}

bool BackslashSeparatesFolders() { return true; }

std::filesystem::path OwnExecutablePath() {
  wchar_t buffer[32768];
  DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
  return n > 0 && n < 32768 ? std::filesystem::path(std::wstring(buffer, n)) : std::filesystem::path();
}

std::vector<std::string> CommandLineArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide && i < count; ++i) args.push_back(std::filesystem::path(wide[i]).u8string());
  LocalFree(wide);
  return args;
}

namespace {

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], n);
  return wide;
}

// The program CreateProcess would start for `name` (searched where it searches, .exe added to a
// name without an extension), by its full path, trailing dots and blanks gone as Windows drops them.
bool FindProgram(const std::wstring& name, std::wstring& path) {
  std::wstring found(32768, L'\0');
  path.assign(32768, L'\0');
  DWORD n = SearchPathW(nullptr, name.c_str(), L".exe", DWORD(found.size()), &found[0], nullptr);
  DWORD m = n > 0 && n < found.size() ? GetFullPathNameW(found.c_str(), DWORD(path.size()), &path[0], nullptr) : 0;
  path.resize(m < path.size() ? m : 0);
  return !path.empty();
}

// Windows starts a .bat or .cmd file through cmd.exe, which reads its command line by rules of its
// own (& | < > ^ outside quotes, % inside them too) that no quoting of a file name meets: only a
// program (an image starting "MZ") that is not cmd.exe itself is started.
bool CheckNotCmd(const std::wstring& path, const std::string& name, std::string& error) {
  char start[2] = {};
  DWORD read = 0;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  bool program = file != INVALID_HANDLE_VALUE && ReadFile(file, start, 2, &read, nullptr) && read == 2 &&
                 start[0] == 'M' && start[1] == 'Z';
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  bool cmd = _wcsicmp(path.substr(path.find_last_of(L"\\/") + 1).c_str(), L"cmd.exe") == 0;
  if (program && !cmd) return true;
  error = "\"" + name + "\" is " + (cmd ? "cmd.exe" : "not a program (Windows runs a batch file through cmd.exe)") +
          ", whose own rules let a file name holding & or % run other commands; name a program (.exe), not a batch "
          "file or cmd.exe";
  return false;
}

}  // namespace

bool RunProgram(const std::vector<std::string>& words, const std::filesystem::path& folder, int& exitCode,
                std::string& error) {
  std::wstring program, line = Wide(WindowsCommandLine(words));
  if (words.empty() || !FindProgram(Wide(words[0]), program)) {
    error = "cannot start \"" + (words.empty() ? std::string() : words[0]) + "\": no such program";
    return false;
  }
  if (!CheckNotCmd(program, words[0], error)) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The program found is the one started: CreateProcess searches no more.
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    error = "cannot start \"" + words[0] + "\" (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  DWORD code = 0;
  bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
               GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!ended) {
    error = "cannot wait for \"" + words[0] + "\"";
    return false;
  }
  exitCode = int(code);
  return true;
}

bool ErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

namespace {

volatile LONG CtrlPressed = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
  InterlockedExchange(&CtrlPressed, 1);
  return TRUE;
}

}  // namespace

void RemoveWhenInterrupted(const std::filesystem::path&) {
  static const bool installed = SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  (void)installed;
}

void ForgetWhenInterrupted(const std::filesystem::path&) {}

bool Interrupted() { return CtrlPressed != 0; }

std::FILE* OpenFileForWriting(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"wb"); }
