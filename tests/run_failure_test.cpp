// Runs that are cancelled or fail: what they show, and that they leave nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/run_harness.h"

namespace {

// --- Cancellation

struct CancelCase {
  const char* Name;
  const char* Package;
  TCancelMoment Moment;
  int Positions;
  DWORD DelayMs;
  TCancelWay Way;
  bool AfterExpansion;  // the cancel is meant to come in the pause after the expansion
};

class RunCancelTest : public RunTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(RunCancelTest, EndsTheRunWithoutStartingThePayload) {
  const CancelCase& c = GetParam();
  std::string package = Package(c.Package);
  TRunScript script;
  script.CancelAt = c.Moment;
  script.Positions = c.Positions;
  script.CancelDelayMs = c.DelayMs;
  script.CancelWay = c.Way;
  TRunOutcome outcome = Run(package, "", script);
  EXPECT_TRUE(outcome.CancelSent);
  EXPECT_EQ(outcome.CancelledAfterExpansion, c.AfterExpansion);
  EXPECT_EQ(outcome.ExitCode, static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_TRUE(outcome.Boxes.empty());
  EXPECT_TRUE(Payloads().empty()) << "the payload was started after a cancel";
  for (const TWindowState& state : outcome.WindowStates) EXPECT_FALSE(state.Marquee);
  ExpectNothingLeft();
}

// The last case comes in the pause after the expansion: the runner looks at its window's
// cancel mark there only while it pumps.
INSTANTIATE_TEST_SUITE_P(
    Moments, RunCancelTest,
    ::testing::Values(
        CancelCase{"DuringExpansion", "many", TCancelMoment::AfterPositions, 3, 0, TCancelWay::Command, false},
        CancelCase{"DuringExpansionByEscape", "many", TCancelMoment::AfterPositions, 3, 0, TCancelWay::EscapeKey,
                   false},
        CancelCase{"WhenShown", "many", TCancelMoment::WhenShown, 1, 0, TCancelWay::Command, false},
        CancelCase{"WhenShownWithoutFilePauses", "fast", TCancelMoment::WhenShown, 1, 0, TCancelWay::Command, false},
        CancelCase{"InThePauseAfterTheExpansion", "single", TCancelMoment::WhenExpanded, 1, 0, TCancelWay::Command,
                   true}),
    CaseName());

// --- Failures with a message

struct FailureCase {
  const char* Name;  // the package
  const wchar_t* Caption;
  const wchar_t* Text;
  DWORD ExitCode;
};

class RunFailureTest : public RunTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RunFailureTest, ShowsItsMessageAndLeavesNothing) {
  const FailureCase& c = GetParam();
  std::string package = Package(c.Name);
  TRunOutcome outcome = Run(package, "");
  EXPECT_EQ(outcome.ExitCode, c.ExitCode);
  ASSERT_EQ(outcome.Boxes.size(), 1u);
  ExpectBox(outcome.Boxes[0], c.Caption, c.Text, TBoxOwner::ProgressWindow, MB_ICONERROR);
  EXPECT_TRUE(Payloads().empty());
  EXPECT_EQ(outcome.ExtractedNames.count(ReportName), 0u) << "a report was written";
  ExpectNothingLeft();
  // Quietly: the box's text goes to the log instead.
  std::string log = RunQuietly(package, "", c.ExitCode);
  std::wstring shown = std::wstring(c.Caption) + L": " + c.Text;
  EXPECT_NE(log.find(" message not shown: " + std::string(shown.begin(), shown.end()) + "\r\n"), std::string::npos)
      << log;
  EXPECT_TRUE(Payloads().empty());
  ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Packages, RunFailureTest,
    ::testing::Values(FailureCase{"nocab", L"Error", L"Could not extract package!", 103},
                      FailureCase{"emptycab", L"Error", L"Could not extract package!", 103},
                      FailureCase{"badheader", BilingualCaption, L"Could not extract files!", 104},
                      FailureCase{"halfcab", BilingualCaption, L"Could not extract files!", 104},
                      FailureCase{"baddata", BilingualCaption, L"Could not extract files!", 104},
                      FailureCase{"baddigest", BilingualCaption, L"Could not extract files!", 104},
                      FailureCase{"noflag", L"Error", L"An executable file is not specified!", 105},
                      FailureCase{"noassoc", L"Error", L"Could not execute the executable file!", 107},
                      FailureCase{"notexe", L"Error", L"Could not execute the executable file!", 107}),
    CaseName());

// A package whose cabinet, option list or digests come in a second language: Windows would pick the
// copy of the user's language, which need not be the one cabpack shows. Refused before anything
// is extracted.
TEST_F(RunTest, ResourceInASecondLanguageIsRefused) {
  for (const wchar_t* name : {L"CAB", L"OPT", L"SUM"}) {
    std::string package = Package("normal");
    HANDLE update = BeginUpdateResourceW(Wide(package).c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    char other[] = "another copy";
    ASSERT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), name, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), other,
                                sizeof other));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    std::string log = RunQuietly(package, "", 103);
    EXPECT_NE(log.find(" not run: the package carries its " + std::string(name, name + 3) + " resource more than once\r\n"),
              std::string::npos) << log;
    EXPECT_TRUE(Payloads().empty());
  }
  ExpectNothingLeft();
}

