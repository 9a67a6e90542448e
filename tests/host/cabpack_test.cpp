// cabpack as its users meet it: the option list it writes, what goes into the cabinet, and
// every bad input ending with a clear message, a non-zero exit code and nothing left behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "runner/protected_plain.h"
#include "tests/host/cabpack_test_image.h"
#include "packager/package_cabinet.h"
#include "packager/package_cli.h"
#include "packager/package_host.h"
#include "packager/package_options.h"
#include "packager/pe_resources.h"

namespace fs = std::filesystem;

namespace {

// The runner's own key (or value) with this id: the option list must use exactly these.
std::string Plain(ProtectedId id) { return PlainText(id); }

// Option-list entries "key=value" followed by their NULs and the closing one.
std::string List(std::vector<std::string> entries) {
  std::string list;
  for (const std::string& e : entries) list += e + '\0';
  return list + '\0';
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

class CabpackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cabpack_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Folder = pattern;
    Stub = (Folder / "stub.exe").string();
    Source = Folder / "src";
    Out = (Folder / "out" / "package.exe").string();
    fs::create_directories(Folder / "out");
    WriteFile(Stub, MakeImage({{".text", std::string(0x300, '\xC3')}}));
    WriteFile(Source / "setup.exe", "MZ payload");
    WriteFile(Source / "data" / "table.txt", "1 2 3\n");
    unsetenv("SOURCE_DATE_EPOCH");
  }
  void TearDown() override {
    unsetenv("SOURCE_DATE_EPOCH");
    std::error_code ec;
    fs::permissions(Folder, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Folder, ec);
  }

  int Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = RunCabpack(args, out, err);
    Output = out.str();
    Error = err.str();
    return code;
  }
  int Pack(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--source", Source.string(), "--run", "setup.exe", "--stub", Stub, "-o", Out};
    args.insert(args.end(), more.begin(), more.end());
    return Run(args);
  }
  std::set<std::string> OutFolder() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(Folder / "out")) names.insert(e.path().filename().string());
    return names;
  }
  std::vector<ResourceItem> Resources(const std::string& path) {
    PeImage image;
    std::string error;
    std::vector<ResourceItem> items;
    EXPECT_TRUE(ReadPeImage(ReadFile(path), image, error) && ReadResources(image, items, error)) << error;
    return items;
  }
  CabinetTable Cabinet(const std::string& path) {
    CabinetTable table;
    std::string error;
    const ResourceItem* cab = nullptr;
    std::vector<ResourceItem> items = Resources(path);
    cab = FindRcData(items, "CAB");
    EXPECT_TRUE(cab && ReadCabinetTable(cab->Data, table, error)) << error;
    return table;
  }

  fs::path Folder, Source;
  std::string Stub, Out, Output, Error;
};

}  // namespace

TEST(OptionList, HoldsTheChosenOptionsInTableOrderWithTheRunnersKeys) {
  int hide = FindPackageOption("hidewhilerunning"), extract = FindPackageOption("AllowExtractSwitch");
  int power = FindPackageOption("REPORTPOWERSTATUS");
  ASSERT_GE(hide, 0);
  ASSERT_GE(extract, 0);
  ASSERT_GE(power, 0);
  EXPECT_EQ(FindPackageOption("HideWhileRunnin"), -1);
  EXPECT_EQ(FindPackageOption(""), -1);
  const struct {
    std::vector<OptionChoice> Choices;
    std::string Expected;
  } cases[] = {
      {{}, List({})},
      {{{hide, true}}, List({Plain(PsHideWhileRunning) + "=" + Plain(PsOptionOn)})},
      {{{power, false}, {extract, true}},
       List({Plain(PsAllowExtractSwitch) + "=" + Plain(PsOptionOn), Plain(PsReportPowerStatus) + "=0"})},
      {{{hide, true}, {hide, false}}, List({Plain(PsHideWhileRunning) + "=0"})},  // the last choice wins
  };
  for (const auto& c : cases) EXPECT_EQ(BuildOptionList(c.Choices), c.Expected);
  // The fixed arguments go last, as written, also when empty.
  EXPECT_EQ(BuildOptionList({{hide, true}}, std::string("/s \"a b\" x=1")),
            List({Plain(PsHideWhileRunning) + "=" + Plain(PsOptionOn), Plain(PsArguments) + "=/s \"a b\" x=1"}));
  EXPECT_EQ(BuildOptionList({}, std::string()), List({Plain(PsArguments) + "="}));
}

