// cabpack as its users meet it: the option list it writes, what goes into the cabinet, and
// every bad input ending with a clear message, a non-zero exit code and nothing left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "format/package_options.h"
#include "format/protected_plain.h"
#include "packager/cabinet_table.h"
#include "packager/icon_resource.h"
#include "packager/package_cli.h"
#include "packager/package_host.h"
#include "packager/package_options.h"
#include "packager/pe_resources.h"
#include "packager/signing.h"
#include "packager/source_folder.h"
#include "packager/text.h"
#include "packager/version_resource.h"
#include "tests/host/cabpack_test_image.h"

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

// The output lines of a shell command.
std::set<std::string> CommandLines(const std::string& command) {
  std::set<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  char line[4096];
  while (pipe && std::fgets(line, sizeof line, pipe)) lines.insert(std::string(line, std::strcspn(line, "\n")));
  EXPECT_TRUE(pipe && pclose(pipe) == 0) << command;
  return lines;
}

// What pefile reads from a program's version resource and icons (tests/host/read_pe_resources.py).
std::set<std::string> ReadByPefile(const std::string& program) {
  return CommandLines(std::string("/usr/bin/python3 ") + READ_PE_RESOURCES + " '" + program + "'");
}

// An .ico file of solid squares made by ImageMagick, and what pefile should say of each image
// once it is a program's icon.
std::set<std::string> MakeIcon(const std::string& path, const std::vector<std::pair<int, std::string>>& squares) {
  std::string command = "convert";
  for (const auto& square : squares)
    command += " -size " + std::to_string(square.first) + "x" + std::to_string(square.first) + " xc:" + square.second;
  EXPECT_EQ(std::system((command + " '" + path + "'").c_str()), 0);
  std::string ico = ReadFile(path);
  std::set<std::string> lines;
  for (size_t i = 0; i < squares.size(); ++i) {
    uint32_t bytes = Get32(ico, 6 + 16 * i + 8), at = Get32(ico, 6 + 16 * i + 12);
    char line[64];
    std::snprintf(line, sizeof line, "icon %dx%d 32-bit crc %08lx", squares[i].first, squares[i].first,
                  crc32(0, reinterpret_cast<const Bytef*>(ico.data() + at), bytes));
    lines.insert(line);
  }
  return lines;
}

// The smallest .ico: one 16x16 image, a bitmap's header and nothing more.
std::string OneImageIcon() {
  std::string ico;
  for (uint32_t field : {0u, 1u, 1u}) ::Put16(ico, field);  // reserved, type icon, one image
  ico += std::string("\x10\x10\0\0", 4);                 // 16x16, no palette
  for (uint32_t field : {1u, 32u}) ::Put16(ico, field);      // planes, bits
  for (uint32_t field : {40u, 22u}) ::Put32(ico, field);     // bytes, where
  ::Put32(ico, 40);
  return ico + std::string(36, '\0');
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
    EXPECT_TRUE(ReadPeImage(path, image, error) && ReadResources(image, items, error)) << error;
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
      {{{hide, true}}, List({Plain(PsKeyHideWhileRunning) + "=" + Plain(PsOptionOn)})},
      {{{power, false}, {extract, true}},
       List({Plain(PsKeyAllowExtractSwitch) + "=" + Plain(PsOptionOn), Plain(PsKeyReportPowerStatus) + "=0"})},
      {{{hide, true}, {hide, false}}, List({Plain(PsKeyHideWhileRunning) + "=0"})},  // the last choice wins
  };
  for (const auto& c : cases) EXPECT_EQ(BuildOptionList(c.Choices), c.Expected);
  // The fixed arguments go last, as written, also when empty.
  EXPECT_EQ(BuildOptionList({{hide, true}}, std::string("/s \"a b\" x=1")),
            List({Plain(PsKeyHideWhileRunning) + "=" + Plain(PsOptionOn), Plain(PsArguments) + "=/s \"a b\" x=1"}));
  EXPECT_EQ(BuildOptionList({}, std::string()), List({Plain(PsArguments) + "="}));
  // The title after them.
  EXPECT_EQ(BuildOptionList({}, std::string("x"), std::string("Board 2.1")),
            List({Plain(PsArguments) + "=x", Plain(PsTitle) + "=Board 2.1"}));
  EXPECT_EQ(BuildOptionList({}, std::nullopt, std::string()), List({Plain(PsTitle) + "="}));
}

TEST(OptionList, ReadsBackLikeTheRunner) {
  std::string lower = Plain(PsKeyHideWhileRunning);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  std::vector<OptionListEntry> entries = ReadOptionList(
      List({lower + "=" + Plain(PsOptionOn), Plain(PsKeyStartWithoutWaiting) + "=yes", "=1", "Other=1",
            Plain(PsArguments) + "=a=b", Plain(PsTitle) + "=T - x", "", Plain(PsKeyAllowExtractSwitch) + "=1"}));
  ASSERT_EQ(entries.size(), 6u);  // reading stops at the empty entry
  EXPECT_EQ(entries[0].Option, FindPackageOption("HideWhileRunning"));
  EXPECT_TRUE(entries[0].On);
  EXPECT_EQ(entries[1].Option, FindPackageOption("StartWithoutWaiting"));
  EXPECT_FALSE(entries[1].On);
  EXPECT_EQ(entries[2].Option, -1);
  EXPECT_EQ(entries[3].Option, -1);
  EXPECT_FALSE(entries[3].Arguments);
  EXPECT_TRUE(entries[4].Arguments);
  EXPECT_EQ(entries[4].Value, "a=b");
  EXPECT_FALSE(entries[4].Title);
  EXPECT_TRUE(entries[5].Title);
  EXPECT_FALSE(entries[5].Arguments);
  EXPECT_EQ(entries[5].Value, "T - x");
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
            List({Plain(PsKeyAllowExtractSwitch) + "=0", Plain(PsKeyHideWhileRunning) + "=" + Plain(PsOptionOn)}));
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
  EXPECT_EQ(items.size(), 3u);
  EXPECT_EQ(FindRcData(items, "OPT")->Data, List({}));
  CabinetTable table = Cabinet(Out);
  ASSERT_EQ(table.Files.size(), 3u);
  EXPECT_EQ(FindRcData(items, "SUM")->Data.size(), 3 * 32u) << "the old package's digests stayed";
  EXPECT_EQ(table.Files[0].Attributes & 0x40, 0x40);  // data\table.txt now
  EXPECT_EQ(table.Files[2].Attributes & 0x40, 0);
  EXPECT_EQ(Get16(ReadFile(Out), FileHeader + PeFileHeader::SectionCount),
            Get16(ReadFile(first), FileHeader + PeFileHeader::SectionCount));  // replaced in place
}

TEST_F(CabpackTest, ConvertsNamesIntoTheNamedCodePage) {
  WriteFile(Source / "caf\xC3\xA9.txt", "1252");
  ASSERT_EQ(Pack({"--codepage", "1252"}), 0) << Error;
  EXPECT_EQ(Cabinet(Out).Files[0].Name, "caf\xE9.txt");
  EXPECT_EQ(Cabinet(Out).Files[0].Attributes & CabAttributeNameIsUtf8, 0);
  // Bytes of a code page the listing cannot know are shown by their values.
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("  caf<E9>.txt\n"), std::string::npos) << Output;
  fs::remove(Source / "caf\xC3\xA9.txt");
  WriteFile(Source / "\xE3\x81\x82.txt", "hiragana a");
  ASSERT_EQ(Pack({"--codepage", "932"}), 0) << Error;
  EXPECT_EQ(Cabinet(Out).Files.back().Name, "\x82\xA0.txt");
}

TEST_F(CabpackTest, StoresNamesThatAreNotAsciiInUtf8WithoutACodePage) {
  WriteFile(Source / "caf\xC3\xA9.txt", "1252");
  WriteFile(Source / "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF" / "\xE3\x82\xBD.bin", "932, with a trail byte 0x5C");
  ASSERT_EQ(Pack(), 0) << Error;
  CabinetTable table = Cabinet(Out);
  ASSERT_EQ(table.Files.size(), 4u);
  const struct {
    std::string Name;
    uint16_t Flag;
  } expected[] = {
      {"caf\xC3\xA9.txt", CabAttributeNameIsUtf8},
      {"data\\table.txt", 0},
      {"setup.exe", 0},
      {"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\\\xE3\x82\xBD.bin", CabAttributeNameIsUtf8},
  };
  for (size_t i = 0; i < table.Files.size(); ++i) {
    EXPECT_EQ(table.Files[i].Name, expected[i].Name);
    EXPECT_EQ(table.Files[i].Attributes & CabAttributeNameIsUtf8, expected[i].Flag) << expected[i].Name;
  }
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("  caf\xC3\xA9.txt\n"), std::string::npos) << Output;
  EXPECT_NE(Output.find("  \xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/\xE3\x82\xBD.bin\n"), std::string::npos) << Output;
}

