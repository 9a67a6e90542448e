#include "tests/run_driver.h"

#include <commctrl.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstdlib>

#include "sys/paths.h"
#include "sys/security.h"
#include "sys/wide_text.h"

namespace {

// Wine's message box keeps its text in control 0xFFFF and its icon in control 0x440.
constexpr int BoxTextId = 0xFFFF, BoxIconId = 0x440, ProgressBarId = 101;
constexpr DWORD PollMs = 10;
// A box is read once it has been on screen this long, so that its icon has been painted.
constexpr DWORD BoxSettleMs = 80;

std::wstring TextOf(HWND window) {
  wchar_t buffer[1024];
  int length = GetWindowTextW(window, buffer, 1024);
  return std::wstring(buffer, length > 0 ? length : 0);
}

bool HasClass(HWND window, const char* name) {
  char buffer[64];
  return GetClassNameA(window, buffer, sizeof buffer) && lstrcmpiA(buffer, name) == 0;
}

bool HasButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  return button && IsWindowVisible(button);
}

// The MB_ button code from the buttons the box shows.
UINT ButtonsOf(HWND box) {
  const struct {
    UINT Type;
    std::set<int> Buttons;
  } kinds[] = {
      {MB_OK, {IDOK}},
      {MB_OKCANCEL, {IDOK, IDCANCEL}},
      {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}},
      {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}},
      {MB_YESNO, {IDYES, IDNO}},
      {MB_RETRYCANCEL, {IDRETRY, IDCANCEL}},
  };
  std::set<int> shown;
  for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
    if (HasButton(box, id)) shown.insert(id);
  for (const auto& kind : kinds)
    if (kind.Buttons == shown) return kind.Type;
  return 0xF;  // no button set of a message box
}

// A 32-bit top-down bitmap of width x height pixels, with a memory DC selected into it.
struct TPixels {
  TPixels(int width, int height) : Width(width), Height(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    Dc = CreateCompatibleDC(nullptr);
    Bitmap = CreateDIBSection(Dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&Bits), nullptr, 0);
    if (Bitmap) Old = SelectObject(Dc, Bitmap);
  }
  ~TPixels() {
    if (Bitmap) {
      SelectObject(Dc, Old);
      DeleteObject(Bitmap);
    }
    DeleteDC(Dc);
  }
  TPixels(const TPixels&) = delete;
  TPixels& operator=(const TPixels&) = delete;

  int Width, Height;
  HDC Dc;
  HBITMAP Bitmap;
  HGDIOBJ Old = nullptr;
  DWORD* Bits = nullptr;
};

long long Distance(const TPixels& a, const TPixels& b) {
  long long sum = 0;
  for (int i = 0; i < a.Width * a.Height; ++i)
    for (int shift = 0; shift < 24; shift += 8)
      sum += std::abs(static_cast<int>((a.Bits[i] >> shift) & 0xFF) - static_cast<int>((b.Bits[i] >> shift) & 0xFF));
  return sum;
}

// The system icon closest to the pixels shot, as MB_ bits, and how far it is from them.
UINT ClosestSystemIcon(const TPixels& shot, long long& bestDistance) {
  const int width = shot.Width, height = shot.Height;

  const struct {
    UINT Type;
    LPCWSTR Icon;
  } candidates[] = {
      {MB_ICONHAND, MAKEINTRESOURCEW(32513)},         // IDI_HAND
      {MB_ICONQUESTION, MAKEINTRESOURCEW(32514)},     // IDI_QUESTION
      {MB_ICONEXCLAMATION, MAKEINTRESOURCEW(32515)},  // IDI_EXCLAMATION
      {MB_ICONASTERISK, MAKEINTRESOURCEW(32516)},     // IDI_ASTERISK
  };
  UINT best = MB_ICONMASK;  // an icon, but none of the system's
  bestDistance = -1;
  for (const auto& candidate : candidates) {
    TPixels drawn(width, height);
    if (!drawn.Bits) continue;
    // The corner lies outside every system icon: it shows the box's background.
    for (int i = 0; i < width * height; ++i) drawn.Bits[i] = shot.Bits[0];
    DrawIconEx(drawn.Dc, 0, 0, LoadIconW(nullptr, candidate.Icon), 0, 0, 0, nullptr, DI_NORMAL);
    GdiFlush();
    long long distance = Distance(shot, drawn);
    if (bestDistance < 0 || distance < bestDistance) {
      bestDistance = distance;
      best = candidate.Type;
    }
  }
  return best;
}

