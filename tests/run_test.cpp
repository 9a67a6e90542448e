// Whole runs: the hand-over to the payload, the report, the log, exit codes, arguments, and the
// Japanese texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/run_harness.h"

namespace {

TEST_F(RunTest, NormalRunHandsOverAndCleansUp) {
  std::string package = Package("normal");
  TRunOutcome outcome = Run(package, "");
  EXPECT_EQ(outcome.ExitCode, 0u);
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  TProbeRecord& payload = payloads[0];
  EXPECT_EQ(ParametersOf(payload["CommandLine"]), FirstLaunchItem(package));
  std::string folder = FolderOfPath(payload["Module"]);
  EXPECT_EQ(payload["CurrentFolder"], WithoutTrailingBackslash(folder)) << "not in its own folder";
  std::string name = NameOfPath(WithoutTrailingBackslash(folder));
  EXPECT_EQ(FolderOfPath(WithoutTrailingBackslash(folder)), WithTrailingBackslash(Work));
  EXPECT_EQ(name.substr(0, 4), "_cab");
  EXPECT_EQ(ExtensionOfPath(name), ".tmp");
  EXPECT_EQ(NameOfPath(payload["Module"]), "probe.exe");
  EXPECT_EQ(payload["FolderExists"], "1");
  EXPECT_EQ(payload["Report"], ExpectedReport(package, "0409", "ENU", Temp.Path));
  EXPECT_EQ(Captions(outcome), (std::vector<std::wstring>{L"Extracting....", L"Executing...."}));
  // Started hidden: a window of its own shown with what it was given stays invisible.
  EXPECT_EQ(payload["ShowCommand"], std::to_string(SW_HIDE));
  EXPECT_EQ(payload["WindowVisible"], "0");
  EXPECT_TRUE(WasShown(outcome, false));
  EXPECT_TRUE(WasShown(outcome, true));
  ExpectNothingLeft();

  // The package option that keeps the payload in the folder the package was started from.
  DeleteFileA(Record.c_str());
  Run(Package("startfolder"), "");
  payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0]["CurrentFolder"], Temp.Path);
  ExpectNothingLeft();
}

TEST_F(RunTest, QuietRunLogsEachStep) {
  std::string package = Package("normal");
  std::string log = RunQuietly(package, "x", 0);
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(ParametersOf(payloads[0]["CommandLine"]),
            FirstLaunchItem(package) + " " + Plain(PsQuietSwitch) + " " + Plain(PsLogSwitch) + "=" +
                (Records / "run.log") + " x");
  std::string extractFolder = WithoutTrailingBackslash(FolderOfPath(payloads[0]["Module"]));
  std::string on = Plain(PsKeySeparator) + "1", off = Plain(PsKeySeparator) + "0";
  // Each line begins with the first text and holds the second.
  const std::pair<std::string, std::string> expected[] = {
      {"start " + package, ""},
      {"arguments " + Plain(PsQuietSwitch), " x"},
      {"language 0409 ENU", ""},
      {"options ", " " + Plain(PsNameAllowQuietSwitch) + on + " " + Plain(PsNamePassExitCode) + off},
      {"quiet run", ""},
      {"extract folder " + extractFolder, ""},
      {"expanded 3 files, ", " bytes, error 0"},
      {"starting " + extractFolder + "\\probe.exe " + FirstLaunchItem(package), " x"},
      {"program ended, exit code 0", ""},
      {"clean-up: extract folder gone", ""},
      {"exit code 0", ""},
  };
  std::vector<std::string> lines = LogLines(log);
  ASSERT_EQ(lines.size(), std::size(expected)) << log;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(expected[i].first, 0), 0u) << lines[i];
    EXPECT_NE(lines[i].find(expected[i].second), std::string::npos) << lines[i];
  }
  ExpectNothingLeft();
}