// What --list shows of a text from a package: readable text where it is text, the value of every
// other byte and of every byte of a character that could drive a terminal or disguise a text.
TEST(ShownText, ShowsTextAndTheValuesOfOtherBytes) {
  const struct {
    std::string Stored;
    bool Utf8;
    std::string Shown;
  } cases[] = {
      {"a\\b.txt", false, "a\\b.txt"},
      {"a\\b.txt", true, "a\\b.txt"},
      {"caf\xC3\xA9 \xE5\x9F\xBA\xE6\x9D\xBF", true, "caf\xC3\xA9 \xE5\x9F\xBA\xE6\x9D\xBF"},
      {"caf\xC3\xA9.txt", false, "caf<C3><A9>.txt"},    // not UTF-8: bytes of some code page
      {"caf\xE9.txt", true, "caf<E9>.txt"},               // said to be UTF-8, and is not
      {"\xC0\xAF.txt", true, "<C0><AF>.txt"},             // an overlong "/"
      {"\xED\xA0\x80.txt", true, "<ED><A0><80>.txt"},     // a surrogate
      {"\xF0\x9F\x98\x80.txt", true, "\xF0\x9F\x98\x80.txt"},
      {"\xE3\x81", true, "<E3><81>"},                     // cut short
      {"a\x1B[2Jb\x7F\t", false, "a<1B>[2Jb<7F><09>"},     // terminal controls
      {"\x1B]0;title\x07\r\n", true, "<1B>]0;title<07><0D><0A>"},
      {"a\xC2\x9B" "2J\xC2\x85", true, "a<C2><9B>2J<C2><85>"},  // C1 controls: CSI, NEL
      {"\x9B" "2J", false, "<9B>2J"},
      {"evil\xE2\x80\xAEtxt.exe", true, "evil<E2><80><AE>txt.exe"},  // right-to-left override
      {"\xE2\x80\xAA\xE2\x80\xAD\xE2\x81\xA6\xE2\x81\xA9", true, "<E2><80><AA><E2><80><AD><E2><81><A6><E2><81><A9>"},
      {"\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C", true, "<E2><80><8E><E2><80><8F><D8><9C>"},  // marks
      {"a\xE2\x80\xA8" "b", true, "a<E2><80><A8>b"},   // line separator
      {"\xE2\x80\x8D\xE2\x80\xB0", true, "\xE2\x80\x8D\xE2\x80\xB0"},  // a joiner and per mille stay
  };
  for (const auto& c : cases) EXPECT_EQ(ShownText(c.Stored, c.Utf8), c.Shown) << c.Stored;
}

TEST_F(CabpackTest, ListsWhatWentIn) {
  ASSERT_EQ(Pack({"--on", "ReportPowerStatus", "--off", "AllowLanguageSwitch", "--on", "passexitcode", "--arguments",
                  "/quiet \"a b\"", "--title", "Board firmware 2.1 (\xE5\x9F\xBA\xE6\x9D\xBF)", "--on", "ShowPayloadWindow"}),
            0)
      << Error;
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("PassExitCode          on   (set)"), std::string::npos) << Output;
  EXPECT_NE(Output.find("AllowQuietSwitch      on   (default)"), std::string::npos) << Output;
  EXPECT_NE(Output.find("Arguments             \"/quiet \"a b\"\"\n"), std::string::npos) << Output;
  EXPECT_NE(Output.find("Title                 \"Board firmware 2.1 (\xE5\x9F\xBA\xE6\x9D\xBF)\"\n"), std::string::npos)
      << Output;
  EXPECT_NE(Output.find("ShowPayloadWindow     on   (set)"), std::string::npos) << Output;
  EXPECT_EQ(Output.find("ignored entry"), std::string::npos) << Output;
  EXPECT_NE(Output.find("RCDATA        CAB"), std::string::npos) << Output;
  // In the names --on takes; the runner's keys stay out of sight.
  EXPECT_NE(Output.find("ReportPowerStatus     on   (set)"), std::string::npos) << Output;
  EXPECT_NE(Output.find("AllowLanguageSwitch   off  (set)"), std::string::npos) << Output;
  EXPECT_EQ(Output.find(Plain(PsKeyReportPowerStatus) + "="), std::string::npos) << Output;
  EXPECT_NE(Output.find("AllowExtractSwitch    on   (default)"), std::string::npos) << Output;
  EXPECT_NE(Output.find("setup.exe   <- run after extraction"), std::string::npos) << Output;
  EXPECT_NE(Output.find("data\\table.txt\n"), std::string::npos) << Output;
  EXPECT_NE(Output.find("compression MSZIP"), std::string::npos) << Output;
  // The digests, in sha256sum's format (this one is sha256sum's own for "1 2 3\n").
  EXPECT_NE(Output.find("RCDATA        SUM"), std::string::npos) << Output;
  EXPECT_NE(Output.find("\n1def07dbe06eeb097aafec8a40329937cd20c93a83634b8221ea2b41a894310c  data/table.txt\n"), std::string::npos) << Output;
  for (const char* lzx : {"lzx:18", "lzx-optimal:18"}) {
    ASSERT_EQ(Pack({"--compression", lzx}), 0) << Error;
    ASSERT_EQ(Run({"--list", Out}), 0) << Error;
    EXPECT_NE(Output.find("compression LZX (window 2^18)"), std::string::npos) << Output;
  }

  // A package's texts reach a terminal: none may drive it (move up and redraw the Signature: line,
  // set the window's title) or turn a text around. cabpack refuses to write such texts, so another
  // tool's are put in by hand, with one more option entry.
  ASSERT_EQ(Pack(), 0) << Error;
  std::vector<ResourceItem> items = Resources(Out);
  std::string error;
  VersionSettings hostile;
  hostile.ProductName = "\x1B[2A\x1B[2KSignature: none";
  hostile.Company = "\x1B]0;title\x07";
  hostile.Description = "a\xC2\x9B" "2Jb";
  hostile.Copyright = "evil\xE2\x80\xAEtxt.exe";
  ASSERT_EQ(ApplyVersion(items, hostile, error), VersionResult::Applied) << error;
  std::string options = BuildOptionList({}, "/quiet\r\n\x1B[1A", "Board\x1B[31m \xE2\x81\xA7red");
  PutRcData(items, "OPT", options.insert(options.size() - 1, std::string("Evil\x1B[2A=x\x07\0", 12)));
  PeImage stub;
  ASSERT_TRUE(ReadPeImage(Stub, stub, error)) << error;
  {
    std::ofstream hostile(Out, std::ios::binary);
    ASSERT_TRUE(RebuildResources(stub, items, hostile, error)) << error;
  }
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  for (const char* shown : {"  ProductName         <1B>[2A<1B>[2KSignature: none\n", "  CompanyName         <1B>]0;title<07>\n",
                            "  FileDescription     a<C2><9B>2Jb\n", "  LegalCopyright      evil<E2><80><AE>txt.exe\n",
                            "  Title                 \"Board<1B>[31m <E2><81><A7>red\"\n",
                            "  Arguments             \"/quiet<0D><0A><1B>[1A\"\n", "  ignored entry \"Evil<1B>[2A=x<07>\"\n"})
    EXPECT_NE(Output.find(shown), std::string::npos) << shown << "\n" << Output;
  for (const char* raw : {"\x1B", "\x07", "\r", "\xC2\x9B", "\xE2\x80\xAE", "\xE2\x81\xA7"})
    EXPECT_EQ(Output.find(raw), std::string::npos) << Output;

  // As to a full device: the listing, the help and the rest fail.
  struct TFullDevice : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } full;
  const struct {
    std::vector<std::string> Args;
    std::string Message;
  } printed[] = {
      {{"--list", Out}, "cabpack: cannot write the listing"},
      {{"--help"}, "cabpack: cannot write to standard output"},
      {{"--version"}, "cabpack: cannot write to standard output"},
      {{"--man-page"}, "cabpack: cannot write to standard output"},
      {{"--bash-completion"}, "cabpack: cannot write to standard output"},
  };
  for (const auto& p : printed) {
    std::ostream out(&full);
    std::ostringstream err;
    EXPECT_EQ(RunCabpack(p.Args, out, err), 1) << p.Args[0];
    EXPECT_NE(err.str().find(p.Message), std::string::npos) << err.str();
  }
}