// A file that does not match its digest is named in the log; extract-only checks too, and a
// target the run made goes again.
TEST_F(RunTest, FileThatFailsItsDigest) {
  std::string package = Package("baddigest");
  std::string log = RunQuietly(package, "", 104);
  EXPECT_NE(log.find(" files do not match the package's digests: probe.exe\r\n"), std::string::npos) << log;
  RunQuietly(package, Plain(PsExtractSwitch) + " new", 104, "new");
  EXPECT_FALSE(IsExistingFolder(Temp / "new"));
  EXPECT_TRUE(Payloads().empty());
  ExpectNothingLeft();
}

// From its writing until its start, the flagged file is held: another program cannot take it away
// (or change it) in between.
TEST_F(RunTest, FlaggedFileCannotBeTakenAwayBeforeItStarts) {
  TRunScript script;
  script.RemoveWhenExpanded = "probe.exe";
  TRunOutcome outcome = Run(Package("single"), "", script);
  EXPECT_FALSE(outcome.Removed) << "the payload was taken away before its start";
  EXPECT_EQ(outcome.ExitCode, 0u);
  EXPECT_TRUE(outcome.Boxes.empty());
  EXPECT_EQ(Payloads().size(), 1u);
  ExpectNothingLeft();
}

TEST_F(RunTest, ReportThatCannotBeWrittenEndsTheProcess) {
  std::string package = Package("blocked");
  TRunOutcome outcome = Run(package, "");
  ASSERT_EQ(outcome.Boxes.size(), 1u);
  const TBoxSeen& box = outcome.Boxes[0];
  EXPECT_EQ(box.Caption, L"Error");
  EXPECT_EQ(box.Owner, TBoxOwner::None);
  EXPECT_EQ(box.Type, static_cast<UINT>(MB_OK));
  ASSERT_NE(outcome.ExitCode, 0u);
  // The error number ends in the fourth of the five blanks, the address fills eight digits (the
  // x64 runner's sixteen).
  std::wstring number = std::to_wstring(outcome.ExitCode);
  std::wstring start = L"Runtime error" + std::wstring(number.size() < 4 ? 4 - number.size() : 0, L' ') + number +
                       L" at ";
  ASSERT_EQ(box.Text.size(), start.size() + 2 * sizeof(void*)) << std::string(box.Text.begin(), box.Text.end());
  EXPECT_EQ(box.Text.substr(0, start.size()), start);
  EXPECT_EQ(box.Text.find_first_not_of(L"0123456789ABCDEF", start.size()), std::wstring::npos);
  EXPECT_TRUE(Payloads().empty());
  // The extract folder stays; the temporary cabinet is gone.
  ASSERT_FALSE(outcome.ExtractFolder.empty());
  EXPECT_TRUE(IsExistingFile(outcome.ExtractFolder + "\\probe.exe"));
  EXPECT_EQ(RunLeftovers(Work), std::vector<std::string>{NameOfPath(outcome.ExtractFolder)});
  DeleteFolderIfPresent(outcome.ExtractFolder);
  std::string log = RunQuietly(package, "", outcome.ExitCode);
  EXPECT_NE(log.find(" message not shown: Error: Runtime error"), std::string::npos) << log;
  RemoveRunLeftovers(Work);
}

// A cancel while the payload runs ends the wait and the window at once, but nothing of the
// payload's folder goes before the payload itself has ended.
TEST_F(RunTest, CancelWhileThePayloadRuns) {
  std::string package = Package("normal");
  SetEnvironmentVariableA("PROBE_SLEEP", "3000");
  TRunScript script;
  script.CancelAt = TCancelMoment::WhenMarquee;
  script.CancelDelayMs = 300;
  TRunOutcome outcome = Run(package, "", script);
  EXPECT_TRUE(outcome.CancelSent);
  EXPECT_TRUE(outcome.Boxes.empty());
  EXPECT_EQ(outcome.ExitCode, static_cast<DWORD>(ERROR_CANCELLED));
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  ASSERT_TRUE(payloads[0].count("end"));
  EXPECT_EQ(payloads[0]["NamesAtEnd"], "data|" + ReportName + "|probe.exe") << "deleted under the running payload";
  ULONGLONG payloadEnd = std::stoull(payloads[0]["end"]);
  EXPECT_GE(outcome.EndedAt, payloadEnd) << "the runner did not wait for the payload";
  ASSERT_NE(outcome.WindowGoneAtMs, 0u);
  EXPECT_LT(outcome.StartedAt + outcome.WindowGoneAtMs + 1000, payloadEnd) << "the window stayed while it waited";
  ExpectNothingLeft();
}

}  // namespace