// A log that cannot be made changes nothing: the run goes on as without one. A file at the log's
// path that cannot be trusted is replaced, never written into.
TEST_F(RunTest, LogThatCannotBeWritten) {
  std::string package = Package("normal");
  for (const std::string& log : {Records.Path, Records / "missing\\run.log"}) {
    TRunOutcome outcome = Run(package, Plain(PsQuietSwitch) + " " + Plain(PsLogSwitch) + "=" + log);
    EXPECT_EQ(outcome.ExitCode, 0u);
    EXPECT_TRUE(outcome.Boxes.empty());
    EXPECT_TRUE(IsExistingFolder(Records.Path));
    EXPECT_FALSE(IsExistingFolder(Records / "missing"));
  }
  EXPECT_EQ(Payloads().size(), 2u);
  // Another user plants a second name of a file (a hard link) at the log's path: the elevated
  // runner must not write into that file. (Wine shows a symbolic link to a file as a plain file,
  // so that case is refused on Windows only.)
  std::string victim = Records / "victim.txt", log = Records / "planted.log";
  ASSERT_TRUE(WriteTextFile(victim, "victim"));
  ASSERT_TRUE(MakeUnixLink(victim, log, false));
  EXPECT_EQ(Run(package, Plain(PsQuietSwitch) + " " + Plain(PsLogSwitch) + "=" + log).ExitCode, 0u);
  EXPECT_EQ(ReadWholeFile(victim), "victim");
  const std::string replaced = " the file at the log's path could not be trusted: it was replaced\r\n";
  EXPECT_NE(ReadWholeFile(log).find(replaced), std::string::npos) << "the log went missing";
  // A plain file that another user made at the log's path (under Wine every file is the process
  // user's, which is not trusted) is not appended to: they could read the lines, forge some, or
  // stall the runner at each one.
  ASSERT_TRUE(WriteTextFile(log, "theirs"));
  EXPECT_EQ(Run(package, Plain(PsQuietSwitch) + " " + Plain(PsLogSwitch) + "=" + log).ExitCode, 0u);
  std::string text = ReadWholeFile(log);
  EXPECT_EQ(text.find("theirs"), std::string::npos);
  EXPECT_NE(text.find(replaced), std::string::npos) << text;
  EXPECT_EQ(Tree(Records.Path).count("planted.log.cabrun0"), 0u) << "the replacement stayed beside the log";
  EXPECT_EQ(Payloads().size(), 4u);
  ExpectNothingLeft();
}

// The payload's exit code becomes the package's only where the package asks for it.
TEST_F(RunTest, PayloadExitCode) {
  SetEnvironmentVariableA("PROBE_EXIT", "3010");
  EXPECT_EQ(Run(Package("normal"), "").ExitCode, 0u);
  EXPECT_EQ(Run(Package("passcode"), "").ExitCode, 3010u);
  std::string log = RunQuietly(Package("passcode"), "", 3010);
  EXPECT_NE(log.find(" program ended, exit code 3010\r\n"), std::string::npos) << log;
  SetEnvironmentVariableA("PROBE_EXIT", "0");
  EXPECT_EQ(Run(Package("passcode"), "").ExitCode, 0u);
  EXPECT_EQ(Payloads().size(), 4u);
  ExpectNothingLeft();
}

