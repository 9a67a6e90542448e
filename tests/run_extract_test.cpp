// Extract-only runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/run_harness.h"

namespace {

// --- Extract-only mode

TEST_F(RunTest, ExtractOnlyIntoANewFolder) {
  std::string package = Package("normal");
  std::string target = Temp / "new";
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch) + " new", TRunScript(), "new");
  EXPECT_EQ(outcome.ExitCode, 0u);
  ASSERT_EQ(outcome.Boxes.size(), 2u);
  ExpectBox(outcome.Boxes[0], BilingualCaption, L"Are files extracted to \"" + Wide(target) + L"\"?", TBoxOwner::None,
            MB_OKCANCEL | MB_ICONQUESTION);
  ExpectBox(outcome.Boxes[1], BilingualCaption, L"Files are extracted to \"" + Wide(target) + L"\".",
            TBoxOwner::ProgressWindow, MB_OK);
  EXPECT_EQ(ReadWholeFile(target + "\\data\\one.txt"), "data/one.txt of normal\n");
  EXPECT_TRUE(Payloads().empty());
  std::string log = RunQuietly(package, Plain(PsExtractSwitch) + " quiet", 0, "quiet");
  EXPECT_EQ(ReadWholeFile(Temp / "quiet\\data\\one.txt"), "data/one.txt of normal\n");
  EXPECT_NE(log.find(" message not shown: Extracts of files: Are files extracted to \"" + Temp / "quiet" + "\"?\r\n"),
            std::string::npos) << log;
  EXPECT_TRUE(Payloads().empty());
  ExpectNothingLeft();
}

TEST_F(RunTest, ExtractOnlyIntoAnExistingFolderUsesASubfolder) {
  std::string package = Package("normal");
  MakeFolders(Temp / "out\\normal\\old");
  ASSERT_TRUE(WriteTextFile(Temp / "out\\normal\\old\\stale.txt", "stale"));
  std::string target = Temp / "out\\normal";
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch) + " out", TRunScript(), "out\\normal");
  ASSERT_EQ(outcome.Boxes.size(), 2u);
  EXPECT_EQ(outcome.Boxes[0].Text, L"Are files extracted to \"" + Wide(target) + L"\"?");
  EXPECT_EQ(outcome.Boxes[1].Text, L"Files are extracted to \"" + Wide(target) + L"\".");
  EXPECT_TRUE(IsExistingFile(target + "\\probe.exe"));
  EXPECT_EQ(ReadWholeFile(Temp / "out\\normal\\old\\stale.txt"), "stale") << "the user's file is gone";
  ExpectNothingLeft();

  // Files of the package's names are replaced, whole; a damaged package leaves the folder as it was.
  ASSERT_TRUE(WriteTextFile(target + "\\data\\one.txt", std::string(5000, 'o')));
  Run(package, Plain(PsExtractSwitch) + " out", TRunScript(), "out\\normal");
  EXPECT_EQ(ReadWholeFile(target + "\\data\\one.txt"), "data/one.txt of normal\n");
  std::set<std::string> before = Tree(target);
  ASSERT_TRUE(CopyFileA(Package("badheader").c_str(), (Temp / "normal.exe").c_str(), FALSE));
  RunQuietly(Temp / "normal.exe", Plain(PsExtractSwitch) + " out", 104, "out\\normal");
  EXPECT_EQ(Tree(target), before);
  ExpectNothingLeft();
}

// Another user's links, in or above a target that lies where they may write, take no file and no
// deletion elsewhere: a link on the way to the target stops the run before anything is written
// (101); a link or a second name planted in the target ends the expansion (104).
struct PlantedLinkCase {
  const char* Name;
  const char* Package;
  const char* Folder;  // the extract-only switch's folder, which holds the target
  const char* Link;    // a link to the victim's folder, planted before the run; or
  TSquat Racer;        // a link to victim.sys planted as target\files\file9.txt during the expansion
  DWORD ExitCode;
};

class RunPlantedLinkTest : public RunTest, public ::testing::WithParamInterface<PlantedLinkCase> {};

