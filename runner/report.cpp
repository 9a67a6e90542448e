#include "runner/report.h"

#include <windows.h>

#include "runner/log.h"
#include "runner/machine_section.h"
#include "runner/state.h"
#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/system.h"

namespace {

HANDLE ReportFile = INVALID_HANDLE_VALUE;

// Ends the process the way a failed file operation of the runtime does: its error box (not in
// a quiet run), then the error number as exit code. Nothing is cleaned up.
[[noreturn]] __attribute__((noinline)) void FailReport() {
  DWORD error = GetLastError();
  if (error == 0) error = ERROR_WRITE_FAULT;  // a short write sets no error, but is one
  uintptr_t address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  std::string text = RuntimeErrorText(error, address);
  WriteLog({QuietMode ? "message not shown: Error: " : "message: Error: ", text});
  if (!QuietMode) MessageBoxA(nullptr, text.c_str(), "Error", MB_OK);
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

void WriteEnvironmentReport() {
  ReportPath = ReplaceExtension(WithTrailingBackslash(ExtractFolder) + PayloadName, "." + Protected(PsReportExtension));
  ReportFile = CreateFileA(ReportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ReportFile == INVALID_HANDLE_VALUE) FailReport();

  WriteReportLine("[" + Protected(PsRunnerSection) + "]");
  WriteValueLine(PsRunnerPathKey, RunnerArguments[0]);
  WriteValueLine(PsLanguageIdKey, LanguageId);
  WriteValueLine(PsLanguageNameKey, LanguageName);
  WriteValueLine(PsAdministratorKey, IsUserAdministrator() ? "1" : "0");
  WriteValueLine(PsStartFolderKey, CurrentFolder());
  if (AnyMachineOption()) WriteMachineSection(WriteReportLine);

  HANDLE file = ReportFile;
  ReportFile = INVALID_HANDLE_VALUE;
  if (!CloseHandle(file)) FailReport();
}