// The icon's MB_ bits. The icon handle belongs to the runner's process and cannot be drawn
// here, so the icon is read off the screen and matched against the system icons drawn here. A box
// still being drawn on a loaded machine shows part of its icon: the screen is read again until it
// shows one of the system's icons exactly, for up to ten seconds.
UINT IconOf(HWND box) {
  HWND control = GetDlgItem(box, BoxIconId);
  DWORD_PTR icon = 0;
  if (!control || !IsWindowVisible(control) ||
      !SendMessageTimeoutW(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 500, &icon) || !icon)
    return 0;
  RECT area;
  GetWindowRect(control, &area);
  int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return 0;
  UINT best = MB_ICONMASK;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(50)) {
    TPixels shot(width, height);
    if (!shot.Bits) return 0;
    HDC screen = GetDC(nullptr);
    BitBlt(shot.Dc, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    long long distance = -1;
    best = ClosestSystemIcon(shot, distance);
    if (distance == 0) break;
  }
  return best;
}

struct TWindowsOf {
  DWORD ProcessId;
  std::vector<HWND> Dialogs;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter) {
  auto* found = reinterpret_cast<TWindowsOf*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId == found->ProcessId && HasClass(window, "#32770")) found->Dialogs.push_back(window);
  return TRUE;
}

bool IsProgressWindow(HWND dialog) {
  HWND bar = GetDlgItem(dialog, ProgressBarId);
  return bar && HasClass(bar, PROGRESS_CLASSA);
}

bool SameState(const TWindowState& a, const TWindowState& b) {
  return a.Caption == b.Caption && a.Visible == b.Visible && a.Marquee == b.Marquee && a.Position == b.Position;
}

// The extract folder of a run in folder: an _cab*.tmp folder.
std::string ExtractFolderIn(const std::string& folder) {
  for (const std::string& name : RunLeftovers(folder))
    if (name[0] == '_' && IsExistingFolder(folder + "\\" + name)) return folder + "\\" + name;
  return std::string();
}