TEST_P(RunPlantedLinkTest, NothingWrittenOrDeletedElsewhere) {
  const PlantedLinkCase& c = GetParam();
  TempFolder victim;
  ASSERT_TRUE(MakeFolders(victim / "normal"));
  for (const char* name : {"victim.sys", "normal\\keep.txt"}) ASSERT_TRUE(WriteTextFile(victim / name, "precious"));
  std::string package = Package(c.Package);
  ASSERT_TRUE(MakeFolders(Temp / "out"));
  if (*c.Link) {
    MakeFolders(FolderOfPath(Temp / c.Link));
    ASSERT_TRUE(MakeUnixLink(victim.Path, Temp / c.Link));
  }
  TSquatter racer(Temp / "out\\many\\files", c.Racer, victim / "victim.sys");
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch) + " " + c.Folder, TRunScript(), "out");
  racer.Finish();
  // Wine's handles follow links to files, so that the runner cannot see one: it replaces the link.
  bool replaced = c.Racer == TSquat::FileLink && outcome.ExitCode == 0;
  EXPECT_EQ(replaced ? c.ExitCode : outcome.ExitCode, c.ExitCode);
  EXPECT_EQ(ReadWholeFile(victim / "victim.sys"), "precious");
  EXPECT_EQ(Tree(victim.Path), (std::set<std::string>{"normal", "normal\\keep.txt", "victim.sys"}));
  if (*c.Link) RemoveUnixLink(Temp / c.Link);
  if (c.Racer != TSquat::None) {
    EXPECT_FALSE(racer.Planted.empty()) << "the expansion was over first";
    if (c.Racer == TSquat::FileLink) RemoveUnixLink(racer.Planted);
  }
  ExpectNothingLeft();
}

// Link: a junction a standard user made, named as the folder or above it; a folder of the package
// in a target that was there already. The racers plant while the expansion runs.
INSTANTIATE_TEST_SUITE_P(
    Links, RunPlantedLinkTest,
    ::testing::Values(PlantedLinkCase{"LinkAsTheChosenFolder", "normal", "out\\link", "out\\link", TSquat::None, 101},
                      PlantedLinkCase{"LinkAboveTheTarget", "normal", "out\\link\\new", "out\\link", TSquat::None, 101},
                      PlantedLinkCase{"LinkAsAFolderOfThePackage", "normal", "out", "out\\normal\\data", TSquat::None, 104},
                      PlantedLinkCase{"LinkAsAFile", "many", "out", "", TSquat::FileLink, 104},
                      PlantedLinkCase{"SecondNameOfAFile", "many", "out", "", TSquat::SecondName, 104}),
    CaseName());

// Where the switch is not followed by a folder, the target is the runner's name in the current folder.
class ExtractTargetTest : public RunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExtractTargetTest, DefaultsToTheRunnersName) {
  std::string package = Package("normal");
  std::string target = Temp / "normal";
  TRunOutcome outcome = Run(package, WithSwitches(GetParam()), TRunScript(), "normal");
  ASSERT_EQ(outcome.Boxes.size(), 2u);
  EXPECT_EQ(outcome.Boxes[0].Text, L"Are files extracted to \"" + Wide(target) + L"\"?");
  EXPECT_EQ(outcome.Boxes[1].Text, L"Files are extracted to \"" + Wide(target) + L"\".");
  EXPECT_TRUE(IsExistingFile(target + "\\data\\two.txt"));
  EXPECT_FALSE(IsExistingFolder(Temp / "new"));
  ExpectNothingLeft();
}

// Alone; followed by a switch, which is read as one; repeated after a folder.
INSTANTIATE_TEST_SUITE_P(Arguments, ExtractTargetTest,
                         ::testing::Values("EXTRACT", "EXTRACT LANG=ENU", "EXTRACT new EXTRACT"));

TEST_F(RunTest, ExtractOnlyDeclined) {
  std::string package = Package("normal");
  TRunScript script;
  script.Answers = {IDCANCEL};
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch) + " new", script);
  EXPECT_EQ(outcome.ExitCode, static_cast<DWORD>(ERROR_CANCELLED));
  ASSERT_EQ(outcome.Boxes.size(), 2u);
  EXPECT_EQ(outcome.Boxes[0].Type, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
  ExpectBox(outcome.Boxes[1], BilingualCaption, L"Extraction of file was canceled.", TBoxOwner::None, MB_OK);
  EXPECT_TRUE(outcome.WindowStates.empty()) << "a window was shown";
  ExpectNothingLeft();
}