TEST_F(CabpackTest, SignsAsTheLastStepAndReportsADroppedSignature) {
  // A throw-away certificate, and packages signed with it by osslsigncode through --sign-command.
  std::string key = (Folder / "key.p12").string(), certificate = (Folder / "cert.pem").string();
  ASSERT_EQ(std::system(("cd '" + Folder.string() + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem "
                         "-out cert.pem -days 2 -subj '/CN=cabpack throw-away/O=Morvane Test' 2>/dev/null && "
                         "openssl pkcs12 -export -inkey key.pem -in cert.pem -out key.p12 -passout pass:x")
                            .c_str()),
            0);
  auto verified = [&](const std::string& package) {
    return std::system(("osslsigncode verify -CAfile '" + certificate + "' -in '" + package + "' >/dev/null 2>&1").c_str()) == 0;
  };
  ASSERT_EQ(Pack({"--sign-command", "osslsigncode sign -pkcs12 '" + key + "' -pass x -in {in} -out {out}"}), 0) << Error;
  EXPECT_EQ(OutFolder(), std::set<std::string>{"package.exe"});
  EXPECT_TRUE(verified(Out));
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("\nSignature: Authenticode, "), std::string::npos) << Output;
  EXPECT_NE(Output.find(", signed by \"cabpack throw-away\"\n"), std::string::npos) << Output;
  // Signed in place ({in} only), through a shell given the names as arguments, into a name with a blank.
  std::string blank = (Folder / "out" / "signed package.exe").string();
  ASSERT_EQ(Pack({"--sign-command", "sh -c 'osslsigncode sign -pkcs12 \"$0\" -pass x -in \"$1\" -out \"$1.s\" && "
                                    "mv \"$1.s\" \"$1\"' '" + key + "' {in}",
                  "-o", blank}),
            0) << Error;
  EXPECT_TRUE(verified(blank));
  fs::remove(blank);

  // The signer's name is read with care: a cut table gives none, a damaged one never a control character.
  PeImage image;
  std::string error;
  ASSERT_TRUE(ReadPeImage(Out, image, error)) << error;
  SignatureFacts facts = ReadSignature(image);
  std::string table = ReadFile(Out).substr(facts.At, facts.Size);
  EXPECT_EQ(SignerName(table), "cabpack throw-away");
  std::string hostile = table;  // the name goes to a terminal: set its title, it may not
  for (size_t at; (at = hostile.find("cabpack throw")) != std::string::npos;) hostile.replace(at, 7, "\x1B]0;x\x07 ");
  EXPECT_EQ(SignerName(hostile), "<1B>]0;x<07>  throw-away");
  // The SignedData's DER ends before the entry's padding: a sequence with a two-byte length.
  ASSERT_EQ(table.substr(8, 2), "\x30\x82");
  size_t derEnd = 8 + 4 + (uint8_t(table[10]) << 8 | uint8_t(table[11]));
  for (size_t size = 8; size < derEnd; ++size) {
    std::string cut = table.substr(0, size);
    Put32(cut, 0, uint32_t(size));
    EXPECT_EQ(SignerName(cut), "") << size;
  }
  int named = 0;
  for (size_t at = 0; at < table.size(); ++at) {
    std::string damaged = table;
    damaged[at] = char(damaged[at] ^ 0x1F);
    std::string name = SignerName(damaged);
    named += name == "cabpack throw-away";
    EXPECT_EQ(name.find_first_of(std::string("\0\x01\x1B\n\r\x7F", 6)), std::string::npos) << at;
  }
  EXPECT_GT(named, 0);

  // Packed onto the signed package: the signature goes, and stderr says so.
  std::string first = (Folder / "first.exe").string();
  fs::rename(Out, first);
  ASSERT_EQ(Run({"--source", Source.string(), "--run", "setup.exe", "--stub", first, "-o", Out}), 0) << Error;
  EXPECT_NE(Error.find("cabpack: the stub \"" + first + "\" is signed by \"cabpack throw-away\"; the signature is "
                       "dropped"),
            std::string::npos) << Error;
  EXPECT_FALSE(verified(Out));
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("\nSignature: none\n"), std::string::npos) << Output;
  ASSERT_EQ(Run({"--source", Source.string(), "--run", "setup.exe", "--stub", first, "-o", Out, "-q"}), 0) << Error;
  EXPECT_EQ(Error, "");

  // A signing tool that fails, cannot start or leaves no signature: exit code 1, the old package stays.
  const struct {
    std::string Command, Message;
  } failing[] = {
      {"sh -c 'exit 3' {in}", "cabpack: the signing command failed (exit code 3)"},
      {"cabpack-no-such-signer {in} {out}", "cabpack: the signing command: cannot start \"cabpack-no-such-signer\""},
      {"cp {in} {out}", "cabpack: the signing command left no signed program in {out}"},
      {"true {in} {out}", "cabpack: the signing command left no signed program in {out}"},
      {"truncate -s 100 {in}", "cabpack: the signing command left no signed program in {in}"},
  };
  WriteFile(Out, "old package");
  for (const auto& f : failing) {
    EXPECT_EQ(Pack({"--sign-command", f.Command}), 1) << f.Command;
    EXPECT_NE(Error.find(f.Message), std::string::npos) << Error;
    EXPECT_EQ(OutFolder(), std::set<std::string>{"package.exe"}) << f.Command;
    EXPECT_EQ(ReadFile(Out), "old package");
  }

  // From a package file the command runs in the file's folder, where its script and key lie, as
  // every path in the file is taken; --no-sign leaves it out, for builds without the keys.
  fs::path release = Folder / "release", ini = release / "update.ini";
  fs::create_directories(release);
  fs::copy_file(key, release / "key.p12");
  WriteFile(release / "sign.sh", "#!/bin/sh\nexec osslsigncode sign -pkcs12 key.p12 -pass x -in \"$1\" -out \"$2\"\n");
  fs::permissions(release / "sign.sh", fs::perms::owner_all);
  WriteFile(ini, "source = ../src\nrun = setup.exe\nstub = ../stub.exe\noutput = ../out/package.exe\n"
                 "sign-command = ./sign.sh {in} {out}\n");
  ASSERT_NE(fs::current_path(), release);
  ASSERT_EQ(Run({"build", ini.string()}), 0) << Error;
  EXPECT_TRUE(verified(Out));
  ASSERT_EQ(Run({"build", ini.string(), "--no-sign"}), 0) << Error;
  EXPECT_FALSE(verified(Out));
  EXPECT_EQ(Run({"build", ini.string(), "--no-sign", "--sign-command", "sign {in}"}), 2);
  EXPECT_NE(Error.find("cabpack: --no-sign and --sign-command do not go together"), std::string::npos) << Error;
}

// The Windows build hands the signing tool {in} and {out} in a command line that the tool's C
// runtime splits again: each word must come back whole, whatever its folder is called.
TEST(WindowsCommandLine, QuotesEachWordForTheCRuntime) {
  const struct {
    std::vector<std::string> Words;
    std::string Line;
  } cases[] = {
      {{"sign.exe", "-in", "C:\\out&evil&\\p.exe"}, "sign.exe -in C:\\out&evil&\\p.exe"},  // & means nothing to it
      {{"sign", "C:\\with blank\\p.exe"}, "sign \"C:\\with blank\\p.exe\""},
      {{"sign", "C:\\with blank\\"}, "sign \"C:\\with blank\\\\\""},  // the closing quote stays one
      {{"sign", "a\"b", "a\\\"b", "a\\\\b"}, "sign \"a\\\"b\" \"a\\\\\\\"b\" a\\\\b"},
      {{"sign", "", "tab\there", "line\nbreak"}, "sign \"\" \"tab\there\" \"line\nbreak\""},
      {{"sign", "\\\\server\\share\\x y"}, "sign \"\\\\server\\share\\x y\""},
  };
  for (const auto& c : cases) EXPECT_EQ(WindowsCommandLine(c.Words), c.Line);
}

TEST_F(CabpackTest, StreamsALargeCabinetInAndOut) {
  // Above LargeResourceData the cabinet is never held in memory: copied in, listed, taken out, replaced.
  std::string noise(3 << 20, '\0');
  uint32_t state = 7;
  for (char& c : noise) c = char((state = state * 1103515245 + 12345) >> 24);
  WriteFile(Source / "firmware.bin", noise);
  ASSERT_EQ(Pack({"--compression", "none"}), 0) << Error;
  EXPECT_EQ(ReadByPefile(Out).count("checksum right"), 1u);
  std::vector<ResourceItem> items = Resources(Out);
  ASSERT_NE(FindRcData(items, "CAB"), nullptr);
  EXPECT_FALSE(FindRcData(items, "CAB")->Held);
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("     3145728  "), std::string::npos) << Output;
  std::string saved = (Folder / "saved.cab").string();
  ASSERT_EQ(Run({"--save-cab", Out, "-o", saved}), 0) << Error;
  ASSERT_EQ(std::system(("cabextract -q -d '" + (Folder / "taken").string() + "' '" + saved + "'").c_str()), 0);
  EXPECT_EQ(ReadFile(Folder / "taken" / "firmware.bin"), noise);

  // Packed again into that package: the large cabinet is replaced, not carried along.
  std::string first = (Folder / "first.exe").string();
  fs::rename(Out, first);
  fs::remove(Source / "firmware.bin");
  ASSERT_EQ(Run({"--source", Source.string(), "--run", "setup.exe", "--stub", first, "-o", Out}), 0) << Error;
  EXPECT_LT(fs::file_size(Out), 1u << 20);
  EXPECT_EQ(ReadByPefile(Out).count("checksum right"), 1u);
}

