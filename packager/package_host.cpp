// The only file with platform calls: POSIX (Linux) on one side, Win32 (MinGW) on the other.
#include "packager/package_host.h"

#include <ctime>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>
#else
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#endif

#ifdef _WIN32

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

#else

bool ReadFileFacts(const std::filesystem::path& path, int64_t& modified, uint16_t& attributes) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  modified = st.st_mtime;
  // As Wine shows such files: archive; read-only when the owner cannot write; hidden for a dot file.
  attributes = 0x20;
  if (!(st.st_mode & S_IWUSR)) attributes |= 0x01;
  if (path.filename().string()[0] == '.') attributes |= 0x02;
  return true;
}

bool IsLink(const std::filesystem::path& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool CalendarTime(int64_t seconds, bool utc, std::tm& out) {
  time_t t = time_t(seconds);
  return (utc ? gmtime_r(&t, &out) : localtime_r(&t, &out)) != nullptr;
}

bool ConvertToCodePage(const std::string& utf8, int codePage, std::string& out) {
  out.clear();
  iconv_t cd = iconv_open(("CP" + std::to_string(codePage)).c_str(), "UTF-8");
  if (cd == iconv_t(-1)) return false;
  std::string in = utf8;
  char* from = &in[0];
  size_t fromLeft = in.size();
  std::string buffer(in.size() * 4 + 16, '\0');
  char* to = &buffer[0];
  size_t toLeft = buffer.size();
  bool ok = iconv(cd, &from, &fromLeft, &to, &toLeft) != size_t(-1) && fromLeft == 0 &&
            iconv(cd, nullptr, nullptr, &to, &toLeft) != size_t(-1);
  iconv_close(cd);
  if (ok) out.assign(buffer.data(), buffer.size() - toLeft);
  return ok;
}

std::filesystem::path OwnExecutablePath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool ErrorIsTerminal() { return isatty(2) != 0; }

namespace {

// Fixed slots, so that the signal handler touches no allocator.
constexpr int StagingSlots = 4;
char StagingPaths[StagingSlots][4096];
volatile sig_atomic_t StagingUsed[StagingSlots];

void OnTerminatingSignal(int signal) {
  for (int i = 0; i < StagingSlots; ++i)
    if (StagingUsed[i]) unlink(StagingPaths[i]);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

void RemoveWhenInterrupted(const std::filesystem::path& path) {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
  }();
  (void)installed;
  const std::string& name = path.native();
  for (int i = 0; i < StagingSlots; ++i) {
    if (StagingUsed[i] || name.size() >= sizeof StagingPaths[i]) continue;
    std::memcpy(StagingPaths[i], name.c_str(), name.size() + 1);
    StagingUsed[i] = 1;
    return;
  }
}

void ForgetWhenInterrupted(const std::filesystem::path& path) {
  for (int i = 0; i < StagingSlots; ++i)
    if (StagingUsed[i] && path.native() == StagingPaths[i]) StagingUsed[i] = 0;
}

bool Interrupted() { return false; }

#endif