// The package's fixed arguments come as written between the first item and the runner's own,
// unless the command line would be longer than the platform takes: then nothing is started.
TEST_F(RunTest, FixedArguments) {
  std::string longText = "\"a b\"";
  for (int i = 1; i < 5000; ++i) longText += " \"a b\"";
  const std::pair<const char*, std::string> cases[] = {
      {"args", "/q \"a b\" \"\" c\\\"d"}, {"argsempty", ""}, {"argslong", longText}};
  for (const auto& c : cases) {
    DeleteFileA(Record.c_str());
    std::string package = Package(c.first);
    RunQuietly(package, "\"y z\"", 0);
    std::vector<TProbeRecord> payloads = Payloads();
    ASSERT_EQ(payloads.size(), 1u) << c.first;
    EXPECT_EQ(ParametersOf(payloads[0]["CommandLine"]),
              FirstLaunchItem(package) + (c.second.empty() ? "" : " " + c.second) + " " + Plain(PsQuietSwitch) +
                  " " + Plain(PsLogSwitch) + "=" + (Records / "run.log") + " \"y z\"")
        << c.first;
  }
  DeleteFileA(Record.c_str());
  // With arguments of its own, the long one no longer fits.
  std::string log = RunQuietly(Package("argslong"), std::string(3000, 'x'), 107);
  EXPECT_NE(log.find(" start failed, error " + std::to_string(ERROR_FILENAME_EXCED_RANGE) + "\r\n"),
            std::string::npos) << log;
  EXPECT_TRUE(Payloads().empty());
  ExpectNothingLeft();
}

// Without the maker's driver (as here) the firmware lines are left out; the power lines
// show what the system reports, which under Wine is a machine on mains without a battery.
TEST_F(RunTest, MachineSectionWithoutTheDriver) {
  SYSTEM_POWER_STATUS power;
  ASSERT_TRUE(GetSystemPowerStatus(&power));
  ASSERT_EQ(power.ACLineStatus, 1) << "the expected lines below are those of Wine's answer";
  ASSERT_EQ(power.BatteryFlag, 128);
  ASSERT_EQ(power.BatteryLifePercent, 255);
  ASSERT_EQ(power.BatteryLifeTime, 0xFFFFFFFFu);
  ASSERT_EQ(power.BatteryFullLifeTime, 0xFFFFFFFFu);

  std::string package = Package("machine");
  TRunOutcome outcome = Run(package, "");
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  std::string separator = Plain(PsKeySeparator), unknown = Plain(PsUnknown);
  EXPECT_EQ(payloads[0]["Report"],
            ExpectedReport(package, "0409", "ENU", Temp.Path) + "[" + Plain(PsMachineSection) + "]\r\n" +
                Plain(PsAcLineKey) + separator + Plain(PsAcOnline) + "\r\n" +
                Plain(PsBatteryFlagKey) + separator + Plain(PsBatteryNoBattery) + "\r\n" +
                Plain(PsBatteryPercentKey) + separator + unknown + "\r\n" +
                Plain(PsBatteryLifeKey) + separator + unknown + "\r\n" +
                Plain(PsBatteryFullLifeKey) + separator + unknown + "\r\n");
  ExpectNothingLeft();
}

// How the runner's own arguments reach the payload.
struct ArgumentCase {
  const char* Name;
  const char* Arguments;  // as typed on the command line, with the switches as in WithSwitches
  const char* HandedOn;   // what follows the first item of the parameter line
  const char* Parsed;     // the arguments as the payload's C runtime reads them, joined by "|"
};

class RunArgumentTest : public RunTest, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(RunArgumentTest, FromAPathWithABlank) {
  std::string package = Package("normal", "with blank");
  TRunOutcome outcome = Run(package, WithSwitches(GetParam().Arguments));
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  std::string handedOn = WithSwitches(GetParam().HandedOn);
  EXPECT_EQ(ParametersOf(payloads[0]["CommandLine"]),
            Quoted("/" + Plain(PsRunnerSection) + Plain(PsKeySeparator) + package) +
                (handedOn.empty() ? "" : " " + handedOn));
  EXPECT_EQ(payloads[0]["Report"], ExpectedReport(package, "0409", "ENU", Temp.Path));
  std::string parsed;
  for (int i = 0; i < std::stoi(payloads[0]["ArgumentCount"]); ++i)
    parsed += (i ? "|" : "") + payloads[0]["Argument" + std::to_string(i)];
  std::string expected = WithSwitches(GetParam().Parsed);
  EXPECT_EQ(parsed, "/" + Plain(PsRunnerSection) + Plain(PsKeySeparator) + package + (expected.empty() ? "" : "|" + expected));
  ExpectNothingLeft();
}

