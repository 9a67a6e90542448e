#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <climits>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/test_support.h"
#include "sys/wide_text.h"
#include "ui/progress_window.h"

namespace {

// "抽出しています...." and "実行しています...." as the runner keeps them, in code page 932.
const char kExtracting932[] = "\x92\x8A\x8F\x6F\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7....";
const char kExecuting932[] = "\x8E\xC0\x8D\x73\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7....";
const wchar_t kExtractingWide[] = L"\u62BD\u51FA\u3057\u3066\u3044\u307E\u3059....";
const wchar_t kExecutingWide[] = L"\u5B9F\u884C\u3057\u3066\u3044\u307E\u3059....";

std::string WindowsPath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

const std::string kRecorder = WindowsPath(LAUNCH_RECORDER_PATH);

// Handles whatever earlier tests left in this thread's queue; a quit message is dropped.
// Paint requests stay until dispatched, so everything is.
void DrainQueue() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    if (message.message != WM_QUIT) DispatchMessageA(&message);
}

bool IsQueued(UINT message) {
  MSG found;
  return PeekMessageA(&found, nullptr, message, message, PM_NOREMOVE) != FALSE;
}

std::wstring WideWindowText(HWND window) {
  wchar_t buffer[256] = L"";
  GetWindowTextW(window, buffer, 256);
  return buffer;
}

int32_t BarPosition(const TDlg& dialog) {
  return static_cast<int32_t>(SendMessageA(dialog.ProgressBar, PBM_GETPOS, 0, 0));
}

// Every message sent to a window of this thread, with the receiver's style at that moment.
struct TSentMessage {
  HWND Window;
  UINT Message;
  WPARAM WParam;
  LPARAM LParam;
  LONG Style;
};
std::vector<TSentMessage> SentMessages;

LRESULT CALLBACK RecordSentMessage(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const CWPSTRUCT& m = *reinterpret_cast<const CWPSTRUCT*>(lParam);
    SentMessages.push_back({m.hwnd, m.message, m.wParam, m.lParam, GetWindowLongA(m.hwnd, GWL_STYLE)});
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class TSentRecorder {
 public:
  TSentRecorder() {
    SentMessages.clear();
    Hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordSentMessage, nullptr, GetCurrentThreadId());
  }
  ~TSentRecorder() { UnhookWindowsHookEx(Hook); }
  TSentRecorder(const TSentRecorder&) = delete;
  TSentRecorder& operator=(const TSentRecorder&) = delete;

  std::vector<TSentMessage> To(HWND window, UINT low, UINT high) const {
    std::vector<TSentMessage> result;
    for (const TSentMessage& m : SentMessages)
      if (m.Window == window && m.Message >= low && m.Message <= high) result.push_back(m);
    return result;
  }
  HHOOK Hook;
};

// A new progress window, stored where the dialog procedure finds it.
class ProgressWindowTest : public testing::Test {
 protected:
  void SetUp() override { DrainQueue(); }
  void TearDown() override {
    ProgressWindow = nullptr;
    DrainQueue();
  }
  TDlg& Open(const std::string& caption = "Extracting....") {
    Dialog.reset(new TDlg(WideFromCodePage(caption, 932)));
    ProgressWindow = Dialog.get();
    return *Dialog;
  }
  std::unique_ptr<TDlg> Dialog;
};

// Reads the dialog template field by field, as the dialog manager does.
class TTemplateReader {
 public:
  explicit TTemplateReader(const BYTE* data) : Data(data) {}
  uint32_t Word() { return Take(2); }
  uint32_t Dword() { return Take(4); }
  std::wstring Text() {
    std::wstring text;
    while (wchar_t c = static_cast<wchar_t>(Word())) text += c;
    return text;
  }
  void AlignDword() { Offset = (Offset + 3) & ~size_t(3); }
  size_t Offset = 0;

