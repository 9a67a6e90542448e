// The packager's platform layer on Windows (MinGW): Win32 calls, wide-character paths.
#include "packager/package_host.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <ctime>

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

// One argument as CommandLineToArgvW and the C runtime read it back: quoted when it holds a blank
// or a quote, backslashes doubled only where a quote follows them.
std::wstring QuotedArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    for (; i < arg.size() && arg[i] == L'\\'; ++i) ++backslashes;
    if (i == arg.size()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    quoted.append(arg[i] == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    quoted += arg[i];
  }
  return quoted + L"\"";
}

}  // namespace

bool RunProgram(const std::vector<std::string>& words, const std::filesystem::path& folder, int& exitCode,
                std::string& error) {
  std::wstring line;
  for (const std::string& w : words) line += (line.empty() ? L"" : L" ") + QuotedArgument(Wide(w));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (words.empty() || !CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                       folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    error = "cannot start \"" + (words.empty() ? std::string() : words[0]) + "\" (error " +
            std::to_string(GetLastError()) + ")";
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
