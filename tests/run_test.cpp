#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "runner/protected_plain.h"
#include "sys/paths.h"
#include "sys/system.h"

#include "tests/run_driver.h"
#include "tests/test_support.h"
#include "ui/display_text.h"

namespace {

std::string WindowsPath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

const std::string ProbePath = WindowsPath(PROBE_PAYLOAD_PATH);

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Test names from the cases' Name fields.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return info.param.Name;
  }
};

// The driver on its own, against boxes that the probe shows when started directly.
struct BoxCase {
  const char* Name;
  UINT Style;
  int Answer;
  int Expected;  // what MessageBoxA returned in the probe
};

class DriverTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(DriverTest, ReadsAndAnswersABox) {
  const BoxCase& c = GetParam();
  TempFolder temp;
  std::string record = temp / "record.txt";
  SetEnvironmentVariableA("PROBE_RECORD", record.c_str());
  SetEnvironmentVariableA("PROBE_BOX", "Some text\nsecond line");
  SetEnvironmentVariableA("PROBE_BOX_CAPTION", "A caption");
  SetEnvironmentVariableA("PROBE_BOX_STYLE", std::to_string(c.Style).c_str());
  TRunScript script;
  script.Answers = {c.Answer};
  script.TimeLimitMs = 20000;
  TRunOutcome outcome = DriveRun(Quoted(ProbePath), temp.Path, script);
  SetEnvironmentVariableA("PROBE_BOX", nullptr);

  ASSERT_TRUE(outcome.Started);
  EXPECT_FALSE(outcome.TimedOut);
  ASSERT_EQ(outcome.Boxes.size(), 1u);
  EXPECT_EQ(outcome.Boxes[0].Caption, L"A caption");
  EXPECT_EQ(outcome.Boxes[0].Text, L"Some text\nsecond line");
  EXPECT_EQ(outcome.Boxes[0].Owner, TBoxOwner::None);
  EXPECT_EQ(outcome.Boxes[0].Type, c.Style) << std::hex << outcome.Boxes[0].Type;
  std::vector<TProbeRecord> records = ReadProbeRecords(record);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["BoxAnswer"], std::to_string(c.Expected));
  EXPECT_TRUE(records[0].count("end"));
  EXPECT_TRUE(outcome.WindowStates.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, DriverTest,
    ::testing::Values(BoxCase{"Ok", MB_OK, IDOK, IDOK},
                      BoxCase{"QuestionCancelled", MB_OKCANCEL | MB_ICONQUESTION, IDCANCEL, IDCANCEL},
                      BoxCase{"QuestionConfirmed", MB_OKCANCEL | MB_ICONQUESTION, IDOK, IDOK},
                      BoxCase{"Error", MB_ICONERROR, IDOK, IDOK}, BoxCase{"Warning", MB_ICONWARNING, IDOK, IDOK},
                      BoxCase{"Information", MB_ICONINFORMATION, IDOK, IDOK},
                      BoxCase{"YesNo", MB_YESNO | MB_ICONQUESTION, IDNO, IDNO}),
    CaseName());

TEST(Driver, EndsARunThatOutlivesItsTimeLimit) {
  TempFolder temp;
  SetEnvironmentVariableA("PROBE_RECORD", (temp / "record.txt").c_str());
  SetEnvironmentVariableA("PROBE_SLEEP", "60000");
  TRunScript script;
  script.TimeLimitMs = 500;
  TRunOutcome outcome = DriveRun(Quoted(ProbePath), temp.Path, script);
  SetEnvironmentVariableA("PROBE_SLEEP", nullptr);
  EXPECT_TRUE(outcome.TimedOut);
  // Far below the payload's minute, with room for a loaded machine.
  EXPECT_LT(outcome.EndedAt - outcome.StartedAt, 30000u);
}

