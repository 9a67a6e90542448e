// How payloads are started: host programs, batch files, the options, the marker file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/run_harness.h"

namespace {

// --- Host program, options and the marker file

struct ScriptCase {
  const char* Name;  // the package
  const char* Script;
};

class RunScriptTest : public RunTest, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(RunScriptTest, RunsThroughTheHostProgram) {
  std::string package = Package(GetParam().Name);
  TRunOutcome outcome = Run(package, "a \"b c\"");
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  TProbeRecord& payload = payloads[0];
  EXPECT_TRUE(EqualsIgnoringCase(payload["Host"], WithTrailingBackslash(SystemFolder()) + Plain(PsHostProgram)))
      << payload["Host"];
  EXPECT_EQ(NameOfPath(payload["Script"]), GetParam().Script);
  EXPECT_EQ(FolderOfPath(payload["Script"]), WithTrailingBackslash(outcome.ExtractFolder));
  EXPECT_EQ(payload["CurrentFolder"], outcome.ExtractFolder);
  EXPECT_EQ(payload["ArgumentCount"], "3");
  EXPECT_EQ(payload["Argument0"], "/" + Plain(PsRunnerSection) + Plain(PsKeySeparator) + package);
  EXPECT_EQ(payload["Argument1"], "a");
  EXPECT_EQ(payload["Argument2"], "b c");
  ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Scripts, RunScriptTest,
                         ::testing::Values(ScriptCase{"script_js", "probe.js"}, ScriptCase{"script_vbs", "probe.vbs"},
                                           ScriptCase{"script_upper", "PROBE.VBS"}),
                         CaseName());

// A batch file reads each of its arguments as one word, as given, and nothing as a command: not
// in the runner's own path (a package renamed to "up&date.exe" beside a planted "date.exe"), not
// in an argument. The lines are what the batch wrote: the folder it works in, then %1, %2, ...
std::vector<std::string> BatchLines(const std::string& record) {
  std::vector<std::string> lines;
  std::string text = ReadWholeFile(record + ".batch");
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string Unquoted(const std::string& word) {
  return word.size() >= 2 && word.front() == '"' && word.back() == '"' ? word.substr(1, word.size() - 2) : word;
}

TEST_F(RunTest, BatchPayloadReadsEveryArgumentAsGiven) {
  const std::vector<std::string> arguments = {"a&b", "c|d", "<e>", "^f", "!g!", "h i", "j\\", "k\\\\", "(l)", "'m'", "n",
                                              "&&date.exe"};
  std::string command;
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  ASSERT_TRUE(CopyFileA(ProbePath.c_str(), (Temp / "date.exe").c_str(), FALSE));
  for (const char* name : {"script_cmd", "script_bat"}) {
    std::string package = Temp / "up&date.exe";
    ASSERT_TRUE(CopyFileA(Package(name).c_str(), package.c_str(), FALSE));
    DeleteFileA((Record + ".batch").c_str());
    TRunOutcome outcome = Run(package, command.substr(1));
    EXPECT_TRUE(outcome.Boxes.empty());
    EXPECT_TRUE(Payloads().empty()) << "a planted program was started";
    std::vector<std::string> lines = BatchLines(Record);
    ASSERT_EQ(lines.size(), arguments.size() + 2) << name;
    EXPECT_EQ(lines[0], outcome.ExtractFolder);
    EXPECT_EQ(lines[1], Quoted("/" + Plain(PsRunnerSection) + Plain(PsKeySeparator) + package));
    for (size_t i = 0; i < arguments.size(); ++i) EXPECT_EQ(Unquoted(lines[i + 2]), arguments[i]) << name;
    DeleteFileA(package.c_str());
  }
  DeleteFileA((Record + ".batch").c_str());

  // A percent sign is expanded even inside quotes: the batch file is not started.
  std::string log = RunQuietly(Package("script_cmd"), "a %PATH%", 107);
  EXPECT_NE(log.find("not started"), std::string::npos) << log;
  EXPECT_TRUE(BatchLines(Record).empty());
  ExpectNothingLeft();
}

// Without the host program in the system folder nothing is searched for: a copy planted in the
// package's (download) folder, the current folder of the run, is not started.
TEST_F(RunTest, HostProgramOnlyFromTheSystemFolder) {
  std::string package = Package("script_js");
  std::string host = WithTrailingBackslash(SystemFolder()) + Plain(PsHostProgram);
  std::string aside = host + ".aside";
  ASSERT_TRUE(CopyFileA(ProbePath.c_str(), (Temp / Plain(PsHostProgram)).c_str(), FALSE));
  ASSERT_TRUE(MoveFileA(host.c_str(), aside.c_str()));
  TRunOutcome outcome = Run(package, "");
  ASSERT_TRUE(MoveFileA(aside.c_str(), host.c_str()));
  ASSERT_EQ(outcome.Boxes.size(), 1u);
  ExpectBox(outcome.Boxes[0], L"Error", L"Could not execute the executable file!", TBoxOwner::ProgressWindow,
            MB_ICONERROR);
  EXPECT_TRUE(Payloads().empty()) << "the planted host program was started";
  ExpectNothingLeft();
}

TEST_F(RunTest, StartWithoutWaitingLeavesTheFolderToThePayload) {
  std::string package = Package("nowait");
  SetEnvironmentVariableA("PROBE_SLEEP", "2000");
  TRunOutcome outcome = Run(package, "");
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = AwaitPayloadEnd();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_GT(std::stoull(payloads[0]["end"]), outcome.EndedAt) << "the runner waited for the payload";
  std::string folder = WithoutTrailingBackslash(FolderOfPath(payloads[0]["Module"]));
  EXPECT_TRUE(IsExistingFolder(folder));
  EXPECT_EQ(RunLeftovers(Work), std::vector<std::string>{NameOfPath(folder)}) << "the temporary cabinet stayed";
  DeleteFolderIfPresent(folder);
  ExpectNothingLeft();
}

// A link that another process plants in the extract folder while the payload runs goes as itself
// in the clean-up: the folder it leads to keeps its files.
TEST_F(RunTest, CleanUpLeavesTheTargetOfAPlantedLinkAlone) {
  TempFolder victim;
  ASSERT_TRUE(WriteTextFile(victim / "keep.txt", "precious"));
  SetEnvironmentVariableA("PROBE_AWAIT", "planted");
  TSquatter squatter(Record, TSquat::FolderLinkWhileRunning, victim.Path);
  TRunOutcome outcome = Run(Package("single"), "");
  squatter.Finish();
  EXPECT_TRUE(outcome.Boxes.empty());
  ASSERT_FALSE(squatter.Planted.empty());
  EXPECT_EQ(ReadWholeFile(victim / "keep.txt"), "precious");
  // Wine cannot remove a link to a folder that is not empty: there the link and its folder stay.
  if (ReadAttributes(squatter.Planted) != -1) {
    RemoveUnixLink(squatter.Planted);
    EXPECT_TRUE(RemoveEmptyFolder(WithoutTrailingBackslash(FolderOfPath(squatter.Planted)))) << "more than the link stayed";
  }
  ExpectNothingLeft();
}

TEST_F(RunTest, HideWhileRunningKeepsTheWindowHidden) {
  std::string package = Package("hide");
  SetEnvironmentVariableA("PROBE_HIDE_AFTER", "200");
  SetEnvironmentVariableA("PROBE_HIDE_FOR", "400");
  SetEnvironmentVariableA("PROBE_SLEEP", "400");
  TRunOutcome outcome = Run(package, "");
  ASSERT_EQ(Payloads().size(), 1u);
  EXPECT_TRUE(WasShown(outcome, false));
  EXPECT_EQ(VisibilityWhileRunning(outcome), std::vector<bool>{false});
  ExpectNothingLeft();
}

// A payload with a window of its own, which it shows with the command it was started with.
TEST_F(RunTest, ShowPayloadWindowLetsThePayloadShowItsWindow) {
  TRunOutcome outcome = Run(Package("window"), "");
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0]["ShowCommand"], std::to_string(SW_SHOWNORMAL));
  EXPECT_EQ(payloads[0]["WindowVisible"], "1");
  EXPECT_EQ(Captions(outcome), (std::vector<std::wstring>{L"Extracting....", L"Executing...."}));
  ExpectNothingLeft();
}

TEST_F(RunTest, MarkerFileHidesAndShowsTheWindow) {
  std::string package = Package("normal");
  SetEnvironmentVariableA("PROBE_HIDE_AFTER", "300");
  SetEnvironmentVariableA("PROBE_HIDE_FOR", "600");
  SetEnvironmentVariableA("PROBE_SLEEP", "600");
  TRunOutcome outcome = Run(package, "");
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_TRUE(payloads[0].count("MarkerGone"));
  EXPECT_EQ(VisibilityWhileRunning(outcome), (std::vector<bool>{true, false, true}));
  ExpectNothingLeft();
}

}  // namespace
