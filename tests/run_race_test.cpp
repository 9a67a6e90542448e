// Another user of the machine racing the run for its names, and where the temporary cabinet goes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/run_harness.h"

namespace {

// --- Another user racing the run for its names

// The extract folder is held from its making to the clean-up: another program of the user's (the
// temp folder is theirs) cannot rename it away after the expansion and put a folder of its own with
// its own program at its name, to be started as administrator. The cabinet is read from the
// package itself: no cabinet file ever lies in the work folder.
TEST_F(RunTest, ExtractFolderCannotBeSwappedBeforeTheStart) {
  TSquatter squatter(Work, TSquat::SwapExtractFolder, "");
  TRunOutcome outcome = Run(Package("single"), "");
  squatter.Finish();
  EXPECT_EQ(squatter.Planted, "") << "the extract folder was renamed away";
  EXPECT_EQ(squatter.CabinetFileSeen, "") << "a cabinet was written";
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0].count("Report"), 1u) << "a program other than the payload ran";
  if (!squatter.Planted.empty()) {
    DeleteFolderIfPresent(squatter.Planted);
    DeleteFolderIfPresent(squatter.Planted + ".away");
  }
  ExpectNothingLeft();
}

// Another user may take the extract folder's name of every number but one, as folders or as links:
// the run passes over them to the free pair and leaves what it found alone. With no pair free, the
// run goes to the temp folder, as it does where the maker's folder cannot be trusted (under Wine,
// where that is the temp folder already, no package runs: 102).
TEST_F(RunTest, TakenExtractFolderNamesArePassedOver) {
  TempFolder victim;
  ASSERT_TRUE(WriteTextFile(victim / "keep.txt", "precious"));
  std::string unix = UnixPath(Work), done = UnixPath(Records / "done");
  ASSERT_TRUE(StartUnixProgram("/bin/sh", "sh -c \"cd '" + unix + "' && ln -s '" + UnixPath(victim.Path) +
                                              "' _cab1.tmp && printf '_cab%x.tmp\\n' $(seq 2 65535 | grep -vx 4660) "
                                              "| xargs mkdir && touch '" + done + "'\""));
  for (int round = 0; round < 3000 && !IsExistingFile(Records / "done"); ++round) Sleep(100);  // 65535 folders: slow on a busy machine
  ASSERT_TRUE(IsExistingFile(Records / "done"));
  TRunOutcome outcome = Run(Package("single"), "");
  EXPECT_TRUE(outcome.Boxes.empty());
  ASSERT_EQ(Payloads().size(), 1u);
  EXPECT_EQ(FolderOfPath(Payloads()[0]["Module"]), Work + "\\_cab1234.tmp\\");

  ASSERT_TRUE(CreateDirectoryA((Work + "\\_cab1234.tmp").c_str(), nullptr));
  DeleteFileA(Record.c_str());
  outcome = Run(Package("single"), "");
  bool common = Work == CommonWorkFolder();
  EXPECT_EQ(outcome.ExitCode, common ? 0u : 102u);
  EXPECT_EQ(Payloads().size(), common ? 1u : 0u);
  EXPECT_EQ(Tree(victim.Path), std::set<std::string>{"keep.txt"});
  EXPECT_TRUE(IsExistingFolder(Work + "\\_cabffff.tmp")) << "a taken name was removed";

  RemoveRunLeftovers(Work);
  ExpectNothingLeft();
}

// --- Where the temporary cabinet goes

// A file of the common folder's name, or a link there (which another user may have put in place
// of the folder), sends the run to the temp folder.
class RunBlockedWorkFolderTest : public RunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RunBlockedWorkFolderTest, TemporaryCabinetInTheTempFolder) {
  std::string package = Package("normal");
  TempFolder temp, elsewhere;
  TRunOutcome outcome;
  {
    BlockedWorkFolder blocked(CommonWorkFolder(), temp.Path, GetParam() ? elsewhere.Path : std::string());
    ASSERT_TRUE(blocked.Blocked);
    outcome = Run(package, "");
  }
  EXPECT_TRUE(outcome.Boxes.empty());
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  std::string folder = WithoutTrailingBackslash(FolderOfPath(payloads[0]["Module"]));
  EXPECT_EQ(FolderOfPath(folder), WithTrailingBackslash(temp.Path));
  EXPECT_EQ(NameOfPath(folder).substr(0, 4), "_cab");
  EXPECT_TRUE(Tree(temp.Path).empty()) << "left in the temp folder";
  EXPECT_TRUE(Tree(elsewhere.Path).empty()) << "used the link";
  ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Blockers, RunBlockedWorkFolderTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Link" : "File"; });

TEST_F(RunTest, NoTemporaryCabinetAnywhere) {
  std::string package = Package("normal");
  TRunOutcome outcome;
  {
    BlockedWorkFolder blocked(CommonWorkFolder(), Temp / "missing");
    ASSERT_TRUE(blocked.Blocked);
    outcome = Run(package, "");
    RunQuietly(package, "", 102);
  }
  EXPECT_EQ(outcome.ExitCode, 102u);
  ASSERT_EQ(outcome.Boxes.size(), 1u);
  ExpectBox(outcome.Boxes[0], L"Error", L"Could not create package!", TBoxOwner::None, MB_ICONERROR);
  EXPECT_TRUE(outcome.WindowStates.empty()) << "a window was shown";
  EXPECT_TRUE(Payloads().empty());
  ExpectNothingLeft();
}

}  // namespace