TEST_F(CabpackTest, SetsTheVendorsVersionAndIcon) {
  // In an x86 and an x64 stub alike; the x64 package serves as a stub again.
  for (const ImageFormat& format : {Pe32, Pe32Plus}) {
    SCOPED_TRACE(format.Magic);
    WriteFile(Stub, MakeImage({{".text", std::string(0x300, '\xC3')}}, 0x200, format));
    std::string ico = (Folder / "app.ico").string(), small = (Folder / "small.ico").string();
    std::set<std::string> expected = MakeIcon(ico, {{16, "red"}, {32, "lime"}, {256, "blue"}});
    ASSERT_EQ(Pack({"--product-name", "Widget Updater \xC3\xBC", "--file-version", "2.5.0.17", "--company", "Morvane KK",
                    "--copyright", "\xC2\xA9 2026 Morvane", "--description", "Updates the widget",
                    "--original-filename", "widget-update.exe", "--icon", ico}),
              0) << Error;
    std::set<std::string> strings = {
        "string CompanyName=Morvane KK",       "string FileDescription=Updates the widget",
        "string InternalName=widget-update",   "string LegalCopyright=\xC2\xA9 2026 Morvane",
        "string OriginalFilename=widget-update.exe", "string ProductName=Widget Updater \xC3\xBC",
        "checksum right"};
    expected.insert(strings.begin(), strings.end());
    expected.insert({"fixed file 2.5.0.17 product 2.5.0.17", "string FileVersion=2.5.0.17",
                     "string ProductVersion=2.5.0.17", "icons 3"});
    EXPECT_EQ(ReadByPefile(Out), expected);
    ASSERT_EQ(Run({"--list", Out}), 0) << Error;
    EXPECT_NE(Output.find("Icon #1: 16x16 32-bit, 32x32 32-bit, 256x256 32-bit\n"), std::string::npos) << Output;
    EXPECT_NE(Output.find("file 2.5.0.17, product 2.5.0.17\n"), std::string::npos) << Output;
    EXPECT_NE(Output.find("  ProductName         Widget Updater \xC3\xBC\n"), std::string::npos) << Output;
    EXPECT_NE(Output.find(format.Magic == Pe32.Magic ? ": x86 runner (PE32)\n" : ": x64 runner (PE32+)\n"), std::string::npos)
        << Output;

    // Packed again into that package: what is given changes, the rest stays; the old icons go.
    std::string first = (Folder / "first.exe").string();
    fs::rename(Out, first);
    expected = MakeIcon(small, {{24, "yellow"}});
    expected.insert(strings.begin(), strings.end());
    expected.insert({"fixed file 3.0.0.1 product 3.0.0.1", "string FileVersion=3.0.0.1", "string ProductVersion=3.0.0.1",
                     "icons 1"});
    ASSERT_EQ(Run({"--source", Source.string(), "--run", "setup.exe", "--stub", first, "--product-version", "3.0.0.1",
                   "--icon", small, "-o", Out}),
              0) << Error;
    EXPECT_EQ(ReadByPefile(Out), expected);
    fs::remove(first);
    fs::remove(Out);
  }
}

TEST_F(CabpackTest, WarnsOfAHiddenWindowAndOfPackagesMadeEarlier) {
  std::string gui = MakeImage({{".text", std::string(0x300, '\xC3')}}), console = gui;
  Put16(console, Opt + PeOptional::Subsystem, PeSubsystemConsole);
  ASSERT_EQ(Pack(), 0) << Error;
  const std::string package = ReadFile(Out);
  fs::remove(Out);
  const std::string hidden = "cabpack: warning: \"setup.exe\" is a GUI program and ShowPayloadWindow is off: the runner "
                             "starts it hidden, so its window will not show, only its message boxes (--on "
                             "ShowPayloadWindow shows it)\n";
  const struct {
    std::string Setup;  // the program to run
    std::vector<std::pair<std::string, std::string>> Files;  // more in the source folder
    std::vector<std::string> Args;
    std::string Warned;  // all of stderr
  } cases[] = {
      {gui, {}, {}, hidden},
      {gui, {}, {"--on", "showpayloadwindow"}, ""},
      {gui, {}, {"--on", "ShowPayloadWindow", "--off", "ShowPayloadWindow"}, hidden},
      {gui, {}, {"--quiet"}, ""},
      {console, {}, {}, ""},
      {"MZ payload", {}, {}, ""},
      {console, {{"old/update.exe", package}, {"tools/gui.exe", gui}}, {},
       "cabpack: warning: \"old\\update.exe\" is a package made earlier (a program carrying a cabinet); it goes in "
       "like any other file unless --exclude leaves it out\n"},
      {console, {{"old/update.exe", package}}, {"--exclude", "old"}, ""},
      {console, {{"a.EXE", package}, {"b.exe", package}, {"c.bin", package}}, {},
       "cabpack: warning: \"a.EXE\" and \"b.exe\" are packages made earlier (programs carrying a cabinet); they go in "
       "like any other file unless --exclude leaves them out\n"},
  };
  for (const auto& c : cases) {
    WriteFile(Source / "setup.exe", c.Setup);
    for (const auto& file : c.Files) WriteFile(Source / file.first, file.second);
    EXPECT_EQ(Pack(c.Args), 0) << Error;
    EXPECT_EQ(Error, c.Warned);
    for (const auto& file : c.Files) fs::remove(Source / file.first);
  }
}

// The new icons take the lowest free ids from 1; a stub without enough free ones is refused.
TEST(IconResource, TakesTheLowestFreeIds) {
  const struct {
    uint32_t FirstTaken, LastTaken, Images;
    std::vector<uint16_t> Ids;  // empty: refused
  } cases[] = {
      {2, 9, 2, {1, 10}},
      {1, 65534, 1, {65535}},
      {1, 65535, 1, {}},  // 0 names no resource
      {0, 65535, 1, {}},  // every id: no search may go round again
      {2, 65535, 2, {}},
  };
  std::string image(40, '\0');
  image[0] = 40;
  for (const auto& c : cases) {
    std::vector<ResourceItem> items;
    for (uint32_t id = c.FirstTaken; id <= c.LastTaken; ++id) {
      items.emplace_back();
      items.back().Type = ResourceId(PeResourceIcon);
      items.back().Name = ResourceId(uint16_t(id));
    }
    std::string ico;
    for (uint32_t field : {0u, 1u, c.Images}) Put16(ico, field);
    for (uint32_t i = 0; i < c.Images; ++i) {
      ico += std::string("\x10\x10\0\0\1\0\x20\0", 8);
      Put32(ico, 40);
      Put32(ico, 6 + 16 * c.Images + 40 * i);
    }
    for (uint32_t i = 0; i < c.Images; ++i) ico += image;
    std::string error;
    const size_t before = items.size();
    bool applied = ApplyIcon(items, ico, error);
    EXPECT_EQ(applied, !c.Ids.empty()) << c.FirstTaken << "-" << c.LastTaken << ": " << error;
    if (!applied) {
      EXPECT_NE(error.find("free icon ids for its " + std::to_string(c.Images) + " images"), std::string::npos) << error;
      continue;
    }
    std::vector<uint16_t> ids;
    for (size_t i = before; i < items.size(); ++i)
      if (items[i].Type.Id == PeResourceIcon) ids.push_back(items[i].Name.Id);
    EXPECT_EQ(ids, c.Ids);
  }
}

// A version resource whose root says its value runs past the node's end (found by fuzzing): its
// new texts went in behind a value length they fell within, and read back as damage.
TEST(VersionResource, AValueLongerThanItsNodeGetsItsRealLength) {
  std::string root;
  for (uint32_t field : {0u, 0x234u, 0u}) Put16(root, field);  // length (below), value length, binary
  for (char c : std::string("VS_VERSION_INFO")) Put16(root, uint8_t(c));
  root.append(4, '\0');  // the key's NUL and the padding to 4 bytes
  Put32(root, 0xFEEF04BD);
  root.append(48, '\0');
  Put16(root, 0, uint32_t(root.size()));
  std::vector<ResourceItem> items(1);
  items[0].Type = ResourceId(PeResourceVersion);
  items[0].Data = root;
  VersionSettings settings;
  settings.ProductName = "Board";
  settings.ProductVersion = "2.1.0.0";
  std::string error;
  ASSERT_EQ(ApplyVersion(items, settings, error), VersionResult::Applied) << error;
  VersionFacts facts;
  ASSERT_TRUE(ReadVersion(items[0].Data, facts));
  EXPECT_EQ(facts.ProductVersion, "2.1.0.0");
  EXPECT_NE(std::find(facts.Strings.begin(), facts.Strings.end(), std::make_pair(std::string("ProductName"), std::string("Board"))),
            facts.Strings.end());
}