 private:
  uint32_t Take(int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint32_t(Data[Offset + i]) << (8 * i);
    Offset += bytes;
    return value;
  }
  const BYTE* Data;
};

TEST(Resources, DialogTemplateIsTheExtendedOne) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS), MAKEINTRESOURCEA(5));
  ASSERT_NE(found, nullptr);
  const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
  TTemplateReader r(data);
  EXPECT_EQ(r.Word(), 1u);
  EXPECT_EQ(r.Word(), 0xFFFFu);
  EXPECT_EQ(r.Dword(), 0u);           // help identifier
  EXPECT_EQ(r.Dword(), 0x00020080u);  // extended style
  EXPECT_EQ(r.Dword(), 0x80C00040u);  // style
  EXPECT_EQ(r.Word(), 1u);            // controls
  for (uint32_t expected : {0u, 0u, 100u, 20u}) EXPECT_EQ(r.Word(), expected);
  EXPECT_EQ(r.Word(), 0u);  // menu
  EXPECT_EQ(r.Word(), 0u);  // class
  r.Text();                 // caption: any text
  EXPECT_EQ(r.Word(), 9u);  // points
  EXPECT_EQ(r.Word(), 0u);  // weight
  EXPECT_EQ(r.Word(), 0x0100u);  // not italic, character set 1
  EXPECT_EQ(r.Text(), L"MS UI Gothic");
  r.AlignDword();
  EXPECT_EQ(r.Dword(), 0u);  // help identifier
  EXPECT_EQ(r.Dword(), 0u);  // extended style
  EXPECT_EQ(r.Dword(), 0x50800000u);
  for (uint32_t expected : {5u, 5u, 90u, 10u}) EXPECT_EQ(r.Word(), expected);
  EXPECT_EQ(r.Dword(), 101u);
  EXPECT_EQ(r.Text(), L"msctls_progress32");
  EXPECT_EQ(r.Text(), L"Progress1");
  EXPECT_EQ(r.Word(), 0u);  // creation data
  EXPECT_EQ(r.Offset, SizeofResource(nullptr, found));
}

TEST(Resources, ManifestAsksForAdministratorAndCommonControls6) {
#ifdef _WIN64
  const char* architecture = "amd64";
#else
  const char* architecture = "x86";
#endif
  TDlg dialog(L"");
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, found))),
                       SizeofResource(nullptr, found));
  // Both identities, the runner's own and the controls', name the architecture it is built for.
  std::string declared = std::string("processorArchitecture=\"") + (architecture == std::string("x86") ? "X86" : architecture) + "\"";
  size_t first = manifest.find(declared);
  EXPECT_TRUE(first != std::string::npos && manifest.find(declared, first + 1) != std::string::npos) << manifest;
  for (const char* part :
       {"level=\"requireAdministrator\" uiAccess=\"false\"",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "publicKeyToken=\"6595b64144ccf1df\"",
        "language=\"*\""})
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  // The bar's window procedure comes from the common controls 6 assembly the manifest names.
  HMODULE controls = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(GetWindowLongPtrW(dialog.ProgressBar, GWLP_WNDPROC)),
                                 &controls));
  char path[MAX_PATH + 1] = "";
  GetModuleFileNameA(controls, path, sizeof path);
  std::string folder = FolderOfPath(path);
  CharLowerA(&folder[0]);
  EXPECT_NE(folder.find("\\" + std::string(architecture) + "_microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
            std::string::npos)
      << path;
}

