// Shows the progress window for a screenshot: window_demo MODE READY STOP, where MODE is
// "extract" (bar part way), "marquee" or "japanese" (marquee under the Japanese caption, shown
// through the wide functions). Writes the window's rectangle "x y width height" to READY, then
// keeps pumping until the file STOP exists (at most 30 s).
#include <windows.h>

#include <string>

#include "sys/wide_text.h"
#include "ui/progress_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc < 4) return 2;
  std::string mode = __argv[1];
  const char* ready = __argv[2];
  const char* stop = __argv[3];

  // "実行しています...." in code page 932
  const std::string japanese = "\x8E\xC0\x8D\x73\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7....";
  TDlg dialog = mode == "japanese" ? TDlg(WideFromCodePage(japanese, 932))
                                   : TDlg(mode == "extract" ? L"Extracting...." : L"Executing....");
  ProgressWindow = &dialog;
  dialog.UpdateVisibility(true, true);
  if (mode == "extract") {
    bool cancel = false;
    dialog.ExtractionProgress("", 62, 100, cancel);
  } else {
    dialog.SetProgress(100, ProgressMarquee);
  }

  RECT r{};
  GetWindowRect(dialog.Window, &r);
  std::string rectangle = std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                          std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top) + "\n";
  HANDLE file = CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, rectangle.data(), static_cast<DWORD>(rectangle.size()), &written, nullptr);
  CloseHandle(file);

  for (int round = 0; round < 600 && GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES; ++round) {
    Sleep(50);
    dialog.PumpMessages();
  }
  return 0;
}