TEST_F(CabpackTest, ListsAndRunsACabinetMadeByAnotherTool) {
  std::string gcab = (Folder / "other.cab").string();
  ASSERT_EQ(std::system(("cd '" + Source.string() + "' && gcab -c '" + gcab + "' setup.exe data/table.txt").c_str()), 0);
  const std::string original = ReadFile(gcab);
  // --list and --save-cab take the plain cabinet as well as a package.
  ASSERT_EQ(Run({"--list", gcab}), 0) << Error;
  EXPECT_NE(Output.find("2 files, 16 bytes unpacked; compression none"), std::string::npos) << Output;
  EXPECT_NE(Output.find("Warning: no file in the cabinet is flagged"), std::string::npos) << Output;
  std::string copy = (Folder / "copy.cab").string();
  ASSERT_EQ(Run({"--save-cab", gcab, "-o", copy}), 0) << Error;
  EXPECT_EQ(ReadFile(copy), original);

  // --cab --run flags the file named (any case, either slash) and no other; the input stays as it was.
  EXPECT_EQ(Run({"--cab", gcab, "--run", "data/nothere.txt", "--stub", Stub, "-o", Out}), 1);
  EXPECT_NE(Error.find("cabpack: \"" + gcab + "\": --run \"data/nothere.txt\" is not a file in the cabinet"),
            std::string::npos) << Error;
  EXPECT_EQ(OutFolder(), std::set<std::string>{});
  ASSERT_EQ(Run({"--cab", gcab, "--run", "DATA/table.txt", "--stub", Stub, "-o", Out}), 0) << Error;
  CabinetTable table = Cabinet(Out);
  ASSERT_EQ(table.Files.size(), 2u);
  EXPECT_EQ(table.Files[1].Name, "data\\table.txt");
  EXPECT_EQ(table.Files[1].Attributes & CabAttributeRunAfterExtraction, CabAttributeRunAfterExtraction);
  EXPECT_EQ(table.Files[0].Attributes & CabAttributeRunAfterExtraction, 0);
  EXPECT_EQ(ReadFile(gcab), original);
  std::string saved = (Folder / "saved.cab").string();
  ASSERT_EQ(Run({"--save-cab", Out, "-o", saved}), 0) << Error;
  ASSERT_EQ(std::system(("cabextract -q -d '" + (Folder / "taken").string() + "' '" + saved + "'").c_str()), 0);
  EXPECT_EQ(ReadFile(Folder / "taken" / "data" / "table.txt"), "1 2 3\n");
  ASSERT_EQ(Run({"--cab", saved, "--run", "setup.exe", "--stub", Stub, "-o", Out}), 0) << Error;
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_EQ(Output.find("SHA-256"), std::string::npos) << "digests for a cabinet cabpack did not pack";
  EXPECT_EQ(Cabinet(Out).Files[0].Attributes & CabAttributeRunAfterExtraction, CabAttributeRunAfterExtraction);
  EXPECT_EQ(Cabinet(Out).Files[1].Attributes & CabAttributeRunAfterExtraction, 0);
  fs::remove(Out);

  // A package whose cabinet came from gcab, without an option list.
  PeImage image;
  std::string error;
  std::vector<ResourceItem> items;
  ASSERT_TRUE(ReadPeImage(Stub, image, error));
  PutRcData(items, "CAB", ReadFile(gcab));
  std::ofstream package(Out, std::ios::binary);
  ASSERT_TRUE(RebuildResources(image, items, package, error));
  ASSERT_EQ(Run({"--list", Out}), 0) << Error;
  EXPECT_NE(Output.find("2 files, 16 bytes unpacked; compression none"), std::string::npos) << Output;
  EXPECT_NE(Output.find("(no option list"), std::string::npos) << Output;
  EXPECT_NE(Output.find("Arguments             (none)\n"), std::string::npos) << Output;
  EXPECT_NE(Output.find("Title                 (none)\n"), std::string::npos) << Output;
  EXPECT_NE(Output.find("ShowPayloadWindow     off  (default)"), std::string::npos) << Output;
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
  Put16(pe64, Opt + PeOptional::Magic, PeMagic32Plus);
  WriteFile(Folder / "pe64.exe", pe64);
  std::string code(0x300, '\xC3');
  WriteFile(Folder / "arm64.exe", MakeImage({{".text", code}}, 0x200, {0xAA64, 0x20B, 240, 112}));
  std::string dll = MakeImage({{".text", code}}), console = dll;
  Put16(dll, FileHeader + PeFileHeader::Characteristics, 0x0102 | PeFileIsDll);
  Put16(console, Opt + PeOptional::Subsystem, PeSubsystemConsole);
  WriteFile(Folder / "dll.exe", dll);
  WriteFile(Folder / "console.exe", console);
  WriteFile(Folder / "x64.exe", MakeImage({{".text", code}}, 0x200, Pe32Plus));
  WriteFile(Folder / "bad.cab", "MSCF but nothing else");
  WriteFile(Folder / "cut.ico", std::string("\0\0\1\0\2\0", 6) + std::string(16, 'x'));
  WriteFile(Folder / "one.ico", OneImageIcon());
  // Directories that lead to one another again and again (a tree of 8,704 bytes): the root's 360 types all
  // lead to one directory of 360 names, those to one of 360 languages, each pass multiplying the items.
  std::string loop;
  const uint32_t loopEntries = 360, loopDirectory = PeResourceDirectory::Size + loopEntries * PeResourceEntry::Size;
  for (uint32_t level = 0; level < 3; ++level) {
    PutResourceDirectory(loop, level * loopDirectory, 0, loopEntries);
    for (uint32_t i = 0; i < loopEntries; ++i)
      PutResourceEntry(loop, level * loopDirectory, i, i + 1,
                       level < 2 ? PeResourceHigh | (level + 1) * loopDirectory : 3 * loopDirectory);
  }
  PutResourceData(loop, 3 * loopDirectory, 0, 0);
  loop.resize(3 * loopDirectory + PeResourceData::EntrySize);
  WriteFile(Folder / "loop.exe", MakeImage({{".rsrc", loop}}));
  // Every icon id a stub can hold is taken.
  WriteFile(Folder / "icons.exe", MakeImage({{".rsrc", WideResourceTree(0x1000, PeResourceIcon, 1, 1, 65535)}}));
  std::string src = Source.string(), folder = Folder.string(), out = Out;
  const struct {
    std::vector<std::string> Args;
    int Code;
    std::string Message;
    std::string Extra;  // a file to put into the source folder first ("" for none)
  } cases[] = {
      {{"--source", folder + "/missing", "--run", "a", "-o", out}, 1, "does not exist", ""},
      {{"--source", folder + "/text.exe", "--run", "a", "-o", out}, 1, "not a folder", ""},
      {{"--source", src, "--run", "nothere.exe", "-o", out}, 1,
       "--run \"nothere.exe\" is not a file under \"" + src + "\"; it holds data\\table.txt and setup.exe\n", ""},
      {{"--source", src, "--run", "setup.ex", "-o", out}, 1, "; did you mean setup.exe?\n", ""},
      {{"--source", src, "--run", "bin/table.txt", "-o", out}, 1, "; did you mean data\\table.txt?\n", ""},
      {{"--source", src, "--run", "data", "-o", out}, 1, "is not a file under", ""},
      {{"--source", src, "--run", "../stub.exe", "-o", out}, 1, "is not a file under", ""},
      {{"--source", folder + "/empty", "--run", "a", "-o", out}, 1, "cabinet would be empty", ""},
      {{"--source", folder + "/zero", "--run", "a.txt", "-o", out}, 1, "every file", ""},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "is not UTF-8", "caf\xE9.txt"},
      {{"--source", src, "--run", "setup.exe", "--codepage", "1252", "-o", out}, 1, "cannot hold", "\xE3\x81\x82"},
      {{"--source", src, "--run", "setup.exe", "--codepage", "932", "-o", out}, 1, "backslash", "\xE3\x82\xBD"},
      {{"--source", src, "--run", "setup.exe", "--codepage", "12345", "-o", out}, 1, "not known", ""},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "cannot hold", "a:b"},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "only in case", "SETUP.exe"},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "dot or blank", "trailing."},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "device name", "data/Nul.txt"},
      {{"--source", src, "--run", "setup.exe", "-o", out}, 1, "device name", "com7"},
      {{"--source", src, "--run", "setup.exe", "--on", "NoSuchOption", "-o", out}, 2, "unknown option", ""},
      {{"--source", src, "--run", "setup.exe", "--compression", "lzx:22", "-o", out}, 2, "none, mszip, lzx, lzx:15", ""},
      {{"--source", src, "--run", "setup.exe", "--compression", "lzx-optimal:14", "-o", out}, 2, "lzx-optimal:15 to", ""},
      {{"--source", src, "--run", "setup.exe", "--compression", "zip", "-o", out}, 2, "none, mszip, lzx, lzx:15", ""},
      {{"--source", src, "-o", out}, 2, "name the file to run after extraction: --run RELPATH", ""},
      {{"--source", src, "--run", "setup.exe"}, 2, "name the package to write: -o FILE", ""},
      {{"--source", src, "--run", "setup.exe", "--arguments", "-o", out}, 2,
       "--arguments needs a value (TEXT) before \"-o\", which is a switch of cabpack's; write --arguments=-o", ""},
      {{"--source", src, "--cab", folder + "/bad.cab", "-o", out}, 2, "--source and --cab do not go together", ""},
      {{"--cab", folder + "/bad.cab", "-o", out}, 1, "damaged", ""},
      {{"--cab", folder + "/missing.cab", "-o", out}, 1, "missing.cab\": no such file", ""},
      {{"--list", folder + "/missing.exe"}, 1, "cannot read \"" + folder + "/missing.exe\": no such file", ""},
      {{"--list", folder + "/empty"}, 1, "/empty\": it is a folder, not a file", ""},
      {{"--list", folder + "/text.exe"}, 1, "not a Windows program (PE)", ""},
      {{"--list", folder + "/arm64.exe"}, 1, "an ARM64 program", ""},
      {{"--list", folder + "/loop.exe"}, 1, "the package \"" + folder + "/loop.exe\": its resource section is damaged: "
       "a directory is reached twice", ""},
      {{"--save-cab", folder + "/loop.exe", "-o", out}, 1, "a directory is reached twice", ""},
      {{"--source", src, "--run", "setup.exe", "--arch", "arm64", "-o", out}, 2, "--arch: x86 or x64, not \"arm64\"",
       ""},
      {{"--list", folder + "/x64.exe", "--arch", "x64"}, 2, "only the package", ""},
      {{"--list", folder + "/text.exe", "--product-name", "x"}, 2, "go with --source or --cab", ""},
      {{"--list", folder + "/text.exe", "--arguments", "x"}, 2, "only the package", ""},
      {{"--list", folder + "/text.exe", "--title", "x"}, 2, "only the package", ""},
      {{"--source", src, "--run", "setup.exe", "--title", "caf\xE9", "-o", out}, 2, "not UTF-8", ""},
      {{"--source", src, "--run", "setup.exe", "--icon", folder + "/text.exe", "-o", out}, 1, "not an icon file", ""},
      {{"--source", src, "--run", "setup.exe", "--icon", folder + "/cut.ico", "-o", out}, 1, "cut short", ""},
      {{"--source", src, "--run", "setup.exe", "--icon", folder + "/no.ico", "-o", out}, 1,
       "cannot read the icon \"" + folder + "/no.ico\": no such file\n", ""},
      {{"--source", src, "--run", "setup.exe", "--product-version", "1.2.3", "-o", out}, 2,
       "--product-version: four numbers a.b.c.d from 0 to 65535, not \"1.2.3\"", ""},
      {{"--source", src, "--run", "setup.exe", "--file-version", "1.2.3.65536", "-o", out}, 2, "a.b.c.d", ""},
      {{"--source", src, "--run", "setup.exe", "--company", "\xFF", "-o", out}, 2, "--company: the text is not UTF-8",
       ""},
      // Texts Windows shows in one line hold no control characters; a title fits a caption.
      {{"--source", src, "--run", "setup.exe", "--title", "Board\nfirmware", "-o", out}, 2,
       "--title: the text holds the control character U+000A, which Windows shows as a box", ""},
      {{"--source", src, "--run", "setup.exe", "--company", "Morvane\tKK", "-o", out}, 2,
       "--company: the text holds the control character U+0009", ""},
      {{"--source", src, "--run", "setup.exe", "--description", "next\xC2\x85line", "-o", out}, 2,
       "--description: the text holds the control character U+0085", ""},
      {{"--source", src, "--run", "setup.exe", "--title", std::string(65, 't'), "-o", out}, 2,
       "--title: 65 characters; a title heads the progress window's caption and may have at most 64", ""},
      // The fixed arguments leave room on the payload's command line for the runner's own items.
      {{"--source", src, "--run", "setup.exe", "--arguments", std::string(30001, 'a'), "-o", out}, 2,
       "--arguments: 30001 bytes; at most 30000 fit a Windows command line", ""},
      // Every length in a version resource is 16 bits: one text too long, or several together.
      {{"--source", src, "--run", "setup.exe", "--product-name", std::string(63000, 'x'), "-o", out}, 2,
       "than its 16-bit lengths can say (65535): shorten --product-name (63000 characters)", ""},
      {{"--source", src, "--run", "setup.exe", "--company", std::string(16000, 'c'), "--copyright",
        std::string(17000, 'c'), "-o", out}, 2, "shorten --copyright (17000 characters)", ""},
  };
  const struct {
    std::string Stub, Message;
  } stubs[] = {
      {folder + "/text.exe", "not a Windows program (PE)"},
      {folder + "/pe64.exe", "not a valid x86 program (PE32)"},
      {folder + "/arm64.exe", "an ARM64 program: cabpack packs x86 (PE32) and x64 (PE32+) runners"},
      {folder + "/dll.exe", "is a DLL, not a runner program"},
      {folder + "/console.exe", "is a console program"},
      {folder + "/full.exe", "no room"},
      {folder + "/loop.exe", "the stub \"" + folder + "/loop.exe\": its resource section is damaged: a directory is reached twice"},
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
    if (args[0] != "--list" && args[0] != "--save-cab") args.insert(args.end(), {"--stub", Stub});
    expectFailure(args, c.Code, c.Message);
    if (!c.Extra.empty()) fs::remove(Source / c.Extra);
  }
  expectFailure({"--source", src, "--run", "setup.exe", "--stub", folder + "/x64.exe", "--arch", "x86", "-o", out}, 1,
                "is an x64 runner (PE32+), not x86 as --arch says");
  expectFailure({"--source", src, "--run", "setup.exe", "--icon", folder + "/one.ico", "--stub", folder + "/icons.exe",
                 "-o", out}, 1, "the icon \"" + folder + "/one.ico\": the stub has 0 free icon ids for its 1 images");
  for (const auto& s : stubs) {
    std::set<std::string> left;
    if (s.Stub == out) WriteFile(out, ReadFile(Stub)), left = {"package.exe"};
    expectFailure({"--source", src, "--run", "setup.exe", "--stub", s.Stub, "-o", out}, 1, s.Message, left);
  }
}