TEST_F(ProgressWindowTest, IsCreatedHiddenAndCentredWithTheBarAtZero) {
  TDlg& dialog = Open();
  ASSERT_TRUE(IsWindow(dialog.Window));
  EXPECT_FALSE(IsWindowVisible(dialog.Window));
  EXPECT_TRUE(dialog.Hidden);
  EXPECT_FALSE(dialog.HideRequested);
  EXPECT_FALSE(dialog.Cancelled);
  EXPECT_TRUE(dialog.HideMarkerFile.empty());
  EXPECT_EQ(WideWindowText(dialog.Window), L"Extracting....");
  LONG style = GetWindowLongA(dialog.Window, GWL_STYLE);
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE), WS_POPUP | WS_CAPTION);
  EXPECT_TRUE(GetWindowLongA(dialog.Window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);

  RECT window{}, work{};
  GetWindowRect(dialog.Window, &window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  int width = window.right - window.left, height = window.bottom - window.top;
  EXPECT_EQ(window.left, work.left + (work.right - work.left - width) / 2);
  EXPECT_EQ(window.top, work.top + (work.bottom - work.top - height) / 2);

  ASSERT_EQ(dialog.ProgressBar, GetDlgItem(dialog.Window, IDC_PROGRESS));
  char className[64] = "";
  GetClassNameA(dialog.ProgressBar, className, sizeof className);
  EXPECT_STREQ(className, "msctls_progress32");
  PBRANGE range{};
  SendMessageA(dialog.ProgressBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 100);
  EXPECT_EQ(BarPosition(dialog), 0);
}

// A caption that the window would cut off widens it, as far as the work area allows, and the bar
// with it; a caption that fits changes nothing.
TEST_F(ProgressWindowTest, WidenedForALongCaption) {
  TDlg& dialog = Open();
  auto widthOf = [](HWND window) {
    RECT area{};
    GetWindowRect(window, &area);
    return area.right - area.left;
  };
  const int window = widthOf(dialog.Window), bar = widthOf(dialog.ProgressBar);
  dialog.WidenFor(L"Extracting....");
  EXPECT_EQ(widthOf(dialog.Window), window);

  const std::wstring caption = L"Morvane Board Firmware 2.1 (基板, café) - 抽出しています....";
  dialog.WidenFor(caption);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE text{};
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  RECT client{};
  GetClientRect(dialog.Window, &client);
  EXPECT_GT(client.right, text.cx);
  EXPECT_EQ(widthOf(dialog.ProgressBar) - bar, widthOf(dialog.Window) - window);

  dialog.WidenFor(std::wstring(3000, L'W'));
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(widthOf(dialog.Window), work.right - work.left);
}

TEST_F(ProgressWindowTest, CaptionIsReplaced) {
  TDlg& dialog = Open();
  dialog.SetCaption(L"Executing....");
  EXPECT_EQ(WideWindowText(dialog.Window), L"Executing....");
  dialog.SetCaption(L"");
  EXPECT_EQ(WideWindowText(dialog.Window), L"");
}

TEST_F(ProgressWindowTest, ShowingBringsToFrontOnlyWhenItBecomesVisible) {
  TDlg& dialog = Open();
  dialog.UpdateVisibility(true, true);
  EXPECT_TRUE(IsWindowVisible(dialog.Window));
  EXPECT_FALSE(dialog.Hidden);
  EXPECT_EQ(GetForegroundWindow(), dialog.Window);

  // Another window takes the front; asking again for what already holds changes nothing.
  TDlg other(L"other");
  other.UpdateVisibility(true, true);
  ASSERT_EQ(GetForegroundWindow(), other.Window);
  {
    TSentRecorder recorder;
    dialog.UpdateVisibility(true, true);
    EXPECT_TRUE(recorder.To(dialog.Window, 0, WM_USER).empty());
  }
  EXPECT_EQ(GetForegroundWindow(), other.Window);

  dialog.UpdateVisibility(true, false);
  EXPECT_FALSE(IsWindowVisible(dialog.Window));
  EXPECT_TRUE(dialog.HideRequested);
  // Without a change request the request stands and the second argument is not used.
  dialog.UpdateVisibility(false, true);
  EXPECT_FALSE(IsWindowVisible(dialog.Window));
  dialog.UpdateVisibility(true, true);
  EXPECT_TRUE(IsWindowVisible(dialog.Window));
  EXPECT_EQ(GetForegroundWindow(), dialog.Window);
}

TEST_F(ProgressWindowTest, MarkerFileHidesWhileItExists) {
  TempFolder temp;
  TDlg& dialog = Open();
  dialog.HideMarkerFile = temp / "marker";
  dialog.UpdateVisibility(true, true);
  ASSERT_TRUE(IsWindowVisible(dialog.Window));

  ASSERT_TRUE(WriteTextFile(dialog.HideMarkerFile, ""));
  dialog.UpdateVisibility(false, false);
  EXPECT_FALSE(IsWindowVisible(dialog.Window));
  EXPECT_FALSE(dialog.HideRequested);
  dialog.UpdateVisibility(true, true);
  EXPECT_FALSE(IsWindowVisible(dialog.Window)) << "the marker outweighs the request to show";

  TDlg other(L"other");
  other.UpdateVisibility(true, true);
  ASSERT_TRUE(DeleteFileA(dialog.HideMarkerFile.c_str()));
  dialog.UpdateVisibility(false, false);
  EXPECT_TRUE(IsWindowVisible(dialog.Window));
  EXPECT_EQ(GetForegroundWindow(), dialog.Window);

  ASSERT_TRUE(CreateDirectoryA(dialog.HideMarkerFile.c_str(), nullptr));
  dialog.UpdateVisibility(false, false);
  EXPECT_TRUE(IsWindowVisible(dialog.Window)) << "a folder of that name is no marker";
}

TEST_F(ProgressWindowTest, RangeIsSetOnceWhenTheBarIsFound) {
  TSentRecorder recorder;
  TDlg& dialog = Open();
  dialog.SetProgress(40, ProgressPosition);
  dialog.SetProgress(100, ProgressMarquee);
  dialog.SetProgress(0, ProgressReset);
  std::vector<TSentMessage> ranges = recorder.To(dialog.ProgressBar, PBM_SETRANGE, PBM_SETRANGE);
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].WParam, 0u);
  EXPECT_EQ(ranges[0].LParam, 0x00640000);
}