TEST_F(RunTest, ExtractOnlyTargetThatCannotBeMade) {
  std::string package = Package("normal");
  ASSERT_TRUE(WriteTextFile(Temp / "file", "a file, not a folder"));
  std::string target = Temp / "file\\sub";
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch) + " " + target);
  EXPECT_EQ(outcome.ExitCode, 101u);
  ASSERT_EQ(outcome.Boxes.size(), 2u);
  ExpectBox(outcome.Boxes[1], BilingualCaption, L"Could not create \"" + Wide(target) + L"\" folder!",
            TBoxOwner::None, MB_ICONERROR);
  EXPECT_TRUE(outcome.WindowStates.empty()) << "a window was shown";
  RunQuietly(package, Plain(PsExtractSwitch) + " " + target, 101);
  ExpectNothingLeft();
}

TEST_F(RunTest, ExtractOnlyWithADamagedCabinetRemovesTheTarget) {
  std::string package = Package("badheader");
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch) + " new", TRunScript(), "new");
  EXPECT_EQ(outcome.ExitCode, 104u);
  ASSERT_EQ(outcome.Boxes.size(), 2u);
  ExpectBox(outcome.Boxes[1], BilingualCaption, L"Could not extract files!", TBoxOwner::ProgressWindow,
            MB_ICONERROR);
  EXPECT_FALSE(IsExistingFolder(Temp / "new"));
  RunQuietly(package, Plain(PsExtractSwitch) + " new", 104, "new");
  EXPECT_FALSE(IsExistingFolder(Temp / "new"));
  ExpectNothingLeft();
}

TEST_F(RunTest, ExtractOnlyCancelledKeepsWhatWasExtracted) {
  std::string package = Package("many");
  TRunScript script;
  script.CancelAt = TCancelMoment::AfterPositions;
  script.Positions = 3;
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch) + " new", script, "new");
  EXPECT_TRUE(outcome.CancelSent);
  ASSERT_EQ(outcome.Boxes.size(), 1u) << "a message after the cancel";
  size_t extracted = Tree(Temp / "new\\files").size();
  EXPECT_GT(extracted, 0u);
  EXPECT_LT(extracted, 40u);
  EXPECT_TRUE(Payloads().empty());
  ExpectNothingLeft();
}

// A vendor's folder whose names are German, Japanese and Korean (which neither code page 1252
// nor 932 holds), stored in UTF-8, works on every system: run normally, quietly and extract-only,
// every file arrives under its own name with its bytes, and the payload finds them beside it.
class NamesInAnyScriptTest : public RunTest {
 protected:
  void Check() {
    std::string package = Package("vendor");
    TRunOutcome outcome = Run(package, "");
    EXPECT_TRUE(outcome.Boxes.empty());
    std::vector<TProbeRecord> payloads = Payloads();
    ASSERT_EQ(payloads.size(), 1u);
    EXPECT_EQ(payloads[0]["NamesAtEnd"], "probe.env|probe.exe|Überprüfung.txt|ファームウェア更新.txt|한국어");
    DeleteFileA(Record.c_str());
    RunQuietly(package, "", 0);
    EXPECT_EQ(Payloads().size(), 1u);
    RunQuietly(package, Plain(PsExtractSwitch) + " out", 0, "out");
    for (const char* name : {"Überprüfung.txt", "ファームウェア更新.txt", "한국어/설명.txt"}) {
      std::string path = name;
      std::replace(path.begin(), path.end(), '/', '\\');
      EXPECT_EQ(ReadWholeFile(Temp / ("out\\" + path)), std::string(name) + " of vendor\n") << name;
    }
    ExpectNothingLeft();
  }
};

TEST_F(NamesInAnyScriptTest, OnAWesternSystem) { Check(); }
TEST_F(NamesInAnyScriptTest, JapaneseSystemToo) { Check(); }

}  // namespace