TEST_F(CabpackTest, RefusesAPackageWithTwoCopiesOfAResource) {
  // Windows picks among a resource's copies by the user's language: a package with its cabinet in
  // English and in Japanese ran the Japanese one on a Japanese system, while --list and --save-cab
  // showed the English one. Two spellings of a name are one name to Windows.
  ASSERT_EQ(Pack(), 0) << Error;
  std::vector<ResourceItem> items = Resources(Out);
  fs::remove(Out);
  for (ResourceItem& item : items) item.Language = 1033;
  PeImage stub;
  std::string error;
  ASSERT_TRUE(ReadPeImage(Stub, stub, error)) << error;
  const struct {
    std::string Resource, Second, Message;  // Second: the copy's name; "" for the same name in Japanese
  } copies[] = {
      {"CAB", "", "carries the resource CAB 2 times (CAB in language 1033, CAB in language 1041); Windows would pick "
                  "one by the user's language"},
      {"OPT", "", "carries the resource OPT 2 times (OPT in language 1033, OPT in language 1041)"},
      {"SUM", "", "carries the resource SUM 2 times (SUM in language 1033, SUM in language 1041)"},
      {"CAB", "cab", "its resource section holds CAB and cab in one directory, which Windows takes for one name"},
  };
  for (const auto& c : copies) {
    SCOPED_TRACE(c.Resource + " " + c.Second);
    std::vector<ResourceItem> two = items;
    two.push_back(*FindRcData(items, c.Resource));
    // Laid out under another name first, then spelled as wanted: cabpack itself never writes two spellings.
    if (c.Second.empty()) two.back().Language = 1041;
    else two.back().Name = ResourceName("CAC");
    std::string package = (Folder / "two.exe").string();
    std::ostringstream bytes;
    ASSERT_TRUE(RebuildResources(stub, two, bytes, error)) << error;
    std::string laidOut = bytes.str();
    if (!c.Second.empty()) laidOut.replace(laidOut.find(std::string("C\0A\0C\0", 6)), 6, std::string("c\0a\0b\0", 6));
    WriteFile(package, laidOut);
    const std::vector<std::string> commands[] = {
        {"--list", package},
        {"--save-cab", package, "-o", Out},
        {"--source", Source.string(), "--run", "setup.exe", "--stub", package, "-o", Out},
    };
    for (const auto& args : commands) {
      EXPECT_EQ(Run(args), 1) << args[0];
      EXPECT_NE(Error.find(c.Message), std::string::npos) << Error;
      EXPECT_EQ(Output, "");
      EXPECT_EQ(OutFolder(), std::set<std::string>{});
    }
  }
}

TEST_F(CabpackTest, MakesTheOutputsFolderAndRefusesAnOutputThatCannotBeWritten) {
  // Missing folders are made for the output, and go again with a run that fails.
  std::string out = (Folder / "no" / "such" / "folder" / "p.exe").string();
  EXPECT_EQ(Run({"--source", Source.string(), "--run", "missing", "--stub", Stub, "-o", out}), 1) << Error;
  EXPECT_FALSE(fs::exists(Folder / "no"));
  EXPECT_EQ(Run({"--source", Source.string(), "--run", "setup.exe", "--stub", Stub, "-o", out}), 0) << Error;
  EXPECT_TRUE(fs::is_regular_file(out));
  fs::remove_all(Folder / "no");
  WriteFile(Out, "old package");
  out = (fs::path(Out) / "folder" / "p.exe").string();
  EXPECT_EQ(Run({"--source", Source.string(), "--run", "setup.exe", "--stub", Stub, "-o", out}), 1);
  EXPECT_NE(Error.find("the folder \"" + (fs::path(Out) / "folder").string() + "\" cannot be made"), std::string::npos)
      << Error;
  // An existing package stays as it was when the new one fails.
  EXPECT_EQ(Run({"--source", Source.string(), "--run", "missing", "--stub", Stub, "-o", Out}), 1);
  EXPECT_EQ(ReadFile(Out), "old package");
  EXPECT_EQ(OutFolder(), std::set<std::string>{"package.exe"});
}

