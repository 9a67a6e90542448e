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

// The log often lies where every user may add files (C:\Windows\Temp). A new log gets the private
// rights. One that is there already is appended to only when it is a plain file with one name,
// not a link (by its name and on the handle, opened on the link itself), that only the system,
// administrators or TrustedInstaller own and control: another user's file would let them read the
// lines, forge some or stall the runner at each one. Otherwise there is no log.
HANDLE OpenLog() {
  const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  SECURITY_ATTRIBUTES rights{sizeof rights, PrivateSecurity(), FALSE};
  if (!rights.lpSecurityDescriptor) return INVALID_HANDLE_VALUE;
  HANDLE file = OpenPath(LogPath, access, FILE_SHARE_READ, CREATE_NEW, flags, &rights);
  // A new log begins with the byte order mark of UTF-8, in which every line is written.
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) WriteFile(file, "\xEF\xBB\xBF", 3, &written, nullptr);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS || IsLinkByName(LogPath)) return file;
  file = OpenPath(LogPath, access, FILE_SHARE_READ, OPEN_EXISTING, flags);
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
    options += Protected(option.Key);
    options += Protected(PsKeySeparator);
    options += PackageOptions.*option.Member ? '1' : '0';
  }
  WriteLog({"start ", RunnerArguments[0]});
  WriteLog({"arguments ", arguments});
  WriteLog({"language ", LanguageId, " ", LanguageName});
  WriteLog({"options", options, " ", Protected(PsArguments), Protected(PsKeySeparator), PackageOptions.Arguments});
  WriteLog({QuietMode ? "quiet " : "", ExtractOnlyMode ? "extract only into " : "run",
            ExtractOnlyMode ? std::string_view(ChosenFolder) : std::string_view()});
}

void LogFolders() { WriteLog({"extract folder ", ExtractFolder}); }

void LogExpansion(int32_t files, int32_t bytes, int32_t error) {
  WriteLog({"expanded ", DecimalText(files), " files, ", DecimalText(bytes), " bytes, error ", DecimalText(error)});
}

void LogCleanUp() {
  WriteLog({"clean-up: extract folder ", Presence(IsExistingFolder(ExtractFolder))});
}

void LogExit(uint32_t exitCode) { WriteLog({"exit code ", DecimalText(static_cast<int32_t>(exitCode))}); }