TEST(Driver, ReadsRecordsWithEscapes) {
  TempFolder temp;
  ASSERT_TRUE(WriteTextFile(temp / "r.txt", "begin\nA=x\\\\y\\r\\nz\nB=\nbegin\r\nA=2\r\nend=\r\n"));
  std::vector<TProbeRecord> records = ReadProbeRecords(temp / "r.txt");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["A"], "x\\y\r\nz");
  EXPECT_EQ(records[0].count("B"), 1u);
  EXPECT_EQ(records[1]["A"], "2");
  EXPECT_EQ(records[1].count("end"), 1u);
}


// --- The whole run ---------------------------------------------------------------------------

const std::string PackagesFolder = WindowsPath(RUN_PACKAGES_DIR);

std::string Plain(ProtectedId id) { return PlainText(id); }

std::wstring Wide(const std::string& text) { return WideFromCodePage(text, CP_ACP); }

// Every file and folder under folder, by relative path.
std::set<std::string> Tree(const std::string& folder) {
  std::map<std::string, bool> entries;
  ListTree(folder, entries);
  std::set<std::string> names;
  for (const auto& entry : entries) names.insert(entry.first);
  return names;
}

// The parameters a started program was given: its command line without the program part.
std::string ParametersOf(const std::string& commandLine) {
  size_t end = commandLine[0] == '"' ? commandLine.find('"', 1) + 1 : commandLine.find(' ');
  if (end == std::string::npos || end >= commandLine.size()) return std::string();
  return commandLine.substr(end + 1);
}

// The text with the words EXTRACT and LANG replaced by the extract-only and language switches.
std::string WithSwitches(std::string text) {
  for (const auto& word : {std::make_pair(std::string("EXTRACT"), Plain(PsExtractSwitch)),
                           std::make_pair(std::string("LANG"), Plain(PsLanguageSwitch))})
    for (size_t at; (at = text.find(word.first)) != std::string::npos;) text.replace(at, word.first.size(), word.second);
  return text;
}

std::string FirstLaunchItem(const std::string& runner) {
  std::string item = "/" + Plain(PsRunnerSection) + Plain(PsKeySeparator) + runner;
  return item.find(' ') == std::string::npos ? item : Quoted(item);
}

std::string ExpectedReport(const std::string& runner, const std::string& id, const std::string& name,
                           const std::string& start) {
  std::string separator = Plain(PsKeySeparator);
  return "[" + Plain(PsRunnerSection) + "]\r\n" + Plain(PsRunnerPathKey) + separator + runner + "\r\n" +
         Plain(PsLanguageIdKey) + separator + id + "\r\n" + Plain(PsLanguageNameKey) + separator + name + "\r\n" +
         Plain(PsAdministratorKey) + separator + (IsUserAdministrator() ? "1" : "0") + "\r\n" +
         Plain(PsStartFolderKey) + separator + start + "\r\n";
}

// The progress window's captions in the order they were shown.
std::vector<std::wstring> Captions(const TRunOutcome& outcome) {
  std::vector<std::wstring> captions;
  for (const TWindowState& state : outcome.WindowStates)
    if (state.Visible && (captions.empty() || captions.back() != state.Caption)) captions.push_back(state.Caption);
  return captions;
}

bool WasShown(const TRunOutcome& outcome, bool marquee) {
  for (const TWindowState& state : outcome.WindowStates)
    if (state.Visible && state.Marquee == marquee) return true;
  return false;
}

// The visibility of the window while the payload ran, each change once.
std::vector<bool> VisibilityWhileRunning(const TRunOutcome& outcome) {
  std::vector<bool> seen;
  for (const TWindowState& state : outcome.WindowStates)
    if (state.Marquee && (seen.empty() || seen.back() != state.Visible)) seen.push_back(state.Visible);
  return seen;
}

const std::string ReportName = "probe." + Plain(PsReportExtension);

const wchar_t BilingualCaption[] = L"Extracts of files";
const wchar_t JapaneseCaption[] = L"ファイルの抽出";