TEST_F(ProgressWindowTest, MarqueeStyleIsSetBeforeAndClearedAfterTheAnimation) {
  TDlg& dialog = Open();
  dialog.SetProgress(30, ProgressPosition);
  {
    TSentRecorder recorder;
    dialog.SetProgress(100, ProgressMarquee);
    std::vector<TSentMessage> sent = recorder.To(dialog.ProgressBar, PBM_SETMARQUEE, PBM_SETMARQUEE);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].WParam, 1u);
    EXPECT_EQ(sent[0].LParam, 100);
    EXPECT_TRUE(sent[0].Style & PBS_MARQUEE) << "the style comes before the animation";
  }
  {
    TSentRecorder recorder;
    dialog.SetProgress(55, ProgressReset);
    std::vector<TSentMessage> sent = recorder.To(dialog.ProgressBar, PBM_SETPOS, PBM_SETMARQUEE);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].Message, static_cast<UINT>(PBM_SETMARQUEE));
    EXPECT_EQ(sent[0].WParam, 0u);
    EXPECT_TRUE(sent[0].Style & PBS_MARQUEE) << "the animation stops before the style goes";
    EXPECT_EQ(sent[1].Message, static_cast<UINT>(PBM_SETPOS));
    EXPECT_EQ(sent[1].WParam, 0u);
    EXPECT_FALSE(sent[1].Style & PBS_MARQUEE);
  }
  EXPECT_FALSE(GetWindowLongA(dialog.ProgressBar, GWL_STYLE) & PBS_MARQUEE);
  EXPECT_EQ(BarPosition(dialog), 0);
}

