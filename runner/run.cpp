#include "runner/run.h"

#include <windows.h>

#include "cabinet/cab_reader.h"
#include "format/package_resources.h"
#include "runner/arguments.h"
#include "runner/log.h"
#include "runner/messages.h"
#include "runner/report.h"
#include "runner/startup.h"
#include "runner/state.h"
#include "sys/number_text.h"
#include "sys/paths.h"
#include "sys/system.h"
#include "sys/wide_text.h"
#include "ui/progress_window.h"

namespace {

// The payload's process when the user stopped waiting for it; its folder waits for its end.
HANDLE RunningPayload = nullptr;
// The flagged file, held since its writing (shared for reading only) until its program has started.
HANDLE PayloadFile = INVALID_HANDLE_VALUE;

// The caption, code page 932 or ASCII, after the title (UTF-8) where the package has one.
std::wstring WideCaption(const char* caption) {
  if (PackageOptions.Title.empty()) return WideFromCodePage(caption, 932);
  return WideFromCodePages({{PackageOptions.Title, CP_UTF8}, {" - " + std::string(caption), 932}});
}

void CreateProgressWindow() {
  const char* caption = ExtractingCaption();
  if (QuietMode)
    ProgressWindow = new TDlg();
  else
    ProgressWindow = new TDlg(WideCaption(caption));
  // A title would cut off the status the caption is there to show; without one the window is as
  // it always was.
  if (!PackageOptions.Title.empty()) {
    ProgressWindow->WidenFor(WideCaption(caption));
    ProgressWindow->WidenFor(WideCaption(ExecutingCaption()));
  }
  ProgressWindow->FilePauses = !PackageOptions.SkipFilePauses;
  ProgressWindow->UpdateVisibility(true, true);
}

void SetWindowCaption(const char* caption) { ProgressWindow->SetCaption(WideCaption(caption)); }

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// One of the package's resources, and its copies: every language of every name that Windows takes
// for it (resource names compare in any case).
struct TResourceCopies {
  const char* Name;
  int Count;
};

BOOL CALLBACK CountCopies(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR resource) {
  auto& copies = *reinterpret_cast<TResourceCopies*>(resource);
  if (!IS_INTRESOURCE(name) && EqualsIgnoringCase(name, copies.Name))
    EnumResourceLanguagesA(module, type, name, CountLanguage, reinterpret_cast<LONG_PTR>(&copies.Count));
  return TRUE;
}

// Whether the package carries each of its resources once at most: of several copies (languages,
// name forms) Windows picks the one of the user's language, which need not be the one that
// cabpack --list and --save-cab show. Such a package is refused, not guessed at.
bool ResourcesAreSingle() {
  for (const char* name : {CabinetResource, OptionsResource, DigestsResource}) {
    TResourceCopies copies{name, 0};
    EnumResourceNamesA(nullptr, MAKEINTRESOURCEA(PackageResourceType), CountCopies, reinterpret_cast<LONG_PTR>(&copies));
    if (copies.Count > 1) {
      WriteLog({"not run: the package carries its ", name, " resource more than once"});
      return false;
    }
  }
  return true;
}

// The extract folder exists, held, before the expansion, which reads the cabinet straight from the
// package: whatever cannot be expanded removes what the run made of the folder and those above it;
// an extract-only target that was there before stays. A cancel is no failure.
bool ExpandCabinet(const TCabinetImage& cabinet) {
  TCabReader reader;
  bool expanded = false;
  int32_t files = 0;
  if (reader.CheckCabinet(cabinet) > 0) {
    reader.OnProgress = [](void* files, const std::string& target, int32_t done, int32_t total, bool& cancel) {
      ++*static_cast<int32_t*>(files);
      ProgressWindow->ExtractionProgress(target, done, total, cancel);
    };
    reader.ProgressContext = &files;
    // The files' digests, where the package has them: a size that is no whole number of them
    // fails the check of their number.
    DWORD size = 0;
    reader.Digests = PackageResource(DigestsResource, size);
    reader.DigestCount = reader.Digests ? (size % DigestSize ? size_t(-1) : size / DigestSize) : 0;
    expanded = reader.Expand(cabinet, ExtractFolder, ExtractChain.back().Handle);
    PayloadName = reader.LaunchFileName;
    PayloadFile = reader.LaunchFileHold;
    reader.LaunchFileHold = INVALID_HANDLE_VALUE;
    const char* why = CabLastError == ERROR_CRC ? "files do not match the package's digests"
                      : CabLastError == ERROR_NO_UNICODE_TRANSLATION
                          ? "a file's name is not UTF-8, or a program of the system's code page would read it as another path"
                      : CabLastError == ERROR_INVALID_NAME ? "a file's name leads out of the extract folder or names a device"
                                                           : nullptr;
    if (why) WriteLog({why, reader.RefusedFile.empty() ? "" : ": ", reader.RefusedFile});
  }
  LogExpansion(files, reader.DoneBytes, CabLastError);
  if (!expanded) DeleteMadeFolders(ExtractChain);
  return expanded;
}

// The window lets the user cancel in the short pause after the expansion too; without a
// window there is nothing to wait for.
bool PauseAfterExpansion() {
  if (!ProgressWindow->Window) return true;
  for (int round = 0; round < 10; ++round) {
    Sleep(50);
    if (!ProgressWindow->PumpMessages()) return false;
  }
  return true;
}

// The payload's exit code is the package's only where the package asks for it: it changes what
// a caller sees on success.
void TakeProgramResult(bool started, const TDlg& window) {
  if (!started) {
    WriteLog({"start failed, error ", DecimalText(static_cast<int32_t>(GetLastError()))});
    return;
  }
  if (!window.ProgramEnded) {
    WriteLog({PackageOptions.StartWithoutWaiting ? "started, not waited for" : "started, the wait was cancelled"});
    return;
  }
  WriteLog({"program ended, exit code ", DecimalText(static_cast<int32_t>(window.ProgramExitCode))});
  if (PackageOptions.PassExitCode) RunExitCode = window.ProgramExitCode;
}

void NoteCancel() {
  WriteLog({"cancelled"});
  RunExitCode = ERROR_CANCELLED;
}

bool HasExtension(const std::string& path, ProtectedId first, ProtectedId second) {
  std::string extension = ExtensionOfPath(path);
  return EqualsIgnoringCase(extension, Protected(first)) || EqualsIgnoringCase(extension, Protected(second));
}

// What a program of the system's code page reads of text, in UTF-8: spelled in that code page,
// "?" for what it lacks. A payload reads its command line so, through the ANSI functions, which
// would spell what the code page lacks with best fit instead (a fullwidth quote as a quote).
std::string AsCodePageReadsIt(const std::string& text) {
  std::string spelled;
  SpellInSystemCodePage(text, spelled);
  return Utf8FromCodePage(spelled, CP_ACP);
}

// Every argument must reach the payload as it was given: one that the system's code page cannot
// spell is refused, before anything is extracted. The log's path is the runner's own business;
// it is handed on with "?" where the code page lacks a character.
bool ArgumentsReachThePayload() {
  std::string spelled;
  if (!SpellInSystemCodePage(PackageOptions.Arguments, spelled)) {
    WriteLog({"not run: the system's code page cannot spell the package's fixed arguments"});
    return false;
  }
  for (size_t i = 1; i < RunnerArguments.size(); ++i) {
    if (IsLogSwitch(RunnerArguments[i]) || SpellInSystemCodePage(RunnerArguments[i], spelled)) continue;
    WriteLog({"not run: the system's code page cannot spell argument ", DecimalText(static_cast<int32_t>(i)), ": ",
              RunnerArguments[i]});
    return false;
  }
  return true;
}

// The payload's arguments: the runner's own path (with "?" where the system's code page cannot
// spell it, as in the report), the package's fixed arguments as written, then the runner's other
// arguments. False when one of them cannot be given to cmd.exe unchanged.
bool ComposeLaunchArguments(bool forCmd) {
  LaunchArguments.clear();
  auto append = [forCmd](const std::string& item) {
    if (forCmd) return AppendCmdArgument(LaunchArguments, item);
    AppendArgument(LaunchArguments, item, " ");
    return true;
  };
  bool safe = append("/" + Protected(PsRunnerSection) + Protected(PsKeySeparator) + AsCodePageReadsIt(RunnerArguments[0]));
  if (!PackageOptions.Arguments.empty()) LaunchArguments += " " + AsCodePageReadsIt(PackageOptions.Arguments);
  for (size_t i = 1; i < RunnerArguments.size(); ++i) safe = append(AsCodePageReadsIt(RunnerArguments[i])) && safe;
  return safe;
}

// Scripts and batch files run through their host program from the system folder, which is never
// searched for: the search would look in the package's own (download) folder first. A batch file
// gets a command line in which cmd.exe reads every item as one word and nothing as syntax:
// started by its name, cmd would read & | < > in the runner's path or in an argument as commands.
bool ChooseHostProgram() {
  std::string script = PayloadPath;
  ProtectedId host;
  if (HasExtension(script, PsBatchExtension1, PsBatchExtension2)) {
    host = PsBatchHost;
    std::string command;
    if (!ComposeLaunchArguments(true) || !AppendCmdArgument(command, script, true)) {
      WriteLog({"not started: the batch file's path or an argument would change its meaning on its command line"});
      return false;
    }
    LaunchArguments = "/e:ON /v:OFF /d /c \"" + command + (LaunchArguments.empty() ? "" : " ") + LaunchArguments + "\"";
  } else if (HasExtension(script, PsHostExtension1, PsHostExtension2)) {
    host = PsHostProgram;
    LaunchArguments = "\"" + script + "\" " + LaunchArguments;
  } else {
    return true;
  }
  PayloadPath = WithTrailingBackslash(SystemFolder()) + Protected(host);
  return IsExistingFile(PayloadPath);
}

void LaunchPayload() {
  PayloadPath = WithTrailingBackslash(ExtractFolder) + PayloadName;
  // The flagged file has been held since its writing; its name must still lead to it.
  if (PayloadFile == INVALID_HANDLE_VALUE || !IsSameFile(PayloadFile, PayloadPath)) {
    if (PayloadFile != INVALID_HANDLE_VALUE)
      WriteLog({"not started: the file at ", PayloadPath, " is not the one extracted"});
    ShowRunnerMessage(MsgProgramMissing, ProgressWindow->Window);
    return;
  }
  ComposeLaunchArguments(false);
  if (!ChooseHostProgram()) {
    ShowRunnerMessage(MsgStartFailed, ProgressWindow->Window);
    return;
  }
  // The folder the package was started from is often a download folder: a payload working there
  // would start programs and load DLLs that another user put beside the package.
  std::string launchFolder = PackageOptions.RunInStartFolder ? CurrentFolder() : ExtractFolder;

  TDlg& window = *ProgressWindow;
  window.HeldProgramFile = PayloadFile;
  PayloadFile = INVALID_HANDLE_VALUE;
  if (PackageOptions.HideWhileRunning) window.UpdateVisibility(true, false);
  window.HideMarkerFile = WithTrailingBackslash(ExtractFolder) + Protected(PsHideMarker);
  SetWindowCaption(ExecutingCaption());
  window.SetProgress(100, ProgressMarquee);
  WriteLog({"starting ", PayloadPath, " ", LaunchArguments});
  // Hidden unless the package asks: a payload with a window of its own would stay invisible.
  int32_t show = PackageOptions.ShowPayloadWindow ? SW_SHOWNORMAL : SW_HIDE;
  bool ok;
  if (PackageOptions.StartWithoutWaiting) {
    ok = window.LaunchProgram(PayloadPath, LaunchArguments, launchFolder, false, show, nullptr, false);
    Sleep(300);
  } else {
    ok = window.LaunchProgram(PayloadPath, LaunchArguments, launchFolder, true, show, window.Window, false,
                              &RunningPayload);
  }
  // The pause keeps the window up a moment after the start; a quiet run whose payload has
  // already ended has nothing to show.
  if (ok && !(QuietMode && window.ProgramEnded)) Sleep(200);
  TakeProgramResult(ok, window);
  window.SetProgress(0, ProgressReset);
  if (!ok) ShowRunnerMessage(MsgStartFailed, window.Window);
}

// Everything between the window's creation and the clean-up.
void RunWithWindow() {
  LogFolders();
  HWND owner = ProgressWindow->Window;
  DWORD size = 0;
  const uint8_t* cabinet = PackageResource(CabinetResource, size);
  if (!cabinet) {
    DeleteMadeFolders(ExtractChain);
    ShowRunnerMessage(MsgPackageNotWritten, owner);
    return;
  }
  bool expanded = ExpandCabinet({cabinet, size});
  // An extract-only target is the user's once its files are in.
  if (ExtractOnlyMode) ReleaseFolders(ExtractChain);
  if (ProgressWindow->Cancelled) return;
  // A cancel during the pause ends the run as well: a user who cancelled must not see
  // the payload start.
  if (!PauseAfterExpansion()) return;
  if (!expanded) {
    ShowRunnerMessage(MsgExtractionFailed, owner);
    return;
  }
  if (ExtractOnlyMode) {
    ShowRunnerMessage(MsgExtracted, owner, ChosenFolder);
    return;
  }
  if (PayloadName.empty()) {
    ShowRunnerMessage(MsgNoProgramNamed, owner);
    return;
  }
  WriteEnvironmentReport();
  LaunchPayload();
}

// The window goes first, then what the run created; an extract-only target and the
// folder of a program started without waiting stay. Nothing is deleted under a payload
// that the user stopped waiting for: its end is awaited without a window.
void CleanUp() {
  delete ProgressWindow;
  ProgressWindow = nullptr;
  if (RunningPayload) {
    WaitForSingleObject(RunningPayload, INFINITE);
    CloseHandle(RunningPayload);
  }
  if (PayloadFile != INVALID_HANDLE_VALUE) CloseHandle(PayloadFile);
  PayloadFile = INVALID_HANDLE_VALUE;
  if (!PackageOptions.StartWithoutWaiting) DeleteMadeFolders(ExtractChain);
  ReleaseFolders(ExtractChain);
  LogCleanUp();
}

}  // namespace