TEST(OptionList, ReadsBackLikeTheRunner) {
  std::string lower = Plain(PsHideWhileRunning);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  std::vector<OptionListEntry> entries = ReadOptionList(
      List({lower + "=" + Plain(PsOptionOn), Plain(PsStartWithoutWaiting) + "=yes", "=1", "Other=1",
            Plain(PsArguments) + "=a=b", "", Plain(PsAllowExtractSwitch) + "=1"}));
  ASSERT_EQ(entries.size(), 5u);  // reading stops at the empty entry
  EXPECT_EQ(entries[0].Option, FindPackageOption("HideWhileRunning"));
  EXPECT_TRUE(entries[0].On);
  EXPECT_EQ(entries[1].Option, FindPackageOption("StartWithoutWaiting"));
  EXPECT_FALSE(entries[1].On);
  EXPECT_EQ(entries[2].Option, -1);
  EXPECT_EQ(entries[3].Option, -1);
  EXPECT_FALSE(entries[3].Arguments);
  EXPECT_TRUE(entries[4].Arguments);
  EXPECT_EQ(entries[4].Value, "a=b");
  EXPECT_TRUE(DefaultOptionState(FindPackageOption("AllowExtractSwitch")));
  EXPECT_FALSE(DefaultOptionState(FindPackageOption("ReportBidWord")));
}

TEST(DosTime, ClampsToTheRangeTheFormatHolds) {
  const struct {
    int64_t Seconds;
    uint16_t Date, Time;
  } cases[] = {
      {946728000, (20 << 9) | (1 << 5) | 1, 12 << 11},               // 2000-01-01 12:00:00
      {946728001, (20 << 9) | (1 << 5) | 1, 12 << 11},               // odd seconds round down
      {0, (0 << 9) | (1 << 5) | 1, 0},                               // before 1980
      {4354819200, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},  // after 2107
  };
  for (const auto& c : cases) {
    uint16_t date = 0, time = 0;
    DosDateTime(c.Seconds, true, date, time);
    EXPECT_EQ(date, c.Date) << c.Seconds;
    EXPECT_EQ(time, c.Time) << c.Seconds;
  }
}

TEST_F(CabpackTest, PacksTheFolderWithOptionsAndTheRunFlag) {
  fs::permissions(Source / "data" / "table.txt", fs::perms::owner_write | fs::perms::group_write |
                  fs::perms::others_write, fs::perm_options::remove);
  WriteFile(Source / ".config", "x");
  ASSERT_EQ(Pack({"--on", "HideWhileRunning", "--off", "allowextractswitch"}), 0) << Error;
  EXPECT_EQ(OutFolder(), std::set<std::string>{"package.exe"});
  EXPECT_EQ(FindRcData(Resources(Out), "OPT")->Data,
            List({Plain(PsAllowExtractSwitch) + "=0", Plain(PsHideWhileRunning) + "=" + Plain(PsOptionOn)}));
  CabinetTable table = Cabinet(Out);
  ASSERT_EQ(table.Files.size(), 3u);
  EXPECT_EQ(table.FolderCompression, std::vector<uint16_t>{1});  // MSZIP by default
  EXPECT_EQ(table.Files[0].Name, ".config");
  EXPECT_EQ(table.Files[0].Attributes, 0x22);  // a dot file is hidden
  EXPECT_EQ(table.Files[1].Name, "data\\table.txt");
  EXPECT_EQ(table.Files[1].Attributes, 0x21);
  EXPECT_EQ(table.Files[2].Name, "setup.exe");
  EXPECT_EQ(table.Files[2].Attributes, 0x60);
  EXPECT_EQ(table.Files[2].Size, 10u);
}

