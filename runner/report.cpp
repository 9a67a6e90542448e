#include "runner/report.h"

#include <windows.h>
#include <winternl.h>

#include "runner/log.h"
#include "runner/machine_section.h"
#include "runner/messages.h"
#include "runner/state.h"
#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/system.h"
#include "sys/wide_text.h"

namespace {

HANDLE ReportFile = INVALID_HANDLE_VALUE;

// Ends the process the way a failed file operation of the runtime does: its error box (not in
// a quiet run), then the error number as exit code. Nothing is cleaned up.
[[noreturn]] __attribute__((noinline)) void FailReport() {
  DWORD error = GetLastError();
  if (error == 0) error = ERROR_WRITE_FAULT;  // a short write sets no error, but is one
  uintptr_t address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  std::string text = RuntimeErrorText(error, address);
  LogMessage("Error", text);
  if (!QuietMode) MessageBoxW(nullptr, WidePath(text).c_str(), L"Error", MB_OK);
  LogExit(error);
  ExitProcess(error);
}

void WriteReportLine(const std::string& line) {
  std::string bytes = line + "\r\n";
  DWORD written = 0;
  if (!WriteFile(ReportFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    FailReport();
}

void WriteValueLine(ProtectedId key, const std::string& value) {
  WriteReportLine(Protected(key) + Protected(PsKeySeparator) + value);
}

// A path in the system's code page, in which the report is written. Where that cannot spell the
// path, "?" stands for what it lacks (no path holds one, so a program can tell), and a second line,
// the key with "Utf8" after it, has the path itself in UTF-8.
void WritePathLines(ProtectedId key, const std::string& path) {
  std::string spelled;
  bool exact = SpellInSystemCodePage(path, spelled);
  WriteValueLine(key, spelled);
  if (!exact) WriteReportLine(Protected(key) + Protected(PsUtf8KeySuffix) + Protected(PsKeySeparator) + path);
}

bool AnyMachineOption() {
  const TPackageOptions& o = PackageOptions;
  return o.ReportBidWord || o.ReportRomText7 || o.ReportBidText8 || o.ReportBidText4 || o.ReportFlagValue ||
         o.ReportPowerStatus;
}

}  // namespace

std::string RuntimeErrorText(uint32_t error, uintptr_t address) {
  // The number ends in the fourth of the five blanks of "Runtime error     at 00000000". An x64
  // runner's code lies above 4 GB: its address is shown whole, in 16 digits.
  std::string number = DecimalText(static_cast<int32_t>(error));
  if (number.size() < 4) number.insert(0, 4 - number.size(), ' ');
  std::string digits = HexText(static_cast<uint32_t>(address), 8);
  if constexpr (sizeof address > 4) digits.insert(0, HexText(static_cast<uint32_t>(uint64_t(address) >> 32), 8));
  return "Runtime error" + number + " at " + digits;
}

// The report is made below the extract folder's own handle, which the run holds: no rename of the
// folder, nor anything put at its name, can send it elsewhere.
void WriteEnvironmentReport() {
  std::string name = ReplaceExtension(PayloadName, "." + Protected(PsReportExtension));
  ReportPath = WithTrailingBackslash(ExtractFolder) + name;
  ReportFile = OpenBelow(ExtractChain.back().Handle, name, GENERIC_WRITE, 0, FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE);
  if (ReportFile == INVALID_HANDLE_VALUE) FailReport();

  WriteReportLine("[" + Protected(PsRunnerSection) + "]");
  WritePathLines(PsRunnerPathKey, RunnerArguments[0]);
  WriteValueLine(PsLanguageIdKey, LanguageId);
  WriteValueLine(PsLanguageNameKey, LanguageName);
  WriteValueLine(PsAdministratorKey, IsUserAdministrator() ? "1" : "0");
  WritePathLines(PsStartFolderKey, CurrentFolder());
  if (AnyMachineOption()) WriteMachineSection(WriteReportLine);

  HANDLE file = ReportFile;
  ReportFile = INVALID_HANDLE_VALUE;
  if (!CloseHandle(file)) FailReport();
}