TEST_F(CabpackTest, RefusesAnUnreadableSourceSayingWhy) {
  // The real cabpack, without root's power to read everything.
  const std::string cabpack = (OwnExecutablePath().parent_path() / "cabpack").string(), errors = (Folder / "errors").string();
  const std::string asUser = geteuid() == 0 ? "setpriv --bounding-set=-dac_override,-dac_read_search " : "";
  const struct {
    fs::path Unreadable;
    std::string Message;
  } cases[] = {
      {Source / "data" / "table.txt", "cabpack: cannot read \"data\\table.txt\" in the source folder: permission denied\n"},
      {Source / "data", "cabpack: cannot read the source folder \"" + Source.string() + "\": Permission denied\n"},
  };
  for (const auto& c : cases) {
    fs::permissions(c.Unreadable, fs::perms::none);
    int status = std::system((asUser + "'" + cabpack + "' --source '" + Source.string() + "' --run setup.exe --stub '" +
                              Stub + "' -o '" + Out + "' 2> '" + errors + "'").c_str());
    fs::permissions(c.Unreadable, fs::perms::owner_all);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(ReadFile(errors), c.Message);
    EXPECT_EQ(OutFolder(), std::set<std::string>{});
  }
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

TEST(Glob, MatchesNamesAndPathsInAnyCase) {
  const struct {
    const char* Glob;
    const char* Path;
    bool Matches;
  } cases[] = {
      {"*.bak", "a.bak", true},         {"*.BAK", "notes.Bak", true},  {"*.bak", "a.bak.txt", false},
      {"?.txt", "a.txt", true},         {"?.txt", "ab.txt", false},    {".git", ".git", true},
      {"docs/*.md", "docs/a.md", true}, {"docs/*.md", "docs/x/a.md", false}, {"d*/a.md", "docs/a.md", true},
      {"*", "", true},                  {"a?c", "a/c", false},         {"Thumbs.db", "thumbs.db", true},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchesGlob(c.Glob, c.Path), c.Matches) << c.Glob << " " << c.Path;
}

TEST_F(CabpackTest, FollowsTheCommandLineConventions) {
  std::string src = Source.string();
  const struct {
    std::vector<std::string> Args;
    int Code;
    std::string Message;  // in what is printed, on stdout or stderr
  } cases[] = {
      {{"--version"}, 0, "cabpack 1."},
      {{"--sorce", src}, 2, "unknown switch \"--sorce\"; did you mean --source?"},
      {{"--source", src, "--run", "setup.exe", "--on", "hidewhilerunnig", "-o", Out}, 2,
       "unknown option \"hidewhilerunnig\"; did you mean HideWhileRunning?"},
      {{"--source", src, "--run", "setup.exe", "-o", "-"}, 2, "standard output"},
      {{"--source", src, "--run", "setup.exe", "--quiet=yes", "-o", Out}, 2, "--quiet takes no value"},
      {{"--source", src, "--run"}, 2, "--run needs a value"},
      {{"--source", src, "setup.exe"}, 2, "unexpected argument \"setup.exe\""},
      {{"--source=" + src, "--run=setup.exe", "-o", Out}, 0, "made \"" + Out + "\": 2 files, 16 bytes in, "},
      {{"--source", src, "--run", "setup.exe", "--exclude", "data", "-o", Out}, 0,
       "1 file, 10 bytes in, "},
      {{"--source", src, "--run", "setup.exe", "--exclude", "*.exe", "-o", Out}, 1, "is left out by --exclude"},
      {{"--source", src, "--run", "setup.exe", "--sign-command", "osslsigncode sign -in x", "-o", Out}, 2,
       "--sign-command: the command must name the package to sign as {in}"},
      {{"--source", src, "--run", "setup.exe", "--sign-command", "sign '{in}", "-o", Out}, 2,
       "--sign-command: the command has an unclosed '"},
      {{"--save-cab", Out, "--sign-command", "sign {in}", "-o", Out + ".cab"}, 2, "--sign-command go with --source or --cab"},
      {{"--source", src, "--run", "setup.exe", "--sign-command=", "-o", Out}, 2,
       "--sign-command: the command is empty (--no-sign packs without signing)"},
      {{"--source", src, "--run", "SETUP.EXE", "-o", Out}, 0, "2 files, 16 bytes in"},  // any case, as with --cab
      // At the limits; the title's characters are counted, not its bytes (8 of them take two each).
      {{"--source", src, "--run", "setup.exe", "--arguments", std::string(30000, 'a'), "--title",
        std::string(56, 't') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "-o", Out},
       0, "2 files, 16 bytes in"},
      {{"--source", src, "--run", "setup.exe", "-o", Folder.string() + "/out\\x.exe"}, 0,
       "cabpack: warning: --output \"" + Folder.string() + "/out\\x.exe\" holds a backslash, which is part of a name"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.Args;
    args.insert(args.begin(), {"--stub", Stub});
    EXPECT_EQ(Run(args), c.Code) << c.Message << " " << Error;
    EXPECT_NE((Output + Error).find(c.Message), std::string::npos) << c.Message << "\n" << Output << Error;
  }
  // --quiet leaves only errors.
  ASSERT_EQ(Pack({"--quiet"}), 0) << Error;
  EXPECT_EQ(Output + Error, "");
  // The help, the manual page and the completion name every switch and every option; the help
  // within 80 columns, with the exit codes, the build's own switches hidden.
  ASSERT_EQ(Run({"--help"}), 0);
  const std::string help = Output;
  ASSERT_EQ(Run({"--man-page"}), 0);
  const std::string man = Output;
  ASSERT_EQ(Run({"--bash-completion"}), 0);
  std::string completion = Output;
  for (char& c : completion) c = c == '\'' || c == '|' || c == ')' ? ' ' : c;
  for (std::string name : {"--source", "--run", "--exclude", "--on", "--off", "--compression", "--codepage", "--stub",
                           "--cab", "--product-name", "--product-version", "--file-version", "--company", "--copyright",
                           "--description", "--original-filename", "--icon", "--output", "--config", "--list",
                           "--save-cab", "--quiet", "--version", "--sign-command", "--no-sign"}) {
    EXPECT_NE(help.find(name), std::string::npos) << name;
    EXPECT_NE(completion.find(" " + name + " "), std::string::npos) << name;
    std::string roff;
    for (char c : name) roff += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(man.find("\n\\fB" + roff + "\\fR"), std::string::npos) << roff;
  }
  for (const PackageOptionText& text : PackageOptionTexts) {
    EXPECT_NE(help.find(text.Name), std::string::npos) << text.Name;
    EXPECT_NE(man.find(std::string(".B ") + text.Name + "\n"), std::string::npos) << text.Name;
  }
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_NE(help.find("\nExit codes:\n  0    done\n  1    failed"), std::string::npos) << help;
  EXPECT_NE(help.find("\n  2    a mistake"), std::string::npos) << help;
  EXPECT_NE(help.find("\n  130  interrupted"), std::string::npos) << help;
  EXPECT_NE(man.find(".SH \"EXIT STATUS\"\n.TP\n.B 0\n"), std::string::npos) << man;
  // The package's own command line too, for those who deploy it: the runner's switches as it spells
  // them, its exit codes, its log.
  for (ProtectedId id : {PsExtractSwitch, PsLanguageSwitch, PsQuietSwitch, PsLogSwitch})
    EXPECT_NE(man.find(".TP\n.B " + Plain(id)), std::string::npos) << Plain(id);
  for (const char* code : {"101", "102", "103", "104", "105", "106", "107", "1223", "8", "1359"})
    EXPECT_NE(man.find(std::string(".TP\n.B ") + code + "\n"), std::string::npos) << code;
  for (const char* heading : {"COMMAND LINE", "EXIT STATUS", "LOG"})
    EXPECT_NE(man.find(std::string(".SH \"THE PACKAGE'S ") + heading + "\"\n"), std::string::npos) << heading;
  EXPECT_EQ(help.find("--man-page"), std::string::npos);
  EXPECT_EQ(completion.find("--man-page"), std::string::npos);
}

TEST_F(CabpackTest, CompletesWhatCabpackTakes) {
  ASSERT_EQ(Run({"--bash-completion"}), 0);
  const std::string script = (Folder / "cabpack.bash").string();
  WriteFile(script, Output);
  // What completing the last word offers, the words split as bash splits them (at a colon too).
  auto offered = [&](const std::vector<std::string>& words) {
    std::string command = "bash -c '. \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _cabpack; "
                          "echo \"${COMPREPLY[*]}\"' sh '" + script + "'";
    for (const std::string& w : words) command += " '" + w + "'";
    std::set<std::string> lines = CommandLines(command);
    return lines.size() == 1 ? *lines.begin() : std::string("(no single line)");
  };
  const std::string windows = "15 16 17 18 19 20 21";
  const struct {
    std::vector<std::string> Words;
    std::string Offered;
  } cases[] = {
      {{"cabpack", "--compression", "lzx-"}, "lzx-optimal lzx-optimal:15 lzx-optimal:16 lzx-optimal:17 lzx-optimal:18 "
                                             "lzx-optimal:19 lzx-optimal:20 lzx-optimal:21"},
      {{"cabpack", "--compression", "lzx", ":"}, windows},
      {{"cabpack", "--compression", "lzx-optimal", ":", "2"}, "20 21"},
      {{"cabpack", "--on", "hide"}, "HideWhileRunning"},
      {{"cabpack", "--source", ".", "--off", "REPORTBIDT"}, "ReportBidText8 ReportBidText4"},
      {{"cabpack", "--arch", ""}, "x86 x64"},
      {{"cabpack", "--no"}, "--no-sign"},
      {{"cabpack", "bu"}, "build"},
  };
  for (const auto& c : cases) EXPECT_EQ(offered(c.Words), c.Offered) << c.Words.back();
  // Every value offered for --compression is one that cabpack takes.
  std::istringstream values(offered({"cabpack", "--compression", ""}));
  int count = 0;
  for (std::string value; values >> value; ++count) EXPECT_EQ(Pack({"--compression", value}), 0) << value << Error;
  EXPECT_EQ(count, 2 + 2 * 8);
}

TEST_F(CabpackTest, PacksFromAPackageFile) {
  // Paths in the file are relative to it (the icon too); the command line comes after it. Saved
  // by Notepad (a byte order mark, CR LF) it reads the same; " ;" starts a comment after any name.
  fs::path file = Folder / "update.ini";
  std::set<std::string> dressed = MakeIcon((Folder / "logo.ico").string(), {{16, "red"}, {48, "blue"}});
  dressed.insert({"string ProductName=Board firmware", "string CompanyName=Morvane KK",
                  "string LegalCopyright=(c) Morvane;2026", "fixed file 2.1.0.7 product 2.1.0.7",
                  "string FileVersion=2.1.0.7", "string ProductVersion=2.1.0.7", "icons 2"});
  WriteFile(file,
            "\xEF\xBB\xBF; the update\r\n"
            "source = src\r\n"
            "run = data/table.txt\n"
            "on = HideWhileRunning ; hidden while it runs\n"
            "on = ReportPowerStatus\t; and on battery\n"
            "copyright = (c) Morvane;2026 ; a ';' without a blank before it stays\n"
            "title = \"  Board; firmware \" ; one pair of quotes goes, what is inside stays\n"
            "arguments = \"C:\\x y.ini\" /s ; not a quoted value: it does not end in the quote\n"
            "exclude = *.exe\n"
            "compression = none\n"
            "stub = stub.exe\n"
            "product-name = Board firmware\n"
            "company = Morvane KK\n"
            "product-version = 2.1.0.7\n"
            "icon = logo.ico\n"
            "output = out/package.exe\n");
  ASSERT_EQ(Run({"build", file.string()}), 0) << Error;
  const std::string texts[] = {Plain(PsArguments) + "=\"C:\\x y.ini\" /s", Plain(PsTitle) + "=  Board; firmware "};
  EXPECT_EQ(FindRcData(Resources(Out), "OPT")->Data,
            List({Plain(PsKeyHideWhileRunning) + "=" + Plain(PsOptionOn), Plain(PsKeyReportPowerStatus) + "=" + Plain(PsOptionOn),
                  texts[0], texts[1]}));
  std::set<std::string> read = ReadByPefile(Out);
  for (const std::string& line : dressed) EXPECT_EQ(read.count(line), 1u) << line;
  CabinetTable table = Cabinet(Out);
  ASSERT_EQ(table.Files.size(), 1u);
  EXPECT_EQ(table.Files[0].Name, "data\\table.txt");
  EXPECT_EQ(table.FolderCompression, std::vector<uint16_t>{0});

  std::string other = (Folder / "out" / "other.exe").string();
  ASSERT_EQ(Run({"--config", file.string(), "--off", "HideWhileRunning", "--compression=mszip", "-o", other}), 0)
      << Error;
  EXPECT_EQ(FindRcData(Resources(other), "OPT")->Data,
            List({Plain(PsKeyHideWhileRunning) + "=0", Plain(PsKeyReportPowerStatus) + "=" + Plain(PsOptionOn), texts[0],
                  texts[1]}));
  EXPECT_EQ(Cabinet(other).FolderCompression, std::vector<uint16_t>{1});

  const struct {
    std::string Text, Message;
  } bad[] = {
      {"source = src\nrun = setup.exe\nsorce = src\n", "update.ini\", line 3: unknown name \"sorce\"; did you mean source?"},
      {"source = src\n[package]\nrun = setup.exe\n", "line 2: a package file has no sections: remove \"[package]\""},
      {"source = src\nrun setup.exe\n", "line 2: \"run setup.exe\" is not \"name = value\""},
      {"source = src\r\nproduct-version = 1.2.3\r\n",
       "line 2: product-version: four numbers a.b.c.d from 0 to 65535, not \"1.2.3\""},
      {"compression = zip ; smaller\n", "line 1: compression: none, mszip, lzx, lzx:15 to lzx:21, lzx-optimal or lzx-optimal:15 to lzx-optimal:21, not \"zip\""},
      {"company = \xFF\n", "line 1: company: the text is not UTF-8"},
      {"list = out/package.exe\n", "line 1: \"list\" goes on the command line only"},
      {"run = setup.exe\nsource =\n", "line 2: \"source\" needs a value"},
      {"on = HideWhileRuning\n", "line 1: on: unknown option \"HideWhileRuning\"; did you mean HideWhileRunning?"},
      {"source = src\ntitle = A\n; a later change\ntitle = \"B\"\n",
       "line 4: \"title\" is given on line 2 already; only exclude, on and off may be given more than once"},
  };
  fs::remove(Out);
  fs::remove(other);
  for (const auto& b : bad) {
    WriteFile(file, b.Text);
    EXPECT_EQ(Run({"build", file.string(), "--stub", Stub, "-o", Out}), 2) << b.Text;
    EXPECT_NE(Error.find("cabpack: the package file \"" + file.string()), std::string::npos) << Error;
    EXPECT_NE(Error.find(b.Message), std::string::npos) << Error;
    EXPECT_EQ(OutFolder(), std::set<std::string>{});
  }
  EXPECT_EQ(Run({"build", (Folder / "missing.ini").string()}), 2);
  EXPECT_NE(Error.find("missing.ini\": no such file"), std::string::npos) << Error;
  EXPECT_EQ(Run({"build", Source.string()}), 2);
  EXPECT_NE(Error.find("\"" + Source.string() + "\" is a folder, not a package file; to pack a folder give --source"),
            std::string::npos) << Error;
  WriteFile(file, "source = src\nrun = setup.exe\n");
  EXPECT_EQ(Run({"build", file.string(), "--stub", Stub}), 2);
  EXPECT_NE(Error.find("name the package to write: output = FILE in the package file or -o FILE"), std::string::npos)
      << Error;
}

TEST_F(CabpackTest, NeverPacksTheOutputLinksOrStagingFiles) {
  // A package made into the source folder, and a staging file a killed run left there.
  std::string inside = (Source / "package.exe").string();
  WriteFile(Source / "old.exe.cabpack-1f2e.tmp", "left over");
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(Run({"--source", Source.string(), "--run", "setup.exe", "--stub", Stub, "-o", inside}), 0) << Error;
    EXPECT_EQ(Cabinet(inside).Files.size(), 2u);
  }
  EXPECT_NE(Error.find("cabpack: leaving out \"package.exe\": it is the output"), std::string::npos) << Error;
  EXPECT_NE(Error.find("cabpack: leaving out \"old.exe.cabpack-1f2e.tmp\": it is a staging file"), std::string::npos)
      << Error;
  EXPECT_EQ(Error.find("package.exe.cabpack-"), std::string::npos) << "its own staging file named: " << Error;

  // Links are refused whether they point in, out or nowhere, unless excluded.
  fs::remove(inside);
  fs::remove(Source / "old.exe.cabpack-1f2e.tmp");
  WriteFile(Folder / "secret.txt", "build machine");
  const fs::path targets[] = {Source / "setup.exe", Folder / "secret.txt", Folder / "nowhere", Folder};
  for (const fs::path& target : targets) {
    fs::create_symlink(target, Source / "data" / "link");
    EXPECT_EQ(Pack(), 1) << target;
    EXPECT_NE(Error.find("cabpack: \"data\\link\" is a link"), std::string::npos) << Error;
    EXPECT_EQ(OutFolder(), std::set<std::string>{});
    EXPECT_EQ(Pack({"--exclude", "link"}), 0) << Error;
    fs::remove(Source / "data" / "link");
    fs::remove(Out);
  }
}

TEST_F(CabpackTest, AnInterruptedRunLeavesNothingBehind) {
  // Enough data that the real cabpack is still compressing when the signal comes.
  std::ofstream big(Source / "big.bin", std::ios::binary);
  std::mt19937 random(1);
  for (int i = 0; i < (48 << 20) / 4; ++i) {
    uint32_t word = random();
    big.write(reinterpret_cast<const char*>(&word), 4);
  }
  big.close();
  std::string cabpack = (OwnExecutablePath().parent_path() / "cabpack").string();
  for (int signal : {SIGINT, SIGTERM}) {
    pid_t child = fork();
    if (child == 0) {
      execl(cabpack.c_str(), "cabpack", "--source", Source.c_str(), "--run", "setup.exe", "--stub", Stub.c_str(), "-o",
            Out.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(child, 0);
    // Wait until a staging file beside the output is being written.
    bool writing = false;
    for (int wait = 0; wait < 20000 && !writing; ++wait) {
      usleep(1000);
      for (const auto& e : fs::directory_iterator(Folder / "out")) writing = writing || (e.is_regular_file() && e.file_size() > 0);
    }
    EXPECT_TRUE(writing);
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(OutFolder(), std::set<std::string>{}) << signal;
  }
}
