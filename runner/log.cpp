#include "runner/log.h"

#include <windows.h>

#include <string>

#include "runner/arguments.h"
#include "runner/state.h"
#include "sys/paths.h"

namespace {

const char* Presence(bool exists) { return exists ? "still there" : "gone"; }

// The log often lies where every user may add files (C:\Windows\Temp): a link or a second name
// planted at its path must not turn the elevated runner's lines into writes to another file.
// Links are refused by name and on the handle (opened on the link itself), second names on the
// handle.
HANDLE OpenLog() {
  DWORD attributes = GetFileAttributesA(LogPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileA(LogPath.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (file != INVALID_HANDLE_VALUE &&
      (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
       info.nNumberOfLinks != 1)) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

void WriteLog(std::initializer_list<std::string_view> pieces) {
  if (LogPath.empty()) return;
  // Opened for each line, so that nothing is lost when the process ends abruptly.
  HANDLE file = OpenLog();
  if (file == INVALID_HANDLE_VALUE) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::string line(stamp, wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay,
                                    now.wHour, now.wMinute, now.wSecond, now.wMilliseconds));
  for (std::string_view piece : pieces) line.append(piece.data(), piece.size());
  line += "\r\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

void LogRunStart() {
  if (LogPath.empty()) return;
  std::string arguments, options;
  for (size_t i = 1; i < RunnerArguments.size(); ++i) AppendArgument(arguments, RunnerArguments[i], " ");
  for (const PackageOptionInfo& option : PackageOptionTable) {
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

void LogFolders() {
  WriteLog({"temporary cabinet ", CabinetTempFile});
  WriteLog({"extract folder ", ExtractFolder});
}

void LogExpansion(int32_t files, int32_t bytes, int32_t error) {
  WriteLog({"expanded ", DecimalText(files), " files, ", DecimalText(bytes), " bytes, error ", DecimalText(error)});
}

void LogCleanUp() {
  WriteLog({"clean-up: extract folder ", Presence(IsExistingFolder(ExtractFolder)), ", temporary cabinet ",
            Presence(IsExistingFile(CabinetTempFile))});
}

void LogExit(uint32_t exitCode) { WriteLog({"exit code ", DecimalText(static_cast<int32_t>(exitCode))}); }
