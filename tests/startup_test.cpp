#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "format/protected_plain.h"
#include "runner/protected.h"
#include "runner/startup.h"
#include "runner/state.h"
#include "sys/paths.h"
#include "tests/test_support.h"

namespace {

// The cipher written out once more, step by step, apart from the shared key schedule.
std::string ReferenceEncipher(const std::string& plain, unsigned start, unsigned position) {
  unsigned length = plain.size();
  unsigned s0 = start & 0xFF, l0 = length & 0xFF;
  unsigned k = (((s0 * length) & 0xFFFF) % 256) ^ (((start * length) % 65536) >> 8);
  unsigned prev = 0;
  std::string out;
  for (unsigned char p : plain) {
    unsigned x = (~(p ^ prev) ^ k) & 0xFF;
    out += static_cast<char>(x);
    prev = x;
    k = (k * ((s0 + l0) % 256) + position) % 256;
  }
  return out;
}

TEST(ProtectedStrings, TablesHoldThePlainTextsEnciphered) {
  for (int e = 0; e < ProtectedCount; ++e) {
    const uint8_t* entry = ProtectedIndex + e * 5;
    unsigned start = entry[1] | entry[2] << 8, length = entry[3] | entry[4] << 8;
    ASSERT_EQ(entry[0], ProtectedPlain[e].Id) << "entry " << e;
    ASSERT_EQ(length, std::strlen(ProtectedPlain[e].Text));
    std::string stored(reinterpret_cast<const char*>(ProtectedText) + start - 1, length);
    EXPECT_EQ(stored, ReferenceEncipher(ProtectedPlain[e].Text, start, e)) << "entry " << e;
    EXPECT_EQ(DecodeProtected(entry[0]), ProtectedPlain[e].Text);
  }
}

TEST(ProtectedStrings, EveryIdOnceAndUnknownIdsEmpty) {
  bool seen[ProtectedCount] = {};
  for (const ProtectedPlainEntry& entry : ProtectedPlain) {
    EXPECT_FALSE(seen[entry.Id]) << "id " << int(entry.Id) << " twice";
    seen[entry.Id] = true;
  }
  EXPECT_EQ(DecodeProtected(ProtectedCount), "");
  EXPECT_EQ(DecodeProtected(255), "");
}

TEST(ProtectedStrings, DecodedAtStartInIdOrder) {
  DecodeProtectedStrings();
  for (const ProtectedPlainEntry& entry : ProtectedPlain) EXPECT_EQ(ProtectedStrings[entry.Id], entry.Text);
}

TEST(ProtectedStrings, NoPlainTextInTheRunner) {
  std::string exe = ReadWholeFile(CABRUN_EXE_PATH);
  ASSERT_GT(exe.size(), 1000u) << CABRUN_EXE_PATH;
  for (const ProtectedPlainEntry& entry : ProtectedPlain) {
    if (std::strlen(entry.Text) < 4) continue;
    EXPECT_EQ(exe.find(entry.Text), std::string::npos) << "\"" << entry.Text << "\" stands in plain text";
  }
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DecodeProtectedStrings();
    PackageOptions = TPackageOptions();
    ExtractOnlyMode = false;
    ChosenFolder.clear();
    QuietMode = false;
    LogPath.clear();
    LanguageId = "0409";
    LanguageName = "ENU";
    JapaneseMode = false;
  }
  // Options from an option list given as one text with NULs.
  TPackageOptions OptionsFrom(const std::string& bytes) {
    PackageOptions = TPackageOptions();
    ReadOptionList(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return PackageOptions;
  }
};

TEST_F(StartupTest, OptionList) {
  using O = TPackageOptions;
  const struct {
    std::string Bytes;
    bool O::*Member;
    bool Expected;
  } cases[] = {
      {std::string("\0\0", 2), &O::AllowExtractSwitch, true},
      {std::string("HideWindow=1\0\0", 14), &O::HideWhileRunning, true},
      {std::string("hIDEwINDOW=1\0\0", 14), &O::HideWhileRunning, true},
      {std::string("ExtractSwitch=\0\0", 16), &O::AllowExtractSwitch, false},
      {std::string("LanguageSwitch=no\0\0", 19), &O::AllowLanguageSwitch, false},
      {std::string("NoWait=1=1\0\0", 12), &O::StartWithoutWaiting, false},
      {std::string("=1\0NoWait\0\0", 11), &O::StartWithoutWaiting, false},
      {std::string("NoWait=1\0NoWait=0\0\0", 19), &O::StartWithoutWaiting, false},
      {std::string("NoWait=0\0NoWait=1\0\0", 19), &O::StartWithoutWaiting, true},
      {std::string("Unknown=1\0PowerState=1\0\0", 24), &O::ReportPowerStatus, true},
      {std::string("\0\0", 2), &O::ShowPayloadWindow, false},
      {std::string("PayloadWindow=1\0\0", 17), &O::ShowPayloadWindow, true},
      {std::string("BidWord=1\0RomText=1\0BidText=1\0BidCode=1\0FlagValue=1\0\0", 53), &O::ReportBidText4, true},
      {std::string("\0HideWindow=1\0\0", 15), &O::HideWhileRunning, false},  // an empty entry ends the list
      {std::string("HideWindow=1", 12), &O::HideWhileRunning, true},         // no terminating NULs at all
  };
  for (const auto& c : cases) EXPECT_EQ(OptionsFrom(c.Bytes).*c.Member, c.Expected) << c.Bytes.c_str();
  TPackageOptions all = OptionsFrom(std::string("BidWord=1\0RomText=1\0BidText=1\0BidCode=1\0FlagValue=1\0\0", 53));
  EXPECT_TRUE(all.ReportBidWord && all.ReportRomText7 && all.ReportBidText8 && all.ReportBidText4 && all.ReportFlagValue);
  EXPECT_FALSE(all.ReportPowerStatus || all.HideWhileRunning || all.StartWithoutWaiting);
}

// The fixed arguments are text, taken as written; the switches around them are read as before.
TEST_F(StartupTest, FixedArgumentsInTheOptionList) {
  const struct {
    std::string Bytes;
    std::string Expected;
  } cases[] = {
      {std::string("\0\0", 2), ""},
      {std::string("Arguments=/quiet /norestart\0\0", 29), "/quiet /norestart"},
      {std::string("aRGUMENTS=a=\"b c\" \"\"\0\0", 22), "a=\"b c\" \"\""},
      {std::string("Arguments=one\0Arguments=\0\0", 26), ""},
      {std::string("Arguments=one\0PassExitCode=1\0NoWait=1", 37), "one"},
  };
  for (const auto& c : cases) EXPECT_EQ(OptionsFrom(c.Bytes).Arguments, c.Expected) << c.Bytes.c_str();
  TPackageOptions last = OptionsFrom(std::string("Arguments=one\0PassExitCode=1\0QuietSwitch=0\0NoWait=1", 51));
  EXPECT_TRUE(last.PassExitCode && last.StartWithoutWaiting);
  EXPECT_FALSE(last.AllowQuietSwitch);
  EXPECT_TRUE(TPackageOptions().AllowQuietSwitch);
  EXPECT_FALSE(TPackageOptions().PassExitCode);
  // The title is text as well, in UTF-8 ("基板"), beside the fixed arguments.
  TPackageOptions titled = OptionsFrom(std::string("title=x\0Arguments=a\0Title=\xE5\x9F\xBA\xE6\x9D\xBF 2.1\0\0", 38));
  EXPECT_EQ(titled.Title, "\xE5\x9F\xBA\xE6\x9D\xBF 2.1");
  EXPECT_EQ(titled.Arguments, "a");
  EXPECT_EQ(TPackageOptions().Title, "");
}

// The walk must never read past the resource, however its bytes end: the list is put
// right against a page that cannot be read.
TEST_F(StartupTest, OptionListNeverReadsPastItsEnd) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  size_t page = info.dwPageSize;
  auto* block = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(block, nullptr);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(block + page, page, PAGE_NOACCESS, &old));
  const std::string lists[] = {"HideWindow=1", std::string("NoWait=1\0HideWindow", 19), "=", "x",
                               std::string(page, 'K'), "HideWindow=" + std::string(page - 11, '1')};
  for (const std::string& list : lists) {
    uint8_t* at = block + page - list.size();
    std::memcpy(at, list.data(), list.size());
    PackageOptions = TPackageOptions();
    ReadOptionList(at, list.size());
  }
  EXPECT_TRUE(PackageOptions.AllowExtractSwitch);
  ReadOptionList(block + page, 0);
  VirtualFree(block, 0, MEM_RELEASE);
}