TEST_F(ProgressWindowTest, ExtractionProgressSetsThePercentage) {
  const struct {
    int32_t Done, Total, Expected;
  } cases[] = {
      {0, 100, 0},
      {100, 100, 100},
      {1, 3, 33},
      {2, 3, 66},
      {INT32_MAX, INT32_MAX, 100},
      {INT32_MAX / 2, INT32_MAX, 49},
      {100000000, 200000000, 50},  // the product does not fit in 32 bits
      {0, INT32_MAX, 0},
      {50, 0, 7},  // no total: the bar stays where it was
      {50, -1, 7},
  };
  TDlg& dialog = Open();
  for (const auto& c : cases) {
    dialog.SetProgress(7, ProgressPosition);
    bool cancel = false;
    dialog.ExtractionProgress("C:\\x\\file.bin", c.Done, c.Total, cancel);
    EXPECT_EQ(BarPosition(dialog), c.Expected) << c.Done << " of " << c.Total;
    EXPECT_FALSE(cancel);
  }
  bool cancel = true;
  dialog.ExtractionProgress("", 1, 2, cancel);
  EXPECT_TRUE(cancel) << "the caller's value is left alone";
}

TEST_F(ProgressWindowTest, CancelCommandMarksTheWindow) {
  const struct {
    const char* Name;
    UINT Message;
    WPARAM WParam;
    bool Cancels;
  } cases[] = {
      {"IDCANCEL command", WM_COMMAND, IDCANCEL, true},
      {"Escape key", WM_KEYDOWN, VK_ESCAPE, true},
      {"IDOK command", WM_COMMAND, IDOK, false},
      {"IDCANCEL with a notification code", WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), false},
  };
  for (const auto& c : cases) {
    TDlg& dialog = Open();
    dialog.UpdateVisibility(true, true);
    PostMessageA(dialog.Window, c.Message, c.WParam, 0);
    dialog.PumpMessages();
    EXPECT_EQ(dialog.Cancelled, c.Cancels) << c.Name;
    EXPECT_EQ(dialog.PumpMessages(), !c.Cancels) << c.Name;
  }
}

