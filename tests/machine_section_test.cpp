#include "runner/machine_section.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "probes/queries.h"
#include "runner/startup.h"
#include "runner/state.h"
#include "tests/fake_driver.h"

namespace {

constexpr uint32_t Block = 0xF4000;  // where the fake keeps its "$BID" block
constexpr uint16_t ReadWord = 0x0070;
constexpr uint16_t FindBlock = 0x0069;
constexpr uint16_t Flag = 0x0159;

SYSTEM_POWER_STATUS ChosenPower;
BOOL ChosenPowerResult = TRUE;
int PowerCalls = 0;

BOOL WINAPI ChosenPowerStatus(LPSYSTEM_POWER_STATUS status) {
  ++PowerCalls;
  *status = ChosenPower;
  return ChosenPowerResult;
}

SYSTEM_POWER_STATUS PowerRecord(uint8_t ac, uint8_t flag, uint8_t percent, DWORD life, DWORD fullLife) {
  SYSTEM_POWER_STATUS s = {};
  s.ACLineStatus = ac;
  s.BatteryFlag = flag;
  s.BatteryLifePercent = percent;
  s.BatteryLifeTime = life;
  s.BatteryFullLifeTime = fullLife;
  return s;
}

std::vector<std::string> SectionLines;

std::vector<std::string> Section() {
  SectionLines.clear();
  WriteMachineSection([](const std::string& line) { SectionLines.push_back(line); });
  return SectionLines;
}

std::string SectionLine() { return "[" + Protected(PsMachineSection) + "]"; }
std::string Line(ProtectedId key, const std::string& value) {
  return Protected(key) + Protected(PsKeySeparator) + value;
}

// Firmware with a "$BID" block (word 0x0A2B, "C4X " and "Model 8 "), and the ROM text "R7" with trailing blanks.
void PutFirmware(FakeDriver& driver) {
  driver.Put(Block, std::string("$BID\0\x2B\x0A\0C4X Model 8 ", 20));
  driver.Put(RomText7Address, "R7     ");
  driver.FlagWord = 1;
}

class MachineSection : public ::testing::Test {
 protected:
  void SetUp() override {
    DecodeProtectedStrings();
    PackageOptions = TPackageOptions();
    PowerStatusCall = ChosenPowerStatus;
    ChosenPower = PowerRecord(1, 9, 80, 3600, 7200);
    ChosenPowerResult = TRUE;
    PowerCalls = 0;
    PutFirmware(Driver);
  }
  void TearDown() override { PowerStatusCall = GetSystemPowerStatus; }

