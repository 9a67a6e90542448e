// The plain texts of the protected strings, in the table order that the cipher uses.
// Only host tools and tests include this file: the build encodes it, and the packager takes the
// option keys and the switching-on value from it. The runner never holds these texts.
// The order is part of the cipher; keep it shuffled.
#pragma once
#include <array>

#include "format/option_table.h"
#include "format/protected_ids.h"

struct ProtectedPlainEntry {
  ProtectedId Id;
  const char* Text;
};

// Everything but the option keys, shuffled.
inline constexpr ProtectedPlainEntry VocabularyPlain[] = {
    {PsLanguageNameKey, "LanguageName"},
    {PsLanguageSwitch, "/lang"},
    {PsBatteryPercentKey, "BatteryPercent"},
    {PsOptionOn, "1"},
    {PsBatteryNoBattery, "NoBattery"},
    {PsAcLineKey, "ACLineStatus"},
    {PsExtractSwitch, "/extract"},
    {PsHostProgram, "wscript.exe"},
    {PsHostExtension2, ".js"},
    {PsStartFolderKey, "StartFolder"},
    {PsQuietSwitch, "/quiet"},
    {PsKeySeparator, "="},
    {PsBatchExtension1, ".bat"},
    {PsAcOffline, "Offline"},
    {PsUnknown, "NotReported"},
    {PsBatteryFullLifeKey, "BatteryFullLifeTime"},
    {PsBatteryHigh, "High"},
    {PsHideMarker, "cabrun.hide"},
    {PsBatteryFlagKey, "BatteryFlag"},
    {PsUtf8KeySuffix, "Utf8"},
    {PsReportExtension, "env"},
    {PsBatteryCritical, "CriticalLow"},
    {PsBatteryNoFlag, "Normal"},
    {PsArguments, "Arguments"},
    {PsBatteryLow, "Low"},
    {PsBatchHost, "cmd.exe"},
    {PsMachineSection, "Machine"},
    {PsBatteryBit4, "Flag16"},
    {PsBatteryCharging, "Charging"},
    {PsTitle, "Title"},
    {PsBatteryBit5, "Flag32"},
    {PsRunnerSection, "Runner"},
    {PsLogSwitch, "/log"},
    {PsBatteryBit6, "Flag64"},
    {PsHostExtension1, ".vbs"},
    {PsBatteryFlagSeparator, ","},
    {PsAdministratorKey, "IsAdmin"},
    {PsLanguageIdKey, "LanguageId"},
    {PsRunnerPathKey, "RunnerPath"},
    {PsAcOnline, "Online"},
    {PsBatchExtension2, ".cmd"},
    {PsBatteryLifeKey, "BatteryLifeTime"},
};

// The option keys and names (as cabpack and the log name the options), in table order.
inline constexpr ProtectedPlainEntry OptionKeyPlain[] = {
#define CABRUN_OPTION_KEY_PLAIN(name, key, on, meaning) {PsKey##name, key}, {PsName##name, #name},
    CABRUN_PACKAGE_OPTIONS(CABRUN_OPTION_KEY_PLAIN)
#undef CABRUN_OPTION_KEY_PLAIN
};

constexpr size_t VocabularyCount = sizeof VocabularyPlain / sizeof *VocabularyPlain;
constexpr size_t OptionKeyCount = sizeof OptionKeyPlain / sizeof *OptionKeyPlain;
static_assert(VocabularyCount + OptionKeyCount == ProtectedCount, "every protected id has one text");

// Both lists as one, an option's key or name after every fourth word, so that they lie spread out.
constexpr std::array<ProtectedPlainEntry, ProtectedCount> InterleavedPlain() {
  std::array<ProtectedPlainEntry, ProtectedCount> all{};
  size_t word = 0, key = 0;
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = key < OptionKeyCount && (word == VocabularyCount || i % 5 == 4) ? OptionKeyPlain[key++] : VocabularyPlain[word++];
  return all;
}
inline constexpr std::array<ProtectedPlainEntry, ProtectedCount> ProtectedPlain = InterleavedPlain();

// The plain text of the string with this id; empty when no entry has it.
constexpr const char* PlainText(ProtectedId id) {
  for (const ProtectedPlainEntry& entry : ProtectedPlain)
    if (entry.Id == id) return entry.Text;
  return "";
}
