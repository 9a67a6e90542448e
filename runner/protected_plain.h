// The plain texts of the protected strings, in the table order that the cipher uses.
// Only host tools and tests include this file: the build encodes it, and the packager takes the
// option keys and the switching-on value from it. The runner never holds these texts.
// The order is part of the cipher; keep it shuffled.
#pragma once
#include "runner/protected_ids.h"

struct ProtectedPlainEntry {
  ProtectedId Id;
  const char* Text;
};

inline constexpr ProtectedPlainEntry ProtectedPlain[ProtectedCount] = {
    {PsReportPowerStatus, "PowerState"},
    {PsLanguageNameKey, "LanguageName"},
    {PsLanguageSwitch, "/lang"},
    {PsBatteryPercentKey, "BatteryPercent"},
    {PsOptionOn, "1"},
    {PsBatteryNoBattery, "NoBattery"},
    {PsPassExitCode, "PassExitCode"},
    {PsAllowExtractSwitch, "ExtractSwitch"},
    {PsAcLineKey, "ACLineStatus"},
    {PsAllowLanguageSwitch, "LanguageSwitch"},
    {PsExtractSwitch, "/extract"},
    {PsHostProgram, "wscript.exe"},
    {PsHostExtension2, ".js"},
    {PsRomText7, "RomText"},
    {PsStartFolderKey, "StartFolder"},
    {PsQuietSwitch, "/quiet"},
    {PsBidWord, "BidWord"},
    {PsKeySeparator, "="},
    {PsBatchExtension1, ".bat"},
    {PsAcOffline, "Offline"},
    {PsBidText4, "BidCode"},
    {PsUnknown, "NotReported"},
    {PsBatteryFullLifeKey, "BatteryFullLifeTime"},
    {PsBatteryHigh, "High"},
    {PsHideMarker, "cabrun.hide"},
    {PsRunInStartFolder, "InStartDir"},
    {PsBatteryFlagKey, "BatteryFlag"},
    {PsReportExtension, "env"},
    {PsBatteryCritical, "CriticalLow"},
    {PsBatteryNoFlag, "Normal"},
    {PsArguments, "Arguments"},
    {PsBatteryLow, "Low"},
    {PsBatchHost, "cmd.exe"},
    {PsMachineSection, "Machine"},
    {PsBatteryBit4, "Flag16"},
    {PsBatteryCharging, "Charging"},
    {PsHideWhileRunning, "HideWindow"},
    {PsBatteryBit5, "Flag32"},
    {PsRunnerSection, "Runner"},
    {PsFlagValue, "FlagValue"},
    {PsLogSwitch, "/log"},
    {PsBatteryBit6, "Flag64"},
    {PsHostExtension1, ".vbs"},
    {PsBatteryFlagSeparator, ","},
    {PsAdministratorKey, "IsAdmin"},
    {PsStartWithoutWaiting, "NoWait"},
    {PsLanguageIdKey, "LanguageId"},
    {PsAllowQuietSwitch, "QuietSwitch"},
    {PsRunnerPathKey, "RunnerPath"},
    {PsAcOnline, "Online"},
    {PsBatchExtension2, ".cmd"},
    {PsBidText8, "BidText"},
    {PsBatteryLifeKey, "BatteryLifeTime"},
};

// The plain text of the string with this id; empty when no entry has it.
constexpr const char* PlainText(ProtectedId id) {
  for (const ProtectedPlainEntry& entry : ProtectedPlain)
    if (entry.Id == id) return entry.Text;
  return "";
}