TEST_F(ProgressWindowTest, CancelCommandWithoutStoredObjectIsIgnored) {
  TDlg& dialog = Open();
  ProgressWindow = nullptr;
  SendMessageA(dialog.Window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_FALSE(dialog.Cancelled);
}

TEST_F(ProgressWindowTest, QuitMessageCancelsAndIsConsumed) {
  TDlg& dialog = Open();
  PostMessageA(dialog.Window, WM_APP, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_APP + 1, 0, 0);
  EXPECT_FALSE(dialog.PumpMessages());
  EXPECT_TRUE(dialog.Cancelled);
  EXPECT_FALSE(IsQueued(WM_APP)) << "messages before the quit are taken";
  EXPECT_FALSE(IsQueued(WM_QUIT)) << "the quit message is not posted again";
  EXPECT_TRUE(IsQueued(WM_APP + 1)) << "messages behind it stay queued";
}

TEST_F(ProgressWindowTest, CancelledWindowTakesNoMessages) {
  TDlg& dialog = Open();
  PostMessageA(dialog.Window, WM_COMMAND, IDCANCEL, 0);
  dialog.PumpMessages();
  ASSERT_TRUE(dialog.Cancelled);
  PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
  EXPECT_FALSE(dialog.PumpMessages());
  bool cancel = false;
  dialog.ExtractionProgress("", 1, 2, cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(BarPosition(dialog), 50) << "the bar still follows";
  EXPECT_TRUE(IsQueued(WM_APP));
  EXPECT_TRUE(dialog.Cancelled) << "the mark is never cleared";
}

TEST_F(ProgressWindowTest, DestructionTakesTheWindow) {
  HWND window = Open().Window;
  HWND bar = Dialog->ProgressBar;
  Dialog.reset();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(IsWindow(bar));
  EXPECT_EQ(ProgressWindow, nullptr);
}

TEST(DisplayText, WideFromCodePage) {
  const struct {
    std::string Text;
    UINT CodePage;
    std::wstring Expected;
  } cases[] = {
      {"", 932, L""},
      {kExtracting932, 932, kExtractingWide},
      {kExecuting932, 932, kExecutingWide},
      {"Executing....", 932, L"Executing...."},
      {"caf\xE9", 1252, L"caf\u00E9"},
      {std::string("a\0b", 3), 1252, std::wstring(L"a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(WideFromCodePage(c.Text, c.CodePage), c.Expected) << c.Text;
  // Pieces from two code pages, an empty one among them, come out joined.
  EXPECT_EQ(WideFromCodePages({{kExtracting932, 932}, {"", 932}, {"caf\xE9", 1252}, {kExecuting932, 932}}),
            kExtractingWide + std::wstring(L"caf\u00E9") + kExecutingWide);
}

// The runner's English-system rule for Japanese texts: wide captions come out whole.
TEST_F(ProgressWindowTest, JapaneseCaptionOnAnEnglishSystem) {
  ASSERT_NE(GetACP(), 932u);
  Dialog.reset(new TDlg(WideFromCodePage(kExtracting932, 932)));
  ProgressWindow = Dialog.get();
  EXPECT_EQ(WideWindowText(Dialog->Window), kExtractingWide);
  Dialog->SetCaption(WideFromCodePage(kExecuting932, 932));
  EXPECT_EQ(WideWindowText(Dialog->Window), kExecutingWide);
  Dialog->SetCaption(L"Executing....");
  EXPECT_EQ(WideWindowText(Dialog->Window), L"Executing....");
}

TEST_F(ProgressWindowTest, JapaneseSystemShowsCodePage932Captions) {
  ASSERT_EQ(GetACP(), 932u);
  TDlg& dialog = Open(kExtracting932);
  EXPECT_EQ(WideWindowText(dialog.Window), kExtractingWide);
  dialog.SetCaption(WideFromCodePage(kExecuting932, 932));
  EXPECT_EQ(WideWindowText(dialog.Window), kExecutingWide);
}

// Launching: the recorder writes its command line and folder, and ended.txt when it ends.
class LaunchTest : public ProgressWindowTest {
 protected:
  // Waits for the recorder a test started without waiting, so the folder can go.
  void WaitForEnd() {
    for (int i = 0; i < 600 && !IsExistingFile(Folder / "ended.txt"); ++i) Sleep(50);
    ASSERT_TRUE(IsExistingFile(Folder / "ended.txt"));
  }
  TempFolder Folder;
};

TEST_F(LaunchTest, WaitsUntilTheProgramEnds) {
  TDlg& dialog = Open("Executing....");
  dialog.UpdateVisibility(true, true);
  dialog.SetProgress(100, ProgressMarquee);
  EXPECT_TRUE(dialog.LaunchProgram(kRecorder, "linger=500", Folder.Path, true, SW_HIDE, dialog.Window, false));
  EXPECT_TRUE(IsExistingFile(Folder / "ended.txt"));
  EXPECT_TRUE(IsWindowVisible(dialog.Window));
}

// Here the shell asks for no consent, so the "runas" start can be followed to its end.
TEST_F(LaunchTest, ElevatedStartRunsTheProgramToo) {
  TDlg& dialog = Open();
  EXPECT_TRUE(dialog.LaunchProgram(kRecorder, "linger=200", Folder.Path, true, SW_HIDE, dialog.Window, true));
  EXPECT_TRUE(IsExistingFile(Folder / "ended.txt"));
}

TEST_F(LaunchTest, ReturnsAtOnceWithoutWaitingAndPumpsNothing) {
  TDlg& dialog = Open();
  ASSERT_TRUE(WriteTextFile(Folder / "hold", ""));
  PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
  EXPECT_TRUE(dialog.LaunchProgram(kRecorder, "hold", Folder.Path, false, SW_HIDE, nullptr, false));
  EXPECT_FALSE(IsExistingFile(Folder / "ended.txt"));
  EXPECT_TRUE(IsQueued(WM_APP));
  DeleteFileA((Folder / "hold").c_str());
  WaitForEnd();
}

TEST_F(LaunchTest, CancelledWindowDoesNotWait) {
  TDlg& dialog = Open();
  PostMessageA(dialog.Window, WM_COMMAND, IDCANCEL, 0);
  dialog.PumpMessages();
  ASSERT_TRUE(dialog.Cancelled);
  ASSERT_TRUE(WriteTextFile(Folder / "hold", ""));
  EXPECT_TRUE(dialog.LaunchProgram(kRecorder, "hold", Folder.Path, true, SW_HIDE, dialog.Window, false));
  EXPECT_FALSE(IsExistingFile(Folder / "ended.txt")) << "the program keeps running";
  DeleteFileA((Folder / "hold").c_str());
  WaitForEnd();
}

TEST_F(LaunchTest, ProgramThatCannotBeStartedGivesFalse) {
  TDlg& dialog = Open();
  ASSERT_TRUE(WriteTextFile(Folder / "data.cabrun-unknown", "x"));
  for (const std::string& file : {Folder / "missing.exe", Folder / "data.cabrun-unknown", std::string()})
    EXPECT_FALSE(dialog.LaunchProgram(file, "", Folder.Path, true, SW_HIDE, dialog.Window, false)) << file;
}

TEST_F(LaunchTest, WorkingFolderAndParametersArriveUnchanged) {
  TempFolder base;
  std::string folder = base / "work dir";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string parameters = "\"/cabrun=Z:\\a b\\x.exe\" linger=0 \"\" back\\slash /lang=JPN";
  TDlg& dialog = Open();
  ASSERT_TRUE(dialog.LaunchProgram(kRecorder, parameters, folder, true, SW_HIDE, dialog.Window, false));
  std::string record = ReadWholeFile(folder + "\\launch_record.txt");
  size_t end = record.find('\n');
  ASSERT_NE(end, std::string::npos) << record;
  std::string commandLine = record.substr(0, end);
  ASSERT_GE(commandLine.size(), parameters.size() + 1);
  EXPECT_EQ(commandLine.substr(commandLine.size() - parameters.size() - 1), " " + parameters);
  EXPECT_EQ(record.substr(end + 1), folder + "\n");
}

TEST_F(LaunchTest, MarkerFileHidesTheWindowWhileWaiting) {
  TDlg& dialog = Open("Executing....");
  dialog.HideMarkerFile = Folder / "marker";
  dialog.UpdateVisibility(true, true);
  char window[32];
  wsprintfA(window, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(dialog.Window)));
  ASSERT_TRUE(dialog.LaunchProgram(kRecorder, std::string("marker-dance=") + window + ",10000", Folder.Path, true,
                                   SW_HIDE, dialog.Window, false));
  EXPECT_EQ(ReadWholeFile(Folder / "dance.txt"), "hidden=1 shown=1 foreground=1");
  EXPECT_TRUE(IsWindowVisible(dialog.Window));
}

TEST_F(LaunchTest, HideRequestKeepsTheWindowHiddenWhateverTheMarker) {
  TDlg& dialog = Open("Executing....");
  dialog.HideMarkerFile = Folder / "marker";
  dialog.UpdateVisibility(true, false);
  char window[32];
  wsprintfA(window, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(dialog.Window)));
  ASSERT_TRUE(dialog.LaunchProgram(kRecorder, std::string("marker-dance=") + window + ",1000", Folder.Path, true,
                                   SW_HIDE, dialog.Window, false));
  EXPECT_EQ(ReadWholeFile(Folder / "dance.txt"), "hidden=1 shown=0 foreground=0");
  EXPECT_FALSE(IsWindowVisible(dialog.Window));
}

}  // namespace
