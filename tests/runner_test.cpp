#include <gtest/gtest.h>
#include <windows.h>

#include "format/protected_plain.h"
#include "runner/abandon.h"
#include "runner/messages.h"
#include "runner/report.h"
#include "runner/startup.h"
#include "runner/state.h"
#include "sys/system.h"
#include "tests/test_support.h"

namespace {

TEST(RuntimeError, NumberEndsInTheFourthBlank) {
  // The x86 runner shows 8 address digits, the x64 one 16.
  const std::string high = sizeof(uintptr_t) == 8 ? "00000000" : "";
  const struct {
    uint32_t Error;
    uintptr_t Address;
    std::string Expected;
  } cases[] = {
      {5, 0x00401234, "Runtime error   5 at " + high + "00401234"},
      {112, 0xABC, "Runtime error 112 at " + high + "00000ABC"},
      {1784, 0x7FFFFFFF, "Runtime error1784 at " + high + "7FFFFFFF"},
      {0, 0, "Runtime error   0 at " + high + "00000000"},
#ifdef _WIN64
      {5, 0x140001234, "Runtime error   5 at 0000000140001234"},
#endif
  };
  for (const auto& c : cases) EXPECT_EQ(RuntimeErrorText(c.Error, c.Address), c.Expected);
}

TEST(Messages, TextsInBothLanguages) {
  JapaneseMode = false;
  EXPECT_EQ(MessageText(MsgConfirm, "C:\\Out\\update"), "Are files extracted to \"C:\\Out\\update\"?");
  EXPECT_EQ(MessageText(MsgFolderFailed, "X:\\a"), "Could not create \"X:\\a\" folder!");
  EXPECT_EQ(MessageText(MsgExtracted, "C:\\o"), "Files are extracted to \"C:\\o\".");
  EXPECT_EQ(MessageText(MsgDeclined, ""), "Extraction of file was canceled.");
  EXPECT_EQ(MessageCaption(MsgDeclined), "Extracts of files");
  EXPECT_EQ(MessageCaption(MsgStartFailed), "Error");

  // Kept in code page 932, given in UTF-8 like the folder in them, whatever the system's code page.
  JapaneseMode = true;
  EXPECT_EQ(MessageText(MsgConfirm, "C:\\ファーム"), "ファイルを \"C:\\ファーム\" へ抽出しますか？");
  EXPECT_EQ(MessageCaption(MsgExtractionFailed), "ファイルの抽出");
  // The English-only messages stay English in Japanese mode.
  EXPECT_EQ(MessageText(MsgProgramMissing, ""), "An executable file is not found!");
  EXPECT_EQ(MessageCaption(MsgProgramMissing), "Error");
  JapaneseMode = false;
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DecodeProtectedStrings();
    PackageOptions = TPackageOptions();
    ExtractFolder = Folder.Path;
    ASSERT_TRUE(HoldFolderChain(Folder.Path, ExtractChain));
    RunnerArguments = {"C:\\My Packages\\update.exe"};
    LanguageId = "0411";
    LanguageName = "JPN";
  }
  void TearDown() override { ReleaseFolders(ExtractChain); }
  static std::string Plain(ProtectedId id) { return PlainText(id); }
  TempFolder Folder;
};

TEST_F(ReportTest, FirstSectionBesideTheProgram) {
  const struct {
    std::string Payload, ReportName;
  } cases[] = {
      {"setup.exe", "setup." + Plain(PsReportExtension)},
      {"tool\\flash.cmd", "tool\\flash." + Plain(PsReportExtension)},
      {"noextension", "noextension." + Plain(PsReportExtension)},
  };
  CreateDirectoryA((Folder / "tool").c_str(), nullptr);
  for (const auto& c : cases) {
    PayloadName = c.Payload;
    WriteEnvironmentReport();
    EXPECT_EQ(ReportPath, Folder / c.ReportName);
    std::string separator = Plain(PsKeySeparator);
    std::string expected = "[" + Plain(PsRunnerSection) + "]\r\n" +
                           Plain(PsRunnerPathKey) + separator + "C:\\My Packages\\update.exe\r\n" +
                           Plain(PsLanguageIdKey) + separator + "0411\r\n" +
                           Plain(PsLanguageNameKey) + separator + "JPN\r\n" +
                           Plain(PsAdministratorKey) + separator + "1\r\n" +
                           Plain(PsStartFolderKey) + separator + CurrentFolder() + "\r\n";
    EXPECT_EQ(ReadWholeFile(ReportPath), expected) << c.Payload;
  }
}

TEST_F(ReportTest, OldReportIsReplaced) {
  PayloadName = "setup.exe";
  std::string report = Folder / ("setup." + Plain(PsReportExtension));
  WriteTextFile(report, std::string(5000, '#'));
  WriteEnvironmentReport();
  EXPECT_EQ(ReadWholeFile(report).find('#'), std::string::npos);
  EXPECT_LT(ReadWholeFile(report).size(), 500u);
}

// Without exceptions, running out of memory ends the process where it stands: the extract folder
// this run made goes with it, and no box is shown (the child would wait on it). A folder at the
// extract folder's name that the run did not make stays.
TEST(AbandonRun, RemovesWhatTheRunMadeAndEnds) {
  char temp[MAX_PATH + 1];
  GetTempPathA(sizeof temp, temp);
  for (bool made : {true, false}) {
    SCOPED_TRACE(made ? "folder made by the run" : "folder found at the name");
    // Fixed names: the child process runs this body again and must meet the same files.
    ExtractFolder = std::string(temp) + "cabrun_abandon_test";
    ASSERT_TRUE(MakeFolders(ExtractFolder + "\\sub"));
    ASSERT_TRUE(WriteTextFile(ExtractFolder + "\\sub\\setup.exe", "MZ"));
    // Held in the child only: the parent's handles would keep the child from deleting.
    EXPECT_EXIT(
        {
          HoldFolderChain(ExtractFolder, ExtractChain);
          ExtractChain.back().Made = made;
          AbandonRun(ERROR_NOT_ENOUGH_MEMORY);
        },
        testing::ExitedWithCode(ERROR_NOT_ENOUGH_MEMORY), "");
    EXPECT_EQ(IsExistingFolder(ExtractFolder), !made);
    DeleteFolderIfPresent(ExtractFolder);
  }
}

}  // namespace