void ExpectBox(const TBoxSeen& box, const std::wstring& caption, const std::wstring& text, TBoxOwner owner,
               UINT type) {
  EXPECT_EQ(box.Caption, caption);
  EXPECT_EQ(box.Text, text);
  EXPECT_EQ(box.Owner, owner);
  EXPECT_EQ(box.Type, type) << std::hex << box.Type;
}

// The Unix path of a Windows path, through Wine's own conversion.
std::string UnixPath(const std::string& path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  auto convert = LookUpFunction<Convert>(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  char* unix = convert ? convert(Wide(path).c_str()) : nullptr;
  std::string result = unix ? unix : "";
  if (unix) HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// Wine starts Unix programs too. Their handles cannot be waited on: callers look for the effect.
bool StartUnixProgram(const std::string& program, std::string line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(("Z:" + program).c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Wine cannot make links: a symbolic link (which Wine shows as a reparse point where it leads to a
// folder) or a second name of a file (a hard link) is made by ln. True once the link is there.
bool MakeUnixLink(const std::string& target, const std::string& link, bool symbolic = true) {
  std::string paths = "\"" + UnixPath(target) + "\" \"" + UnixPath(link) + "\"";
  if (!StartUnixProgram("/bin/ln", (symbolic ? "ln -sT " : "ln ") + paths)) return false;
  for (int round = 0; round < 300; ++round) {
    int32_t attributes = ReadAttributes(link);
    if (attributes != -1) return true;
    Sleep(1);
  }
  return false;
}

// Wine cannot remove a link to a folder that is not empty.
void RemoveUnixLink(const std::string& link) {
  if (!StartUnixProgram("/bin/rm", "rm -f \"" + UnixPath(link) + "\"")) return;
  for (int round = 0; round < 300 && ReadAttributes(link) != -1; ++round) Sleep(10);
}

// Another user of the machine: watches the work folder for the run's temporary cabinet and, as
// soon as its name is known, puts something of its own at a name that the run is about to use.
enum class TSquat {
  None,
  CabinetFile,  // creates the temporary cabinet's name in any moment it is free before the expansion
  // Not in the work folder: as soon as the folder Work appears, a symbolic link or a second name
  // of the file LinkTarget as Work\file9.txt.
  FileLink,
  SecondName,
};

class TSquatter {
 public:
  TSquatter(const std::string& work, TSquat kind, const std::string& linkTarget)
      : Work(work), Kind(kind), LinkTarget(linkTarget), Thread(CreateThread(nullptr, 0, Main, this, 0, nullptr)) {}
  ~TSquatter() { Finish(); }
  TSquatter(const TSquatter&) = delete;
  TSquatter& operator=(const TSquatter&) = delete;

  void Finish() {
    if (!Thread) return;
    Stop = true;
    WaitForSingleObject(Thread, 20000);
    CloseHandle(Thread);
    Thread = nullptr;
  }

  std::string Planted;  // what was put in place before the run used the name; empty: the run was first

 private:
  static DWORD WINAPI Main(void* self) {
    static_cast<TSquatter*>(self)->Watch();
    return 0;
  }

  void Watch() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    while (!Stop && Kind != TSquat::None) {
      if (Kind == TSquat::FileLink || Kind == TSquat::SecondName) {
        if (!IsExistingFolder(Work)) continue;
        if (MakeUnixLink(LinkTarget, Work + "\\file9.txt", Kind == TSquat::FileLink)) Planted = Work + "\\file9.txt";
        return;
      }
      for (const std::string& name : RunLeftovers(Work))
        if (name[0] != '_') return Plant(Work + "\\" + name, Work + "\\_" + name);
    }
  }

  // A run that deletes its file and makes it again leaves the name free in between.
  void Plant(const std::string& cabinet, const std::string& extract) {
    for (DWORD start = GetTickCount(); !Stop && GetTickCount() - start < 5000 && !IsExistingFolder(extract);) {
      HANDLE file = CreateFileA(cabinet.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) continue;
      CloseHandle(file);
      if (IsExistingFolder(extract))
        DeleteFileA(cabinet.c_str());  // too late: the run had already expanded its own
      else
        Planted = cabinet;
      return;
    }
  }

  std::string Work;
  TSquat Kind;
  std::string LinkTarget;
  volatile bool Stop = false;
  HANDLE Thread;
};

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Record = Records / "record.txt";
    SetEnvironmentVariableA("PROBE_RECORD", Record.c_str());
    for (const char* name : {"PROBE_SLEEP", "PROBE_HIDE_AFTER", "PROBE_HIDE_FOR", "PROBE_BOX", "PROBE_EXIT"})
      SetEnvironmentVariableA(name, nullptr);
    WorkBefore = Tree(Work);
    ASSERT_TRUE(RunLeftovers(Work).empty()) << "an earlier run left its files in " << Work;
  }

  // A copy of the package NAME in the test's folder, or in its subfolder folder.
  std::string Package(const std::string& name, const std::string& folder = std::string()) {
    std::string target = folder.empty() ? Temp.Path : Temp / folder;
    CreateDirectoryA(target.c_str(), nullptr);
    std::string path = target + "\\" + name + ".exe";
    EXPECT_TRUE(CopyFileA((PackagesFolder + "\\" + name + ".exe").c_str(), path.c_str(), FALSE)) << name;
    return path;
  }

  // Starts package with the argument text arguments, in the test's folder, and checks what
  // every run must do: end by itself and write nothing in the test's folder outside target,
  // the extract-only target relative to it.
  TRunOutcome Run(const std::string& package, const std::string& arguments, const TRunScript& script = TRunScript(),
                  const std::string& target = std::string()) {
    std::set<std::string> before = Tree(Temp.Path), tempBefore = TempNames();
    TRunOutcome outcome = DriveRun(Quoted(package) + (arguments.empty() ? "" : " " + arguments), Temp.Path, script);
    EXPECT_TRUE(outcome.Started);
    EXPECT_FALSE(outcome.TimedOut);
    std::set<std::string> after = Tree(Temp.Path);
    if (!target.empty())
      for (std::set<std::string>* names : {&before, &after})
        for (auto name = names->begin(); name != names->end();)
          name = *name == target || name->rfind(target + "\\", 0) == 0 ? names->erase(name) : std::next(name);
    EXPECT_EQ(after, before) << "written outside the extract folder";
    EXPECT_EQ(TempNames(), tempBefore) << "written into the temp folder";
    return outcome;
  }

  // Runs package quietly with a log, as a deployment tool would: neither a window nor a box may
  // appear, and the run must end with exitCode. Returns the log.
  std::string RunQuietly(const std::string& package, const std::string& arguments, DWORD exitCode,
                         const std::string& target = std::string()) {
    std::string log = Records / "run.log";
    DeleteFileA(log.c_str());
    TRunOutcome outcome = Run(package,
                              Plain(PsQuietSwitch) + " " + Plain(PsLogSwitch) + "=" + Quoted(log) +
                                  (arguments.empty() ? "" : " " + arguments),
                              TRunScript(), target);
    EXPECT_TRUE(outcome.Boxes.empty()) << "a box in a quiet run";
    EXPECT_TRUE(outcome.WindowStates.empty()) << "a window in a quiet run";
    EXPECT_EQ(outcome.ExitCode, exitCode);
    std::string text = ReadWholeFile(log);
    EXPECT_NE(text.find(" exit code " + std::to_string(static_cast<int>(exitCode)) + "\r\n"), std::string::npos)
        << text;
    return text;
  }

  static std::set<std::string> TempNames() {
    char buffer[MAX_PATH + 1];
    GetTempPathA(sizeof buffer, buffer);
    std::set<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((std::string(buffer) + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.insert(entry.cFileName);
    while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
  }

  // Checks that the run left nothing in the work folder, then clears it for the next test.
  void ExpectNothingLeft() {
    std::vector<std::string> leftovers = RunLeftovers(Work);
    EXPECT_TRUE(leftovers.empty());
    EXPECT_EQ(Tree(Work), WorkBefore);
    for (const std::string& name : leftovers) {
      DeleteFolderIfPresent(Work + "\\" + name);
      DeleteFileIfPresent(Work + "\\" + name);
    }
  }

  std::vector<TProbeRecord> Payloads() { return ReadProbeRecords(Record); }

  // Waits until the payload of a run that did not wait for it has ended.
  void AwaitPayloadEnd() {
    for (int round = 0; round < 200; ++round) {
      std::vector<TProbeRecord> records = Payloads();
      if (!records.empty() && records.back().count("end")) return;
      Sleep(50);
    }
    ADD_FAILURE() << "the payload did not end";
  }

  // A run in Japanese: languageArgument is empty on a Japanese system, else the switch.
  void CheckJapaneseRun(const std::string& languageArgument) {
    std::string package = Package("normal");
    TRunOutcome outcome = Run(package, languageArgument);
    EXPECT_TRUE(outcome.Boxes.empty());
    EXPECT_EQ(Captions(outcome), (std::vector<std::wstring>{L"抽出しています....", L"実行しています...."}));
    std::vector<TProbeRecord> payloads = Payloads();
    ASSERT_EQ(payloads.size(), 1u);
    std::string id = languageArgument.empty() ? HexText(GetSystemDefaultLangID(), 4) : "0411";
    EXPECT_EQ(payloads[0]["Report"], ExpectedReport(package, id, "JPN", Temp.Path));
    EXPECT_EQ(ParametersOf(payloads[0]["CommandLine"]),
              FirstLaunchItem(package) + (languageArgument.empty() ? "" : " " + languageArgument));
    ExpectNothingLeft();
  }

  // Every bilingual message in Japanese; the English-only ones stay English.
  void CheckJapaneseMessages(const std::string& languageArgument) {
    std::string language = languageArgument.empty() ? "" : languageArgument + " ";
    std::string extract = Plain(PsExtractSwitch);
    std::string package = Package("normal");
    std::string target = Temp / "new";
    TRunOutcome outcome = Run(package, language + extract + " new", TRunScript(), "new");
    ASSERT_EQ(outcome.Boxes.size(), 2u);
    ExpectBox(outcome.Boxes[0], JapaneseCaption, L"ファイルを \"" + Wide(target) + L"\" へ抽出しますか？",
              TBoxOwner::None, MB_OKCANCEL | MB_ICONQUESTION);
    ExpectBox(outcome.Boxes[1], JapaneseCaption, L"ファイルを \"" + Wide(target) + L"\" へ抽出しました。",
              TBoxOwner::ProgressWindow, MB_OK);
    EXPECT_EQ(Captions(outcome), std::vector<std::wstring>{L"抽出しています...."});

    TRunScript decline;
    decline.Answers = {IDCANCEL};
    outcome = Run(package, language + extract + " other", decline);
    ASSERT_EQ(outcome.Boxes.size(), 2u);
    ExpectBox(outcome.Boxes[1], JapaneseCaption, L"ファイルの抽出を中止しました。", TBoxOwner::None, MB_OK);

    ASSERT_TRUE(WriteTextFile(Temp / "file", "a file, not a folder"));
    std::string blocked = Temp / "file\\sub";
    outcome = Run(package, language + extract + " " + blocked);
    ASSERT_EQ(outcome.Boxes.size(), 2u);
    ExpectBox(outcome.Boxes[1], JapaneseCaption, L"フォルダ \"" + Wide(blocked) + L"\" を作成できません！",
              TBoxOwner::None, MB_ICONERROR);

    outcome = Run(Package("badheader"), language);
    ASSERT_EQ(outcome.Boxes.size(), 1u);
    ExpectBox(outcome.Boxes[0], JapaneseCaption, L"ファイルを抽出できません！", TBoxOwner::ProgressWindow,
              MB_ICONERROR);

    outcome = Run(Package("noflag"), language);
    ASSERT_EQ(outcome.Boxes.size(), 1u);
    ExpectBox(outcome.Boxes[0], L"Error", L"An executable file is not specified!", TBoxOwner::ProgressWindow,
              MB_ICONERROR);
    ExpectNothingLeft();
  }

  TempFolder Temp, Records;
  std::string Record;
  const std::string Work = RunWorkFolder();
  std::set<std::string> WorkBefore;
};

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

// The log's lines, each after its time stamp (local time, "YYYY-MM-DD hh:mm:ss.mmm ").
std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = log.substr(start, end - start);
    const char pattern[] = "0000-00-00 00:00:00.000 ";  // 0: any digit
    bool stamped = line.size() > 24;
    for (size_t i = 0; stamped && i < 24; ++i)
      stamped = pattern[i] == '0' ? isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == pattern[i];
    EXPECT_TRUE(stamped) << line;
    lines.push_back(stamped ? line.substr(24) : line);
  }
  return lines;
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
      {"options ", " " + Plain(PsAllowQuietSwitch) + on + " " + Plain(PsPassExitCode) + off},
      {"quiet run", ""},
      {"temporary cabinet " + Work + "\\cab", ".tmp"},
      {"extract folder " + extractFolder, ""},
      {"expanded 3 files, ", " bytes, error 0"},
      {"starting " + extractFolder + "\\probe.exe " + FirstLaunchItem(package), " x"},
      {"program ended, exit code 0", ""},
      {"clean-up: extract folder gone, temporary cabinet gone", ""},
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

// A log that cannot be written changes nothing: the run goes on as without one.
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
  RemoveUnixLink(log);
  // A plain file that another user made at the log's path (under Wine every file is the process
  // user's, which is not trusted) is left alone: they could read the lines, forge some, or stall
  // the runner at each one.
  ASSERT_TRUE(WriteTextFile(log, "theirs"));
  EXPECT_EQ(Run(package, Plain(PsQuietSwitch) + " " + Plain(PsLogSwitch) + "=" + log).ExitCode, 0u);
  EXPECT_EQ(ReadWholeFile(log), "theirs");
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
  std::string log = RunQuietly(Package("argshuge"), "", 107);
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

TEST_F(RunTest, FlaggedFileMissing) {
  std::string package = Package("single");
  TRunScript script;
  script.RemoveWhenExpanded = "probe.exe";
  TRunOutcome outcome = Run(package, "", script);
  ASSERT_TRUE(outcome.Removed) << "the payload could not be taken away in time";
  EXPECT_EQ(outcome.ExitCode, 106u);
  EXPECT_EQ(outcome.ExtractedNames.count(ReportName), 1u) << "the report was not written first";
  ASSERT_EQ(outcome.Boxes.size(), 1u);
  ExpectBox(outcome.Boxes[0], L"Error", L"An executable file is not found!", TBoxOwner::ProgressWindow,
            MB_ICONERROR);
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
  for (const std::string& name : RunLeftovers(Work)) DeleteFolderIfPresent(Work + "\\" + name);
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

// --- Another user racing the run for its names

// The temporary cabinet is made under its final name, exclusively, and written through the
// handle it was made with: another user racing for the name never gets it while the run needs it,
// so no cabinet but the run's own is ever expanded.
TEST_F(RunTest, TemporaryCabinetNameIsNeverFreeForAnotherUser) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    DeleteFileA(Record.c_str());
    TSquatter squatter(Work, TSquat::CabinetFile, "");
    TRunOutcome outcome = Run(Package("single"), "");
    squatter.Finish();
    EXPECT_EQ(squatter.Planted, "") << "the name was free while the run still needed it";
    EXPECT_TRUE(outcome.Boxes.empty());
    EXPECT_EQ(Payloads().size(), 1u);
    if (!squatter.Planted.empty()) DeleteFileA(squatter.Planted.c_str());
    ExpectNothingLeft();
  }
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
  for (int round = 0; round < 600 && !IsExistingFile(Records / "done"); ++round) Sleep(100);
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

  DeleteFileA((Records / "done").c_str());
  ASSERT_TRUE(StartUnixProgram("/bin/sh", "sh -c \"cd '" + unix + "' && rm -rf _cab*.tmp && touch '" + done + "'\""));
  for (int round = 0; round < 600 && !IsExistingFile(Records / "done"); ++round) Sleep(100);
  ExpectNothingLeft();
}

// --- Where the temporary cabinet goes

// Blocks the maker's common folder with a file of its name, or with a link to linkTarget, and
// points the temp folder elsewhere.
class BlockedWorkFolder {
 public:
  explicit BlockedWorkFolder(const std::string& work, const std::string& temp = std::string(),
                             const std::string& linkTarget = std::string())
      : Work(work), Linked(!linkTarget.empty()) {
    RemoveDirectoryA(Work.c_str());
    Blocked = Linked ? MakeUnixLink(linkTarget, Work) : WriteTextFile(Work, "in the way");
    for (const char* name : {"TMP", "TEMP"}) {
      char buffer[MAX_PATH + 1] = "";
      GetEnvironmentVariableA(name, buffer, sizeof buffer);
      Saved.push_back(buffer);
      if (!temp.empty()) SetEnvironmentVariableA(name, temp.c_str());
    }
  }
  ~BlockedWorkFolder() {
    if (Linked)
      RemoveUnixLink(Work);
    else
      DeleteFileA(Work.c_str());
    CreateDirectoryA(Work.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", Saved[0].c_str());
    SetEnvironmentVariableA("TEMP", Saved[1].c_str());
  }
  BlockedWorkFolder(const BlockedWorkFolder&) = delete;
  BlockedWorkFolder& operator=(const BlockedWorkFolder&) = delete;

  std::string Work;
  bool Linked;
  bool Blocked = false;
  std::vector<std::string> Saved;
};

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
  std::vector<TProbeRecord> payloads = Payloads();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_FALSE(payloads[0].count("end")) << "the runner waited for the payload";
  std::string folder = WithoutTrailingBackslash(FolderOfPath(payloads[0]["Module"]));
  EXPECT_TRUE(IsExistingFolder(folder));
  EXPECT_EQ(RunLeftovers(Work), std::vector<std::string>{NameOfPath(folder)}) << "the temporary cabinet stayed";
  AwaitPayloadEnd();
  Sleep(500);  // the payload's process ends a little after its last record line
  DeleteFolderIfPresent(folder);
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

// --- Japanese texts

TEST_F(RunTest, JapaneseSystemNormalRun) { CheckJapaneseRun(""); }
TEST_F(RunTest, LanguageSwitchJapaneseNormalRun) { CheckJapaneseRun(Plain(PsLanguageSwitch) + "=JPN"); }
TEST_F(RunTest, JapaneseSystemMessages) { CheckJapaneseMessages(""); }
TEST_F(RunTest, LanguageSwitchJapaneseMessages) { CheckJapaneseMessages(Plain(PsLanguageSwitch) + "=jpn"); }

// 機能.exe: the second byte of 能 is 0x5C, so the byte-wise name rules leave nothing of the name.
// The target gets a fixed name instead of being the current folder itself, which would be emptied.
TEST_F(RunTest, JapaneseSystemExtractOnlyNeverEmptiesTheCurrentFolder) {
  std::string package = Temp / "\x8B\x40\x94\x5C.exe";
  ASSERT_TRUE(MoveFileA(Package("normal").c_str(), package.c_str()));
  ASSERT_TRUE(WriteTextFile(Temp / "mine.txt", "mine"));
  std::string target = Temp / "package";
  TRunOutcome outcome = Run(package, Plain(PsExtractSwitch), TRunScript(), "package");
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
