// The package options and the protected keys that name them in the option list.
// Portable: the packager uses the same table.
#pragma once
#include <string>

#include "runner/protected_ids.h"

struct TPackageOptions {
  bool AllowExtractSwitch = true;
  bool AllowLanguageSwitch = true;
  bool HideWhileRunning = false;
  bool StartWithoutWaiting = false;
  bool ReportBidWord = false;
  bool ReportRomText7 = false;
  bool ReportBidText8 = false;
  bool ReportBidText4 = false;
  bool ReportFlagValue = false;
  bool ReportPowerStatus = false;
  bool AllowQuietSwitch = true;
  bool PassExitCode = false;
  bool RunInStartFolder = false;
  // Not a switch: the text of the entry keyed PsArguments, handed to the payload as written.
  std::string Arguments;
};

struct PackageOptionInfo {
  ProtectedId Key;
  bool TPackageOptions::*Member;
};

// In member order: a key that occurs twice in the list is settled by the last entry.
// The option names stand apart (PackageOptionNames): the runner must not carry texts
// that spell out its keys.
inline constexpr PackageOptionInfo PackageOptionTable[] = {
    {PsAllowExtractSwitch, &TPackageOptions::AllowExtractSwitch},
    {PsAllowLanguageSwitch, &TPackageOptions::AllowLanguageSwitch},
    {PsHideWhileRunning, &TPackageOptions::HideWhileRunning},
    {PsStartWithoutWaiting, &TPackageOptions::StartWithoutWaiting},
    {PsBidWord, &TPackageOptions::ReportBidWord},
    {PsRomText7, &TPackageOptions::ReportRomText7},
    {PsBidText8, &TPackageOptions::ReportBidText8},
    {PsBidText4, &TPackageOptions::ReportBidText4},
    {PsFlagValue, &TPackageOptions::ReportFlagValue},
    {PsReportPowerStatus, &TPackageOptions::ReportPowerStatus},
    {PsAllowQuietSwitch, &TPackageOptions::AllowQuietSwitch},
    {PsPassExitCode, &TPackageOptions::PassExitCode},
    {PsRunInStartFolder, &TPackageOptions::RunInStartFolder},
};

// The options' names, as package authors write them, in the order of PackageOptionTable.
inline constexpr const char* PackageOptionNames[] = {
    "AllowExtractSwitch", "AllowLanguageSwitch", "HideWhileRunning", "StartWithoutWaiting", "ReportBidWord",
    "ReportRomText7",     "ReportBidText8",      "ReportBidText4",   "ReportFlagValue",     "ReportPowerStatus",
    "AllowQuietSwitch",   "PassExitCode",        "RunInStartFolder",
};
static_assert(sizeof PackageOptionNames / sizeof *PackageOptionNames ==
              sizeof PackageOptionTable / sizeof *PackageOptionTable);