  FakeDriver Driver;
};

TEST_F(MachineSection, EveryFactInTableOrder) {
  TPackageOptions& o = PackageOptions;
  o.ReportBidWord = o.ReportRomText7 = o.ReportBidText8 = o.ReportBidText4 = o.ReportFlagValue = o.ReportPowerStatus =
      true;
  const std::vector<std::string> expected = {
      SectionLine(),
      Line(PsKeyReportBidWord, "0A2B"),
      Line(PsKeyReportRomText7, "R7"),
      Line(PsKeyReportBidText8, "Model 8"),
      Line(PsKeyReportBidText4, "C4X "),
      Line(PsKeyReportFlagValue, "1"),
      Line(PsAcLineKey, Protected(PsAcOnline)),
      Line(PsBatteryFlagKey,
           Protected(PsBatteryHigh) + Protected(PsBatteryFlagSeparator) + Protected(PsBatteryCharging)),
      Line(PsBatteryPercentKey, "80"),
      Line(PsBatteryLifeKey, "3600"),
      Line(PsBatteryFullLifeKey, "7200"),
  };
  EXPECT_EQ(Section(), expected);
  EXPECT_EQ(PowerCalls, 1);

  // The queries ran in the same order, each once, and the block was searched for once.
  std::vector<uint32_t> reads;
  for (const DeviceRequest& r : Driver.Requests)
    if (r.Selector == ReadWord) reads.push_back(r.Operand);
  const std::vector<uint32_t> expectedReads = {Block + 5,  0xFE008,    0xFE00A,    0xFE00C,   0xFE00E,   Block + 12,
                                               Block + 14, Block + 16, Block + 18, Block + 8, Block + 10};
  EXPECT_EQ(reads, expectedReads);
  EXPECT_EQ(Driver.Count(FindBlock), 1);
  EXPECT_EQ(Driver.Requests.front().Selector, FindBlock);
  EXPECT_EQ(Driver.Requests.back().Selector, Flag);
  EXPECT_EQ(Driver.Calls(), 13);
  EXPECT_EQ(Driver.Misuses, 0);
}

TEST_F(MachineSection, EachFactOnlyWhenItsOptionIsOn) {
  const struct {
    bool TPackageOptions::*Option;
    std::string Expected;
    int Searches, Reads, Flags;
  } cases[] = {
      {&TPackageOptions::ReportBidWord, Line(PsKeyReportBidWord, "0A2B"), 1, 1, 0},
      {&TPackageOptions::ReportRomText7, Line(PsKeyReportRomText7, "R7"), 0, 4, 0},
      {&TPackageOptions::ReportBidText8, Line(PsKeyReportBidText8, "Model 8"), 1, 4, 0},
      {&TPackageOptions::ReportBidText4, Line(PsKeyReportBidText4, "C4X "), 1, 2, 0},
      {&TPackageOptions::ReportFlagValue, Line(PsKeyReportFlagValue, "1"), 0, 0, 1},
  };
  for (const auto& c : cases) {
    FakeDriver driver;
    PutFirmware(driver);
    PackageOptions = TPackageOptions();
    PackageOptions.*c.Option = true;
    EXPECT_EQ(Section(), std::vector<std::string>({SectionLine(), c.Expected}));
    EXPECT_EQ(driver.Count(FindBlock), c.Searches) << c.Expected;
    EXPECT_EQ(driver.Count(ReadWord), c.Reads) << c.Expected;
    EXPECT_EQ(driver.Count(Flag), c.Flags) << c.Expected;
  }
  EXPECT_EQ(PowerCalls, 0);
}

TEST_F(MachineSection, AFailedPowerQueryLeavesTheSectionLineAlone) {
  PackageOptions.ReportPowerStatus = true;
  ChosenPowerResult = FALSE;
  EXPECT_EQ(Section(), std::vector<std::string>({SectionLine()}));
  EXPECT_EQ(PowerCalls, 1);
  EXPECT_EQ(Driver.Calls(), 0);
}

TEST_F(MachineSection, AFactTheDriverCannotGiveLeavesOutOnlyItsLine) {
  PackageOptions.ReportBidWord = PackageOptions.ReportRomText7 = PackageOptions.ReportFlagValue = true;
  Driver.Image.assign(Driver.Image.size(), 0);  // no block, no ROM text
  Driver.Put(RomText7Address, "R7");
  Driver.FlagWord = 0;
  EXPECT_EQ(Section(), std::vector<std::string>({SectionLine(), Line(PsKeyReportRomText7, "R7"), Line(PsKeyReportFlagValue, "0")}));

  FakeDriver refusing;
  refusing.Script = {WithStatus(0x01)};  // the flag request
  PackageOptions = TPackageOptions();
  PackageOptions.ReportFlagValue = true;
  EXPECT_EQ(Section(), std::vector<std::string>({SectionLine()}));
}

TEST_F(MachineSection, PowerLines) {
  const std::string unknown = Protected(PsUnknown);
  const std::string sep = Protected(PsBatteryFlagSeparator);
  const struct {
    SYSTEM_POWER_STATUS Record;
    std::vector<std::string> Values;  // AC line, battery flag, percent, life, full life
  } cases[] = {
      {PowerRecord(0, 0, 0, 0, 0), {Protected(PsAcOffline), Protected(PsBatteryNoFlag), "0", "0", "0"}},
      {PowerRecord(1, 9, 100, 3600, 7200),
       {Protected(PsAcOnline), Protected(PsBatteryHigh) + sep + Protected(PsBatteryCharging), "100", "3600", "7200"}},
      {PowerRecord(255, 255, 255, 0xFFFFFFFF, 0xFFFFFFFF), {unknown, unknown, unknown, unknown, unknown}},
      {PowerRecord(2, 128, 150, 0xFFFFFFFF, 60), {unknown, Protected(PsBatteryNoBattery), "100", unknown, "60"}},
      {PowerRecord(254, 6, 101, 0x7FFFFFFF, 0xFFFFFFFE),
       {unknown, Protected(PsBatteryLow) + sep + Protected(PsBatteryCritical), "100", "2147483647", "-2"}},
      {PowerRecord(1, 0x7F, 254, 1, 0),
       {Protected(PsAcOnline),
        Protected(PsBatteryHigh) + sep + Protected(PsBatteryLow) + sep + Protected(PsBatteryCritical) + sep +
            Protected(PsBatteryCharging) + sep + Protected(PsBatteryBit4) + sep + Protected(PsBatteryBit5) + sep +
            Protected(PsBatteryBit6),
        "100", "1", "0"}},
      {PowerRecord(0, 0x88, 99, 59, 0),
       {Protected(PsAcOffline), Protected(PsBatteryCharging) + sep + Protected(PsBatteryNoBattery), "99", "59", "0"}},
  };
  PackageOptions.ReportPowerStatus = true;
  for (const auto& c : cases) {
    ChosenPower = c.Record;
    const std::vector<std::string> expected = {
        SectionLine(),
        Line(PsAcLineKey, c.Values[0]),
        Line(PsBatteryFlagKey, c.Values[1]),
        Line(PsBatteryPercentKey, c.Values[2]),
        Line(PsBatteryLifeKey, c.Values[3]),
        Line(PsBatteryFullLifeKey, c.Values[4]),
    };
    EXPECT_EQ(Section(), expected) << "AC " << int(c.Record.ACLineStatus) << ", flag " << int(c.Record.BatteryFlag);
  }
  EXPECT_EQ(Driver.Calls(), 0);
}

TEST_F(MachineSection, ABatteryWordWithABlankIsQuoted) {
  ProtectedStrings[PsBatteryHigh] = "High Charge";
  PackageOptions.ReportPowerStatus = true;
  ChosenPower = PowerRecord(1, 9, 50, 10, 20);
  std::vector<std::string> lines = Section();
  DecodeProtectedStrings();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], Line(PsBatteryFlagKey,
                           "\"High Charge\"" + Protected(PsBatteryFlagSeparator) + Protected(PsBatteryCharging)));
}

TEST(MachineSectionWithoutDriver, PowerLinesStillAppear) {
  // The real platform calls: no driver under Wine, but a power state.
  DecodeProtectedStrings();
  FirmwareWordCache = FirmwareWord();
  BidBlockAddress = 0;
  TPackageOptions& o = PackageOptions;
  o.ReportBidWord = o.ReportRomText7 = o.ReportBidText8 = o.ReportBidText4 = o.ReportFlagValue = o.ReportPowerStatus =
      true;
  SYSTEM_POWER_STATUS power;
  ASSERT_TRUE(GetSystemPowerStatus(&power));
  std::vector<std::string> lines = Section();
  const ProtectedId keys[] = {PsAcLineKey, PsBatteryFlagKey, PsBatteryPercentKey, PsBatteryLifeKey,
                              PsBatteryFullLifeKey};
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], SectionLine());
  for (int i = 0; i < 5; ++i) {
    std::string start = Line(keys[i], "");
    EXPECT_EQ(lines[i + 1].compare(0, start.size(), start), 0) << lines[i + 1];
    EXPECT_GT(lines[i + 1].size(), start.size()) << lines[i + 1];
  }
  PackageOptions = TPackageOptions();
}

}  // namespace