TEST_F(StartupTest, RealOptionResource) {
  ReadOptionResource();
  EXPECT_TRUE(PackageOptions.HideWhileRunning);
  EXPECT_FALSE(PackageOptions.AllowExtractSwitch);
  EXPECT_TRUE(PackageOptions.AllowLanguageSwitch);
}

TEST(CommandLine, Splitting) {
  using Args = std::vector<std::string>;
  const struct {
    const char* Line;
    Args Expected;
  } cases[] = {
      {"prog.exe", {}},
      {"\"C:\\My Dir\\prog.exe\" a b", {"a", "b"}},
      {"prog  a\tb\x01" "c", {"a", "b", "c"}},
      {"prog \"a b\" c", {"a b", "c"}},
      {"prog x\"a b\"y", {"xa by"}},
      {"prog \"\" a", {"a"}},
      {"prog \"\"\"\" a", {"a"}},
      {"prog a \"\"", {"a"}},
      {"prog a \"", {"a"}},
      {"prog \"a\"\"b\"", {"ab"}},
      {"prog \"unterminated arg", {"unterminated arg"}},
      {"prog \xe3\x81\x82 \x95\x5C", {"\xe3\x81\x82", "\x95\x5C"}},
      {"prog /lang=JPN /extract \"C:\\Out Dir\"", {"/lang=JPN", "/extract", "C:\\Out Dir"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.Line), c.Expected) << c.Line;
}

TEST_F(StartupTest, Switches) {
  TempFolder temp;
  std::string existing = temp.Path;
  std::string fresh = temp / "New\\Dir";
  const std::string own = "D:\\pkg\\update.exe";
  const std::string current = "C:\\Work";
  const struct {
    std::vector<std::string> Arguments;
    bool AllowExtract, AllowLanguage;
    bool ExtractOnly;
    std::string Chosen, Id, Name;
  } cases[] = {
      {{}, true, true, false, "", "0409", "ENU"},
      {{"/extract"}, true, true, true, "C:\\Work\\update", "0409", "ENU"},
      {{"/EXTRACT", existing}, true, true, true, existing + "\\update", "0409", "ENU"},
      {{"/extract", fresh}, true, true, true, fresh, "0409", "ENU"},
      {{"/extract", "/lang=JPN"}, true, true, true, "C:\\Work\\update", "0411", "JPN"},
      {{"/extract", fresh, "/extract"}, true, true, true, "C:\\Work\\update", "0409", "ENU"},
      {{"/extract", fresh}, false, true, false, "", "0409", "ENU"},
      {{"/lang=jpn"}, true, true, false, "", "0411", "JPN"},
      {{"/lang=JPN", "/Lang=enu"}, true, true, false, "", "0409", "ENU"},
      {{"/lang=DEU"}, true, true, false, "", "0409", "ENU"},
      {{"/lang==JPN"}, true, true, false, "", "0409", "ENU"},
      {{"/langx=JPN"}, true, true, false, "", "0409", "ENU"},
      {{"/lang=JPN"}, true, false, false, "", "0409", "ENU"},
  };
  for (const auto& c : cases) {
    SetUp();
    PackageOptions.AllowExtractSwitch = c.AllowExtract;
    PackageOptions.AllowLanguageSwitch = c.AllowLanguage;
    RunnerArguments = {own};
    RunnerArguments.insert(RunnerArguments.end(), c.Arguments.begin(), c.Arguments.end());
    ReadCommandLine(current);
    std::string label = c.Arguments.empty() ? "(none)" : c.Arguments[0] + " ...";
    EXPECT_EQ(ExtractOnlyMode, c.ExtractOnly) << label;
    if (c.ExtractOnly) {
      EXPECT_EQ(ChosenFolder, c.Chosen) << label;
    }
    EXPECT_EQ(LanguageId, c.Id) << label;
    EXPECT_EQ(LanguageName, c.Name) << label;
    EXPECT_EQ(JapaneseMode, c.Name == "JPN") << label;
  }
}

// Nothing left of the runner's name once Windows would drop its trailing dots and blanks (".exe",
// "..exe" and "...exe", which would name the chosen folder or its parent, or a code page 932 name
// cut at its 0x5C trail byte): the target gets a fixed name, never the chosen folder or above.
TEST_F(StartupTest, EmptyRunnerNameGivesAFixedTarget) {
  TempFolder temp;
  const struct {
    std::string Own, Target;
  } cases[] = {
      {"D:\\pkg\\.exe", "package"},         {"D:\\pkg\\..exe", "package"},
      {"D:\\pkg\\...exe", "package"},       {"D:\\pkg\\. . .exe", "package"},
      {"D:\\pkg\\\x8B\x40\x94\x5C.exe", "package"}, {"D:\\pkg\\update. ..exe", "update"},
  };
  for (const auto& c : cases) {
    RunnerArguments = {c.Own, "/extract"};
    ReadCommandLine("C:\\Work");
    EXPECT_EQ(ChosenFolder, "C:\\Work\\" + c.Target) << c.Own;
    RunnerArguments = {c.Own, "/extract", temp.Path};
    ReadCommandLine("C:\\Work");
    EXPECT_EQ(ChosenFolder, temp / c.Target) << c.Own;
  }
}

TEST_F(StartupTest, QuietAndLogSwitches) {
  const struct {
    std::vector<std::string> Arguments;
    bool AllowQuiet;
    bool Quiet;
    std::string Log;
  } cases[] = {
      {{}, true, false, ""},
      {{"/QUIET"}, true, true, ""},
      {{"/quiet"}, false, false, ""},
      {{"/log=C:\\a b\\run.log"}, true, false, "C:\\a b\\run.log"},
      {{"/Log=x", "/log=y"}, true, false, "y"},
      {{"/log"}, true, false, ""},
      {{"/logx=y"}, true, false, ""},
      {{"/extract", "/quiet", "/log=out.txt"}, true, true, "out.txt"},
  };
  for (const auto& c : cases) {
    SetUp();
    PackageOptions.AllowQuietSwitch = c.AllowQuiet;
    RunnerArguments = {"D:\\pkg\\update.exe"};
    RunnerArguments.insert(RunnerArguments.end(), c.Arguments.begin(), c.Arguments.end());
    ReadCommandLine("C:\\Work");
    std::string label = c.Arguments.empty() ? "(none)" : c.Arguments.back();
    EXPECT_EQ(QuietMode, c.Quiet) << label;
    EXPECT_EQ(LogPath, c.Log) << label;
  }
  EXPECT_TRUE(ExtractOnlyMode);
  EXPECT_EQ(ChosenFolder, "C:\\Work\\update") << "a switch after the extract-only switch is no folder";
}

TEST_F(StartupTest, RelativeTargetIsTakenFromTheCurrentFolder) {
  TempFolder temp;
  char saved[MAX_PATH];
  GetCurrentDirectoryA(sizeof saved, saved);
  SetCurrentDirectoryA(temp.Path.c_str());
  RunnerArguments = {"C:\\x\\pkg.exe", "/extract", "out"};
  ReadCommandLine(temp.Path);
  SetCurrentDirectoryA(saved);
  EXPECT_EQ(ChosenFolder, temp / "out");
}

TEST(Language, EnglishSystem) {
  ChooseLanguage();
  EXPECT_EQ(LanguageId, "0409");
  EXPECT_EQ(LanguageName, "ENU");
  EXPECT_FALSE(JapaneseMode);
}

TEST(Language, JapaneseSystem) {
  ChooseLanguage();
  EXPECT_EQ(LanguageId, "0411");
  EXPECT_EQ(LanguageName, "JPN");
  EXPECT_TRUE(JapaneseMode);
}

}  // namespace
