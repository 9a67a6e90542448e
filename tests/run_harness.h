// The end-to-end harness: the packages made for the tests, a fixture that runs one under the
// driver and checks what every run must leave behind, and the other users' tricks (links,
// squatters, a blocked work folder) that the cases replay.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "format/protected_plain.h"
#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/system.h"
#include "tests/run_driver.h"
#include "tests/test_support.h"
#include "sys/wide_text.h"

inline std::string WindowsPath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

inline const std::string ProbePath = WindowsPath(PROBE_PAYLOAD_PATH);

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Test names from the cases' Name fields.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return info.param.Name;
  }
};


inline const std::string PackagesFolder = WindowsPath(RUN_PACKAGES_DIR);

inline std::string Plain(ProtectedId id) { return PlainText(id); }

inline std::wstring Wide(const std::string& path) { return WidePath(path); }

// Every file and folder under folder, by relative path.
inline std::set<std::string> Tree(const std::string& folder) {
  std::map<std::string, bool> entries;
  ListTree(folder, entries);
  std::set<std::string> names;
  for (const auto& entry : entries) names.insert(entry.first);
  return names;
}

// The parameters a started program was given: its command line without the program part.
inline std::string ParametersOf(const std::string& commandLine) {
  size_t end = commandLine[0] == '"' ? commandLine.find('"', 1) + 1 : commandLine.find(' ');
  if (end == std::string::npos || end >= commandLine.size()) return std::string();
  return commandLine.substr(end + 1);
}

// The text with the words EXTRACT and LANG replaced by the extract-only and language switches.
inline std::string WithSwitches(std::string text) {
  for (const auto& word : {std::make_pair(std::string("EXTRACT"), Plain(PsExtractSwitch)),
                           std::make_pair(std::string("LANG"), Plain(PsLanguageSwitch))})
    for (size_t at; (at = text.find(word.first)) != std::string::npos;) text.replace(at, word.first.size(), word.second);
  return text;
}

inline std::string FirstLaunchItem(const std::string& runner) {
  std::string item = "/" + Plain(PsRunnerSection) + Plain(PsKeySeparator) + runner;
  return item.find(' ') == std::string::npos ? item : Quoted(item);
}

inline std::string ExpectedReport(const std::string& runner, const std::string& id, const std::string& name,
                           const std::string& start) {
  std::string separator = Plain(PsKeySeparator);
  return "[" + Plain(PsRunnerSection) + "]\r\n" + Plain(PsRunnerPathKey) + separator + runner + "\r\n" +
         Plain(PsLanguageIdKey) + separator + id + "\r\n" + Plain(PsLanguageNameKey) + separator + name + "\r\n" +
         Plain(PsAdministratorKey) + separator + (IsUserAdministrator() ? "1" : "0") + "\r\n" +
         Plain(PsStartFolderKey) + separator + start + "\r\n";
}

// The progress window's captions in the order they were shown.
inline std::vector<std::wstring> Captions(const TRunOutcome& outcome) {
  std::vector<std::wstring> captions;
  for (const TWindowState& state : outcome.WindowStates)
    if (state.Visible && (captions.empty() || captions.back() != state.Caption)) captions.push_back(state.Caption);
  return captions;
}

inline bool WasShown(const TRunOutcome& outcome, bool marquee) {
  for (const TWindowState& state : outcome.WindowStates)
    if (state.Visible && state.Marquee == marquee) return true;
  return false;
}

// The visibility of the window while the payload ran, each change once.
inline std::vector<bool> VisibilityWhileRunning(const TRunOutcome& outcome) {
  std::vector<bool> seen;
  for (const TWindowState& state : outcome.WindowStates)
    if (state.Marquee && (seen.empty() || seen.back() != state.Visible)) seen.push_back(state.Visible);
  return seen;
}

inline const std::string ReportName = "probe." + Plain(PsReportExtension);

const wchar_t BilingualCaption[] = L"Extracts of files";
const wchar_t JapaneseCaption[] = L"ファイルの抽出";

inline void ExpectBox(const TBoxSeen& box, const std::wstring& caption, const std::wstring& text, TBoxOwner owner,
               UINT type) {
  EXPECT_EQ(box.Caption, caption);
  EXPECT_EQ(box.Text, text);
  EXPECT_EQ(box.Owner, owner);
  EXPECT_EQ(box.Type, type) << std::hex << box.Type;
}