TEST_F(CabpackTest, TakesFileTimesOrSourceDateEpoch) {
  fs::last_write_time(Source / "setup.exe", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  ASSERT_EQ(Pack(), 0) << Error;
  int64_t modified = 0;
  uint16_t attributes = 0, date = 0, time = 0;
  ASSERT_TRUE(ReadFileFacts(Source / "setup.exe", modified, attributes));
  DosDateTime(modified, false, date, time);
  EXPECT_EQ(Cabinet(Out).Files[1].Date, date);
  EXPECT_EQ(Cabinet(Out).Files[1].Time, time);

  setenv("SOURCE_DATE_EPOCH", "946728000", 1);
  ASSERT_EQ(Pack(), 0) << Error;
  for (const CabinetEntry& e : Cabinet(Out).Files) {
    EXPECT_EQ(e.Date, (20 << 9) | (1 << 5) | 1);
    EXPECT_EQ(e.Time, 12 << 11);
  }
}

TEST_F(CabpackTest, TwoRunsGiveTheSameBytes) {
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  ASSERT_EQ(Pack({"--on", "ReportBidWord"}), 0) << Error;
  std::string first = ReadFile(Out);
  ASSERT_EQ(Pack({"--on", "ReportBidWord"}), 0) << Error;
  EXPECT_EQ(ReadFile(Out), first);
  ASSERT_EQ(Pack({"--on", "ReportBidWord", "--compression", "none"}), 0) << Error;
  EXPECT_NE(ReadFile(Out), first);
  EXPECT_EQ(Cabinet(Out).FolderCompression, std::vector<uint16_t>{0});
}

TEST_F(CabpackTest, RepacksAPackage) {
  ASSERT_EQ(Pack({"--on", "HideWhileRunning"}), 0) << Error;
  std::string first = (Folder / "first.exe").string();
  fs::rename(Out, first);
  WriteFile(Source / "more.txt", "more");
  ASSERT_EQ(Run({"--source", Source.string(), "--run", "data/table.txt", "--stub", first, "-o", Out}), 0) << Error;
  std::vector<ResourceItem> items = Resources(Out);
  EXPECT_EQ(items.size(), 2u);
  EXPECT_EQ(FindRcData(items, "OPT")->Data, List({}));
  CabinetTable table = Cabinet(Out);
  ASSERT_EQ(table.Files.size(), 3u);
  EXPECT_EQ(table.Files[0].Attributes & 0x40, 0x40);  // data\table.txt now
  EXPECT_EQ(table.Files[2].Attributes & 0x40, 0);
  EXPECT_EQ(Get16(ReadFile(Out), 0x40 + 6), Get16(ReadFile(first), 0x40 + 6));  // replaced in place
}

TEST_F(CabpackTest, ConvertsNamesIntoTheNamedCodePage) {
  WriteFile(Source / "caf\xC3\xA9.txt", "1252");
  ASSERT_EQ(Pack({"--codepage", "1252"}), 0) << Error;
  EXPECT_EQ(Cabinet(Out).Files[0].Name, "caf\xE9.txt");
  fs::remove(Source / "caf\xC3\xA9.txt");
  WriteFile(Source / "\xE3\x81\x82.txt", "hiragana a");
  ASSERT_EQ(Pack({"--codepage", "932"}), 0) << Error;
  EXPECT_EQ(Cabinet(Out).Files.back().Name, "\x82\xA0.txt");
}

TEST_F(CabpackTest, ListsWhatWentIn) {
  ASSERT_EQ(Pack({"--on", "ReportPowerStatus", "--off", "AllowLanguageSwitch", "--on", "passexitcode", "--arguments",
                  "/quiet \"a b\""}),
            0)
      << Error;
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("PassExitCode          on   (" + Plain(PsPassExitCode) + "=" + Plain(PsOptionOn) + ")"),
            std::string::npos) << Output;
  EXPECT_NE(Output.find("AllowQuietSwitch      on   (default)"), std::string::npos) << Output;
  EXPECT_NE(Output.find("Arguments             \"/quiet \"a b\"\"\n"), std::string::npos) << Output;
  EXPECT_EQ(Output.find("ignored entry"), std::string::npos) << Output;
  EXPECT_NE(Output.find("RCDATA        CAB"), std::string::npos) << Output;
  EXPECT_NE(Output.find("ReportPowerStatus     on   (" + Plain(PsReportPowerStatus) + "=" + Plain(PsOptionOn) + ")"),
            std::string::npos) << Output;
  EXPECT_NE(Output.find("AllowLanguageSwitch   off  (" + Plain(PsAllowLanguageSwitch) + "=0)"), std::string::npos)
      << Output;
  EXPECT_NE(Output.find("AllowExtractSwitch    on   (default)"), std::string::npos) << Output;
  EXPECT_NE(Output.find("setup.exe   <- run after extraction"), std::string::npos) << Output;
  EXPECT_NE(Output.find("data\\table.txt\n"), std::string::npos) << Output;
  EXPECT_NE(Output.find("compression MSZIP"), std::string::npos) << Output;
}

