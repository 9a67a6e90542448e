#include "runner/log.h"

#include <windows.h>
#include <aclapi.h>

#include <string>

#include "runner/arguments.h"
#include "runner/state.h"
#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/security.h"
#include "sys/wide_text.h"

namespace {

const char* Presence(bool exists) { return exists ? "still there" : "gone"; }

// Whether the log's name held a file that could not be trusted, which the log then replaced.
bool LogReplaced = false;

constexpr DWORD LogAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | DELETE;
constexpr DWORD LogFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

// A new log, with the private rights; it begins with the byte order mark of UTF-8, in which every
// line is written.
HANDLE CreateLog(const std::string& path) {
  SECURITY_ATTRIBUTES rights{sizeof rights, PrivateSecurity(), FALSE};
  if (!rights.lpSecurityDescriptor) return INVALID_HANDLE_VALUE;
  HANDLE file = OpenPath(path, LogAccess, FILE_SHARE_READ, CREATE_NEW, LogFlags, &rights);
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) WriteFile(file, "\xEF\xBB\xBF", 3, &written, nullptr);
  return file;
}

// Whether the existing file at the log's name may be appended to: a plain file with one name, not
// a link (by its name and on the handle, opened on the link itself), that only the system,
// administrators or TrustedInstaller own and control. Another user's file would let them read the
// lines, forge some or stall the runner at each one.
HANDLE OpenTrustedLog() {
  if (IsLinkByName(LogPath)) return INVALID_HANDLE_VALUE;
  HANDLE file = OpenPath(LogPath, LogAccess, FILE_SHARE_READ, OPEN_EXISTING, LogFlags);
  if (file == INVALID_HANDLE_VALUE) return file;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool trusted = IsPlainFile(file) &&
                 GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                 IsTrustedSecurity(descriptor);
  if (descriptor) LocalFree(descriptor);
  if (trusted) return file;
  CloseHandle(file);
  return INVALID_HANDLE_VALUE;
}

// The log often lies where every user may add files (C:\Windows\Temp). A new one is made; one that
// is there already is appended to when it can be trusted, and otherwise replaced: a new log beside
// it takes its name by a rename through its own handle, which replaces a link or a second name
// itself, never what it leads to. Only where no file can be made there is no log.
HANDLE OpenLog() {
  HANDLE file = CreateLog(LogPath);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  file = OpenTrustedLog();
  for (int32_t attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    file = CreateLog(LogPath + ".cabrun" + DecimalText(attempt));
    if (file == INVALID_HANDLE_VALUE) continue;
    // The native rename takes the target as a native path.
    std::string full = FullPathOf(LogPath);
    std::wstring target = WidePath(full.compare(0, 2, "\\\\") == 0 ? "\\??\\UNC" + full.substr(1) : "\\??\\" + full);
    std::string rename(sizeof(FILE_RENAME_INFO) + 2 * target.size(), '\0');
    auto& info = *reinterpret_cast<FILE_RENAME_INFO*>(&rename[0]);
    info.ReplaceIfExists = TRUE;
    info.FileNameLength = static_cast<DWORD>(2 * target.size());
    target.copy(info.FileName, target.size());
    LogReplaced = SetFileInformationByHandle(file, FileRenameInfo, &info, static_cast<DWORD>(rename.size()));
    if (LogReplaced) break;
    FILE_DISPOSITION_INFO gone{TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

void WriteLog(std::initializer_list<std::string_view> pieces) {
  if (LogPath.empty()) return;
  // Opened once, at the first line, and kept open to the process's end: each line goes to the
  // system at once, so nothing is lost when the process ends abruptly.
  static HANDLE file = OpenLog();
  if (file == INVALID_HANDLE_VALUE) return;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char stamp[32];
  std::string line(stamp, wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay,
                                    now.wHour, now.wMinute, now.wSecond, now.wMilliseconds));
  for (std::string_view piece : pieces) line.append(piece.data(), piece.size());
  line += "\r\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void LogRunStart() {
  if (LogPath.empty()) return;
  std::string arguments, options;
  for (size_t i = 1; i < RunnerArguments.size(); ++i) AppendArgument(arguments, RunnerArguments[i], " ");
  for (const PackageOptionKey& option : PackageOptionKeys) {
    options += ' ';
    options += Protected(option.Name);
    options += Protected(PsKeySeparator);
    options += option.In(PackageOptions) ? '1' : '0';
  }
  WriteLog({"start ", RunnerArguments[0]});
  if (LogReplaced) WriteLog({"the file at the log's path could not be trusted: it was replaced"});
  WriteLog({"arguments ", arguments});
  WriteLog({"language ", LanguageId, " ", LanguageName});
  WriteLog({"options", options, " ", Protected(PsArguments), Protected(PsKeySeparator), PackageOptions.Arguments});
  WriteLog({QuietMode ? "quiet " : "", ExtractOnlyMode ? "extract only into " : "run",
            ExtractOnlyMode ? std::string_view(ChosenFolder) : std::string_view()});
}

void LogFolders() { WriteLog({"extract folder ", ExtractFolder}); }

void LogExpansion(int32_t files, int32_t bytes, int32_t error) {
  WriteLog({"expanded ", DecimalText(files), files == 1 ? " file, " : " files, ", DecimalText(bytes), " bytes, error ",
            DecimalText(error)});
}

void LogCleanUp() {
  WriteLog({"clean-up: extract folder ", Presence(IsExistingFolder(ExtractFolder))});
}

void LogExit(uint32_t exitCode) { WriteLog({"exit code ", DecimalText(static_cast<int32_t>(exitCode))}); }