// The Unix path of a Windows path, through Wine's own conversion.
inline std::string UnixPath(const std::string& path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  auto convert = LookUpFunction<Convert>(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  char* unix = convert ? convert(Wide(path).c_str()) : nullptr;
  std::string result = unix ? unix : "";
  if (unix) HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// Wine starts Unix programs too. Their handles cannot be waited on: callers look for the effect.
inline bool StartUnixProgram(const std::string& program, std::string line) {
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
inline bool MakeUnixLink(const std::string& target, const std::string& link, bool symbolic = true) {
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
inline void RemoveUnixLink(const std::string& link) {
  if (!StartUnixProgram("/bin/rm", "rm -f \"" + UnixPath(link) + "\"")) return;
  for (int round = 0; round < 300 && ReadAttributes(link) != -1; ++round) Sleep(10);
}

// Removes what runs left in folder (RunLeftovers). Under Wine through the shell, which never
// follows a link and takes a second where Wine takes many minutes for tens of thousands of names.
inline void RemoveRunLeftovers(const std::string& folder) {
  std::vector<std::string> names = RunLeftovers(folder);
  std::string unix = UnixPath(folder);
  if (names.size() > 1 && !unix.empty() &&
      StartUnixProgram("/bin/sh", "sh -c \"cd '" + unix + "' && rm -rf -- cab*.tmp _cab*.tmp\""))
    for (int round = 0; round < 3000 && !RunLeftovers(folder).empty(); ++round) Sleep(100);
  for (const std::string& name : RunLeftovers(folder)) {
    DeleteFolderIfPresent(folder + "\\" + name);
    DeleteFileIfPresent(folder + "\\" + name);
  }
}

// Another program of the machine: watches the work folder and, as soon as a name is known, puts
// something of its own at a name that the run is about to use.
enum class TSquat {
  None,
  // Once the extract folder's flagged file probe.exe is written: renames the folder away and makes
  // a folder of its own at its name, with its own probe.exe. Notes any cab*.tmp file it sees.
  SwapExtractFolder,
  // Not in the work folder: as soon as the folder Work appears, a symbolic link or a second name
  // of the file LinkTarget as Work\file9.txt.
  FileLink,
  SecondName,
  // While the payload runs: a symbolic link to the folder LinkTarget as "planted" in the payload's
  // folder, which the probe's record (Work, for this kind) names.
  FolderLinkWhileRunning,
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
  std::string CabinetFileSeen;

 private:
  static DWORD WINAPI Main(void* self) {
    static_cast<TSquatter*>(self)->Watch();
    return 0;
  }

  void Watch() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    while (!Stop && Kind != TSquat::None) {
      if (Kind == TSquat::FolderLinkWhileRunning) {
        std::vector<TProbeRecord> records = ReadProbeRecords(Work);
        if (records.empty()) {
          Sleep(10);
          continue;
        }
        std::string link = FolderOfPath(records[0]["Module"]) + "planted";
        if (MakeUnixLink(LinkTarget, link)) Planted = link;
        return;
      }
      if (Kind == TSquat::FileLink || Kind == TSquat::SecondName) {
        if (!IsExistingFolder(Work)) continue;
        if (MakeUnixLink(LinkTarget, Work + "\\file9.txt", Kind == TSquat::FileLink)) Planted = Work + "\\file9.txt";
        return;
      }
      for (const std::string& name : RunLeftovers(Work)) {
        std::string path = Work + "\\" + name;
        if (name[0] != '_') CabinetFileSeen = name;
        if (name[0] == '_' && IsWrittenFile(path + "\\probe.exe")) return Swap(path);
      }
    }
  }

  static bool IsWrittenFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return file != INVALID_HANDLE_VALUE;
  }

  void Swap(const std::string& folder) {
    if (!MoveFileA(folder.c_str(), (folder + ".away").c_str())) return;
    Planted = folder;
    CreateDirectoryA(folder.c_str(), nullptr);
    CopyFileA(ProbePath.c_str(), (folder + "\\probe.exe").c_str(), FALSE);
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
    for (const char* name : {"PROBE_SLEEP", "PROBE_HIDE_AFTER", "PROBE_HIDE_FOR", "PROBE_BOX", "PROBE_EXIT", "PROBE_AWAIT"})
      SetEnvironmentVariableA(name, nullptr);
    static bool first = true;
    // The screen opened once before any case: Wine's x86 display set-up deadlocked, every time,
    // in a process whose first window call came after a Unix program had made 65,535 folders.
    if (first) ReleaseDC(nullptr, GetDC(nullptr));
    if (first && !RunLeftovers(Work).empty()) {
      std::fprintf(stderr, "removing what a test run that was killed left in %s\n", Work.c_str());
      RemoveRunLeftovers(Work);
    }
    first = false;
    WorkBefore = Tree(Work);
    ASSERT_TRUE(RunLeftovers(Work).empty()) << "an earlier run left its files in " << Work;
  }

  // A case that failed half-way leaves no payload running and nothing in the work folder for the
  // next case to trip over.
  void TearDown() override {
    for (TProbeRecord& payload : Payloads()) AwaitProcessEnd(payload["ProcessId"]);
    RemoveRunLeftovers(Work);
  }

  // A copy of the package NAME in the test's folder, or in its subfolder folder.
  std::string Package(const std::string& name, const std::string& folder = std::string()) {
    std::string target = folder.empty() ? Temp.Path : Temp / folder;
    CreateDirectoryW(Wide(target).c_str(), nullptr);
    std::string path = target + "\\" + name + ".exe";
    EXPECT_TRUE(CopyFileW(Wide(PackagesFolder + "\\" + name + ".exe").c_str(), Wide(path).c_str(), FALSE)) << name;
    return path;
  }

  // Starts package with the argument text arguments, in the test's folder, and checks what
  // every run must do: end by itself and write nothing in the test's folder outside target,
  // the extract-only target relative to it.
  TRunOutcome Run(const std::string& package, const std::string& arguments, const TRunScript& script = TRunScript(),
                  const std::string& target = std::string()) {
    std::set<std::string> before = Tree(Temp.Path), tempBefore = TempNames();
    TRunOutcome outcome = DriveRun(Quoted(package) + (arguments.empty() ? "" : " " + arguments), Temp.Path, script);
    EXPECT_TRUE(outcome.Started) << "error " << outcome.StartError;
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
    WIN32_FIND_DATAA entry{};
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
    RemoveRunLeftovers(Work);
  }

  std::vector<TProbeRecord> Payloads() { return ReadProbeRecords(Record); }

  // The records once the payload of a run that did not wait for it has ended, its process too: it
  // may not even have begun when the runner ends.
  std::vector<TProbeRecord> AwaitPayloadEnd() {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 120000; Sleep(50)) {
      std::vector<TProbeRecord> records = Payloads();
      if (records.empty() || !records.back().count("end")) continue;
      AwaitProcessEnd(records.back()["ProcessId"]);
      return records;
    }
    ADD_FAILURE() << "the payload did not end";
    return Payloads();
  }

  static void AwaitProcessEnd(const std::string& processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(processId.c_str(), nullptr, 10)));
    if (!process) return;
    WaitForSingleObject(process, 120000);
    CloseHandle(process);
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

  // The package "title" shows its title before the captions, in Japanese or in English, read back
  // through the wide window functions whatever the code page.
  void CheckTitle(const std::string& languageArgument, bool japanese) {
    const std::wstring title = L"Board firmware 2.1 (基板, café) - ";
    TRunOutcome outcome = Run(Package("title"), languageArgument);
    EXPECT_TRUE(outcome.Boxes.empty());
    std::vector<std::wstring> expected = {title + L"Extracting....", title + L"Executing...."};
    if (japanese) expected = {title + L"抽出しています....", title + L"実行しています...."};
    EXPECT_EQ(Captions(outcome), expected);
    EXPECT_EQ(Payloads().size(), 1u);
    DeleteFileA(Record.c_str());
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

// The log's lines, each after its time stamp (local time, "YYYY-MM-DD hh:mm:ss.mmm ").
// A log begins with UTF-8's byte order mark.
inline std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  EXPECT_EQ(log.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no UTF-8 byte order mark";
  for (size_t start = 3, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
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