// Blanks, tabs and backslashes before a closing quote come through a C runtime's parser unchanged.
INSTANTIATE_TEST_SUITE_P(
    Arguments, RunArgumentTest,
    ::testing::Values(ArgumentCase{"None", "", "", ""}, ArgumentCase{"Plain", "one two", "one two", "one|two"},
                      ArgumentCase{"Quoted", "\"two words\" x", "\"two words\" x", "two words|x"},
                      ArgumentCase{"QuotesInside", "x\"y z\"w", "\"xy zw\"", "xy zw"},
                      ArgumentCase{"EmptyPair", "\"\" after", "after", "after"},
                      ArgumentCase{"Backslash", "a\\\"b", "a\\b", "a\\b"},
                      ArgumentCase{"Tab", "\"a\tb\" c", "\"a\tb\" c", "a\tb|c"},
                      ArgumentCase{"TrailingBackslash", "\"C:\\My Logs\\\" /quiet", "\"C:\\My Logs\\\\\" /quiet",
                                   "C:\\My Logs\\|/quiet"},
                      ArgumentCase{"TrailingBackslashes", "\"x\ty\\\\\" z\\", "\"x\ty\\\\\\\\\" z\\",
                                   "x\ty\\\\|z\\"},
                      ArgumentCase{"LanguageSwitch", "LANG=enu", "LANG=enu", "LANG=enu"}),
    CaseName());

// --- Paths and arguments in any script

// What a program of the system's code page reads of text: spelled there ("?" where it cannot be).
std::string InSystemCodePage(const std::string& text) {
  std::string spelled;
  SpellInSystemCodePage(text, spelled);
  return spelled;
}

// A package in a folder whose name the system's code page cannot spell (Jürgen on a Japanese
// system, ファーム on a Western one; this one has both) runs, and so does its log there. The payload
// gets the package's path as a program of that code page can use it (the short form, or "?" where
// the volume has none: never a lookalike), and the path itself in UTF-8 from the report. An
// extract-only target may be named so as well.
class UnspellablePathsTest : public RunTest {
 protected:
  void Check() {
    const std::string folder = "Jürgen ファーム";
    std::string package = Package("normal", folder), log = Temp / (folder + "\\run.log");
    TRunOutcome outcome = Run(package, Plain(PsQuietSwitch) + " " + Plain(PsLogSwitch) + "=" + Quoted(log),
                              TRunScript(), folder);
    EXPECT_EQ(outcome.ExitCode, 0u);
    std::vector<TProbeRecord> payloads = Payloads();
    ASSERT_EQ(payloads.size(), 1u);
    std::string report = payloads[0]["Report"], key = Plain(PsRunnerPathKey) + Plain(PsKeySeparator);
    size_t at = report.find("\r\n" + key);
    ASSERT_NE(at, std::string::npos) << report;
    size_t start = at + 2 + key.size();
    std::string given = report.substr(start, report.find("\r\n", start) - start);
    EXPECT_TRUE(given.find('?') != std::string::npos || GetFileAttributesA(given.c_str()) != INVALID_FILE_ATTRIBUTES)
        << given;
    EXPECT_NE(report.find("\r\n" + Plain(PsRunnerPathKey) + "Utf8" + Plain(PsKeySeparator) + package + "\r\n"),
              std::string::npos) << report;
    EXPECT_EQ(payloads[0]["Argument0"], "/" + Plain(PsRunnerSection) + Plain(PsKeySeparator) + given);
    EXPECT_EQ(payloads[0]["Argument2"], InSystemCodePage(Plain(PsLogSwitch) + "=" + log));
    std::string text = ReadWholeFile(log);
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF") << "no UTF-8 byte order mark";
    EXPECT_NE(text.find(" start " + package + "\r\n"), std::string::npos) << text;

    Run(package, Plain(PsQuietSwitch) + " " + Plain(PsExtractSwitch) + " " + Quoted(folder + "\\Ziel"), TRunScript(),
        folder);
    EXPECT_EQ(ReadWholeFile(Temp / (folder + "\\Ziel\\data\\one.txt")), "data/one.txt of normal\n");
    ExpectNothingLeft();
  }
};