// Whether the file is there and no longer being written: the runner writes each file letting
// others only read, and holds the flagged one once it is written and checked letting nobody write.
bool IsWritten(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

class TDriver {
 public:
  TDriver(const TRunScript& script, TRunOutcome& outcome, DWORD processId)
      : Script(script), Outcome(outcome), ProcessId(processId), Start(GetTickCount()) {}

  DWORD Elapsed() const { return GetTickCount() - Start; }

  void Look() {
    TWindowsOf found{ProcessId, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    HWND progress = nullptr;
    for (HWND dialog : found.Dialogs)
      if (IsProgressWindow(dialog)) progress = dialog;
    LookAtExtractFolder();
    if (!progress && !Outcome.WindowStates.empty() && !Outcome.WindowGoneAtMs) Outcome.WindowGoneAtMs = Elapsed();
    if (progress) {
      LookAtProgress(progress);
      CancelWhenDue(progress);
    }
    for (HWND dialog : found.Dialogs)
      if (dialog != progress) LookAtBox(dialog, progress);
  }

 private:
  void LookAtProgress(HWND window) {
    TWindowState state;
    state.AtMs = Elapsed();
    state.Caption = TextOf(window);
    state.Visible = IsWindowVisible(window) != FALSE;
    HWND bar = GetDlgItem(window, ProgressBarId);
    state.Marquee = (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0;
    DWORD_PTR position = 0;
    if (SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 200, &position))
      state.Position = static_cast<int>(position);
    else if (!Outcome.WindowStates.empty())
      state.Position = Outcome.WindowStates.back().Position;
    if (!Outcome.WindowStates.empty() && SameState(Outcome.WindowStates.back(), state)) return;
    if (!Outcome.WindowStates.empty() && Outcome.WindowStates.back().Position != state.Position) ++PositionChanges;
    Outcome.WindowStates.push_back(state);
  }

  bool Reached(const TWindowState& state) const {
    switch (Script.CancelAt) {
      case TCancelMoment::WhenShown:
        return state.Visible;
      case TCancelMoment::AfterPositions:
        return PositionChanges >= Script.Positions;
      case TCancelMoment::WhenMarquee:
        return state.Marquee;
      case TCancelMoment::WhenExpanded:
        return Expanded;
      case TCancelMoment::Never:
        break;
    }
    return false;
  }

  void CancelWhenDue(HWND progress) {
    if (!CancelDue && !Outcome.WindowStates.empty() && Reached(Outcome.WindowStates.back())) {
      CancelDue = true;
      CancelAt = Elapsed() + Script.CancelDelayMs;
    }
    if (!CancelDue || Outcome.CancelSent || Elapsed() < CancelAt) return;
    if (Script.CancelWay == TCancelWay::Command) {
      PostMessageW(progress, WM_COMMAND, IDCANCEL, 0);
    } else {
      PostMessageW(progress, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageW(progress, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    }
    Outcome.CancelSent = true;
    Outcome.CancelledAfterExpansion = Expanded;
  }

  void LookAtBox(HWND box, HWND progress) {
    if (Answered.count(box) || !IsWindowVisible(box)) return;
    auto seen = FirstSeen.find(box);
    if (seen == FirstSeen.end()) {
      FirstSeen[box] = Elapsed();
      return;
    }
    if (Elapsed() - seen->second < BoxSettleMs) return;
    TBoxSeen record;
    record.Caption = TextOf(box);
    record.Text = TextOf(GetDlgItem(box, BoxTextId));
    HWND owner = GetWindow(box, GW_OWNER);
    record.Owner = !owner ? TBoxOwner::None : owner == progress ? TBoxOwner::ProgressWindow : TBoxOwner::Other;
    record.Type = ButtonsOf(box) | IconOf(box);
    Outcome.Boxes.push_back(record);
    size_t index = Outcome.Boxes.size() - 1;
    int answer = index < Script.Answers.size() ? Script.Answers[index] : IDOK;
    PostMessageW(box, WM_COMMAND, answer, 0);
    Answered.insert(box);
  }

  void LookAtExtractFolder() {
    std::string folder = ExtractFolderIn(RunWorkFolder());
    if (folder.empty()) return;
    Expanded = Expanded || IsWritten(folder + "\\" + Script.FlaggedFile);
    Outcome.ExtractFolder = folder;
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(WidePath(folder + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do Outcome.ExtractedNames.insert(Utf8FromWide(entry.cFileName));
      while (FindNextFileW(search, &entry));
      FindClose(search);
    }
    if (!Expanded || RemovalTried || Script.RemoveWhenExpanded.empty()) return;
    RemovalTried = true;
    Outcome.Removed = DeleteFileA((folder + "\\" + Script.RemoveWhenExpanded).c_str()) != FALSE;
  }

  const TRunScript& Script;
  TRunOutcome& Outcome;
  DWORD ProcessId;
  DWORD Start;
  int PositionChanges = 0;
  bool Expanded = false;  // the flagged file is written
  bool RemovalTried = false;
  bool CancelDue = false;
  DWORD CancelAt = 0;
  std::set<HWND> Answered;
  std::map<HWND, DWORD> FirstSeen;
};

}  // namespace

std::string CommonWorkFolder() {
  char buffer[MAX_PATH + 1] = "";
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) return std::string();
  return std::string(buffer) + "\\Morvane\\Common";
}

namespace {

std::string TempVariable() {
  char buffer[MAX_PATH + 1] = "";
  GetEnvironmentVariableA("TEMP", buffer, sizeof buffer);
  return buffer;
}

const std::string StartTemp = TempVariable();

}  // namespace

std::string RunWorkFolder() {
  static const std::string folder = [] {
    if (IsTrustedFolder(CommonWorkFolder())) return CommonWorkFolder();
    std::string own = WithTrailingBackslash(StartTemp) + "cabrun_runs";
    CreateDirectoryA(own.c_str(), nullptr);
    return own;
  }();
  return folder;
}

ULONGLONG WallClockMs() {
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  return ((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000;
}

TRunOutcome DriveRun(const std::string& commandLine, const std::string& folder, const TRunScript& script) {
  TRunOutcome outcome;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = WidePath(commandLine), where = WidePath(folder);
  outcome.StartedAt = WallClockMs();
  // The runner takes its environment from here: its temp folder is set for it.
  bool ownTemp = RunWorkFolder() != CommonWorkFolder() && TempVariable() == StartTemp;
  char savedTmp[MAX_PATH + 1] = "";
  GetEnvironmentVariableA("TMP", savedTmp, sizeof savedTmp);
  for (const char* name : {"TMP", "TEMP"})
    if (ownTemp) SetEnvironmentVariableA(name, RunWorkFolder().c_str());
  BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                folder.empty() ? nullptr : where.c_str(), &startup, &process);
  outcome.StartError = started ? 0 : GetLastError();
  if (ownTemp) {
    SetEnvironmentVariableA("TMP", *savedTmp ? savedTmp : nullptr);
    SetEnvironmentVariableA("TEMP", StartTemp.c_str());
  }
  if (!started) return outcome;
  outcome.Started = true;
  CloseHandle(process.hThread);

  TDriver driver(script, outcome, process.dwProcessId);
  for (;;) {
    bool ended = WaitForSingleObject(process.hProcess, PollMs) == WAIT_OBJECT_0;
    if (ended) break;
    // An ended process cannot be asked any more: its peak is read while it runs.
    PROCESS_MEMORY_COUNTERS counters{};
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
      outcome.PeakWorkingSet = counters.PeakWorkingSetSize;
      outcome.PeakPrivate = counters.PeakPagefileUsage;
    }
    driver.Look();
    if (!outcome.ShownWorkingSet && !outcome.WindowStates.empty() && outcome.WindowStates.back().Visible) {
      outcome.ShownWorkingSet = counters.WorkingSetSize;
      outcome.ShownPrivate = counters.PagefileUsage;
    }
    if (driver.Elapsed() > script.TimeLimitMs) {
      outcome.TimedOut = true;
      TerminateProcess(process.hProcess, 0xDEAD);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
  }
  outcome.EndedAt = WallClockMs();
  GetExitCodeProcess(process.hProcess, &outcome.ExitCode);
  CloseHandle(process.hProcess);
  return outcome;
}

std::vector<std::string> RunLeftovers(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*cab*.tmp").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = entry.cFileName;
    if (name.size() >= 7 && (_strnicmp(name.c_str(), "cab", 3) == 0 || _strnicmp(name.c_str(), "_cab", 4) == 0))
      names.push_back(name);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return names;
}

std::vector<TProbeRecord> ReadProbeRecords(const std::string& path) {
  std::vector<TProbeRecord> records;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return records;
  std::string text(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!text.empty()) ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
  CloseHandle(file);
  text.resize(read);

  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // the scripts write CR LF
    if (line == "begin") {
      records.emplace_back();
      continue;
    }
    size_t equals = line.find('=');
    if (records.empty() || equals == std::string::npos) continue;
    std::string value;
    for (size_t i = equals + 1; i < line.size(); ++i) {
      if (line[i] != '\\' || i + 1 == line.size()) {
        value += line[i];
        continue;
      }
      char next = line[++i];
      value += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
    records.back()[line.substr(0, equals)] = value;
  }
  return records;
}
