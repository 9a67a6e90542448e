// Ids of the protected strings: the program's hidden vocabulary, decoded once at start.
// The option keys' and names' ids (PsKey and PsName with the option's name) come from the option
// table.
// Portable: the host tools use the same ids.
#pragma once
#include "format/option_table.h"

enum ProtectedId : unsigned char {
  PsReportExtension,
  PsRunnerSection,
  PsRunnerPathKey,
  PsLanguageIdKey,
  PsLanguageNameKey,
  PsAdministratorKey,
  PsMachineSection,
  PsAcLineKey,
  PsBatteryNoBattery,
  PsBatteryNoFlag,
  PsBatteryFlagKey,
  PsBatteryPercentKey,
  PsBatteryLifeKey,
  PsBatteryFullLifeKey,
  PsUnknown,
  PsBatteryFlagSeparator,
  PsAcOffline,
  PsAcOnline,
  PsBatteryHigh,
  PsBatteryLow,
  PsBatteryCritical,
  PsBatteryCharging,
  PsBatteryBit4,
  PsBatteryBit5,
  PsBatteryBit6,
  PsLanguageSwitch,
  PsExtractSwitch,
  PsHideMarker,
  PsHostProgram,
  PsHostExtension1,
  PsHostExtension2,
  PsOptionOn,
  PsKeySeparator,
  PsQuietSwitch,
  PsLogSwitch,
  PsArguments,
  PsBatchExtension1,
  PsBatchExtension2,
  PsBatchHost,
  PsStartFolderKey,
  PsTitle,
  PsUtf8KeySuffix,
#define CABRUN_OPTION_KEY_ID(name, key, on, meaning) PsKey##name, PsName##name,
  CABRUN_PACKAGE_OPTIONS(CABRUN_OPTION_KEY_ID)
#undef CABRUN_OPTION_KEY_ID
  ProtectedIdEnd
};

constexpr int ProtectedCount = ProtectedIdEnd;
