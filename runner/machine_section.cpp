#include "runner/machine_section.h"

#include "probes/queries.h"
#include "runner/arguments.h"
#include "runner/state.h"
#include "sys/number_text.h"
#include "sys/paths.h"

decltype(&GetSystemPowerStatus) PowerStatusCall = GetSystemPowerStatus;

namespace {

constexpr uint8_t PlatformUnknown = 255;
constexpr DWORD LifeTimeUnknown = 0xFFFFFFFF;

// The words for BatteryFlag's bits, bit 0 first.
constexpr ProtectedId BatteryFlagWords[8] = {PsBatteryHigh, PsBatteryLow,  PsBatteryCritical, PsBatteryCharging,
                                             PsBatteryBit4, PsBatteryBit5, PsBatteryBit6,     PsBatteryNoBattery};

std::string AcLineText(uint8_t status) {
  if (status == 0) return Protected(PsAcOffline);
  if (status == 1) return Protected(PsAcOnline);
  return Protected(PsUnknown);
}

std::string BatteryFlagText(uint8_t flag) {
  if (flag == PlatformUnknown) return Protected(PsUnknown);
  if (flag == 0) return Protected(PsBatteryNoFlag);
  std::string words;
  for (int bit = 0; bit < 8; ++bit)
    if (flag & (1 << bit)) AppendArgument(words, Protected(BatteryFlagWords[bit]), Protected(PsBatteryFlagSeparator));
  return words;
}

std::string PercentText(uint8_t percent) {
  if (percent == PlatformUnknown) return Protected(PsUnknown);
  return DecimalText(percent > 100 ? 100 : percent);
}

std::string LifeTimeText(DWORD seconds) {
  if (seconds == LifeTimeUnknown) return Protected(PsUnknown);
  return DecimalText(static_cast<int32_t>(seconds));
}

}  // namespace

void WriteMachineSection(void (*writeLine)(const std::string& line)) {
  auto writeValue = [&](ProtectedId key, const std::string& value) {
    writeLine(Protected(key) + Protected(PsKeySeparator) + value);
  };
  // A fact the machine cannot give leaves out only its own line.
  auto writeText = [&](ProtectedId key, const std::string& value) {
    if (!value.empty()) writeValue(key, value);
  };

  const TPackageOptions& options = PackageOptions;
  writeLine("[" + Protected(PsMachineSection) + "]");
  if (options.ReportBidWord) writeText(PsKeyReportBidWord, QueryBidWord());
  if (options.ReportRomText7) writeText(PsKeyReportRomText7, QueryRomText7());
  if (options.ReportBidText8) writeText(PsKeyReportBidText8, QueryBidText8());
  if (options.ReportBidText4) writeText(PsKeyReportBidText4, QueryBidText4());
  if (options.ReportFlagValue) {
    int32_t flag = QueryFlagValue();
    if (flag >= 0) writeValue(PsKeyReportFlagValue, DecimalText(flag));
  }

  SYSTEM_POWER_STATUS power = {};
  if (options.ReportPowerStatus && PowerStatusCall(&power)) {
    writeValue(PsAcLineKey, AcLineText(power.ACLineStatus));
    writeValue(PsBatteryFlagKey, BatteryFlagText(power.BatteryFlag));
    writeValue(PsBatteryPercentKey, PercentText(power.BatteryLifePercent));
    writeValue(PsBatteryLifeKey, LifeTimeText(power.BatteryLifeTime));
    writeValue(PsBatteryFullLifeKey, LifeTimeText(power.BatteryFullLifeTime));
  }
}