TEST_F(UnspellablePathsTest, OnAWesternSystem) { Check(); }
TEST_F(UnspellablePathsTest, JapaneseSystemToo) { Check(); }

// A package named with fullwidth quotes and solidus, which best fit would spell as " and /: its
// path stays one argument, and nothing of it becomes a switch of the runner's or an argument of
// the payload's.
class FullwidthNameTest : public RunTest {
 protected:
  void Check() {
    std::string package = Temp / "update＂ --force ／quiet ＂x.exe";
    ASSERT_TRUE(MoveFileW(Wide(Package("normal")).c_str(), Wide(package).c_str()));
    TRunOutcome outcome = Run(package, "");
    EXPECT_FALSE(outcome.WindowStates.empty()) << "the name was read as the quiet switch";
    std::vector<TProbeRecord> payloads = Payloads();
    ASSERT_EQ(payloads.size(), 1u);
    EXPECT_EQ(payloads[0]["ArgumentCount"], "1") << payloads[0]["CommandLine"];
    ExpectNothingLeft();
  }
};

TEST_F(FullwidthNameTest, OnAWesternSystem) { Check(); }
TEST_F(FullwidthNameTest, JapaneseSystemToo) { Check(); }

// On a Japanese system the last character of "D:\ファーム 表" ends in the byte 0x5C, which is no
// backslash: the argument is not doubled at its end into one with the next.
TEST_F(RunTest, JapaneseSystemArgumentEndingInTheByte0x5C) {
  Run(Package("normal"), "\"D:\\ファーム 表\" second");
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0]["ArgumentCount"], "3");
  EXPECT_EQ(payloads[0]["Argument1"], InSystemCodePage("D:\\ファーム 表"));
  EXPECT_EQ(payloads[0]["Argument2"], "second");
  ExpectNothingLeft();
}

// An argument that the system's code page cannot spell would reach the payload as another one (a
// program of that code page reads it with best fit): the run stops before anything is extracted.
TEST_F(RunTest, ArgumentTheCodePageCannotSpellIsRefused) {
  TRunOutcome outcome = Run(Package("normal"), "Ā");
  EXPECT_EQ(outcome.ExitCode, 107u);
  ASSERT_EQ(outcome.Boxes.size(), 1u);
  ExpectBox(outcome.Boxes[0], L"Error", L"An argument cannot be passed to the executable file!", TBoxOwner::None,
            MB_ICONERROR);
  EXPECT_TRUE(outcome.WindowStates.empty());
  EXPECT_TRUE(Payloads().empty());
  ExpectNothingLeft();
}

TEST_F(RunTest, DisabledSwitchesAreOrdinaryArguments) {
  std::string package = Package("noswitch");
  std::string switches =
      Plain(PsExtractSwitch) + " target " + Plain(PsLanguageSwitch) + "=JPN " + Plain(PsQuietSwitch);
  TRunOutcome outcome = Run(package, switches);
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(ParametersOf(payloads[0]["CommandLine"]), FirstLaunchItem(package) + " " + switches);
  EXPECT_EQ(payloads[0]["Report"], ExpectedReport(package, "0409", "ENU", Temp.Path));
  EXPECT_EQ(Captions(outcome), (std::vector<std::wstring>{L"Extracting....", L"Executing...."}));
  ExpectNothingLeft();
}

// Packages that run like the plain one.
class RunsNormallyTest : public RunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RunsNormallyTest, StartsThePayload) {
  std::string package = Package(GetParam());
  TRunOutcome outcome = Run(package, "");
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0]["Report"], ExpectedReport(package, "0409", "ENU", Temp.Path));
  EXPECT_TRUE(WasShown(outcome, true)) << "the window was hidden while the payload ran";
  ExpectNothingLeft();
}