TEST_F(CabpackTest, ListsACabinetMadeByAnotherTool) {
  std::string gcab = (Folder / "other.cab").string();
  ASSERT_EQ(std::system(("cd '" + Source.string() + "' && gcab -c '" + gcab + "' setup.exe data/table.txt").c_str()), 0);
  PeImage image;
  std::string error, package;
  std::vector<ResourceItem> items;
  ASSERT_TRUE(ReadPeImage(ReadFile(Stub), image, error));
  PutRcData(items, "CAB", ReadFile(gcab));
  ASSERT_TRUE(RebuildResources(image, items, package, error));
  WriteFile(Out, package);
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("2 files, 16 bytes unpacked; compression none"), std::string::npos) << Output;
  EXPECT_NE(Output.find("(no option list"), std::string::npos) << Output;
  EXPECT_NE(Output.find("Arguments             (none)\n"), std::string::npos) << Output;
  EXPECT_NE(Output.find("Warning: no file in the cabinet is flagged"), std::string::npos) << Output;
  // Without a flagged file the runner could never run it: --cab refuses it.
  EXPECT_EQ(Run({"--cab", gcab, "--stub", Stub, "-o", (Folder / "out" / "x.exe").string()}), 1);
  EXPECT_NE(Error.find("flagged"), std::string::npos) << Error;
}

TEST_F(CabpackTest, EmbedsACabinetUnchanged) {
  ASSERT_EQ(Pack(), 0) << Error;
  std::string cab = (Folder / "saved.cab").string();
  ASSERT_EQ(Run({"--save-cab", Out, "-o", cab}), 0) << Error;
  std::string again = (Folder / "out" / "again.exe").string();
  ASSERT_EQ(Run({"--cab", cab, "--on", "HideWhileRunning", "--stub", Stub, "-o", again}), 0) << Error;
  EXPECT_EQ(FindRcData(Resources(again), "CAB")->Data, ReadFile(cab));
}

TEST_F(CabpackTest, ReadsACabinetWithAReservedArea) {
  std::vector<CabFile> files(2);
  files[0].Name = "readme.txt", files[0].Data = "read me", files[0].Attributes = 0x20;
  files[1].Name = "bin\\go.exe", files[1].Data = "MZ go", files[1].Attributes = 0x61;
  CabOptions options;
  options.ReservedHeaderBytes = 20;
  std::string cab = (Folder / "reserved.cab").string(), error;
  ASSERT_TRUE(WriteCabinet(files, options, cab, error)) << error;
  ASSERT_EQ(Run({"--cab", cab, "--stub", Stub, "-o", Out}), 0) << Error;
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("2 files, 12 bytes unpacked"), std::string::npos) << Output;
  EXPECT_NE(Output.find("R--A  bin\\go.exe   <- run after extraction"), std::string::npos) << Output;
  EXPECT_NE(Output.find("---A  readme.txt"), std::string::npos) << Output;
}