void RunPackage() {
  if (!ResourcesAreSingle()) {
    ShowRunnerMessage(MsgPackageNotWritten, nullptr);
    return;
  }
  if (!ExtractOnlyMode && !ArgumentsReachThePayload()) {
    ShowRunnerMessage(MsgArgumentRefused, nullptr);
    return;
  }
  if (ExtractOnlyMode) {
    if (ShowRunnerMessage(MsgConfirm, nullptr, ChosenFolder) != IDOK) {
      ShowRunnerMessage(MsgDeclined, nullptr);
      return;
    }
    // A link on the way would take the files, and a failed expansion's clean-up, elsewhere.
    if (!HoldFolderChain(ChosenFolder, ExtractChain)) {
      DeleteMadeFolders(ExtractChain);
      ShowRunnerMessage(MsgFolderFailed, nullptr, ChosenFolder);
      return;
    }
    ExtractFolder = ExtractChain.back().Path;
  } else {
    ExtractFolder = CreateWorkFolder(ExtractChain);
    if (ExtractFolder.empty()) {
      ShowRunnerMessage(MsgNoPackageFile, nullptr);
      return;
    }
  }
  CreateProgressWindow();
  RunWithWindow();
  if (ProgressWindow->Cancelled) NoteCancel();
  CleanUp();
}