// stored: an uncompressed cabinet; nosum: a package without digests. The others would hide the window if their option list were
// read: badoptions has one without its end (its one entry no longer carries the switching-on
// value), noopt none, nulopt one of NULs only.
INSTANTIATE_TEST_SUITE_P(Packages, RunsNormallyTest,
                         ::testing::Values("single", "stored", "badoptions", "noopt", "nulopt", "nosum"));

TEST_F(RunTest, PayloadInASubfolder) {
  std::string package = Package("nested");
  // The marker beside the payload is not the one the runner looks for.
  SetEnvironmentVariableA("PROBE_HIDE_AFTER", "100");
  SetEnvironmentVariableA("PROBE_HIDE_FOR", "600");
  TRunOutcome outcome = Run(package, "");
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  std::string module = payloads[0]["Module"];
  EXPECT_EQ(NameOfPath(WithoutTrailingBackslash(FolderOfPath(module))), "bin");
  EXPECT_EQ(payloads[0]["Report"], ExpectedReport(package, "0409", "ENU", Temp.Path));
  EXPECT_EQ(VisibilityWhileRunning(outcome), std::vector<bool>{true});
  ExpectNothingLeft();
}

// --- Japanese texts

TEST_F(RunTest, JapaneseSystemNormalRun) { CheckJapaneseRun(""); }
TEST_F(RunTest, LanguageSwitchJapaneseNormalRun) { CheckJapaneseRun(Plain(PsLanguageSwitch) + "=JPN"); }
TEST_F(RunTest, JapaneseSystemMessages) { CheckJapaneseMessages(""); }
TEST_F(RunTest, LanguageSwitchJapaneseMessages) { CheckJapaneseMessages(Plain(PsLanguageSwitch) + "=jpn"); }

// The package's title before either language's captions, on either code page.
TEST_F(RunTest, TitleBeforeTheCaptions) {
  CheckTitle("", false);
  CheckTitle(Plain(PsLanguageSwitch) + "=JPN", true);
}
TEST_F(RunTest, JapaneseSystemTitleBeforeTheCaptions) {
  CheckTitle("", true);
  CheckTitle(Plain(PsLanguageSwitch) + "=ENU", false);
}

// 機能.exe: the second byte of 能 in code page 932 is 0x5C, which byte-wise name rules would
// take for a separator, leaving nothing of the name; the target is named after it whole, never the
// current folder itself, which would be emptied.
TEST_F(RunTest, JapaneseSystemExtractOnlyNeverEmptiesTheCurrentFolder) {
  std::string package = Temp / "機能.exe";
  ASSERT_TRUE(MoveFileW(Wide(Package("normal")).c_str(), Wide(package).c_str()));
  ASSERT_TRUE(WriteTextFile(Temp / "mine.txt", "mine"));
  std::string target = Temp / "機能";
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch), TRunScript(), "機能");
  ASSERT_EQ(outcome.Boxes.size(), 2u);
  EXPECT_EQ(outcome.Boxes[1].Text, L"ファイルを \"" + Wide(target) + L"\" へ抽出しました。");
  EXPECT_EQ(ReadWholeFile(Temp / "mine.txt"), "mine");
  EXPECT_TRUE(IsExistingFile(target + "\\probe.exe"));
  ExpectNothingLeft();
}

TEST_F(RunTest, JapaneseSystemLanguageSwitchEnglish) {
  std::string package = Package("normal");
  TRunOutcome outcome = Run(package, Plain(PsLanguageSwitch) + "=Enu");
  EXPECT_EQ(Captions(outcome), (std::vector<std::wstring>{L"Extracting....", L"Executing...."}));
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0]["Report"], ExpectedReport(package, "0409", "ENU", Temp.Path));
  ExpectNothingLeft();
}

}  // namespace