TEST_F(CabpackTest, RefusesBadInputLeavingNothingBehind) {
  fs::create_directories(Folder / "empty");
  WriteFile(Folder / "zero" / "a.txt", "");
  WriteFile(Folder / "zero" / "b.txt", "");
  WriteFile(Folder / "text.exe", "just text, not a program at all, long enough to be read as one.....");
  WriteFile(Folder / "full.exe", MakeImage({{".a", "1"}, {".b", "2"}, {".c", "3"}, {".d", "4"}, {".e", "5"}}));
  std::string pe64 = ReadFile(Stub);
  Put16(pe64, 0x40 + 24, 0x20B);
  WriteFile(Folder / "pe64.exe", pe64);
  WriteFile(Folder / "bad.cab", "MSCF but nothing else");
  std::string src = Source.string(), folder = Folder.string(), out = Out;
  const struct {
    std::vector<std::string> Args;
    int Code;
    std::string Message;
    std::string Extra;  // a file to put into the source folder first ("" for none)
  } cases[] = {
      {{"--source", folder + "/missing", "--run", "a", "-o", out}, 1, "does not exist", ""},
      {{"--source", folder + "/text.exe", "--run", "a", "-o", out}, 1, "not a folder", ""},
      {{"--source", src, "--run", "nothere.exe", "-o", out}, 1, "is not a file under", ""},
      {{"--source", src, "--run", "data", "-o", out}, 1, "is not a file under", ""},
      {{"--source", src, "--run", "../stub.exe", "-o", out}, 1, "is not a file under", ""},
      {{"--source", folder + "/empty", "--run", "a", "-o", out}, 1, "cabinet would be empty", ""},
      {{"--source", folder + "/zero", "--run", "a.txt", "-o", out}, 1, "every file", ""},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "outside printable ASCII", "caf\xC3\xA9.txt"},
      {{"--source", src, "--run", "setup.exe", "--codepage", "1252", "-o", out}, 1, "cannot hold", "\xE3\x81\x82"},
      {{"--source", src, "--run", "setup.exe", "--codepage", "932", "-o", out}, 1, "backslash", "\xE3\x82\xBD"},
      {{"--source", src, "--run", "setup.exe", "--codepage", "12345", "-o", out}, 1, "not known", ""},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "cannot hold", "a:b"},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "only in case", "SETUP.exe"},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "dot or blank", "trailing."},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "device name", "data/Nul.txt"},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "device name", "com7"},
      {{"--source", src, "--run", "setup.exe", "--on", "NoSuchOption", "-o", out}, 2, "unknown option", ""},
      {{"--source", src, "--run", "setup.exe", "--compression", "lzx", "-o", out}, 2, "none or mszip", ""},
      {{"--source", src, "-o", out}, 2, "needs --run", ""},
      {{"--source", src, "--run", "setup.exe"}, 2, "-o", ""},
      {{"--source", src, "--cab", folder + "/bad.cab", "-o", out}, 2, "exactly one", ""},
      {{"--cab", folder + "/bad.cab", "-o", out}, 1, "damaged", ""},
      {{"--cab", folder + "/missing.cab", "-o", out}, 1, "cannot read", ""},
      {{"--list", folder + "/text.exe"}, 1, "not a 32-bit", ""},
      {{"--list", folder + "/text.exe", "--arguments", "x"}, 2, "only the package", ""},
  };
  const struct {
    std::string Stub, Message;
  } stubs[] = {
      {folder + "/text.exe", "not a 32-bit"},
      {folder + "/pe64.exe", "not a 32-bit"},
      {folder + "/full.exe", "no room"},
      {folder + "/missing.exe", "cannot read"},
      {out, "would overwrite its own input"},
  };
  auto expectFailure = [&](std::vector<std::string> args, int code, const std::string& message,
                           std::set<std::string> left = {}) {
    EXPECT_EQ(Run(args), code) << args[1];
    EXPECT_EQ(Error.rfind("cabpack: ", 0), 0u) << Error;
    EXPECT_NE(Error.find(message), std::string::npos) << Error;
    EXPECT_EQ(OutFolder(), left) << Error;
  };
  for (const auto& c : cases) {
    if (!c.Extra.empty()) WriteFile(Source / c.Extra, "extra");
    std::vector<std::string> args = c.Args;
    if (args[0] != "--list") args.insert(args.end(), {"--stub", Stub});
    expectFailure(args, c.Code, c.Message);
    if (!c.Extra.empty()) fs::remove(Source / c.Extra);
  }
  for (const auto& s : stubs) {
    std::set<std::string> left;
    if (s.Stub == out) WriteFile(out, ReadFile(Stub)), left = {"package.exe"};
    expectFailure({"--source", src, "--run", "setup.exe", "--stub", s.Stub, "-o", out}, 1, s.Message, left);
  }
}

TEST_F(CabpackTest, RefusesAnOutputThatCannotBeWritten) {
  std::string out = (Folder / "no" / "such" / "folder" / "p.exe").string();
  EXPECT_EQ(Run({"--source", Source.string(), "--run", "setup.exe", "--stub", Stub, "-o", out}), 1);
  EXPECT_NE(Error.find("cannot write"), std::string::npos) << Error;
  EXPECT_FALSE(fs::exists(Folder / "no"));
  // An existing package stays as it was when the new one fails.
  WriteFile(Out, "old package");
  EXPECT_EQ(Run({"--source", Source.string(), "--run", "missing", "--stub", Stub, "-o", Out}), 1);
  EXPECT_EQ(ReadFile(Out), "old package");
  EXPECT_EQ(OutFolder(), std::set<std::string>{"package.exe"});
}

TEST_F(CabpackTest, RefusesAnUnreadableSource) {
  if (geteuid() == 0) {
    // Root reads everything; a link to nowhere is what cannot be read then.
    fs::create_symlink(Folder / "nowhere", Source / "dangling");
  } else {
    fs::permissions(Source / "data", fs::perms::none);
  }
  EXPECT_EQ(Pack(), 1);
  EXPECT_NE(Error.find("cabpack: "), std::string::npos);
  EXPECT_EQ(OutFolder(), std::set<std::string>{});
}

TEST_F(CabpackTest, RefusesFilesAddingUpTo2GiB) {
  // Sparse files: no disk space is used.
  fs::resize_file(Source / "setup.exe", 0);
  std::ofstream(Source / "big1.bin").close();
  fs::resize_file(Source / "big1.bin", 0x40000000);
  std::ofstream(Source / "big2.bin").close();
  fs::resize_file(Source / "big2.bin", 0x40000000 - 6);  // with table.txt's 6 bytes: exactly 2^31
  EXPECT_EQ(Pack(), 1);
  EXPECT_NE(Error.find("less than 2^31"), std::string::npos) << Error;
  EXPECT_EQ(OutFolder(), std::set<std::string>{});
}
