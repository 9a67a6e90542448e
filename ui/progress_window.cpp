#include "ui/progress_window.h"

#include <commctrl.h>

#include <algorithm>

#include "res/resource.h"
#include "sys/paths.h"

TDlg* ProgressWindow = nullptr;

namespace {

void ChangeStyle(HWND window, LONG set, LONG clear) {
  LONG style = GetWindowLongA(window, GWL_STYLE);
  SetWindowLongA(window, GWL_STYLE, (style | set) & ~clear);
}

}  // namespace

// The template is not visible, so the window starts hidden. A Unicode window keeps its caption
// whole whatever the system's code page.
TDlg::TDlg(const std::wstring& caption) {
  Window = CreateDialogParamW(GetModuleHandleA(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
  if (!Window) return;
  SetCaption(caption);
  SetProgress(0, ProgressPosition);
  CenterOnWorkArea();
  PumpMessages();
}

TDlg::~TDlg() {
  if (Window) DestroyWindow(Window);
  // Message boxes shown after this must not reach a dead object.
  if (ProgressWindow == this) ProgressWindow = nullptr;
}

void TDlg::SetCaption(const std::wstring& text) {
  if (Window) SendMessageW(Window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool TDlg::PumpMessages() {
  bool result = !Cancelled;
  MSG message{};
  while (result && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Consumed, not posted again: the run ends through the cancel mark instead.
      Cancelled = true;
      result = false;
    } else if (!Window || !IsDialogMessageW(Window, &message)) {
      // No window of the thread takes typed characters, so none are translated.
      DispatchMessageW(&message);
    }
  }
  return result;
}

namespace {

RECT WorkArea() {
  RECT work{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
    work = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return work;
}

}  // namespace

void TDlg::CenterOnWorkArea() {
  if (!Window) return;
  RECT outer{};
  GetWindowRect(Window, &outer);
  int width = outer.right - outer.left;
  int height = outer.bottom - outer.top;
  RECT work = WorkArea();
  int x = work.left + ((work.right - work.left) - width) / 2;
  int y = work.top + ((work.bottom - work.top) - height) / 2;
  MoveWindow(Window, x, y, width, height, TRUE);
}

void TDlg::WidenFor(const std::wstring& caption) {
  if (!Window) return;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HDC dc = GetDC(Window);
  HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE text{};
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(Window, dc);
  RECT outer{}, client{}, bar{}, work = WorkArea();
  GetWindowRect(Window, &outer);
  GetClientRect(Window, &client);
  // The frame, and room for the caption's margins: as much as the caption is high on either side.
  int frame = (outer.right - outer.left) - client.right;
  int needed = text.cx + frame + 2 * metrics.iCaptionHeight;
  int width = outer.right - outer.left, wider = std::min<int>(needed, work.right - work.left) - width;
  if (wider <= 0) return;
  GetWindowRect(ProgressBar, &bar);
  const UINT sizeOnly = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
  SetWindowPos(Window, nullptr, 0, 0, width + wider, outer.bottom - outer.top, sizeOnly);
  SetWindowPos(ProgressBar, nullptr, 0, 0, bar.right - bar.left + wider, bar.bottom - bar.top, sizeOnly);
  CenterOnWorkArea();
}

void TDlg::UpdateVisibility(bool changeRequest, bool visible) {
  if (changeRequest) HideRequested = !visible;
  if (!Window) return;
  bool mustHide = HideRequested || (!HideMarkerFile.empty() && IsExistingFile(HideMarkerFile));
  if (mustHide && !Hidden) {
    Hidden = true;
    ShowWindow(Window, SW_HIDE);
  } else if (!mustHide && Hidden) {
    Hidden = false;
    ShowWindow(Window, SW_SHOW);
    SetForegroundWindow(Window);
  }
}

void TDlg::SetProgress(int32_t value, int32_t mode) {
  if (Window && !ProgressBar) {
    ProgressBar = GetDlgItem(Window, IDC_PROGRESS);
    if (ProgressBar) SendMessageW(ProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  }
  if (ProgressBar) {
    if (mode == ProgressReset) {
      // The animation stops before the style goes, or the bar keeps a running timer.
      SendMessageW(ProgressBar, PBM_SETMARQUEE, 0, 0);
      ChangeStyle(ProgressBar, 0, PBS_MARQUEE);
      SendMessageW(ProgressBar, PBM_SETPOS, 0, 0);
    } else if (mode == ProgressMarquee) {
      ChangeStyle(ProgressBar, PBS_MARQUEE, 0);
      SendMessageW(ProgressBar, PBM_SETMARQUEE, 1, value);
    } else {
      SendMessageW(ProgressBar, PBM_SETPOS, value, 0);
    }
  }
  PumpMessages();
}

void TDlg::ExtractionProgress(const std::string&, int32_t done, int32_t total, bool& cancel) {
  // In double, which gives the whole percent that integer division would: libgcc's 64-bit
  // division would bring unwind tables in a section of their own.
  if (total > 0) SetProgress(static_cast<int32_t>(done * 100.0 / total), ProgressPosition);
  // The sleeps give a window time to paint and to answer; without one, or when the package asks to
  // skip them, the window is only pumped.
  for (int pass = 0; Window && pass < 2; ++pass) {
    if (FilePauses) Sleep(50);
    if (!PumpMessages()) {
      cancel = true;
      return;
    }
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && wParam == IDCANCEL) {
    // During construction no object is stored yet and the command is ignored.
    if (ProgressWindow) ProgressWindow->Cancelled = true;
    return 1;
  }
  return 0;
}
